// The simulator in process: the module's reply to each request, and the
// server's cutting of what the line brings into requests. Expected frames
// are written out in hex with a check value worked out apart from the
// library's.
#include "oracle.h"
#include "sensormodule.h"
#include "simserver.h"

#include <QtTest>

#include <tuple>
#include <vector>

using Oracle::framed;
using Oracle::hex;

Q_DECLARE_METATYPE(SensorModule::EchoAddress)
Q_DECLARE_METATYPE(SimServer::Faults)

namespace {

const QByteArray measurement = framed("07 03 00 00 00 03");
const QByteArray measured = framed("07 03 06 FF C9 03 25 00 78");   // -5.5 °C, 80.5 %, 12.0 °C

SensorModule moduleAt7()
{
    SensorModule module;
    module.address = 7;
    module.temperature = -55;
    module.humidity = 805;
    module.dewPoint = 120;
    return module;
}

void row(const char *name, const QByteArray &request, const QByteArray &reply, int address = 7, int baudCode = 4,
         SensorModule::EchoAddress echo = SensorModule::Mixed)
{
    QTest::newRow(name) << request << reply << echo << address << baudCode;
}

// Modules at these addresses, the n-th (from 0) at 20.0 + n degrees.
QVector<SensorModule> busAt(const QList<int> &addresses)
{
    QVector<SensorModule> modules;
    for (int address : addresses) {
        SensorModule module;
        module.address = address;
        module.temperature = qint16(200 + 10 * modules.size());
        modules << module;
    }
    return modules;
}

// What a line makes of replies sent at once, worked out here apart.
QByteArray overlaid(const QList<QByteArray> &replies)
{
    QByteArray line;
    for (const QByteArray &reply : replies) {
        if (reply.size() > line.size())
            line.append(QByteArray(reply.size() - line.size(), char(0xFF)));
        for (int i = 0; i < reply.size(); ++i)
            line[i] = char(line[i] & reply[i]);
    }
    return line;
}

SimServer::Faults faults(bool echo, int turnaround, int delay, int garbleAbove = -1)
{
    SimServer::Faults f;
    std::tie(f.localEcho, f.turnaroundMs, f.delayMs, f.garbleAbove) = std::tie(echo, turnaround, delay, garbleAbove);
    return f;
}

} // namespace

class ModuleTest : public QObject
{
    Q_OBJECT

private slots:
    // The module at address 7 and 9600 bit/s; its address and speed code
    // after the request.
    void requests_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<SensorModule::EchoAddress>("echo");
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("baudCode");
        row("measurements", measurement, measured);
        row("dew point alone", framed("07 03 00 02 00 01"), framed("07 03 02 00 78"));
        row("address and speed", framed("07 03 01 00 00 02"), framed("07 03 04 00 07 00 04"));
        row("across the blocks", framed("07 03 00 02 00 02"), framed("07 83 02"));
        row("no such register", framed("07 03 00 05 00 01"), framed("07 83 02"));
        row("read of none", framed("07 03 00 00 00 00"), framed("07 83 03"));
        row("read a byte short", framed("07 03 00 00 00"), QByteArray());
        row("other module", framed("08 03 00 00 00 03"), QByteArray());
        row("bad check value", hex("07 03 00 00 00 03 05 AE"), QByteArray());
        row("function 04", framed("07 04 00 00 00 01"), framed("07 84 01"));
        row("write address", framed("07 06 01 00 00 09"), framed("07 06 01 00 00 09"), 9);
        row("write speed", framed("07 06 01 01 00 01"), framed("07 06 01 01 00 01"), 7, 1);
        row("write address 0", framed("07 06 01 00 00 00"), framed("07 86 03"));
        row("write address 248", framed("07 06 01 00 00 F8"), framed("07 86 03"));
        row("write speed code 6", framed("07 06 01 01 00 06"), framed("07 86 03"));
        row("write temperature", framed("07 06 00 00 00 01"), framed("07 86 02"));
        row("write both", framed("07 10 01 00 00 02 04 00 11 00 02"), framed("07 10 01 00 00 02"), 17, 2);
        row("9 and 7 refused whole", framed("07 10 01 00 00 02 04 00 09 00 07"), framed("07 90 03"));
        row("past the registers", framed("07 10 01 01 00 02 04 00 01 00 01"), framed("07 90 02"));
        row("byte count lies", framed("07 10 01 00 00 01 04 00 09 00 00"), framed("07 90 03"));
        row("0x10 of 4 bytes", framed("07 10"), framed("07 90 03"));
        row("0x10 of 6 bytes", framed("07 10 01 00"), framed("07 90 03"));
        row("0x10 of 10 bytes", framed("07 10 01 00 00 01 02 00"), framed("07 90 03"));

        // Through address 0, from the default address, the module's own and 0.
        const char *read = "00 03 01 00 00 01", *write = "00 06 01 00 00 09", *refused = "00 06 01 00 00 00",
                   *multiple = "00 10 01 01 00 01 02 00 02";
        const auto mixed = SensorModule::Mixed, own = SensorModule::Own, zero = SensorModule::Zero;
        row("read via 0", framed(read), framed("07 03 02 00 07"), 7, 4, mixed);
        row("read via 0, zero", framed(read), framed("00 03 02 00 07"), 7, 4, zero);
        row("write via 0", framed(write), framed(write), 9, 4, mixed);
        row("write via 0, own", framed(write), framed("07 06 01 00 00 09"), 9, 4, own);
        row("refused via 0", framed(refused), framed("07 86 03"), 7, 4, mixed);
        row("refused via 0, zero", framed(refused), framed("00 86 03"), 7, 4, zero);
        row("both via 0", framed(multiple), framed("07 10 01 01 00 01"), 7, 2, mixed);
        row("both via 0, zero", framed(multiple), framed("00 10 01 01 00 01"), 7, 2, zero);
    }

    void requests()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(SensorModule::EchoAddress, echo);
        SensorModule module = moduleAt7();
        module.echoAddress = echo;
        // In a buffer of exactly its size, so that the sanitizers see any read past its end.
        const std::vector<char> exact(request.begin(), request.end());
        QCOMPARE(module.handle(QByteArray::fromRawData(exact.data(), int(exact.size()))).toHex(' '), reply.toHex(' '));
        QTEST(module.address, "address");
        QTEST(module.baudCode, "baudCode");
    }

    // What the line brings, in pieces of this size (0: all in one read),
    // then a pause; every reply sent.
    void stream_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("piece");
        QTest::addColumn<QByteArray>("replies");
        const QByteArray addressRead = framed("07 03 01 00 00 01"), address = framed("07 03 02 00 07");
        QTest::newRow("junk first") << hex("FF 00") + measurement << 0 << measured;
        QTest::newRow("two in one read") << measurement + addressRead << 0 << measured + address;
        QTest::newRow("damaged, then whole") << hex("07 03 00 00 00 03 05 AE") + addressRead << 0 << address;
        QTest::newRow("length told by the pause") << framed("07 2B 0E 01 00") << 0 << framed("07 AB 01");
        QTest::newRow("endless zeros, then a request") << QByteArray(100000, '\0') + measurement << 512 << measured;
    }

    void stream()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, piece);
        QFETCH(QByteArray, replies);
        SimServer server(moduleAt7(), SimServer::Faults(), 1);
        QByteArray sent;
        connect(&server, &SimServer::transmitted, this, [&](const QByteArray &b) { sent += b; });
        const int step = piece > 0 ? piece : bytes.size();
        for (int at = 0; at < bytes.size(); at += step) {
            server.receive(bytes.mid(at, step));
            QVERIFY2(server.held() <= 256, qPrintable(QString("%1 bytes held").arg(server.held())));
        }
        server.lineSilent();
        QCOMPARE(sent.toHex(' '), replies.toHex(' '));
    }

    // Several modules on one line: what the line carries back for a
    // request (collision: the replies overlaid, check value broken), and the
    // addresses after it.
    void bus_data()
    {
        QTest::addColumn<QList<int>>("addresses");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QList<QByteArray>>("replies");
        QTest::addColumn<QList<int>>("after");
        const QByteArray echo9 = framed("00 06 01 00 00 09");
        QTest::newRow("the middle one") << QList<int>{1, 3, 5} << framed("03 03 00 00 00 01")
                                        << QList<QByteArray>{framed("03 03 02 00 D2")} << QList<int>{1, 3, 5};
        QTest::newRow("none there") << QList<int>{1, 3, 5} << framed("04 03 00 00 00 01") << QList<QByteArray>()
                                    << QList<int>{1, 3, 5};
        QTest::newRow("via 0, three") << QList<int>{1, 3, 5} << framed("00 03 00 00 00 01")
                                      << QList<QByteArray>{framed("01 03 02 00 C8"), framed("03 03 02 00 D2"),
                                                           framed("05 03 02 00 DC")} << QList<int>{1, 3, 5};
        QTest::newRow("via 0, long and short") << QList<int>{1, 2} << framed("00 03 00 00 00 02")
                                               << QList<QByteArray>{framed("01 03 04 00 C8 01 C2"), framed("02 03 04 00 D2 01 C2")}
                                               << QList<int>{1, 2};
        QTest::newRow("write via 0 moves all") << QList<int>{1, 3} << echo9 << QList<QByteArray>{echo9, echo9}
                                               << QList<int>{9, 9};
        QTest::newRow("two at one address") << QList<int>{9, 9} << framed("09 03 01 00 00 01")
                                            << QList<QByteArray>{framed("09 03 02 00 09"), framed("09 03 02 00 09")}
                                            << QList<int>{9, 9};
    }

    void bus()
    {
        QFETCH(QList<int>, addresses);
        QFETCH(QByteArray, request);
        QFETCH(QList<QByteArray>, replies);
        SimServer server(busAt(addresses), SimServer::Faults(), 1);
        QByteArray sent;
        connect(&server, &SimServer::transmitted, this, [&](const QByteArray &b) { sent += b; });
        server.receive(request);
        server.lineSilent();
        const QByteArray expected = overlaid(replies);   // a collision's last byte is the simulator's to break
        const int compared = replies.size() > 1 ? expected.size() - 1 : expected.size();
        QCOMPARE(sent.size(), expected.size());
        QCOMPARE(sent.left(compared).toHex(' '), expected.left(compared).toHex(' '));
        QCOMPARE(Oracle::intact(sent), replies.size() == 1);
        QList<int> after;
        for (const SensorModule &module : server.bus().modules())
            after << module.address;
        QTEST(after, "after");
    }

    // The line's faults: what comes back for one request (a reply of 11
    // bytes), and how long after the request the last byte comes at least.
    void lineFaults_data()
    {
        QTest::addColumn<SimServer::Faults>("faults");
        QTest::addColumn<bool>("wireTime");
        QTest::addColumn<bool>("echoed");
        QTest::addColumn<bool>("garbled");   // about one byte in ten, over twenty replies
        QTest::addColumn<int>("minMs");
        QTest::newRow("local echo, first") << faults(true, 0, 0) << false << true << false << 0;
        QTest::newRow("turnaround") << faults(false, 150, 0) << false << false << false << 150;
        QTest::newRow("turnaround and delay add") << faults(true, 100, 100) << false << true << false << 200;
        // 19 characters of 11 bits at 9600 bit/s.
        QTest::newRow("wire time") << faults(false, 0, 0) << true << false << false << 21;
        QTest::newRow("garbled above 4800") << faults(false, 0, 0, 4800) << false << false << true << 0;
        QTest::newRow("clean at 9600, garbled above") << faults(false, 0, 0, 9600) << false << false << false << 0;
    }

    void lineFaults()
    {
        QFETCH(SimServer::Faults, faults);
        QFETCH(bool, wireTime);
        QFETCH(bool, echoed);
        QFETCH(bool, garbled);
        QFETCH(int, minMs);
        SimServer server(moduleAt7(), faults, 3);
        server.setWireTime(wireTime);
        QByteArray sent;
        QElapsedTimer clock;
        qint64 lastAt = 0;
        connect(&server, &SimServer::transmitted, this, [&](const QByteArray &b) {
            sent += b;
            lastAt = clock.elapsed();
        });
        const QByteArray expected = echoed ? measurement + measured : measured;
        const int requests = garbled ? 20 : 1;
        int off = 0;
        for (int i = 0; i < requests; ++i) {
            sent.clear();
            clock.start();
            server.receive(measurement);
            QTRY_COMPARE_WITH_TIMEOUT(sent.size(), expected.size(), 5000);
            QVERIFY2(lastAt >= minMs, qPrintable(QString("last byte after %1 ms").arg(lastAt)));
            for (int b = 0; b < sent.size(); ++b)
                off += sent[b] != expected[b];
        }
        // 22 of 220 expected; the seed makes it one number.
        QVERIFY2(garbled ? off >= 10 && off <= 40 : off == 0, qPrintable(QString("%1 bytes damaged").arg(off)));
    }
};

QTEST_GUILESS_MAIN(ModuleTest)
#include "tst_module.moc"
