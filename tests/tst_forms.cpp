// The two forms, the window's state at start, the shared record and the log
// line: what other code looks up by name, and what the operator reads.
#include "serialportsettingdialog.h"
#include "testsupport.h"
#include "uartparam.h"
#include "widget.h"

#include <QtTest>
#include <QtWidgets>
#include <QSerialPort>

class FormsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { resetUartParam(); }
    void controls_data();
    void controls();
    void choiceLists_data();
    void choiceLists();
    void windowsAtStart();
    void catalogue();
    void logLine_data();
    void logLine();
};

static QWidget *makeWindow(const QString &which)
{
    if (which == "dialog")
        return new SerialportSettingDialog;
    return new Widget;
}

void FormsTest::controls_data()
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
        {"main", "comboBoxBaudRate", "QComboBox", "groupBox_2", "9600"},
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
        {"dialog", "pushButtonOK", "QPushButton", "SerialportSettingDialog", "OK"},
        {"dialog", "pushButtonCancel", "QPushButton", "SerialportSettingDialog", "Cancel"},
    };
    for (const auto &r : rows)
        QTest::addRow("%s %s", r.w, r.name) << r.w << r.name << r.cls << r.parent << r.text;
}

void FormsTest::controls()
{
    QFETCH(QString, window);
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QString, text);

    QScopedPointer<QWidget> w(makeWindow(window));
    auto *control = w->findChild<QWidget *>(name);
    QVERIFY2(control, qPrintable(name));
    QVERIFY(control->inherits(qPrintable(className)));
    QCOMPARE(control->parentWidget()->objectName(), parentName);
    QVERIFY(control->isEnabled());

    QString shown;
    if (auto *box = qobject_cast<QGroupBox *>(control))
        shown = box->title();
    else if (auto *combo = qobject_cast<QComboBox *>(control))
        shown = combo->currentText();
    else if (auto *browser = qobject_cast<QTextBrowser *>(control))
        shown = browser->toPlainText();
    else
        shown = control->property("text").toString();
    QCOMPARE(shown, text);
}

void FormsTest::choiceLists_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QString>("selected");

    const QStringList rates = {"1200", "2400", "4800", "9600", "19200"};
    QTest::newRow("main baud rate") << "main" << "comboBoxBaudRate" << rates << "9600";
    QTest::newRow("dialog baud") << "dialog" << "comboBoxBaud" << (rates + QStringList{"115200"}) << "9600";
    QTest::newRow("dialog data") << "dialog" << "comboBoxData" << QStringList{"8"} << "8";
    QTest::newRow("dialog parity") << "dialog" << "comboBoxParity" << QStringList{"NO", "ODD", "EVEN"} << "NO";
    QTest::newRow("dialog stop") << "dialog" << "comboBoxStop" << QStringList{"1"} << "1";
}

void FormsTest::choiceLists()
{
    QFETCH(QString, window);
    QFETCH(QString, name);
    QFETCH(QStringList, items);
    QFETCH(QString, selected);

    QScopedPointer<QWidget> w(makeWindow(window));
    auto *combo = w->findChild<QComboBox *>(name);
    QVERIFY(combo);
    QStringList shown;
    for (int i = 0; i < combo->count(); ++i)
        shown << combo->itemText(i);
    QCOMPARE(shown, items);
    QCOMPARE(combo->currentText(), selected);
    QVERIFY(!combo->isEditable());
}

void FormsTest::windowsAtStart()
{
    Widget w;
    QCOMPARE(w.windowTitle(), QString("Morvane"));
    QCOMPARE(w.size(), QSize(586, 371));
    QCOMPARE(w.font().family(), QString("Arial"));
    QCOMPARE(w.findChild<QLineEdit *>("lineEditAddress")->alignment(), Qt::AlignCenter);
    QVERIFY(!w.findChild<QSerialPort *>("serialPort")->isOpen());
    const QStringList timers = {"timerClear", "timerResponse", "timerPoll"};
    for (const QString &name : timers) {
        auto *timer = w.findChild<QTimer *>(name);
        QVERIFY2(timer && timer->parent() == &w && !timer->isActive(), qPrintable(name));
    }

    SerialportSettingDialog dialog;
    QCOMPARE(dialog.windowTitle(), QString("Serial port"));
    QCOMPARE(dialog.size(), QSize(400, 235));

    // Building either window touches nothing of the shared record.
    QCOMPARE(UartParam.PortName, QString());
    QVERIFY(UartParam.RxData.isEmpty());
    QCOMPARE(int(UartParam.DeviceAddress), 0);
    QCOMPARE(UartParam.BaudRate, 0);
    QCOMPARE(UartParam.ReplyReceived, false);
    QCOMPARE(int(UartParam.Temperature) + int(UartParam.Humidity) + int(UartParam.DewTemp), 0);

    // Nothing goes out or is logged without an operator's click.
    QTest::qWait(1500);
    QVERIFY(w.findChild<QTextBrowser *>("textBrowser")->toPlainText().isEmpty());
}

// The shipped catalogue reaches texts of both contexts, messages included.
void FormsTest::catalogue()
{
    QTranslator translator;
    QVERIFY(translator.load(CATALOGUE_FILE));
    QCoreApplication::installTranslator(&translator);
    {
        Bench bench;
        QCOMPARE(bench.window->windowTitle(), QString("Morvane 温湿度模块工具"));
        QCOMPARE(bench.button("pushButtonAddress")->text(), QString("设置"));
        bench.button("pushButtonAddress")->click();
        QCOMPARE(bench.watcher->titles, QStringList{"错误"});
        QCOMPARE(bench.watcher->texts, QStringList{"地址不能为空！"});
        bench.address()->setText("1");
        bench.button("pushButtonRead")->click();
        QCOMPARE(bench.button("pushButtonRead")->text(), QString("停止"));
        bench.button("pushButtonRead")->click();
        QCOMPARE(bench.button("pushButtonRead")->text(), QString("读取"));

        SerialportSettingDialog dialog;
        QCOMPARE(dialog.windowTitle(), QString("串口"));
        QCOMPARE(dialog.findChild<QGroupBox *>("groupBox")->title(), QString("串口设置"));
        QCOMPARE(dialog.findChild<QComboBox *>("comboBoxParity")->currentText(), QString("无"));
        QCOMPARE(dialog.findChild<QComboBox *>("comboBoxBaud")->currentText(), QString("9600"));
    }
    QCoreApplication::removeTranslator(&translator);
}

void FormsTest::logLine_data()
{
    QTest::addColumn<bool>("isRx");
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("marker");
    QTest::newRow("transmitted") << false << "01030000000305cb" << "->TX  ";
    QTest::newRow("received") << true << "01030200057847" << "->RX  ";
}

void FormsTest::logLine()
{
    QFETCH(bool, isRx);
    QFETCH(QString, hex);
    QFETCH(QString, marker);

    Widget w;
    auto *browser = w.findChild<QTextBrowser *>("textBrowser");
    w.AppendTrafficLog("earlier", false);

    QDateTime before = QDateTime::currentDateTime();
    before.setTime(QTime(before.time().hour(), before.time().minute(), before.time().second()));
    w.AppendTrafficLog(hex, isRx);
    const QDateTime after = QDateTime::currentDateTime();

    const QStringList lines = browser->toPlainText().split('\n');
    QCOMPARE(lines.size(), 2);
    const QString line = lines.last();
    QCOMPARE(line.mid(19), marker + hex);
    const QDateTime stamp = QDateTime::fromString(line.left(19), "yyyy-MM-dd hh:mm:ss");
    QVERIFY2(stamp.isValid(), qPrintable(line));
    QVERIFY(before <= stamp && stamp <= after);
}

QTEST_MAIN(FormsTest)
#include "tst_forms.moc"
