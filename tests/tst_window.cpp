// The main window against a pseudo-terminal playing the module: Link and the
// settings dialog, requests, replies, the response timer and the address
// checks.
#include "serialportsettingdialog.h"
#include "testsupport.h"

#include <QtTest>
#include <QSerialPort>
#include <QSerialPortInfo>

#include <termios.h>

static const QByteArray addressRead = fromHex("00 03 01 00 00 01 84 27");
static const QByteArray measurement = fromHex("01 03 06 01 0F 02 58 00 C8 F5 58");

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void cancelLeavesLinkClosed()
    {
        Fixture f;
        f.link("19200");
        QTRY_COMPARE(f.pty.received().size(), 8);
        f.pty.clear();
        f.watcher.onModal = [](QWidget *dialog) { dialog->findChild<QPushButton *>("pushButtonCancel")->click(); };
        f.button("pushButtonLink")->click();
        QVERIFY(!f.find<QSerialPort>("serialPort")->isOpen());
        QVERIFY(UartParam.PortName == f.pty.slavePath() && UartParam.BaudRate == 19200);
        QTest::qWait(700);
        QVERIFY(f.pty.received().isEmpty() && f.log().size() == 1);
    }

    void repeatedLinkDecodesOnce()
    {
        static int decodes = 0;
        auto previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &context, const QString &) {
            decodes += QByteArray(context.function) == "Widget::my_readuart";
        });
        Fixture f;
        for (int i = 1; i <= 3; ++i) {
            f.link();
            QTRY_COMPARE(f.pty.received().size(), i * 8);
        }
        f.pty.write(fromHex("01 03 02 00 05 78 47"));
        QTRY_COMPARE(f.address()->text(), QString("5"));
        QTest::qWait(300);
        qInstallMessageHandler(previous);
        QCOMPARE(decodes, 1);
    }

    // A port another program holds cannot be opened, so it is not offered.
    void busyPortNotListed()
    {
        QSerialPort held;
        for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
            held.setPort(info);
            if (held.open(QIODevice::ReadWrite))
                break;
        }
        if (!held.isOpen())
            QSKIP("no listed serial port can be opened here");
        SerialportSettingDialog dialog;
        QCOMPARE(dialog.findChild<QComboBox *>("comboBoxName")->findText(held.portName()), -1);
    }

    // Each request on a line opened at the speed given, with odd parity chosen.
    void requests_data()
    {
        QTest::addColumn<QString>("rate");
        QTest::addColumn<int>("speed");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("rateIndex");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("address read") << "1200" << int(B1200) << "pushButtonAddressRead" << "99" << 3 << addressRead;
        QTest::newRow("address write 247") << "19200" << int(B19200) << "pushButtonAddress" << "247" << 3
                                           << fromHex("00 06 01 00 00 F7 C8 61");
        QTest::newRow("baud rate code 1") << "9600" << int(B9600) << "pushButtonBaudRate" << "" << 0
                                          << fromHex("00 06 01 01 00 01 19 E7");
        QTest::newRow("baud rate code 5") << "9600" << int(B9600) << "pushButtonBaudRate" << "" << 4
                                          << fromHex("00 06 01 01 00 05 18 24");
        QTest::newRow("poll 247") << "9600" << int(B9600) << "pushButtonRead" << "247" << 3
                                  << fromHex("F7 03 00 00 00 03 11 5D");
    }

    void requests()
    {
        QFETCH(QString, rate);
        QFETCH(int, speed);
        QFETCH(QString, command);
        QFETCH(QString, field);
        QFETCH(int, rateIndex);
        QFETCH(QByteArray, frame);
        Fixture f;
        f.link(rate, "ODD");
        QTRY_COMPARE(f.pty.received(), addressRead);
        // 8N1 without flow control, whatever the dialog's other choices were.
        struct termios line;
        QVERIFY(tcgetattr(f.pty.slaveFd(), &line) == 0 && cfgetospeed(&line) == speed_t(speed));
        QCOMPARE(line.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
        QCOMPARE(line.c_iflag & (IXON | IXOFF), tcflag_t(0));

        f.pty.clear();
        UartParam.ReplyReceived = true;   // every request clears it
        f.address()->setText(field);
        f.find<QComboBox>("comboBoxBaudRate")->setCurrentIndex(rateIndex);
        QElapsedTimer clock;
        clock.start();
        f.button(qPrintable(command))->click();
        QTRY_COMPARE_WITH_TIMEOUT(f.pty.received(), frame, 5000);
        const bool polling = command == "pushButtonRead";
        if (polling) {
            // A second after the click, and a second after that.
            const qint64 first = clock.elapsed();
            QTRY_COMPARE_WITH_TIMEOUT(f.pty.received(), frame + frame, 5000);
            QVERIFY2(first > 850 && clock.elapsed() - first > 850, qPrintable(QString::number(first)));
        }
        QCOMPARE(f.find<QTimer>("timerResponse")->isActive(), !polling);
        QVERIFY(!UartParam.ReplyReceived);
        QVERIFY(f.log().last().endsWith("->TX  " + frame.toHex()));
    }

    // Buffers as they stand after an arrival, handed to the decoder.
    void decoding_data()
    {
        QTest::addColumn<QByteArray>("buffer");
        QTest::addColumn<QString>("shown");   // values and address field; empty: not accepted
        QTest::addColumn<bool>("replyReceived");
        const QString blank = "Temperature: Humidity: DewTemp: ";
        QTest::newRow("measurement") << measurement << "Temperature:27.1℃ Humidity:60.0% DewTemp:20.0℃ " << true;
        QTest::newRow("negative and large") << withCrc(fromHex("01 03 06 FF 38 FF 38 FF 38"))
                                            << "Temperature:-20.0℃ Humidity:6533.6% DewTemp:-20.0℃ " << true;
        QTest::newRow("address, high byte ignored") << withCrc(fromHex("01 03 02 01 05")) << blank + "5" << true;
        QTest::newRow("exception reply") << withCrc(fromHex("01 83 02")) << blank << false;
        QTest::newRow("byte count 247") << withCrc(fromHex("01 03 F7") + QByteArray(247, '\x22')) << blank << false;
        QTest::newRow("two bytes FF FF") << fromHex("FF FF") << "" << false;
        QTest::newRow("check value missing") << measurement.left(9) << "" << false;
        QTest::newRow("one byte extra") << measurement + char(0) << "" << false;
        QTest::newRow("bad check value") << fromHex("01 03 06 01 0F 02 58 00 C8 F5 59") << "" << false;
        // Also what a wrong line speed gives: a stream that never forms a
        // frame must not grow the buffer past the longest frame.
        QTest::newRow("byte count 0xFF") << withCrc(fromHex("01 03 FF") + QByteArray(255, '\x11')) << "" << false;
    }

    void decoding()
    {
        QFETCH(QByteArray, buffer);
        QFETCH(QString, shown);
        QFETCH(bool, replyReceived);
        Fixture f;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("device not open"));
        UartParam.RxData = buffer;
        const QDateTime before = QDateTime::currentDateTime().addMSecs(-999);
        QMetaObject::invokeMethod(f.window.get(), "my_readuart");
        const bool accepted = !shown.isEmpty();
        QCOMPARE(f.log().size(), int(accepted));
        if (accepted) {
            QCOMPARE(f.values() + ' ' + f.address()->text(), shown);
            QCOMPARE(f.log()[0].mid(19), "->RX  " + buffer.toHex());
            const QDateTime stamp = QDateTime::fromString(f.log()[0].left(19), "yyyy-MM-dd hh:mm:ss");
            QVERIFY2(before <= stamp && stamp <= QDateTime::currentDateTime(), qPrintable(f.log()[0]));
        }
        QCOMPARE(UartParam.ReplyReceived, replyReceived);
        QCOMPARE(UartParam.RxData.isEmpty(), accepted || buffer.size() > 252);
        // What is left goes with the clear timer, soon.
        QTRY_VERIFY_WITH_TIMEOUT(UartParam.RxData.isEmpty() && !f.find<QTimer>("timerClear")->isActive(), 1200);
    }

    void responseTimer_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("error");
        QTest::newRow("address write echoed") << "pushButtonAddress" << fromHex("00 06 01 00 00 01 48 27") << false;
        QTest::newRow("baud rate echoed") << "pushButtonBaudRate" << fromHex("00 06 01 01 00 04 D9 E4") << false;
        QTest::newRow("exception reply") << "pushButtonAddress" << withCrc(fromHex("01 86 02")) << true;
        QTest::newRow("silence") << "pushButtonAddressRead" << QByteArray() << true;
        QTest::newRow("reply and a stray byte") << "pushButtonAddressRead" << fromHex("01 03 02 00 05 78 47 33") << true;
    }

    void responseTimer()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, reply);
        QFETCH(bool, error);
        Fixture f;
        QVERIFY(f.linkAndAnswer(1));
        QElapsedTimer clock;
        qint64 shownAfter = -1;
        f.watcher.onMessage = [&] { shownAfter = clock.elapsed(); };
        clock.start();
        f.button(qPrintable(command))->click();
        f.pty.write(reply);
        QTest::qWait(1500);   // well past the response timer
        QCOMPARE(f.watcher.texts, error ? QStringList{"Communication error!"} : QStringList());
        QVERIFY2(!error || (shownAfter > 450 && shownAfter < 1200), qPrintable(QString::number(shownAfter)));
        QVERIFY(UartParam.RxData.isEmpty());
    }

    void addressValidation_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        const QString range = "The address is between 1 and 247!";
        QTest::newRow("empty") << "pushButtonAddress" << "" << "The address is empty!";
        for (const char *text : {"0", "248", "-3", "abc", "   ", "4294967297"})
            QTest::addRow("'%s'", text) << "pushButtonAddress" << text << range;
        // Polling uses the same check, and stops at its first message.
        QTest::newRow("polling, 248") << "pushButtonRead" << "248" << range;
    }

    void addressValidation()
    {
        QFETCH(QString, command);
        QFETCH(QString, text);
        QFETCH(QString, message);
        Fixture f;
        f.address()->setText(text);
        f.button(qPrintable(command))->click();
        QTRY_COMPARE_WITH_TIMEOUT(f.watcher.texts.size(), 1, 5000);
        QTest::qWait(command == "pushButtonRead" ? 1500 : 100);
        QCOMPARE(f.watcher.texts + f.watcher.titles, (QStringList{message, "Error"}));
        QCOMPARE(f.button("pushButtonRead")->text(), QString("Read"));
        QVERIFY(f.log().isEmpty() && f.address()->text() == text);
    }
};

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
