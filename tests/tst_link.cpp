// Link and the settings dialog over a pseudo-terminal: what the operator picks
// is what the line gets, and nothing else.
#include "serialportsettingdialog.h"
#include "testsupport.h"
#include "uartparam.h"
#include "widget.h"

#include <QtTest>
#include <QtWidgets>
#include <QSerialPort>

#include <termios.h>

class LinkTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { resetUartParam(); }
    void linkOpensTheLine_data();
    void linkOpensTheLine();
    void dismissedDialogLeavesLinkClosed_data();
    void dismissedDialogLeavesLinkClosed();
    void unopenablePort();
    void repeatedLinkDecodesOnce();
    void dialogStoresChoice_data();
    void dialogStoresChoice();
};

void LinkTest::linkOpensTheLine_data()
{
    QTest::addColumn<QString>("rate");
    QTest::addColumn<QString>("parity");
    QTest::addColumn<int>("speed");
    QTest::newRow("9600") << "9600" << "NO" << int(B9600);
    QTest::newRow("1200, odd parity chosen") << "1200" << "ODD" << int(B1200);
    QTest::newRow("19200, even parity chosen") << "19200" << "EVEN" << int(B19200);
    QTest::newRow("115200") << "115200" << "NO" << int(B115200);
}

void LinkTest::linkOpensTheLine()
{
    QFETCH(QString, rate);
    QFETCH(QString, parity);
    QFETCH(int, speed);

    Bench bench;
    bench.link(rate, parity);
    QCOMPARE(UartParam.PortName, bench.pty.slavePath());
    QCOMPARE(UartParam.BaudRate, rate.toInt());
    QVERIFY(bench.window->findChild<QSerialPort *>("serialPort")->isOpen());
    QTRY_COMPARE(bench.pty.received(), fromHex("00 03 01 00 00 01 84 27"));
    QCOMPARE(bench.log().size(), 1);

    // 8N1 without flow control, whatever the dialog's other choices were.
    struct termios line;
    QCOMPARE(tcgetattr(bench.pty.slaveFd(), &line), 0);
    QCOMPARE(int(cfgetospeed(&line)), speed);
    QCOMPARE(int(cfgetispeed(&line)), speed);
    QCOMPARE(line.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(line.c_iflag & (IXON | IXOFF), tcflag_t(0));

    bench.pty.write(withCrc(fromHex("01 03 02 00 2A")));
    QTRY_COMPARE(bench.address()->text(), QString("42"));
    QCOMPARE(int(UartParam.DeviceAddress), 42);
    QTest::qWait(700);
    QVERIFY(bench.watcher->texts.isEmpty());
}

void LinkTest::dismissedDialogLeavesLinkClosed_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Cancel") << "cancel";
    QTest::newRow("Escape") << "escape";
    QTest::newRow("window closed") << "close";
}

void LinkTest::dismissedDialogLeavesLinkClosed()
{
    QFETCH(QString, how);

    Bench bench;
    bench.link("19200");
    bench.pty.write(fromHex("01 03 02 00 05 78 47"));
    QTRY_COMPARE(bench.address()->text(), QString("5"));
    bench.pty.clear();
    const UartParamRecord before = UartParam;

    bench.watcher->onModal = [how](QWidget *dialog) {
        if (how == "cancel")
            dialog->findChild<QPushButton *>("pushButtonCancel")->click();
        else if (how == "escape")
            QTest::keyClick(dialog, Qt::Key_Escape);
        else
            dialog->close();
    };
    bench.button("pushButtonLink")->click();

    QVERIFY(!bench.window->findChild<QSerialPort *>("serialPort")->isOpen());
    QCOMPARE(UartParam.PortName, before.PortName);
    QCOMPARE(UartParam.BaudRate, before.BaudRate);
    QTest::qWait(800);
    QVERIFY(bench.pty.received().isEmpty());
    QCOMPARE(bench.log().size(), 2);
    QVERIFY(bench.watcher->texts.isEmpty());
}

void LinkTest::unopenablePort()
{
    Bench bench;
    bench.watcher->onModal = [](QWidget *dialog) {
        auto *names = dialog->findChild<QComboBox *>("comboBoxName");
        names->addItem("/nonexistent/ttyMorvane");
        names->setCurrentIndex(names->count() - 1);
        dialog->findChild<QPushButton *>("pushButtonOK")->click();
    };
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("device not open"));
    bench.button("pushButtonLink")->click();

    QVERIFY(!bench.window->findChild<QSerialPort *>("serialPort")->isOpen());
    QCOMPARE(bench.log().size(), 1);
    QVERIFY(bench.log().first().endsWith("->TX  0003010000018427"));
    QVERIFY(bench.watcher->texts.isEmpty());
    QTRY_COMPARE(bench.watcher->texts, QStringList{"Communication error!"});
    QTest::qWait(800);
    QCOMPARE(bench.watcher->texts.size(), 1);
}

void LinkTest::repeatedLinkDecodesOnce()
{
    static int decodes = 0;
    decodes = 0;
    auto previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &context, const QString &) {
        if (QByteArray(context.function) == "Widget::my_readuart")
            ++decodes;
    });
    {
        Bench bench;
        for (int i = 1; i <= 3; ++i) {
            bench.link();
            QTRY_COMPARE(bench.pty.received().size(), i * 8);
        }
        bench.pty.write(fromHex("01 03 02 00 05 78 47"));
        QTRY_COMPARE(bench.address()->text(), QString("5"));
        QTest::qWait(300);
        QCOMPARE(bench.log().filter("->RX  ").size(), 1);
    }
    qInstallMessageHandler(previous);
    QCOMPARE(decodes, 1);
}

void LinkTest::dialogStoresChoice_data()
{
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("noPorts");
    QTest::addColumn<QString>("rate");
    QTest::newRow("OK, 19200") << true << false << "19200";
    QTest::newRow("OK, 115200") << true << false << "115200";
    QTest::newRow("OK, no port listed") << true << true << "1200";
    QTest::newRow("Cancel") << false << false << "4800";
}

void LinkTest::dialogStoresChoice()
{
    QFETCH(bool, ok);
    QFETCH(bool, noPorts);
    QFETCH(QString, rate);

    UartParam.PortName = "before";
    UartParam.BaudRate = 2400;
    SerialportSettingDialog dialog;
    auto *names = dialog.findChild<QComboBox *>("comboBoxName");
    if (noPorts)
        names->clear();
    else
        names->addItem("ttyMorvane0");
    names->setCurrentIndex(names->count() - 1);
    dialog.findChild<QComboBox *>("comboBoxBaud")->setCurrentText(rate);

    QTimer::singleShot(0, &dialog, [&] {
        dialog.findChild<QPushButton *>(ok ? "pushButtonOK" : "pushButtonCancel")->click();
    });
    QCOMPARE(dialog.exec(), ok ? 1 : 0);
    QCOMPARE(UartParam.PortName, ok ? names->currentText() : QString("before"));
    QCOMPARE(UartParam.BaudRate, ok ? rate.toInt() : 2400);

    // Every dialog starts from the same defaults.
    SerialportSettingDialog next;
    QCOMPARE(next.findChild<QComboBox *>("comboBoxBaud")->currentText(), QString("9600"));
}

QTEST_MAIN(LinkTest)
#include "tst_link.moc"
