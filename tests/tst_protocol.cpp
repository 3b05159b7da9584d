// Requests on the line, replies from it, and the operator's commands, with the
// test playing the module on a pseudo-terminal.
#include "testsupport.h"
#include "uartparam.h"
#include "widget.h"

#include <QtTest>
#include <QtWidgets>

class ProtocolTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { resetUartParam(); }
    void checkValue_data();
    void checkValue();
    void requests_data();
    void requests();
    void replies_data();
    void replies();
    void responseTimer_data();
    void responseTimer();
    void decoding_data();
    void decoding();
    void flood();
    void addressValidation_data();
    void addressValidation();
    void diagnostics();
};

void ProtocolTest::checkValue_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("expected");
    QTest::newRow("check string") << QByteArray("123456789") << 0x374B;
    QTest::newRow("nothing") << QByteArray() << 0xFFFF;
    QTest::newRow("address read") << fromHex("00 03 01 00 00 01") << 0x8427;
}

void ProtocolTest::checkValue()
{
    QFETCH(QByteArray, data);
    QFETCH(int, expected);
    const auto *bytes = reinterpret_cast<const quint8 *>(data.constData());
    QCOMPARE(int(Widget::ModbusCRC16(bytes, quint16(data.size()))), expected);
}

void ProtocolTest::requests_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("rateIndex");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("address read") << "pushButtonAddressRead" << "99" << 3 << fromHex("00 03 01 00 00 01 84 27");
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

void ProtocolTest::requests()
{
    QFETCH(QString, command);
    QFETCH(QString, field);
    QFETCH(int, rateIndex);
    QFETCH(QByteArray, frame);

    Bench bench;
    bench.link();
    QTRY_COMPARE(bench.pty.received(), fromHex("00 03 01 00 00 01 84 27"));
    bench.pty.write(fromHex("01 03 02 00 05 78 47"));
    QTRY_COMPARE(bench.address()->text(), QString("5"));
    bench.pty.clear();

    bench.address()->setText(field);
    bench.baudRates()->setCurrentIndex(rateIndex);
    bench.button(qPrintable(command))->click();
    const bool polling = command == "pushButtonRead";
    if (polling) {
        // Nothing at the click; then one frame a second.
        QCOMPARE(bench.button("pushButtonRead")->text(), QString("Stop"));
        QVERIFY(bench.pty.received().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(bench.pty.received(), frame + frame, 5000);
        QCOMPARE(int(UartParam.DeviceAddress), field.toInt());
        QVERIFY(!bench.timer("timerResponse")->isActive());
        bench.button("pushButtonRead")->click();
        QCOMPARE(bench.button("pushButtonRead")->text(), QString("Read"));
        QVERIFY(!bench.timer("timerPoll")->isActive());
    } else {
        QTRY_COMPARE(bench.pty.received(), frame);
        QVERIFY(bench.timer("timerResponse")->isActive());
        QCOMPARE(int(UartParam.DeviceAddress), 5);
    }
    QVERIFY(!UartParam.ReplyReceived);
    QVERIFY(bench.log().last().endsWith("->TX  " + frame.toHex()));
}

void ProtocolTest::replies_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QStringList>("shown");

    const QByteArray measurement = fromHex("01 03 06 01 0F 02 58 00 C8 F5 58");
    QTest::newRow("measurement in 4 + 7 bytes")
        << QList<QByteArray>{measurement.left(4), measurement.mid(4)}
        << QStringList{"Temperature:27.1℃", "Humidity:60.0%", "DewTemp:20.0℃", ""};
    QTest::newRow("negative and large")
        << QList<QByteArray>{withCrc(fromHex("01 03 06 FF 38 FF 38 FF 38"))}
        << QStringList{"Temperature:-20.0℃", "Humidity:6533.6%", "DewTemp:-20.0℃", ""};
    QTest::newRow("zero, from another address")
        << QList<QByteArray>{withCrc(fromHex("09 03 06 00 00 00 00 00 00"))}
        << QStringList{"Temperature:0.0℃", "Humidity:0.0%", "DewTemp:0.0℃", ""};
    QTest::newRow("address reply, high byte ignored")
        << QList<QByteArray>{withCrc(fromHex("01 03 02 01 05"))}
        << QStringList{"Temperature:", "Humidity:", "DewTemp:", "5"};
    QTest::newRow("address reply out of range")
        << QList<QByteArray>{withCrc(fromHex("00 03 02 00 FA"))}
        << QStringList{"Temperature:", "Humidity:", "DewTemp:", "250"};
}

void ProtocolTest::replies()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QStringList, shown);

    Bench bench;
    bench.link();
    QTRY_COMPARE(bench.pty.received().size(), 8);
    bench.address()->clear();
    QByteArray whole;
    for (const QByteArray &piece : pieces) {
        bench.pty.write(piece);
        whole += piece;
        if (whole.size() < pieces.last().size() + pieces.first().size() && pieces.size() > 1)
            QTRY_COMPARE(UartParam.RxData, whole);
    }
    QTRY_VERIFY(bench.log().last().endsWith("->RX  " + whole.toHex()));
    QCOMPARE(bench.label("labelTemperature")->text(), shown[0]);
    QCOMPARE(bench.label("labelHumidity")->text(), shown[1]);
    QCOMPARE(bench.label("labelDewTemp")->text(), shown[2]);
    QCOMPARE(bench.address()->text(), shown[3]);
    QVERIFY(UartParam.ReplyReceived);
    QVERIFY(UartParam.RxData.isEmpty());
    // A reply answers the address read sent at Link: no error follows.
    QTest::qWait(800);
    QVERIFY(bench.watcher->texts.isEmpty());
}

void ProtocolTest::responseTimer_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("errors");

    QTest::newRow("address write echoed") << "pushButtonAddress" << fromHex("00 06 01 00 00 01 48 27") << 0;
    QTest::newRow("baud rate echoed") << "pushButtonBaudRate" << fromHex("00 06 01 01 00 04 D9 E4") << 0;
    QTest::newRow("exception reply") << "pushButtonAddress" << withCrc(fromHex("01 86 02")) << 1;
    QTest::newRow("silence") << "pushButtonAddressRead" << QByteArray() << 1;
    QTest::newRow("reply with a stray byte") << "pushButtonAddressRead" << (fromHex("01 03 02 00 05 78 47") + 'x') << 1;
}

void ProtocolTest::responseTimer()
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

    QTest::qWait(1500);
    QCOMPARE(bench.watcher->texts.size(), errors);
    if (errors) {
        QCOMPARE(bench.watcher->titles.first(), QString("Error"));
        QCOMPARE(bench.watcher->texts.first(), QString("Communication error!"));
    }
    // Only whole, intact frames reach the log.
    const bool accepted = !reply.isEmpty() && !reply.endsWith('x');
    QCOMPARE(bench.log().last().contains("->RX  " + reply.toHex()), accepted);
    QVERIFY(UartParam.RxData.isEmpty());
}

// Buffers handed straight to the decoder; the closed port adds nothing.
void ProtocolTest::decoding_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<bool>("replyReceived");

    const QByteArray measurement = fromHex("01 03 06 01 0F 02 58 00 C8 F5 58");
    QTest::newRow("whole measurement") << measurement << true << true;
    QTest::newRow("exception reply") << withCrc(fromHex("01 83 02")) << true << false;
    QTest::newRow("two bytes FF FF") << fromHex("FF FF") << false << false;
    QTest::newRow("empty") << QByteArray() << false << false;
    QTest::newRow("check value missing") << measurement.left(9) << false << false;
    QTest::newRow("last byte missing") << measurement.left(10) << false << false;
    QTest::newRow("one byte extra") << measurement + char(0) << false << false;
    QTest::newRow("bad check value") << fromHex("01 03 06 01 0F 02 58 00 C8 F5 59") << false << false;
    QTest::newRow("byte count 0xFF") << withCrc(fromHex("01 03 FF") + QByteArray(255, '\x11')) << false << false;
    QTest::newRow("byte count 247") << withCrc(fromHex("01 03 F7") + QByteArray(247, '\x22')) << true << false;
}

void ProtocolTest::decoding()
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
    QVERIFY(bench.timer("timerClear")->isActive());
    QTRY_VERIFY(UartParam.RxData.isEmpty());
    QTRY_VERIFY(!bench.timer("timerClear")->isActive());
}

// A wrong line speed looks like an endless stream of bytes less than 500 ms
// apart: the buffer must stay bounded and nothing be taken for a reply.
void ProtocolTest::flood()
{
    Bench bench;
    bench.link();
    int longest = 0;
    for (int i = 0; i < 40; ++i) {
        bench.pty.write(QByteArray(16, '\x55'));
        QTest::qWait(30);
        longest = qMax(longest, UartParam.RxData.size());
    }
    QVERIFY2(longest > 200 && longest <= 252, qPrintable(QString::number(longest)));
    QCOMPARE(bench.log().size(), 1);
}

void ProtocolTest::addressValidation_data()
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

void ProtocolTest::addressValidation()
{
    QFETCH(QString, command);
    QFETCH(QString, text);
    QFETCH(QString, message);

    Bench bench;
    QPushButton *read = bench.button("pushButtonRead");
    bench.address()->setText(text);
    const bool polling = command == "pushButtonRead";
    bool pollTimerActive = true;
    QString readText;
    if (polling)
        bench.watcher->holdMs = 2200;   // longer than two polling periods
    bench.watcher->onMessage = [&] {
        pollTimerActive = bench.timer("timerPoll")->isActive();
        readText = read->text();
    };

    bench.button(qPrintable(command))->click();
    QTRY_COMPARE_WITH_TIMEOUT(bench.watcher->texts.size(), 1, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!QApplication::activeModalWidget(), 5000);
    QTest::qWait(polling ? 1200 : 200);
    QCOMPARE(bench.watcher->texts, QStringList{message});
    QCOMPARE(bench.watcher->titles, QStringList{"Error"});
    QVERIFY(bench.log().isEmpty());
    QCOMPARE(bench.address()->text(), text);
    QVERIFY(!pollTimerActive || !polling);
    QCOMPARE(readText, polling ? QString("Stop") : QString("Read"));
    QCOMPARE(read->text(), QString("Read"));
    QVERIFY(!bench.timer("timerPoll")->isActive());
}

void ProtocolTest::diagnostics()
{
    static QStringList seen;
    seen.clear();
    auto previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &text) {
        if (type == QtDebugMsg)
            seen << QString("%1|%2|%3").arg(QFileInfo(context.file).completeBaseName(), context.function, text);
    });
    {
        Bench bench;
        bench.link();
        bench.button("pushButtonBaudRate")->click();
        bench.pty.write(fromHex("01 03 02 00 05"));
        QTRY_VERIFY(seen.contains("widget|Widget::my_readuart|0103020005"));
    }
    qInstallMessageHandler(previous);
    QVERIFY2(seen.contains("widget|Widget::PushButtonBaudRateSlot|4"), qPrintable(seen.join('\n')));
}

QTEST_MAIN(ProtocolTest)
#include "tst_protocol.moc"
