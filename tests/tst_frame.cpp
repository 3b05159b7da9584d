// The tools' protocol library in process: the decision whether a frame
// answers a request, the cutting of a byte stream into frames, line time. Expected frames are written out in hex with a check
// value worked out apart from the library's.
#include "frameassembler.h"
#include "linetime.h"
#include "modbusframe.h"
#include "oracle.h"
#include "replydecoder.h"

#include <QtTest>

namespace {

using Oracle::framed;
using Oracle::hex;

const QByteArray measurement = hex("07 03 00 00 00 03 05 AD");
const QByteArray addressRead = hex("00 03 01 00 00 01 84 27");
const QByteArray addressWrite = framed("00 06 01 00 00 0C");
const QByteArray goodReply = framed("07 03 06 01 0F FF 38 00 C8");

} // namespace

Q_DECLARE_METATYPE(Reply::Reason)
Q_DECLARE_METATYPE(FrameAssembler::Side)

class FrameTest : public QObject
{
    Q_OBJECT

private slots:
    // A reason for not the answer, or an exception code for a refusal, or
    // the registers of the answer.
    void decode_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("module");   // the module's own address, -1 unknown
        QTest::addColumn<Reply::Reason>("reason");
        QTest::addColumn<int>("code");
        QTest::addColumn<QVector<quint16>>("registers");
        const auto row = [](const char *name, const QByteArray &request, const QByteArray &frame, int module,
                            Reply::Reason reason, int code = 0, const QVector<quint16> &registers = {}) {
            QTest::newRow(name) << request << frame << module << reason << code << registers;
        };
        const QByteArray m = measurement;
        row("measurement", m, goodReply, -1, Reply::None, 0, {0x010F, 0xFF38, 0x00C8});
        row("count says 10, six bytes follow", m, framed("07 03 0A 01 0F FF 38 00 C8"), -1, Reply::LengthDisagrees);
        row("count and length 4", m, framed("07 03 04 01 0F FF 38"), -1, Reply::WrongByteCount);
        row("another module", m, framed("08 03 06 01 0F FF 38 00 C8"), -1, Reply::OtherAddress);
        row("through 0 is not ours", m, framed("00 03 06 01 0F FF 38 00 C8"), 7, Reply::OtherAddress);
        row("check value", m, goodReply.left(10) + char(goodReply.at(10) ^ 1), -1, Reply::BadCheckValue);
        row("short exception", m, framed("07 83"), -1, Reply::TooShort);
        row("refused", m, framed("07 83 02"), -1, Reply::None, 2);
        row("exception for another function", m, framed("07 86 02"), -1, Reply::OtherFunction);
        row("no request of ours", hex("07 03 00 00 00 03 05 AE"), goodReply, -1, Reply::NotARequest);

        row("address, whole register", addressRead, framed("07 03 02 01 07"), -1, Reply::None, 0, {0x0107});
        row("address from 0", addressRead, framed("00 03 02 00 07"), -1, Reply::None, 0, {7});
        row("address from 250", addressRead, framed("FA 03 02 00 FA"), -1, Reply::OtherAddress);
        row("address, measurement's count", addressRead, goodReply, -1, Reply::WrongByteCount);

        row("echo from 0", addressWrite, addressWrite, 7, Reply::None, 0, {12});
        row("echo from its own address", addressWrite, framed("07 06 01 00 00 0C"), 7, Reply::None, 0, {12});
        row("echo from another module", addressWrite, framed("08 06 01 00 00 0C"), 7, Reply::OtherAddress);
        row("echo with another value", addressWrite, framed("00 06 01 00 00 0D"), 7, Reply::NotTheEcho);
        row("echo cut short", addressWrite, framed("00 06 01 00 00"), 7, Reply::LengthDisagrees);
        row("two-register write answered", framed("00 10 01 00 00 02 04 00 09 00 04"), framed("09 10 01 00 00 02"),
            -1, Reply::None, 0, {9, 4});
    }

    void decode()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, frame);
        QFETCH(int, module);
        QFETCH(Reply::Reason, reason);
        QFETCH(int, code);
        QFETCH(QVector<quint16>, registers);
        const Reply reply = Reply::decode(request, frame, module);
        QCOMPARE(reply.kind, reason != Reply::None ? Reply::NotTheAnswer : code ? Reply::Refused : Reply::Answer);
        QCOMPARE(reply.reason, reason);
        QCOMPARE(reply.exceptionCode, code);
        QCOMPARE(reply.registers, registers);
        QVERIFY(!reply.reasonText().isEmpty() || reason == Reply::None);
        if (registers.size() == 3)
            QVERIFY(reply.temperature() == 0x010F && reply.humidity() == 0xFF38 && reply.dewPoint() == 0xC8);
    }

    // Arrivals as they come off the line (an empty one: the line fell
    // silent), and the frames cut from them.
    void assembler_data()
    {
        QTest::addColumn<FrameAssembler::Side>("side");
        QTest::addColumn<QByteArrayList>("arrivals");
        QTest::addColumn<QByteArrayList>("frames");
        const QByteArray silence, exception = framed("07 83 02"), lying = framed("07 03 0A 01 0F FF 38 00 C8");
        const auto row = [](const char *name, FrameAssembler::Side side, const QByteArrayList &in, const QByteArrayList &out) {
            QTest::newRow(name) << side << in << out;
        };
        const FrameAssembler::Side replies = FrameAssembler::Replies, requests = FrameAssembler::Requests;
        QByteArrayList bytes;
        for (char byte : goodReply)
            bytes << QByteArray(1, byte);

        row("whole", replies, {goodReply}, {goodReply});
        row("byte by byte", replies, bytes, {goodReply});
        row("stray byte first", replies, {"\x55" + goodReply}, {goodReply});
        row("two in one read", replies, {goodReply + exception}, {goodReply, exception});
        row("lying count, then the reply", replies, {lying + goodReply}, {goodReply});
        row("lying count alone", replies, {lying, silence}, {});
        row("junk that promises 255 bytes", replies, {hex("01 03 FA"), goodReply, silence}, {goodReply});
        row("endless count 0xFF", replies, QVector<QByteArray>(20, hex("01 03 FF") + QByteArray(60, '\x11')).toList(), {});

        const QByteArray poll = hex("01 03 00 00 00 03 05 CB");
        const QByteArray coils = framed("01 2B 0E 01 00");   // a function of unknown length
        row("request, stray byte, request", requests, {poll + "\x01" + poll}, {poll, poll});
        row("junk of unknown length, then request", requests, {hex("00 00") + poll, silence}, {poll});
        row("unknown length, ended by silence", requests, {coils, silence}, {coils});
        row("short multiple write, for the module to refuse", requests, {framed("01 10 01 00"), silence},
            {framed("01 10 01 00")});
        row("endless zeros", requests, QVector<QByteArray>(40, QByteArray(100, '\0')).toList(), {});
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

    void lineTime()
    {
        QCOMPARE(LineTime::wireMs(11, 1200), 101);   // a measurement reply at 1200 bit/s
        QCOMPARE(LineTime::silenceMs(1200), 33);
        QCOMPARE(LineTime::silenceMs(19200), LineTime::AdapterFloorMs);   // never shorter than an adapter's hold-back
    }
};

QTEST_MAIN(FrameTest)
#include "tst_frame.moc"
