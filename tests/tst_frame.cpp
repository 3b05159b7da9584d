// The tools' protocol library in process: the request builders, the decision
// whether a frame answers a request, the cutting of a byte stream into
// frames, and line time. Expected frames are written out in hex with a check
// value worked out apart from the library's.
#include "frameassembler.h"
#include "linetime.h"
#include "modbusframe.h"
#include "oracle.h"
#include "replydecoder.h"
#include "trafficline.h"

#include <QtTest>

namespace {

using Oracle::framed;
using Oracle::hex;

const QByteArray measurement = hex("07 03 00 00 00 03 05 AD");
const QByteArray addressRead = hex("00 03 01 00 00 01 84 27");
const QByteArray addressWrite = framed("00 06 01 00 00 0C");
const QByteArray goodReply = framed("07 03 06 01 0F FF 38 00 C8");

} // namespace

Q_DECLARE_METATYPE(Reply::Kind)
Q_DECLARE_METATYPE(Reply::Reason)
Q_DECLARE_METATYPE(FrameAssembler::Side)

class FrameTest : public QObject
{
    Q_OBJECT

private slots:
    void builders_data()
    {
        QTest::addColumn<QByteArray>("built");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("measurement from 1") << ModbusFrame::measurementRequest(1) << hex("01 03 00 00 00 03 05 CB");
        QTest::newRow("measurement from 247") << ModbusFrame::measurementRequest(247) << hex("F7 03 00 00 00 03 11 5D");
        QTest::newRow("address read") << ModbusFrame::addressRequest() << addressRead;
        QTest::newRow("address write 247") << ModbusFrame::addressWrite(247) << hex("00 06 01 00 00 F7 C8 61");
        QTest::newRow("baud write 9600") << ModbusFrame::baudWrite(4) << hex("00 06 01 01 00 04 D9 E4");
        QTest::newRow("exception") << ModbusFrame::exception(7, 0x03, 2) << framed("07 83 02");
    }

    void builders()
    {
        QFETCH(QByteArray, built);
        QFETCH(QByteArray, wire);
        QCOMPARE(built.toHex(' '), wire.toHex(' '));
    }

    void decode_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("module");   // the module's own address, -1 unknown
        QTest::addColumn<Reply::Kind>("kind");
        QTest::addColumn<Reply::Reason>("reason");
        QTest::addColumn<QVector<quint16>>("registers");
        QTest::addColumn<int>("code");
        const QVector<quint16> none;
        const Reply::Kind answer = Reply::Answer, refused = Reply::Refused, not_ = Reply::NotTheAnswer;

        QTest::newRow("measurement") << measurement << goodReply << -1 << answer << Reply::None
                                     << QVector<quint16>{0x010F, 0xFF38, 0x00C8} << 0;
        QTest::newRow("count says 10, six bytes follow")
            << measurement << framed("07 03 0A 01 0F FF 38 00 C8") << -1 << not_ << Reply::LengthDisagrees << none << 0;
        QTest::newRow("count and length 4") << measurement << framed("07 03 04 01 0F FF 38") << -1 << not_
                                            << Reply::WrongByteCount << none << 0;
        QTest::newRow("another module") << measurement << framed("08 03 06 01 0F FF 38 00 C8") << -1 << not_
                                        << Reply::OtherAddress << none << 0;
        QTest::newRow("through 0 is not ours") << measurement << framed("00 03 06 01 0F FF 38 00 C8") << 7 << not_
                                               << Reply::OtherAddress << none << 0;
        QTest::newRow("check value") << measurement << goodReply.left(10) + char(goodReply.at(10) ^ 1) << -1 << not_
                                     << Reply::BadCheckValue << none << 0;
        QTest::newRow("check value missing") << measurement << goodReply.left(9) << -1 << not_
                                             << Reply::BadCheckValue << none << 0;
        QTest::newRow("short exception") << measurement << framed("07 83") << -1 << not_ << Reply::TooShort << none << 0;
        QTest::newRow("refused") << measurement << framed("07 83 02") << -1 << refused << Reply::None << none << 2;
        QTest::newRow("refused, gateway") << measurement << framed("07 83 0B") << -1 << refused << Reply::None << none << 11;
        QTest::newRow("exception for another function") << measurement << framed("07 86 02") << -1 << not_
                                                        << Reply::OtherFunction << none << 0;
        QTest::newRow("a write's echo") << measurement << framed("07 06 00 00 00 03") << -1 << not_
                                        << Reply::OtherFunction << none << 0;

        QTest::newRow("address, whole register") << addressRead << framed("07 03 02 01 07") << -1 << answer
                                                 << Reply::None << QVector<quint16>{0x0107} << 0;
        QTest::newRow("address from 0") << addressRead << framed("00 03 02 00 07") << -1 << answer << Reply::None
                                        << QVector<quint16>{7} << 0;
        QTest::newRow("address from 250") << addressRead << framed("FA 03 02 00 FA") << -1 << not_
                                          << Reply::OtherAddress << none << 0;
        QTest::newRow("address, measurement's count") << addressRead << goodReply << -1 << not_
                                                      << Reply::WrongByteCount << none << 0;

        QTest::newRow("echo from 0") << addressWrite << addressWrite << 7 << answer << Reply::None
                                     << QVector<quint16>{12} << 0;
        QTest::newRow("echo from its own address") << addressWrite << framed("07 06 01 00 00 0C") << 7 << answer
                                                   << Reply::None << QVector<quint16>{12} << 0;
        QTest::newRow("echo from another module") << addressWrite << framed("08 06 01 00 00 0C") << 7 << not_
                                                  << Reply::OtherAddress << none << 0;
        QTest::newRow("echo with another value") << addressWrite << framed("00 06 01 00 00 0D") << 7 << not_
                                                 << Reply::NotTheEcho << none << 0;
        QTest::newRow("echo cut short") << addressWrite << framed("00 06 01 00 00") << 7 << not_
                                        << Reply::LengthDisagrees << none << 0;
        QTest::newRow("two-register write answered")
            << framed("00 10 01 00 00 02 04 00 09 00 04") << framed("09 10 01 00 00 02") << -1 << answer
            << Reply::None << QVector<quint16>{9, 4} << 0;
        QTest::newRow("no request of ours") << hex("07 03 00 00 00 03 05 AE") << goodReply << -1 << not_
                                            << Reply::NotARequest << none << 0;
    }

    void decode()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, frame);
        QFETCH(int, module);
        QFETCH(Reply::Kind, kind);
        QFETCH(Reply::Reason, reason);
        QFETCH(QVector<quint16>, registers);
        QFETCH(int, code);
        const Reply reply = Reply::decode(request, frame, module);
        QCOMPARE(reply.kind, kind);
        QCOMPARE(reply.reason, reason);
        QCOMPARE(reply.registers, registers);
        QCOMPARE(reply.exceptionCode, code);
        QVERIFY(!reply.reasonText().isEmpty() || reason == Reply::None);
        if (kind == Reply::Answer && registers.size() == 3) {
            QCOMPARE(reply.temperature(), qint16(0x010F));
            QCOMPARE(reply.humidity(), quint16(0xFF38));
        }
    }

    // Each Modbus exception code has its name; anything else says it is none.
    void exceptionNames()
    {
        for (int code = 1; code <= 12; ++code) {
            const bool modbus = QList<int>{1, 2, 3, 4, 5, 6, 8, 10, 11}.contains(code);
            QVERIFY2(ModbusFrame::exceptionName(code).contains("not a Modbus code") != modbus, qPrintable(QString::number(code)));
        }
        QCOMPARE(ModbusFrame::exceptionName(2), QString("illegal data address"));
    }

    // Arrivals as they come off the line (an empty one: the line fell
    // silent), and the frames cut from them.
    void assembler_data()
    {
        QTest::addColumn<FrameAssembler::Side>("side");
        QTest::addColumn<QByteArrayList>("arrivals");
        QTest::addColumn<QByteArrayList>("frames");
        const QByteArray silence;
        const QByteArray exception = framed("07 83 02");
        const FrameAssembler::Side replies = FrameAssembler::Replies, requests = FrameAssembler::Requests;
        QByteArrayList bytes;
        for (char byte : goodReply)
            bytes << QByteArray(1, byte);

        QTest::newRow("whole") << replies << QByteArrayList{goodReply} << QByteArrayList{goodReply};
        QTest::newRow("byte by byte") << replies << bytes << QByteArrayList{goodReply};
        QTest::newRow("stray byte first") << replies << QByteArrayList{"\x55" + goodReply} << QByteArrayList{goodReply};
        QTest::newRow("no-address byte first") << replies << QByteArrayList{"\xFF", goodReply} << QByteArrayList{goodReply};
        QTest::newRow("two in one read") << replies << QByteArrayList{goodReply + exception}
                                         << QByteArrayList{goodReply, exception};
        QTest::newRow("lying count, then the reply")
            << replies << QByteArrayList{framed("07 03 0A 01 0F FF 38 00 C8") + goodReply} << QByteArrayList{goodReply};
        QTest::newRow("lying count alone") << replies << QByteArrayList{framed("07 03 0A 01 0F FF 38 00 C8"), silence}
                                           << QByteArrayList{};
        QTest::newRow("junk that promises 255 bytes")
            << replies << QByteArrayList{hex("01 03 FA"), goodReply, silence} << QByteArrayList{goodReply};
        QTest::newRow("damaged, then whole after silence")
            << replies << QByteArrayList{goodReply.left(6), silence, goodReply} << QByteArrayList{goodReply};
        QTest::newRow("endless count 0xFF") << replies << QVector<QByteArray>(20, hex("01 03 FF") + QByteArray(60, '\x11')).toList()
                                            << QByteArrayList{};

        const QByteArray poll = hex("01 03 00 00 00 03 05 CB");
        const QByteArray coils = framed("01 2B 0E 01 00");   // a function of unknown length
        QTest::newRow("request, stray byte, request")
            << requests << QByteArrayList{poll + "\x01" + poll} << QByteArrayList{poll, poll};
        QTest::newRow("junk of unknown length, then request")
            << requests << QByteArrayList{hex("00 00") + poll, silence} << QByteArrayList{poll};
        QTest::newRow("unknown length, ended by silence") << requests << QByteArrayList{coils, silence}
                                                          << QByteArrayList{coils};
        QTest::newRow("short multiple write, for the module to refuse")
            << requests << QByteArrayList{framed("01 10 01 00"), silence} << QByteArrayList{framed("01 10 01 00")};
        QTest::newRow("endless zeros") << requests << QVector<QByteArray>(40, QByteArray(100, '\0')).toList() << QByteArrayList{};
    }

    void assembler()
    {
        QFETCH(FrameAssembler::Side, side);
        QFETCH(QByteArrayList, arrivals);
        QFETCH(QByteArrayList, frames);
        FrameAssembler assembler(side);
        QByteArrayList cut;
        for (const QByteArray &bytes : arrivals) {
            if (bytes.isEmpty())
                assembler.silence();
            else
                assembler.feed(bytes);
            QVERIFY(assembler.held() <= ModbusFrame::MaxFrameLength);
            while (assembler.hasFrame())
                cut << assembler.takeFrame();
        }
        QCOMPARE(cut, frames);
    }

    void lineTime_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<int>("wireMs");
        QTest::addColumn<int>("silenceMs");
        QTest::newRow("measurement reply at 1200") << 1200 << 11 << 101 << 33;
        QTest::newRow("request at 9600") << 9600 << 8 << 10 << LineTime::AdapterFloorMs;
        QTest::newRow("longest frame at 19200") << 19200 << 256 << 147 << LineTime::AdapterFloorMs;
    }

    void lineTime()
    {
        QFETCH(int, baud);
        QFETCH(int, bytes);
        QFETCH(int, wireMs);
        QFETCH(int, silenceMs);
        QCOMPARE(LineTime::wireMs(bytes, baud), wireMs);
        QCOMPARE(LineTime::silenceMs(baud), silenceMs);
    }

    void trafficLineForm()
    {
        const QDateTime at(QDate(2026, 1, 2), QTime(3, 4, 5));
        QCOMPARE(trafficLine(hex("01 0A FF"), true, at), QString("2026-01-02 03:04:05->RX  010aff"));
        QCOMPARE(trafficLine(hex("00"), false, at), QString("2026-01-02 03:04:05->TX  00"));
    }
};

QTEST_MAIN(FrameTest)
#include "tst_frame.moc"
