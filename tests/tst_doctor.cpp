// The doctor's diagnosis in process: observations as the examination records
// them go in; the findings (topic, problem or not), the report and its last
// line come out. One row for each rule the doctor draws.
#include "adapterinfo.h"
#include "diagnosis.h"
#include "modbusframe.h"

#include <QJsonDocument>
#include <QtTest>

using namespace ModbusFrame;
using Probe = Observations::Probe;
Q_DECLARE_METATYPE(DoctorOptions)
Q_DECLARE_METATYPE(Observations)

namespace {

const QString Port = "/dev/ttyUSB0";

DoctorOptions asked(int address = 0, int baud = 0, int waitMs = 1000, const QString &port = Port)
{
    DoctorOptions options;
    options.port = port;
    options.baud = baud ? baud : 9600;
    options.baudGiven = baud != 0;
    options.address = address;
    options.waitMs = waitMs;
    options.defaultTimeoutMs = 500;
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
        m_seen.adapter = m_seen.tcp ? AdapterInfo::describe(port) : Finding{"adapter", port + ": driver ftdi_sio.", "", false};
    }

    // The sweep at one speed: S silent, A an answer (from `own` through
    // address 0), D damaged anew each time, C damaged the same way at the
    // answer's length.
    Seen &at(int baud, const QString &verdicts, int own = 7)
    {
        for (QChar verdict : verdicts)
            add(Probe::Sweep, baud, verdict.toLatin1(), own, 0);
        m_baud = baud;
        return *this;
    }
    // The series: turnarounds of good replies spread over base to base + 19 ms.
    Seen &series(int good, int damaged, int missing, double base = 20)
    {
        for (int i = 0; i < good; ++i)
            add(Probe::Series, m_baud, 'A', 7, base + (i * 7) % 20);
        for (int i = 0; i < damaged + missing; ++i)
            add(Probe::Series, m_baud, i < damaged ? 'D' : 'S', 7, 0);
        return *this;
    }
    Seen &read(ModbusMaster::Status status)
    {
        m_seen.verification = status;
        return *this;
    }
    operator Observations() const { return m_seen; }

private:
    void add(Probe::Stage stage, int baud, char verdict, int own, double turnaroundMs)
    {
        const int address = stage == Probe::Series && !m_address ? own : m_address;
        Probe probe{stage, baud, address, address ? measurementRequest(quint8(address)) : addressRequest(), {}};
        LineProbe::Result &result = probe.result;
        result.echo = m_echo ? LineProbe::ExactEcho : LineProbe::NoEcho;
        if (verdict == 'A') {
            result.verdict = LineProbe::Answer;
            result.reply.kind = Reply::Answer;
            result.reply.registers = {quint16(own)};
            result.turnaroundMs = turnaroundMs;
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
};

Seen silentEverywhere(int address = 0, bool echo = false)
{
    Seen seen(address, echo);
    for (int baud : searchOrder())
        seen.at(baud, "S");
    return seen;
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
        const QString works = "Works now: morvane-cli read --port /dev/ttyUSB0 --baud %1 --address 7 --timeout %2";
        const QStringList answered{"adapter", "speed", "timing", "quality"};
        const QString nothing = "Most likely cause: nothing answers at any speed: check the module's power and the A/B wiring";
        QTest::newRow("clean line") << asked() << Observations(Seen().at(9600, "A").series(20, 0, 0).read(ModbusMaster::Ok))
            << answered << "^  adapter .*\n  speed +The module answers at 9600 bit/s.\n  timing +Turnaround over 20 replies, "
               "from the request's last byte to the reply's first: minimum 20 ms, median 30 ms, maximum 39 ms.\n +→ --timeout 110 is safe.\n"
               "  quality +Of 20 measurement requests at 9600 bit/s: 20 good, 0 damaged \\(bad check value\\), 0 missing.\n"
               "  environment +Instead of these options on every command: export MORVANE_PORT=/dev/ttyUSB0 MORVANE_BAUD=9600 MORVANE_LOCAL_ECHO=0\nWorks"
            << works.arg(9600).arg(110) << 0;
        QTest::newRow("local echo") << asked() << Observations(Seen(0, true).at(9600, "A").series(20, 0, 0).read(ModbusMaster::Ok))
            << QStringList{"adapter", "!local echo", "speed", "timing", "quality"} << "\n! local echo +Each request came back"
            << works.arg(9600).arg(110) + " --local-echo" << 0;
        QTest::newRow("wrong speed") << asked(0, 0, 200)
            << Observations(Seen().at(9600, "S").at(19200, "S").at(4800, "S").at(2400, "A").series(20, 0, 0).read(ModbusMaster::Ok))
            << QStringList{"adapter", "!speed", "timing", "quality"}
            << "\n! speed +The module answers at 2400 bit/s, not at 9600 bit/s, the default.\n +→ Give --baud 2400 to every "
               "command, or set the module to 9600 bit/s: morvane-cli set-baud 9600 --port /dev/ttyUSB0 --baud 2400\n"
            << works.arg(2400).arg(110) << 0;
        QTest::newRow("wrong speed, --baud given, echo") << asked(0, 4800)
            << Observations(Seen(0, true).at(4800, "S").at(9600, "A").series(20, 0, 0).read(ModbusMaster::Ok))
            << QStringList{"adapter", "!local echo", "!speed", "timing", "quality"}
            << "\n! speed +The module answers at 9600 bit/s, not at 4800 bit/s.\n.*set-baud 4800 --port /dev/ttyUSB0 --baud 9600 --local-echo\n"
            << works.arg(9600).arg(110) + " --local-echo" << 0;
        QTest::newRow("collision") << asked() << Observations(Seen().at(9600, "CC")) << QStringList{"adapter", "!several modules"}
            << "\n! several modules +At 9600 bit/s the reply to address 0 .*: more than one module answers address 0.\n +→ List them "
               "with morvane-cli find --scan --port /dev/ttyUSB0 --baud 9600, then read each at its own address"
            << "Most likely cause: more than one module answers address 0; use morvane-cli find --scan" << 1;
        QTest::newRow("slow turnaround") << asked(0, 2400) << Observations(Seen().at(2400, "A").series(20, 0, 0, 520).read(ModbusMaster::Ok))
            << QStringList{"adapter", "speed", "!timing", "quality"}
            << "\n! timing +.*minimum 520 ms, median 530 ms, maximum 539 ms.\n +→ Replies come after the default timeout of 500 ms: give --timeout 860.\n"
            << works.arg(2400).arg(860) << 0;
        QTest::newRow("damaged above 10 %") << asked(0, 0, 200)
            << Observations(Seen().at(9600, "S").at(19200, "A").series(17, 3, 0).read(ModbusMaster::NoAnswer))
            << QStringList{"adapter", "!speed", "timing", "!quality"}
            << "\n! quality +Of 20 measurement requests at 19200 bit/s: 17 good, 3 damaged \\(bad check value\\), 0 missing.\n +→ Damage "
               "like this grows .*termination \\(120 Ω at each end\\) and the cable length, or run the line slower: "
               "morvane-cli set-baud 9600 --port /dev/ttyUSB0 --baud 19200.\nMost"
            << "Most likely cause: replies at 19200 bit/s are damaged: check the termination and cable length, or run slower" << 0;
        QTest::newRow("missing, damaged at 10 %") << asked() << Observations(Seen().at(9600, "A").series(17, 2, 1).read(ModbusMaster::NoAnswer))
            << QStringList{"adapter", "speed", "timing", "!quality"}
            << "17 good, 2 damaged \\(bad check value\\), 1 missing.\n +→ Some replies never came: check the wiring and the module's "
               "power; --retries covers the odd one.\nMost"
            << "Most likely cause: replies at 9600 bit/s go missing: check the wiring and the module's power" << 0;
        QTest::newRow("garbled at 9600, noise then silence at 19200") << asked()
            << Observations(Seen().at(9600, "DDD").at(19200, "DS").at(4800, "A").series(20, 0, 0).read(ModbusMaster::Ok))
            << QStringList{"adapter", "!speed", "timing", "quality"}
            << "\n! speed +The module answers at 4800 bit/s, not at 9600 bit/s, the default. At 9600 bit/s bytes came but never a frame.\n"
            << works.arg(4800).arg(110) << 0;
        QTest::newRow("garbled everywhere asked; the same damage twice through --address") << asked(5)
            << Observations(Seen(5).at(9600, "CCD").at(19200, "S").at(4800, "S").at(2400, "S").at(1200, "S"))
            << QStringList{"adapter", "!speed"}
            << "\n! speed +No reply to address 5 at 9600, 19200, 4800, 2400, 1200 bit/s, each given 1000 ms to begin a reply. "
               "At 9600 bit/s bytes came but never a frame.\n +→ Bytes arrive but never a frame: check A/B wiring \\(swap A and B\\), "
               "speed or parity \\(8N1\\).\n"
            << "Most likely cause: bytes arrive but never a frame: check A/B wiring, speed or parity" << 1;
        QTest::newRow("nothing answers") << asked() << Observations(silentEverywhere()) << QStringList{"adapter", "!speed"}
            << "\n! speed +Nothing answered address 0 at 9600, 19200, 4800, 2400, 1200 bit/s, each given 1000 ms to begin a reply.\n"
               " +→ Check the module's power and the A/B wiring \\(swap A and B\\).\nMost"
            << nothing << 1;
        DoctorOptions json = asked(9, 0, 100);
        json.json = true;
        QTest::newRow("nothing at --address, as JSON") << json << Observations(silentEverywhere(9)) << QStringList{"adapter", "!speed"}
            << "^\\{\"address\":null,\"answered\":false,\"baud\":null,\"cause\":\"nothing answers at any speed.*\"command\":null,.*"
               "\"problem\":true,\"seen\":\"Nothing answered address 9 at 9600, 19200, 4800, 2400, 1200 bit/s, each given 100 ms to "
               "begin a reply.\",\"todo\":\"Check the module's power and the A/B wiring \\(swap A and B\\). Is the address 9\\? "
               "Without --address the doctor asks through address 0.\""
            << nothing << 1;
        QTest::newRow("only the echo") << asked() << Observations(silentEverywhere(0, true))
            << QStringList{"adapter", "!local echo", "!speed"} << "\n! speed +Nothing answered address 0"
            << "Most likely cause: only the adapter's echo comes back: no module answers; check its power and the A/B wiring" << 1;
        QTest::newRow("an address no module can have") << asked() << Observations(Seen().at(9600, "A", MaxAddress + 1))
            << QStringList{"adapter", "speed"} << "\n  speed +The module answers at 9600 bit/s.\nMost"
            << "Most likely cause: a module answers address 0 at 9600 bit/s but reports no address a module can have (1 to 247)" << 0;
        const QString tcp = "tcp://127.0.0.1:5020";
        QTest::newRow("TCP") << asked(0, 0, 1000, tcp) << Observations(Seen(0, false, tcp).at(9600, "A").series(20, 0, 0).read(ModbusMaster::Ok))
            << answered << "^  adapter +tcp://127.0.0.1:5020 is a TCP connection: adapter settings and the latency timer do not apply.\n"
            << QString(works).replace(Port, tcp).arg(9600).arg(110) << 0;
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
};

QTEST_GUILESS_MAIN(DoctorTest)
#include "tst_doctor.moc"
