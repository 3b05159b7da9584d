// The two forms, the window's state at start, the shipped catalogue and the
// log line: what other code looks up by name, and what the operator reads.
#include "serialportsettingdialog.h"
#include "testsupport.h"
#include "uartparam.h"
#include "widget.h"

#include <QtTest>
#include <QtWidgets>
#include <QSerialPort>

static QWidget *makeWindow(const QString &which)
{
    return which == "dialog" ? static_cast<QWidget *>(new SerialportSettingDialog) : new Widget;
}

static QString shownText(QWidget *control)
{
    if (auto *box = qobject_cast<QGroupBox *>(control))
        return box->title();
    if (auto *combo = qobject_cast<QComboBox *>(control)) {
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        return items.join(',') + " [" + combo->currentText() + ']';
    }
    return control->property(control->inherits("QTextEdit") ? "plainText" : "text").toString();
}

class FormsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { resetUartParam(); }

    void controls_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("parentName");
        QTest::addColumn<QString>("text");
        const struct { const char *w, *name, *cls, *parent, *text; } rows[] = {
            {"main", "pushButtonLink", "QPushButton", "Widget", "Link"},
            {"main", "pushButtonClose", "QPushButton", "Widget", "Close"},
            {"main", "groupBox_2", "QGroupBox", "Widget", "Device"},
            {"main", "label_4", "QLabel", "groupBox_2", "Address:"},
            {"main", "lineEditAddress", "QLineEdit", "groupBox_2", ""},
            {"main", "pushButtonAddressRead", "QPushButton", "groupBox_2", "Read"},
            {"main", "pushButtonAddress", "QPushButton", "groupBox_2", "Setting"},
            {"main", "label_5", "QLabel", "groupBox_2", "Baud rate:"},
            {"main", "comboBoxBaudRate", "QComboBox", "groupBox_2", "1200,2400,4800,9600,19200 [9600]"},
            {"main", "pushButtonBaudRate", "QPushButton", "groupBox_2", "Setting"},
            {"main", "groupBox", "QGroupBox", "Widget", "Real time data"},
            {"main", "labelTemperature", "QLabel", "groupBox", "Temperature:"},
            {"main", "labelHumidity", "QLabel", "groupBox", "Humidity:"},
            {"main", "labelDewTemp", "QLabel", "groupBox", "DewTemp:"},
            {"main", "pushButtonRead", "QPushButton", "groupBox", "Read"},
            {"main", "groupBox_3", "QGroupBox", "Widget", "Message"},
            {"main", "textBrowser", "QTextBrowser", "groupBox_3", ""},
            {"dialog", "groupBox", "QGroupBox", "SerialportSettingDialog", "Serialport Settings"},
            {"dialog", "label", "QLabel", "groupBox", "Port Name:"},
            {"dialog", "label_2", "QLabel", "groupBox", "Baud Rate:"},
            {"dialog", "label_3", "QLabel", "groupBox", "Data Bits:"},
            {"dialog", "label_4", "QLabel", "groupBox", "Parity:"},
            {"dialog", "label_5", "QLabel", "groupBox", "Stop Bits:"},
            {"dialog", "comboBoxBaud", "QComboBox", "groupBox", "1200,2400,4800,9600,19200,115200 [9600]"},
            {"dialog", "comboBoxData", "QComboBox", "groupBox", "8 [8]"},
            {"dialog", "comboBoxParity", "QComboBox", "groupBox", "NO,ODD,EVEN [NO]"},
            {"dialog", "comboBoxStop", "QComboBox", "groupBox", "1 [1]"},
            {"dialog", "pushButtonOK", "QPushButton", "SerialportSettingDialog", "OK"},
            {"dialog", "pushButtonCancel", "QPushButton", "SerialportSettingDialog", "Cancel"},
        };
        for (const auto &r : rows)
            QTest::addRow("%s %s", r.w, r.name) << r.w << r.name << r.cls << r.parent << r.text;
    }

    void controls()
    {
        QFETCH(QString, window);
        QFETCH(QString, name);
        QFETCH(QString, className);
        QFETCH(QString, parentName);
        QFETCH(QString, text);
        QScopedPointer<QWidget> w(makeWindow(window));
        auto *control = w->findChild<QWidget *>(name);
        QVERIFY2(control && control->inherits(qPrintable(className)), qPrintable(name));
        QCOMPARE(control->parentWidget()->objectName(), parentName);
        QVERIFY(control->isEnabled() && !control->property("editable").toBool());
        QCOMPARE(shownText(control), text);
    }

    void windowsAtStart()
    {
        Widget w;
        QCOMPARE(w.windowTitle(), QString("Morvane"));
        QCOMPARE(w.size(), QSize(586, 371));
        QCOMPARE(w.font().family(), QString("Arial"));
        QCOMPARE(w.findChild<QLineEdit *>("lineEditAddress")->alignment(), Qt::AlignCenter);
        QVERIFY(!w.findChild<QSerialPort *>("serialPort")->isOpen());
        for (const char *name : {"timerClear", "timerResponse", "timerPoll"})
            QVERIFY2(!w.findChild<QTimer *>(name)->isActive(), name);
        SerialportSettingDialog dialog;
        QCOMPARE(dialog.windowTitle(), QString("Serial port"));
        QCOMPARE(dialog.size(), QSize(400, 235));

        // Building the windows touches nothing of the shared record, and
        // nothing goes out or is logged without an operator's click.
        QVERIFY(UartParam.PortName.isEmpty() && UartParam.RxData.isEmpty() && !UartParam.ReplyReceived);
        QVERIFY(!UartParam.DeviceAddress && !UartParam.BaudRate && !UartParam.Temperature
                && !UartParam.Humidity && !UartParam.DewTemp);
        QTest::qWait(1500);
        QVERIFY(w.findChild<QTextBrowser *>("textBrowser")->toPlainText().isEmpty());
    }

    // The shipped catalogue reaches texts of both contexts, messages included.
    void catalogue()
    {
        QTranslator translator;
        QVERIFY(translator.load(CATALOGUE_FILE));
        QCoreApplication::installTranslator(&translator);
        {
            Bench bench;
            QCOMPARE(bench.window->windowTitle(), QString("Morvane 温湿度模块工具"));
            bench.button("pushButtonAddress")->click();
            QCOMPARE(bench.watcher->titles + bench.watcher->texts, (QStringList{"错误", "地址不能为空！"}));
            bench.address()->setText("1");
            bench.button("pushButtonRead")->click();
            QCOMPARE(bench.button("pushButtonRead")->text(), QString("停止"));
            bench.button("pushButtonRead")->click();
            QCOMPARE(bench.button("pushButtonRead")->text(), QString("读取"));
            SerialportSettingDialog dialog;
            QCOMPARE(dialog.windowTitle(), QString("串口"));
            QCOMPARE(dialog.findChild<QComboBox *>("comboBoxBaud")->currentText(), QString("9600"));
        }
        QCoreApplication::removeTranslator(&translator);
    }

    void logLine_data()
    {
        QTest::addColumn<bool>("isRx");
        QTest::addColumn<QString>("hex");
        QTest::newRow("transmitted") << false << "01030000000305cb";
        QTest::newRow("received") << true << "01030200057847";
    }

    void logLine()
    {
        QFETCH(bool, isRx);
        QFETCH(QString, hex);
        Widget w;
        w.AppendTrafficLog("earlier", false);
        QDateTime before = QDateTime::currentDateTime();
        before.setTime(QTime(before.time().hour(), before.time().minute(), before.time().second()));
        w.AppendTrafficLog(hex, isRx);
        const QDateTime after = QDateTime::currentDateTime();

        const QStringList lines = w.findChild<QTextBrowser *>("textBrowser")->toPlainText().split('\n');
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.last().mid(19), (isRx ? "->RX  " : "->TX  ") + hex);
        const QDateTime stamp = QDateTime::fromString(lines.last().left(19), "yyyy-MM-dd hh:mm:ss");
        QVERIFY2(before <= stamp && stamp <= after, qPrintable(lines.last()));
    }
};

QTEST_MAIN(FormsTest)
#include "tst_forms.moc"
