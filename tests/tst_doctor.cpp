// The doctor in process. The diagnosis: observations as the examination
// records them go in; the findings (topic, problem or not), the report and
// its last line come out, one row for each rule the doctor draws. The
// examination: a module played on a virtual clock goes in; the probes it
// sent and what each brought come out.
#include "adapterinfo.h"
#include "console.h"
#include "diagnosis.h"
#include "examination.h"
#include "modbusframe.h"
#include "scriptedline.h"

#include <QJsonDocument>
#include <QtTest>

#include <functional>

using namespace ModbusFrame;
using Probe = Observations::Probe;
// The arrivals a module sends for the n-th request, at this speed.
using Module = std::function<QList<Arrival>(int n, const QByteArray &request, int baud)>;
Q_DECLARE_METATYPE(DoctorOptions)
Q_DECLARE_METATYPE(Observations)
Q_DECLARE_METATYPE(Module)

namespace {

const QString Port = "/dev/ttyUSB0";
const QString Tcp = "tcp://127.0.0.1:5020";
const double LateMs = 1300;

DoctorOptions asked(int address = 0, int baud = 0, int waitMs = 1000, const QString &port = Port)
{
    DoctorOptions options;
    options.port = port;
    options.baud = baud ? baud : 9600;
    options.baudGiven = baud != 0;
    options.address = address;
    options.waitMs = waitMs;
    options.defaultTimeoutMs = 500;
    options.defaultRetries = 2;
    options.tcp = port.startsWith("tcp://");
    return options;
}

// A run's observations, probe by probe; every request echoed when echo is set.
class Seen
{
public:
    explicit Seen(int address = 0, bool echo = false, const QString &port = Port) : m_address(address), m_echo(echo)
    {
        m_seen.tcp = port.startsWith("tcp://");
        m_seen.adapter = m_seen.tcp ? AdapterInfo::describe(port) : Finding{"adapter", "adapter", port + ": driver ftdi_sio.", "", false};
    }

    // The sweep at one speed, the given address and 0 by turns: S silent,
    // A an answer (from `own` through address 0), R a refusal (from `own`),
    // L a late answer, D damaged anew each time, C damaged the same way at
    // the answer's length, M a Modbus TCP reply.
    Seen &at(int baud, const QString &verdicts, int own = 7)
    {
        for (int i = 0; i < verdicts.size(); ++i)
            add(Probe::Sweep, baud, Diagnosis::askedAt(i, m_address), verdicts.at(i).toLatin1(), own, 0);
        m_baud = baud;
        return *this;
    }
    // The series to `own`, as above; the good replies' turnarounds spread
    // over base to base + 19 ms.
    Seen &series(const QString &verdicts, double base = 20, int own = 7)
    {
        int good = 0;
        for (QChar verdict : verdicts)
            add(Probe::Series, m_baud, own, verdict.toLatin1(), own, base + (good++ * 7) % 20);
        return *this;
    }
    Seen &runs(int tried, int worked)
    {
        m_seen.tried = tried;
        m_seen.worked = worked;
        return *this;
    }
    Seen &outOfTime()
    {
        m_seen.outOfTime = true;
        return *this;
    }
    Seen &refusing(int code)
    {
        m_exception = code;
        return *this;
    }
    operator Observations() const { return m_seen; }

private:
    void add(Probe::Stage stage, int baud, int address, char verdict, int own, double turnaroundMs)
    {
        Probe probe{stage, baud, address, address ? measurementRequest(quint8(address)) : addressRequest(), {}};
        LineProbe::Result &result = probe.result;
        result.echo = m_echo ? LineProbe::ExactEcho : LineProbe::NoEcho;
        result.reply.from = own;
        if (verdict == 'A' || verdict == 'L') {
            result.verdict = verdict == 'A' ? LineProbe::Answer : LineProbe::Late;
            result.reply.kind = Reply::Answer;
            result.reply.registers = {quint16(own)};
            result.turnaroundMs = verdict == 'A' ? turnaroundMs : -1;
            result.lateMs = verdict == 'L' ? LateMs : -1;
        } else if (verdict == 'R') {
            result.verdict = LineProbe::Refused;
            result.reply.kind = Reply::Refused;
            result.reply.exceptionCode = m_exception;
        } else if (verdict == 'M') {
            result.verdict = LineProbe::ModbusTcp;
            result.heard = QByteArray::fromHex("0003000000038427" "01");
        } else if (verdict != 'S') {
            result.verdict = LineProbe::Damaged;
            result.heard = verdict == 'C' ? QByteArray(Reply::answerLength(probe.request), 'U') : QByteArray::number(++m_noise);
        }
        m_seen.probes << probe;
    }

    Observations m_seen;
    int m_address;
    bool m_echo;
    int m_baud = 0;
    int m_noise = 0;
    int m_exception = IllegalDataAddress;
};

Seen silentEverywhere(int address = 0, bool echo = false)
{
    Seen seen(address, echo);
    for (int baud : searchOrder())
        seen.at(baud, "SSSS");
    return seen;
}

// The module's reply to a request it answers: its address through address
// 0, its measurement through its own.
QByteArray answerTo(const QByteArray &request, int own)
{
    const char self = char(own);
    if (quint8(request.at(0)) == BroadcastAddress)
        return withCrc(self + QByteArray::fromHex("030200") + self);
    return withCrc(self + QByteArray::fromHex("030600eb01c2006d"));
}

// What the examination sent and heard: each sweep probe as speed/address
// and a letter, the series as letters, and the read command's runs.
QString summary(const Observations &seen)
{
    const QMap<LineProbe::Verdict, QChar> letters = {
        {LineProbe::Answer, 'A'}, {LineProbe::Refused, 'R'}, {LineProbe::Damaged, 'D'}, {LineProbe::Silent, 'S'},
        {LineProbe::Late, 'L'}, {LineProbe::ModbusTcp, 'M'}};
    QStringList sweep;
    QString series;
    for (const Probe &probe : seen.probes) {
        if (probe.stage == Probe::Sweep)
            sweep << QString("%1/%2%3").arg(probe.baud).arg(probe.address).arg(letters.value(probe.result.verdict, '?'));
        else
            series += letters.value(probe.result.verdict, '?');
    }
    return QString("%1 | %2 | %3 of %4").arg(sweep.join(' '), series).arg(seen.worked).arg(seen.tried);
}

} // namespace

class DoctorTest : public QObject
{
    Q_OBJECT

private slots:
    void diagnosis_data()
    {
        QTest::addColumn<DoctorOptions>("options");
        QTest::addColumn<Observations>("seen");
        QTest::addColumn<QStringList>("topics");   // "!" before a problem
        QTest::addColumn<QString>("pattern");      // in the text, or the JSON object
        QTest::addColumn<QString>("last");
        QTest::addColumn<int>("exitCode");
        const QString works = "Works now, 5 runs of 5: morvane-cli read --port /dev/ttyUSB0 --baud %1 --address 7 --timeout %2";
        const QStringList answered{"adapter", "speed", "timing", "quality"};
        const QString good(20, 'A');
        const QString nothing = "Most likely cause: nothing answers at any speed: check the module's power and the A/B wiring";
        QTest::newRow("clean line") << asked() << Observations(Seen().at(9600, "A").series(good).runs(5, 5))
            << answered << "^  adapter .*\n  speed +The module answers at 9600 bit/s.\n  timing +Turnaround over 20 replies, "
               "from the request's last byte to the reply's first: minimum 20 ms, median 30 ms, maximum 39 ms.\n +→ --timeout 110 is safe.\n"
               "  quality +Of 20 measurement requests at 9600 bit/s: 20 good, 0 damaged \\(bad check value\\), 0 missing.\n"
               "  environment +Instead of these options on every command: export MORVANE_PORT=/dev/ttyUSB0 MORVANE_BAUD=9600 MORVANE_LOCAL_ECHO=0\nWorks"
            << works.arg(9600).arg(110) << 0;
        QTest::newRow("local echo") << asked() << Observations(Seen(0, true).at(9600, "A").series(good).runs(5, 5))
            << QStringList{"adapter", "!local echo", "speed", "timing", "quality"} << "\n! local echo +Each request came back"
            << works.arg(9600).arg(110) + " --local-echo" << 0;
        // Every command printed is quoted for the shell.
        const QString spaced = "/dev/serial/by-id/usb-My Adapter";
        QTest::newRow("wrong speed, a port with a space") << asked(0, 0, 200, spaced)
            << Observations(Seen().at(9600, "SSSS").at(19200, "SSSS").at(4800, "SSSS").at(2400, "A").series(good).runs(5, 5))
            << QStringList{"adapter", "!speed", "timing", "quality"}
            << "\n! speed +The module answers at 2400 bit/s, not at 9600 bit/s, the default.\n +→ Give --baud 2400 to every "
               "command, or set the module to 9600 bit/s: morvane-cli set-baud 9600 --port '/dev/serial/by-id/usb-My Adapter' --baud 2400\n"
            << "Works now, 5 runs of 5: morvane-cli read --port '/dev/serial/by-id/usb-My Adapter' --baud 2400 --address 7 --timeout 110" << 0;
        QTest::newRow("wrong speed, --baud given, echo") << asked(0, 4800)
            << Observations(Seen(0, true).at(4800, "SSSS").at(9600, "A").series(good).runs(5, 5))
            << QStringList{"adapter", "!local echo", "!speed", "timing", "quality"}
            << "\n! speed +The module answers at 9600 bit/s, not at 4800 bit/s.\n.*set-baud 4800 --port /dev/ttyUSB0 --baud 9600 --local-echo\n"
            << works.arg(9600).arg(110) + " --local-echo" << 0;
        QTest::newRow("collision") << asked() << Observations(Seen().at(9600, "CC")) << QStringList{"adapter", "!several modules"}
            << "\n! several modules +At 9600 bit/s the reply to address 0 .*: more than one module answers address 0.\n +→ List them "
               "with morvane-cli find --scan --port /dev/ttyUSB0 --baud 9600, then read each at its own address"
            << "Most likely cause: more than one module answers address 0; use morvane-cli find --scan --port /dev/ttyUSB0" << 1;
        QTest::newRow("slow turnaround") << asked(0, 2400) << Observations(Seen().at(2400, "A").series(good, 520).runs(5, 5))
            << QStringList{"adapter", "speed", "!timing", "quality"}
            << "\n! timing +.*minimum 520 ms, median 530 ms, maximum 539 ms.\n +→ Replies come after the default timeout of 500 ms: give --timeout 860.\n"
            << works.arg(2400).arg(860) << 0;
        QTest::newRow("damaged above 10 %") << asked(0, 0, 200)
            << Observations(Seen().at(9600, "SSSS").at(19200, "A").series(QString(17, 'A') + "DDD").runs(1, 0))
            << QStringList{"adapter", "!speed", "timing", "!quality"}
            << "\n! quality +Of 20 measurement requests at 19200 bit/s: 17 good, 3 damaged \\(bad check value\\), 0 missing; 15 % lost.\n"
               " +→ Damage like this grows .*termination \\(120 Ω at each end\\) and the cable length, or run the line slower: "
               "morvane-cli set-baud 9600 --port /dev/ttyUSB0 --baud 19200."
            << "Most likely cause: the read command failed; replies at 19200 bit/s are damaged: check the termination and cable "
               "length, or run slower" << 0;
        QTest::newRow("missing, damaged at 10 %") << asked() << Observations(Seen().at(9600, "A").series(QString(17, 'A') + "DDS").runs(3, 2))
            << QStringList{"adapter", "speed", "timing", "!quality"}
            << "17 good, 2 damaged \\(bad check value\\), 1 missing; 15 % lost.\n +→ Some replies never came: check the wiring and "
               "the module's power. At 15 % lost the read command needs --retries 3 to miss fewer than one reading in 1000.\nMost"
            << "Most likely cause: the read command worked 2 times, then failed; replies at 9600 bit/s go missing: check the "
               "wiring and the module's power" << 0;
        QTest::newRow("half lost: retries to match") << asked() << Observations(Seen().at(9600, "SSA").series(QString(10, 'A') + QString(10, 'S')).runs(5, 5))
            << QStringList{"adapter", "speed", "timing", "!quality"} << "; 50 % lost.\n +→ .*At 50 % lost the read command needs --retries 9 to miss fewer than one reading in 1000.\n"
            << works.arg(9600).arg(110) + " --retries 9" << 0;
        QTest::newRow("garbled at 9600, noise then silence at 19200") << asked()
            << Observations(Seen().at(9600, "DDDD").at(19200, "DSSS").at(4800, "A").series(good).runs(5, 5))
            << QStringList{"adapter", "!speed", "timing", "quality"}
            << "\n! speed +The module answers at 4800 bit/s, not at 9600 bit/s, the default. At 9600 bit/s bytes came but never a frame.\n"
            << works.arg(4800).arg(110) << 0;
        QTest::newRow("garbled everywhere asked; the same damage twice through --address") << asked(5)
            << Observations(Seen(5).at(9600, "CDCD").at(19200, "SSSS").at(4800, "SSSS").at(2400, "SSSS").at(1200, "SSSS"))
            << QStringList{"adapter", "!speed"}
            << "\n! speed +No reply to address 5 or address 0 at 9600, 19200, 4800, 2400, 1200 bit/s \\(4 tries or more at each, "
               "each given 1000 ms to begin a reply\\). At 9600 bit/s bytes came but never a frame.\n +→ Bytes arrive but never a "
               "frame: check A/B wiring \\(swap A and B\\), speed or parity \\(8N1\\).\n"
            << "Most likely cause: bytes arrive but never a frame: check A/B wiring, speed or parity" << 1;
        QTest::newRow("nothing answers") << asked() << Observations(silentEverywhere()) << QStringList{"adapter", "!speed"}
            << "\n! speed +Nothing answered address 0 at 9600, 19200, 4800, 2400, 1200 bit/s \\(4 tries or more at each, each "
               "given 1000 ms to begin a reply\\).\n +→ Check the module's power and the A/B wiring \\(swap A and B\\).\nMost"
            << nothing << 1;
        QTest::newRow("out of time before 1200 bit/s") << asked(0, 0, 2000)
            << Observations(Seen().at(9600, "SSSS").at(19200, "SSSS").at(4800, "SSSS").at(2400, "SSSS").outOfTime())
            << QStringList{"adapter", "!speed"} << " The doctor's time ran out before it asked at 1200 bit/s.\n.* Run it again "
               "with --baud 1200 to ask that speed first.\nMost" << nothing << 1;
        DoctorOptions json = asked(9, 0, 100);
        json.json = true;
        QTest::newRow("nothing at --address, as JSON") << json << Observations(silentEverywhere(9)) << QStringList{"adapter", "!speed"}
            << "^\\{\"address\":null,\"answered\":false,\"baud\":null,\"cause\":\"nothing answers at any speed.*\"command\":null,.*"
               "\"key\":\"speed\",\"problem\":true,\"seen\":\"Nothing answered address 9 or address 0 at 9600, 19200, 4800, 2400, "
               "1200 bit/s \\(4 tries or more at each, each given 100 ms to begin a reply\\).\",\"todo\":\"Check the module's "
               "power and the A/B wiring \\(swap A and B\\).\",\"topic\":\"speed\"\\}\\],\"local_echo\":false,\"loss\":null,"
               "\"port\":\"/dev/ttyUSB0\",\"retries\":null,\"runs\":0,\"tcp\":false,\"timeout\":null,\"worked\":0\\}$"
            << nothing << 1;
        QTest::newRow("only the echo") << asked() << Observations(silentEverywhere(0, true))
            << QStringList{"adapter", "!local echo", "!speed"} << "\n! speed +Nothing answered address 0"
            << "Most likely cause: only the adapter's echo comes back: no module answers; check its power and the A/B wiring" << 1;
        QTest::newRow("an address no module can have") << asked() << Observations(Seen().at(9600, "A", MaxAddress + 1))
            << QStringList{"adapter", "speed"} << "\n  speed +The module answers at 9600 bit/s.\nMost"
            << "Most likely cause: a module answers address 0 at 9600 bit/s but reports no address a module can have (1 to 247)" << 0;
        QTest::newRow("--address 3, the module answers as 7") << asked(3)
            << Observations(Seen(3).at(9600, "SA").series(good).runs(5, 5)) << QStringList{"adapter", "speed", "!address", "timing", "quality"}
            << "\n! address +The module answers as address 7, not 3: address 3 went unanswered at 9600 bit/s, and the reply to "
               "address 0 came from address 7.\n +→ Give --address 7 to every command, or set the module to address 3: "
               "morvane-cli set-address 3 --port /dev/ttyUSB0 --baud 9600\n"
            << works.arg(9600).arg(110) << 0;
        QTest::newRow("refusals, never good nor missing") << asked() << Observations(Seen().at(9600, "R").series(QString(20, 'R')).runs(1, 0))
            << QStringList{"adapter", "speed", "!refused", "quality"}
            << "\n! refused +At 9600 bit/s the device at address 7 refused the address read \\(register 0x0100\\) once and the "
               "measurement read \\(registers 0x0000 to 0x0002\\) 20 times: exception 02, illegal data address: the device has no "
               "such register.\n +→ Check that the device at this address is the sensor module: .*\n  quality +Of 20 measurement "
               "requests at 9600 bit/s: 0 good, 0 damaged \\(bad check value\\), 0 missing, 20 refused.\n"
            << "Most likely cause: the device at address 7 refused the address read (register 0x0100) once and the measurement "
               "read (registers 0x0000 to 0x0002) 20 times: exception 02, illegal data address" << 1;
        DoctorOptions jsonFailure = asked(7);
        jsonFailure.json = true;
        QTest::newRow("a device failure, as JSON") << jsonFailure
            << Observations(Seen(7).refusing(ServerDeviceFailure).at(9600, "R").series(QString(20, 'R')).runs(1, 0))
            << QStringList{"adapter", "speed", "!refused", "quality"}
            << "\"answered\":false,.*\\{\"key\":\"refused\",\"problem\":true,\"seen\":\"At 9600 bit/s the device at address 7 "
               "refused the measurement read \\(registers 0x0000 to 0x0002\\) 21 times: exception 04, server device failure: the "
               "device reports a failure of its own while answering.\",\"todo\":\"Power the module off and on;"
            << "Most likely cause: the device at address 7 refused the measurement read (registers 0x0000 to 0x0002) 21 times: "
               "exception 04, server device failure" << 1;
        QTest::newRow("TCP") << asked(0, 0, 1000, Tcp) << Observations(Seen(0, false, Tcp).at(9600, "A").series(good).runs(5, 5))
            << answered << "^  adapter +tcp://127.0.0.1:5020 is a TCP connection: adapter settings and the latency timer do not apply.\n"
               "  speed +The module answers through the server. The line's speed is the server's setting, which the doctor cannot "
               "measure over TCP.\n(?!.*bit/s)"
            << "Works now, 5 runs of 5: morvane-cli read --port tcp://127.0.0.1:5020 --address 7 --timeout 110" << 0;
        QTest::newRow("TCP, replies late") << asked(0, 0, 1000, Tcp) << Observations(Seen(0, false, Tcp).at(9600, "SL").series("LLLL").runs(5, 5))
            << QStringList{"adapter", "speed", "!late replies", "quality"}
            << "\n! late replies +5 replies came after the doctor's wait of 1000 ms had ended: 1300 ms after their request, too late "
               "to be timed as turnaround.\n +→ Give every command --timeout 2000.\n  quality +Of 4 measurement requests through "
               "the server: 0 good, 0 damaged \\(bad check value\\), 0 missing, 4 late.\n(?!.*(bit/s|set-baud))"
            << "Works now, 5 runs of 5: morvane-cli read --port tcp://127.0.0.1:5020 --address 7 --timeout 2000" << 0;
        QTest::newRow("Modbus TCP") << asked(0, 0, 1000, Tcp) << Observations(Seen(0, false, Tcp).at(9600, "M"))
            << QStringList{"adapter", "!Modbus TCP"}
            << "\n! Modbus TCP +What came back \\(00 03 00 00 00 03 84 27 01\\) begins with a Modbus TCP header: transaction 0x0003, "
               "protocol 0, length 3 for the 3 bytes after it. This server speaks Modbus TCP \\(MBAP\\), not RTU over TCP.\n +→ Set "
               "the server to its raw or transparent mode"
            << "Most likely cause: the server speaks Modbus TCP (MBAP), not RTU over TCP: set it to its raw or transparent mode" << 1;
    }

    void diagnosis()
    {
        QFETCH(DoctorOptions, options);
        QFETCH(Observations, seen);
        const Diagnosis diagnosis(seen, options);
        QStringList topics;
        for (const Finding &finding : diagnosis.findings())
            topics << (finding.problem ? "!" : "") + finding.topic;
        QTEST(topics, "topics");
        QTEST(diagnosis.lastLine(), "last");
        QTEST(diagnosis.exitCode(), "exitCode");
        const QString report = options.json ? QJsonDocument(diagnosis.json()).toJson(QJsonDocument::Compact) : diagnosis.text();
        QFETCH(QString, pattern);
        QVERIFY2(QRegularExpression(pattern, QRegularExpression::DotMatchesEverythingOption).match(report).hasMatch(), qPrintable(report));
        if (!options.json)
            QVERIFY(report.endsWith('\n' + diagnosis.lastLine()));
    }

    // The examination against a module on a virtual clock: what each probe
    // brought (speed/address and a letter, as the diagnosis's rows), the
    // series, and the read command's runs.
    void examination_data()
    {
        QTest::addColumn<DoctorOptions>("options");
        QTest::addColumn<Module>("module");
        QTest::addColumn<QString>("summary");
        const QString good(20, 'A');
        QTest::newRow("the first two replies lost") << asked() << Module([](int n, const QByteArray &request, int baud) {
            return n < 2 || baud != 9600 ? QList<Arrival>() : QList<Arrival>{{n, 20, answerTo(request, 7)}};
        }) << "9600/0S 9600/0S 9600/0A | " + good + " | 5 of 5";
        QTest::newRow("--address 3, the module at 7") << asked(3) << Module([](int n, const QByteArray &request, int) {
            return quint8(request.at(0)) == 3 ? QList<Arrival>() : QList<Arrival>{{n, 20, answerTo(request, 7)}};
        }) << "9600/3S 9600/0A | " + good + " | 5 of 5";
        QTest::newRow("a refusing module") << asked() << Module([](int n, const QByteArray &request, int) {
            return QList<Arrival>{{n, 20, exception(7, request.at(1), IllegalDataAddress)}};
        }) << "9600/0R | " + QString(20, 'R') + " | 0 of 1";
        QTest::newRow("a damaged echo, then the answer") << asked() << Module([](int n, const QByteArray &request, int) {
            return QList<Arrival>{{n, 10, QByteArray(request).replace(3, 1, "\x40")}, {n, 30, answerTo(request, 7)}};
        }) << "9600/0D | " + QString(20, 'D') + " | 0 of 1";
        QTest::newRow("TCP, replies 1300 ms late") << asked(0, 0, 1000, Tcp) << Module([](int n, const QByteArray &request, int) {
            return QList<Arrival>{{n, LateMs, answerTo(request, 7)}};
        }) << "9600/0S 9600/0L | LLLL | 5 of 5";
        QTest::newRow("TCP, one speed") << asked(0, 0, 1000, Tcp) << Module([](int, const QByteArray &, int) {
            return QList<Arrival>();
        }) << "9600/0S 9600/0S 9600/0S 9600/0S |  | 0 of 0";
        // It begins as the request to address 7 did: no echo all the same.
        QTest::newRow("a Modbus TCP reply") << asked(7, 0, 1000, Tcp) << Module([](int n, const QByteArray &request, int) {
            // The transaction is the request's first two bytes, the unit and function its last two.
            const QByteArray reply = request.left(2) + QByteArray::fromHex("00000003") + request.at(6) + char(request.at(7) | 0x80) + char(1);
            return QList<Arrival>{{n, 20, reply}};
        }) << "9600/7M |  | 0 of 0";
    }

    void examination()
    {
        QFETCH(DoctorOptions, options);
        QFETCH(Module, module);
        ScriptedLine line({});
        line.module = module;
        line.floorMs = options.tcp ? 100 : LineTime::AdapterFloorMs;
        Captured out;
        Console console(out.file, out.file);
        Examination examination(line, console, options);
        QTEST(summary(examination.run()), "summary");
        QCOMPARE(examination.stop(), Examination::None);
    }
};

QTEST_GUILESS_MAIN(DoctorTest)
#include "tst_doctor.moc"
