// Requests on the line, replies from it, and the operator's commands, with the
// test playing the module on a pseudo-terminal.
#include "testsupport.h"
#include "uartparam.h"
#include "widget.h"

#include <QtTest>
#include <QtWidgets>

static const QByteArray addressRead = fromHex("00 03 01 00 00 01 84 27");
static const QByteArray measurement = fromHex("01 03 06 01 0F 02 58 00 C8 F5 58");

class ProtocolTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { resetUartParam(); }

    void checkValue_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("expected");
        QTest::newRow("check string") << QByteArray("123456789") << 0x374B;
        QTest::newRow("nothing") << QByteArray() << 0xFFFF;
    }

    void checkValue()
    {
        QFETCH(QByteArray, data);
        QFETCH(int, expected);
        QCOMPARE(int(Widget::ModbusCRC16(reinterpret_cast<const quint8 *>(data.constData()), quint16(data.size()))), expected);
    }

    void requests_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("rateIndex");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("address read") << "pushButtonAddressRead" << "99" << 3 << addressRead;
        QTest::newRow("address write 1") << "pushButtonAddress" << "1" << 3 << fromHex("00 06 01 00 00 01 48 27");
        QTest::newRow("address write 2") << "pushButtonAddress" << "2" << 3 << fromHex("00 06 01 00 00 02 08 26");
        QTest::newRow("address write 247") << "pushButtonAddress" << "247" << 3 << fromHex("00 06 01 00 00 F7 C8 61");
        const char *rateFrames[] = {"00 06 01 01 00 01 19 E7", "00 06 01 01 00 02 59 E6", "00 06 01 01 00 03 98 26",
                                    "00 06 01 01 00 04 D9 E4", "00 06 01 01 00 05 18 24"};
        for (int i = 0; i < 5; ++i)
            QTest::addRow("baud rate code %d", i + 1) << "pushButtonBaudRate" << "" << i << fromHex(rateFrames[i]);
        QTest::newRow("poll 1") << "pushButtonRead" << "1" << 3 << fromHex("01 03 00 00 00 03 05 CB");
        QTest::newRow("poll 2") << "pushButtonRead" << "2" << 3 << fromHex("02 03 00 00 00 03 05 F8");
        QTest::newRow("poll 247") << "pushButtonRead" << "247" << 3 << fromHex("F7 03 00 00 00 03 11 5D");
    }

    void requests()
    {
        QFETCH(QString, command);
        QFETCH(QString, field);
        QFETCH(int, rateIndex);
        QFETCH(QByteArray, frame);
        Bench bench;
        bench.link();
        QTRY_COMPARE(bench.pty.received(), addressRead);
        bench.pty.write(fromHex("01 03 02 00 05 78 47"));
        QTRY_COMPARE(bench.address()->text(), QString("5"));
        bench.pty.clear();

        bench.address()->setText(field);
        bench.baudRates()->setCurrentIndex(rateIndex);
        bench.button(qPrintable(command))->click();
        if (command == "pushButtonRead") {
            // Nothing at the click; then one frame a second, no response timer.
            QVERIFY(bench.pty.received().isEmpty());
            QTRY_COMPARE_WITH_TIMEOUT(bench.pty.received(), frame + frame, 5000);
            QCOMPARE(int(UartParam.DeviceAddress), field.toInt());
            QVERIFY(!bench.timer("timerResponse")->isActive());
        } else {
            QTRY_COMPARE(bench.pty.received(), frame);
            QVERIFY(bench.timer("timerResponse")->isActive());
            QCOMPARE(int(UartParam.DeviceAddress), 5);
        }
        QVERIFY(!UartParam.ReplyReceived);
        QVERIFY(bench.log().last().endsWith("->TX  " + frame.toHex()));
    }

    void replies_data()
    {
        QTest::addColumn<QList<QByteArray>>("pieces");
        QTest::addColumn<QString>("shown");
        QTest::newRow("measurement in 4 + 7 bytes") << QList<QByteArray>{measurement.left(4), measurement.mid(4)}
                                                    << "Temperature:27.1℃ Humidity:60.0% DewTemp:20.0℃ ";
        QTest::newRow("negative and large") << QList<QByteArray>{withCrc(fromHex("01 03 06 FF 38 FF 38 FF 38"))}
                                            << "Temperature:-20.0℃ Humidity:6533.6% DewTemp:-20.0℃ ";
        QTest::newRow("zeros, another address") << QList<QByteArray>{withCrc(fromHex("09 03 06 00 00 00 00 00 00"))}
                                                << "Temperature:0.0℃ Humidity:0.0% DewTemp:0.0℃ ";
        QTest::newRow("address, high byte ignored") << QList<QByteArray>{withCrc(fromHex("01 03 02 01 05"))}
                                                    << "Temperature: Humidity: DewTemp: 5";
        QTest::newRow("address out of range") << QList<QByteArray>{withCrc(fromHex("00 03 02 00 FA"))}
                                              << "Temperature: Humidity: DewTemp: 250";
    }

    void replies()
    {
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(QString, shown);
        Bench bench;
        bench.link();
        QTRY_COMPARE(bench.pty.received(), addressRead);
        bench.address()->clear();
        QByteArray whole;
        for (const QByteArray &piece : pieces) {
            bench.pty.write(piece);
            whole += piece;
            if (&piece != &pieces.last())
                QTRY_COMPARE(UartParam.RxData, whole);   // a first piece alone is not taken
        }
        QTRY_VERIFY(bench.log().last().endsWith("->RX  " + whole.toHex()));
        QCOMPARE(QStringList({bench.label("labelTemperature")->text(), bench.label("labelHumidity")->text(),
                              bench.label("labelDewTemp")->text(), bench.address()->text()}).join(' '), shown);
        QVERIFY(UartParam.ReplyReceived && UartParam.RxData.isEmpty());
        QTest::qWait(800);   // it answered the address read sent at Link
        QVERIFY(bench.watcher->texts.isEmpty());
    }

    void responseTimer_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("errors");
        QTest::newRow("address write echoed") << "pushButtonAddress" << fromHex("00 06 01 00 00 01 48 27") << 0;
        QTest::newRow("baud rate echoed") << "pushButtonBaudRate" << fromHex("00 06 01 01 00 04 D9 E4") << 0;
        QTest::newRow("exception reply") << "pushButtonAddress" << withCrc(fromHex("01 86 02")) << 1;
        QTest::newRow("silence") << "pushButtonAddressRead" << QByteArray() << 1;
        QTest::newRow("reply and a stray byte") << "pushButtonAddressRead" << fromHex("01 03 02 00 05 78 47 33") << 1;
    }

    void responseTimer()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, reply);
        QFETCH(int, errors);
        Bench bench;
        bench.link();
        bench.pty.write(fromHex("01 03 02 00 01 79 84"));
        QTRY_COMPARE(bench.address()->text(), QString("1"));
        bench.button(qPrintable(command))->click();
        bench.pty.write(reply);
        if (errors)
            QTRY_COMPARE_WITH_TIMEOUT(bench.watcher->texts.size(), 1, 5000);
        QTest::qWait(1200);   // and nothing more, well past the response timer
        QCOMPARE(bench.watcher->texts, errors ? QStringList{"Communication error!"} : QStringList());
        QCOMPARE(bench.watcher->titles, errors ? QStringList{"Error"} : QStringList());
        // The echoes and the exception are whole frames and reach the log.
        const bool logged = errors == 0 || reply.size() == 5;
        QCOMPARE(bench.log().last().contains("->RX  " + reply.toHex()), logged);
        QVERIFY(UartParam.RxData.isEmpty());
    }

    // Buffers handed straight to the decoder; the closed port adds nothing.
    void decoding_data()
    {
        QTest::addColumn<QByteArray>("buffer");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<bool>("replyReceived");
        QTest::newRow("whole measurement") << measurement << true << true;
        QTest::newRow("exception reply") << withCrc(fromHex("01 83 02")) << true << false;
        QTest::newRow("two bytes FF FF") << fromHex("FF FF") << false << false;
        QTest::newRow("empty") << QByteArray() << false << false;
        QTest::newRow("check value missing") << measurement.left(9) << false << false;
        QTest::newRow("last byte missing") << measurement.left(10) << false << false;
        QTest::newRow("one byte extra") << measurement + char(0) << false << false;
        QTest::newRow("bad check value") << fromHex("01 03 06 01 0F 02 58 00 C8 F5 59") << false << false;
        // Also what a wrong line speed gives: a stream that never forms a
        // frame must not grow the buffer past the longest frame.
        QTest::newRow("byte count 0xFF") << withCrc(fromHex("01 03 FF") + QByteArray(255, '\x11')) << false << false;
        QTest::newRow("byte count 247") << withCrc(fromHex("01 03 F7") + QByteArray(247, '\x22')) << true << false;
    }

    void decoding()
    {
        QFETCH(QByteArray, buffer);
        QFETCH(bool, accepted);
        QFETCH(bool, replyReceived);
        Bench bench;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("device not open"));
        UartParam.RxData = buffer;
        bench.invoke("my_readuart");
        QCOMPARE(bench.log().size(), accepted ? 1 : 0);
        QCOMPARE(UartParam.ReplyReceived, replyReceived);
        QCOMPARE(UartParam.RxData.isEmpty(), accepted || buffer.isEmpty() || buffer.size() > 252);
        QTRY_VERIFY(UartParam.RxData.isEmpty() && !bench.timer("timerClear")->isActive());
    }

    void addressValidation_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        const QString range = "The address is between 1 and 247!";
        const struct { const char *name, *text; QString message; } rows[] = {
            {"empty", "", "The address is empty!"}, {"zero", "0", range}, {"248", "248", range},
            {"negative", "-3", range}, {"letters", "abc", range}, {"blanks", "   ", range},
            {"huge", "4294967297", range},
        };
        for (const char *command : {"pushButtonAddress", "pushButtonRead"}) {
            for (const auto &r : rows)
                QTest::addRow("%s %s", command, r.name) << command << r.text << r.message;
        }
    }

    void addressValidation()
    {
        QFETCH(QString, command);
        QFETCH(QString, text);
        QFETCH(QString, message);
        Bench bench;
        bench.address()->setText(text);
        const bool polling = command == "pushButtonRead";
        QString stateWhileShown;
        if (polling)
            bench.watcher->holdMs = 2200;   // open for more than two polling periods
        bench.watcher->onMessage = [&] {
            stateWhileShown = bench.button("pushButtonRead")->text()
                              + (bench.timer("timerPoll")->isActive() ? " polling" : "");
        };
        bench.button(qPrintable(command))->click();
        QTRY_COMPARE_WITH_TIMEOUT(bench.watcher->texts.size(), 1, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!QApplication::activeModalWidget(), 5000);
        QTest::qWait(polling ? 1200 : 200);
        QCOMPARE(bench.watcher->texts + bench.watcher->titles, (QStringList{message, "Error"}));
        QCOMPARE(stateWhileShown, polling ? QString("Stop") : QString("Read"));
        QCOMPARE(bench.button("pushButtonRead")->text(), QString("Read"));
        QVERIFY(bench.log().isEmpty() && !bench.timer("timerPoll")->isActive());
        QCOMPARE(bench.address()->text(), text);
    }
};

QTEST_MAIN(ProtocolTest)
#include "tst_protocol.moc"
