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

    static bool portOpen(const Bench &bench) { return bench.window->findChild<QSerialPort *>("serialPort")->isOpen(); }

private slots:
    void init() { resetUartParam(); }

    void linkOpensTheLine_data()
    {
        QTest::addColumn<QString>("rate");
        QTest::addColumn<QString>("parity");
        QTest::addColumn<int>("speed");
        QTest::newRow("9600") << "9600" << "NO" << int(B9600);
        QTest::newRow("1200, odd parity chosen") << "1200" << "ODD" << int(B1200);
        QTest::newRow("19200, even parity chosen") << "19200" << "EVEN" << int(B19200);
        QTest::newRow("115200") << "115200" << "NO" << int(B115200);
    }

    void linkOpensTheLine()
    {
        QFETCH(QString, rate);
        QFETCH(QString, parity);
        QFETCH(int, speed);
        Bench bench;
        bench.link(rate, parity);
        QCOMPARE(UartParam.PortName, bench.pty.slavePath());
        QCOMPARE(UartParam.BaudRate, rate.toInt());
        QVERIFY(portOpen(bench));
        QTRY_COMPARE(bench.pty.received(), fromHex("00 03 01 00 00 01 84 27"));
        QCOMPARE(bench.log().size(), 1);

        // 8N1 without flow control, whatever the dialog's other choices were.
        struct termios line;
        QCOMPARE(tcgetattr(bench.pty.slaveFd(), &line), 0);
        QCOMPARE(int(cfgetospeed(&line)), speed);
        QCOMPARE(int(cfgetispeed(&line)), speed);
        QCOMPARE(line.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
        QCOMPARE(line.c_iflag & (IXON | IXOFF), tcflag_t(0));

        bench.pty.write(withCrc(fromHex("01 03 02 00 2A")));
        QTRY_COMPARE(bench.address()->text(), QString("42"));
        QTest::qWait(700);
        QVERIFY(bench.watcher->texts.isEmpty());
    }

    void dismissedDialogLeavesLinkClosed_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Cancel") << "cancel";
        QTest::newRow("Escape") << "escape";
        QTest::newRow("window closed") << "close";
    }

    void dismissedDialogLeavesLinkClosed()
    {
        QFETCH(QString, how);
        Bench bench;
        bench.link("19200");
        QTRY_COMPARE(bench.pty.received().size(), 8);
        bench.pty.clear();
        bench.watcher->onModal = [how](QWidget *dialog) {
            if (how == "cancel")
                dialog->findChild<QPushButton *>("pushButtonCancel")->click();
            else if (how == "escape")
                QTest::keyClick(dialog, Qt::Key_Escape);
            else
                dialog->close();
        };
        bench.button("pushButtonLink")->click();

        QVERIFY(!portOpen(bench));
        QCOMPARE(UartParam.PortName, bench.pty.slavePath());
        QCOMPARE(UartParam.BaudRate, 19200);
        QTest::qWait(800);
        QVERIFY(bench.pty.received().isEmpty());
        QCOMPARE(bench.log().size(), 1);
    }

    void unopenablePort()
    {
        Bench bench;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("device not open"));
        bench.link("9600", "NO", "/nonexistent/ttyMorvane");
        QVERIFY(!portOpen(bench));
        QCOMPARE(bench.log().size(), 1);
        QVERIFY(bench.log().first().endsWith("->TX  0003010000018427"));
        QVERIFY(bench.watcher->texts.isEmpty());
        QTRY_COMPARE(bench.watcher->texts, QStringList{"Communication error!"});
        QTest::qWait(800);
        QCOMPARE(bench.watcher->texts.size(), 1);
    }

    void repeatedLinkDecodesOnce()
    {
        static int decodes = 0;
        decodes = 0;
        auto previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &context, const QString &) {
            decodes += QByteArray(context.function) == "Widget::my_readuart";
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

    void okWithNoPortListed()
    {
        UartParam.PortName = "before";
        SerialportSettingDialog dialog;
        dialog.findChild<QComboBox *>("comboBoxName")->clear();
        dialog.findChild<QComboBox *>("comboBoxBaud")->setCurrentText("115200");
        QTimer::singleShot(0, &dialog, [&] { dialog.findChild<QPushButton *>("pushButtonOK")->click(); });
        QCOMPARE(dialog.exec(), 1);
        QCOMPARE(UartParam.PortName, QString());
        QCOMPARE(UartParam.BaudRate, 115200);
        // The next dialog starts from the same defaults.
        SerialportSettingDialog next;
        QCOMPARE(next.findChild<QComboBox *>("comboBoxBaud")->currentText(), QString("9600"));
    }
};

QTEST_MAIN(LinkTest)
#include "tst_link.moc"
