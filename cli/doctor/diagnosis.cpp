#include "diagnosis.h"

#include "exitcode.h"
#include "modbusframe.h"
#include "shellwords.h"

#include <QJsonArray>

#include <algorithm>
#include <cmath>

using namespace ModbusFrame;
using Probe = Observations::Probe;

namespace {

const int MinSafeTimeoutMs = 100;
// A share of damaged replies above this points at the line, not at chance.
const double DamagedShare = 0.1;
// Above this share of lost replies the read command is offered with retries,
// as many as keep the readings missed below one in MissedReadings.
const double LossShare = 0.03;
const double MissedReadings = 1000;
const int MaxOfferedRetries = 10;
const int TopicWidth = 17;

QString milliseconds(double ms)
{
    return QString::number(qRound(ms));
}

bool isAddress(int value)
{
    return value >= MinAddress && value <= MaxAddress;
}

bool isAddressRead(const QByteArray &request)
{
    return word(request, 2) == AddressRegister;
}

QString timesText(int n)
{
    return n == 1 ? QString("once") : QString("%1 times").arg(n);
}

// What a refusal says of the device, and what to do about it.
QStringList refusalMeaning(int code)
{
    const QString other = "Check that the device at this address is the sensor module: another kind of device may have it.";
    switch (code) {
    case IllegalFunction:
        return {"the device does not read registers this way (function 3)", other};
    case IllegalDataAddress:
        return {"the device has no such register", other};
    case IllegalDataValue:
        return {"the device does not take this count of registers", other};
    case ServerDeviceFailure:
        return {"the device reports a failure of its own while answering",
                "Power the module off and on; a refusal that stays is the module reporting a fault of its own."};
    case Acknowledge:
    case ServerDeviceBusy:
        return {"the device is busy with something else", "Ask again in a moment."};
    case GatewayPathUnavailable:
    case GatewayTargetFailedToRespond:
        return {"a gateway on the way could not reach the device",
                "Check the gateway's line to the module: its wiring, its speed and the module's power."};
    default:
        return {"the code is none that Modbus defines", other};
    }
}

} // namespace

Diagnosis::SpeedOutcome Diagnosis::atSpeed(const QList<Probe> &probes)
{
    QList<LineProbe::Result> throughZero;   // damaged replies to address 0
    bool zeroDamagedLast = false;
    int damaged = 0;
    for (const Probe &probe : probes) {
        const LineProbe::Result &result = probe.result;
        switch (result.verdict) {
        case LineProbe::Answer:
        case LineProbe::Refused:
        case LineProbe::Late:
            return Answered;
        case LineProbe::ModbusTcp:
            return ModbusTcp;
        case LineProbe::Damaged:
            // A reply behind a damaged echo: the module is at this speed.
            if (result.reply.kind != Reply::NotTheAnswer)
                return Answered;
            ++damaged;
            break;
        default:
            break;
        }
        if (probe.address == 0) {
            zeroDamagedLast = result.verdict == LineProbe::Damaged;
            if (zeroDamagedLast)
                throughZero << result;
        }
        for (int i = 0; zeroDamagedLast && i + 1 < throughZero.size(); ++i) {
            if (collided(probe.request, throughZero[i], throughZero.last()))
                return Collision;
        }
    }
    if (probes.size() < Tries)
        return Open;
    if (damaged == probes.size())
        return Garbled;
    // The one damaged reply to address 0 was the last it had: once more, for a collision.
    return zeroDamagedLast && throughZero.size() == 1 ? Open : Silent;
}

int Diagnosis::askedAt(int tryIndex, int address)
{
    return tryIndex % 2 ? 0 : address;
}

// Several modules answering address 0 at once overlay their replies: a frame
// of the answer's length, at its time, whose check value fails the same way
// every time. Noise damages a reply differently each time.
bool Diagnosis::collided(const QByteArray &request, const LineProbe::Result &a, const LineProbe::Result &b)
{
    return quint8(request.at(0)) == BroadcastAddress && a.heard == b.heard
           && a.heard.size() == Reply::answerLength(request);
}

Diagnosis::Diagnosis(const Observations &observations, const DoctorOptions &options) : m_options(options)
{
    m_findings << observations.adapter;
    m_outOfTime = observations.outOfTime;
    m_runs = observations.tried;
    m_worked = observations.worked;
    for (const Probe &probe : observations.probes) {
        m_echoes += probe.result.echo != LineProbe::NoEcho;
        m_damagedEchoes += probe.result.echo == LineProbe::DamagedEcho;
        if (probe.result.verdict == LineProbe::ModbusTcp && m_modbusTcp.isEmpty())
            m_modbusTcp = probe.result.heard;
        if (probe.stage == Probe::Series)
            count(probe);
    }
    readSweep(observations.probes);
    conclude();
}

// The speeds in the order asked, and what each came to.
void Diagnosis::readSweep(const QList<Probe> &probes)
{
    for (const Probe &probe : probes) {
        if (probe.stage == Probe::Sweep && !m_speeds.contains(probe.baud))
            m_speeds << probe.baud;
    }
    for (int baud : m_speeds) {
        QList<Probe> here;
        for (const Probe &probe : probes) {
            if (probe.stage == Probe::Sweep && probe.baud == baud)
                here << probe;
        }
        switch (atSpeed(here)) {
        case Answered:
            take(here.last());
            break;
        case Collision:
            m_collisionBaud = baud;
            break;
        case Garbled:
            m_garbled << baud;
            break;
        default:
            break;
        }
    }
}

// The sweep's answer: the speed, and the module's address, the one asked or
// the one a reply to address 0 gives (a refusal's sender).
void Diagnosis::take(const Probe &answer)
{
    m_baud = answer.baud;
    const Reply &reply = answer.result.reply;
    if (reply.kind == Reply::Refused) {
        refusal(answer.request, reply);
    } else {
        ++m_readings;
    }
    if (answer.result.verdict == LineProbe::Late)
        m_lates << answer.result.lateMs;
    if (answer.result.verdict == LineProbe::Answer)
        m_sweepTurnaround = answer.result.turnaroundMs;
    if (answer.address) {
        m_address = answer.address;
        return;
    }
    const int own = reply.kind == Reply::Answer ? reply.addressRegister() : reply.from;
    m_address = isAddress(own) ? own : 0;
}

// One of the series: turnaround and quality.
void Diagnosis::count(const Probe &probe)
{
    ++m_series;
    const LineProbe::Result &result = probe.result;
    switch (result.verdict) {
    case LineProbe::Answer:
        ++m_good;
        ++m_readings;
        m_turnarounds << result.turnaroundMs;
        break;
    case LineProbe::Refused:
        ++m_seriesRefused;
        refusal(probe.request, result.reply);
        break;
    case LineProbe::Late:
        ++m_readings;
        m_lates << result.lateMs;
        break;
    case LineProbe::Damaged:
        ++m_damaged;
        break;
    default:
        ++m_missing;
        break;
    }
}

void Diagnosis::refusal(const QByteArray &request, const Reply &reply)
{
    ++(isAddressRead(request) ? m_refusedAddressReads : m_refusedMeasurements);
    m_exception = reply.exceptionCode;
}

// Of the replies that count for the read command: damaged or missing.
double Diagnosis::loss() const
{
    const int counted = m_good + m_damaged + m_missing;
    return counted ? double(m_damaged + m_missing) / counted : 0;
}

// Half as long again as the slowest reply, late ones too, and some, in tens of ms.
int Diagnosis::safeTimeout() const
{
    QVector<double> all = m_turnarounds + m_lates;
    if (m_sweepTurnaround >= 0)
        all << m_sweepTurnaround;
    if (all.isEmpty())
        return m_options.waitMs;
    const double slowest = *std::max_element(all.begin(), all.end());
    return qMax(MinSafeTimeoutMs, int(std::ceil((slowest * 1.5 + 50) / 10)) * 10);
}

int Diagnosis::retries() const
{
    const double lost = loss();
    if (lost <= LossShare)
        return m_options.defaultRetries;
    if (lost >= 1)
        return MaxOfferedRetries;
    const int needed = int(std::ceil(std::log(1 / MissedReadings) / std::log(lost))) - 1;
    return qBound(m_options.defaultRetries, needed, MaxOfferedRetries);
}

// Done when a module gave a reply that was no refusal.
int Diagnosis::exitCode() const
{
    return m_readings ? Done : Failed;
}

// A command to paste, with the echo option the line needs.
QString Diagnosis::command(QStringList words) const
{
    if (echo())
        words << "--local-echo";
    return ShellWords::command(words);
}

// Over TCP --baud only times the frames: given only when it was given.
QString Diagnosis::readCommand() const
{
    QStringList words{"read", "--port", m_options.port};
    if (!m_options.tcp || m_options.baudGiven)
        words << "--baud" << QString::number(m_baud);
    words << "--address" << QString::number(m_address) << "--timeout" << QString::number(safeTimeout());
    if (loss() > LossShare)
        words << "--retries" << QString::number(retries());
    return command(words);
}

QString Diagnosis::where() const
{
    return m_options.tcp ? QString("through the server") : QString("at %1 bit/s").arg(m_baud);
}

void Diagnosis::conclude()
{
    concludeEcho();
    concludeModbusTcp();
    concludeSpeed();
    concludeAddress();
    concludeRefusal();
    if (m_collisionBaud)
        m_findings << Finding{"several_modules", "several modules",
                              QString("At %1 bit/s the reply to address 0 comes at its time and length, but its check "
                                      "value is wrong, the same way on every try: more than one module answers address 0.")
                                  .arg(m_collisionBaud),
                              QString("List them with %1, then read each at its own address (set-address with one "
                                      "module on the line at a time).")
                                  .arg(command({"find", "--scan", "--port", m_options.port, "--baud", QString::number(m_collisionBaud)})),
                              true};
    concludeTiming();
    concludeQuality();
    if (!verified())
        m_cause = cause();
}

void Diagnosis::concludeEcho()
{
    if (!m_echoes)
        return;
    Finding echo{"local_echo", "local echo",
                 "Each request came back, byte for byte, before any reply: the adapter hears what it sends (two-wire "
                 "RS-485 without echo suppression).",
                 "Add --local-echo to every command on this line, or turn on the adapter's echo suppression.", true};
    if (m_damagedEchoes) {
        echo.seen = QString("The requests came back before any reply, %1 of %2 changed on the way: the adapter "
                            "hears what it sends (two-wire RS-485 without echo suppression), and what it heard was "
                            "damaged.").arg(m_damagedEchoes).arg(m_echoes);
        echo.todo += " A changed echo costs its request, as a damaged reply does.";
    }
    m_findings << echo;
}

void Diagnosis::concludeModbusTcp()
{
    if (m_modbusTcp.isEmpty())
        return;
    m_findings << Finding{"modbus_tcp", "Modbus TCP",
                          QString("What came back (%1) begins with a Modbus TCP header: transaction 0x%2, protocol 0, "
                                  "length %3 for the %3 bytes after it. %4 speaks Modbus TCP (MBAP), not RTU over TCP.")
                              .arg(QString(m_modbusTcp.toHex(' ')))
                              .arg(word(m_modbusTcp, 0), 4, 16, QChar('0'))
                              .arg(word(m_modbusTcp, 4))
                              .arg(m_options.tcp ? "This server" : "What answers"),
                          "Set the server to its raw or transparent mode (RTU over TCP): morvane-cli speaks RTU.", true};
}

void Diagnosis::concludeSpeed()
{
    if (!m_baud) {
        concludeSilence();
        return;
    }
    if (m_options.tcp) {
        m_findings << Finding{"speed", "speed",
                              "The module answers through the server. The line's speed is the server's setting, which "
                              "the doctor cannot measure over TCP.", QString(), false};
        return;
    }
    const bool wrong = m_baud != m_options.baud;
    Finding speed{"speed", "speed", QString("The module answers at %1 bit/s").arg(m_baud), QString(), wrong};
    if (wrong) {
        speed.seen += QString(", not at %1 bit/s%2").arg(m_options.baud).arg(m_options.baudGiven ? "" : ", the default");
        speed.todo = QString("Give --baud %1 to every command, or set the module to %2 bit/s: %3")
                         .arg(m_baud).arg(m_options.baud)
                         .arg(command({"set-baud", QString::number(m_options.baud), "--port", m_options.port,
                                       "--baud", QString::number(m_baud)}));
    }
    speed.seen += '.';
    if (!m_garbled.isEmpty())
        speed.seen += QString(" At %1 bytes came but never a frame.").arg(speedList(m_garbled));
    m_findings << speed;
}

// Nothing answered: where it was asked, and what came instead.
void Diagnosis::concludeSilence()
{
    if (m_collisionBaud || !m_modbusTcp.isEmpty())
        return;
    const QString asked = m_options.address ? QString("address %1 or address 0").arg(m_options.address) : QString("address 0");
    const QString at = m_options.tcp ? QString("through the server") : "at " + speedList(m_speeds);
    const QString tries = QString("%1 tries or more at each, each given %2 ms to begin a reply").arg(Tries).arg(m_options.waitMs);
    QString seen = QString("%1 %2 (%3).").arg(m_garbled.isEmpty() ? "Nothing answered " + asked : "No reply to " + asked, at, tries);
    QString todo = m_options.tcp ? "Check the server's serial settings (the module's speed, 8N1, raw or transparent mode), "
                                   "then the module's power and the A/B wiring (swap A and B)."
                                 : "Check the module's power and the A/B wiring (swap A and B).";
    if (!m_garbled.isEmpty()) {
        seen += QString(" At %1 bytes came but never a frame.").arg(m_options.tcp ? "the server" : speedList(m_garbled));
        todo = "Bytes arrive but never a frame: check A/B wiring (swap A and B), speed or parity (8N1).";
    }
    QList<int> left = searchOrder();
    for (int baud : m_speeds)
        left.removeOne(baud);
    if (m_outOfTime && !m_options.tcp && !left.isEmpty()) {
        seen += QString(" The doctor's time ran out before it asked at %1.").arg(speedList(left));
        todo += QString(" Run it again with --baud %1 to ask that speed first.").arg(left.first());
    }
    m_findings << Finding{"speed", "speed", seen, todo, true};
}

// Asked by its address, the module was silent; through address 0 it
// answered as another.
void Diagnosis::concludeAddress()
{
    if (!m_options.address || !m_address || m_address == m_options.address)
        return;
    QStringList set{"set-address", QString::number(m_options.address), "--port", m_options.port};
    if (!m_options.tcp)
        set << "--baud" << QString::number(m_baud);
    m_findings << Finding{"address", "address",
                          QString("The module answers as address %1, not %2: address %2 went unanswered %3, and the "
                                  "reply to address 0 came from address %1.")
                              .arg(m_address).arg(m_options.address).arg(where()),
                          QString("Give --address %1 to every command, or set the module to address %2: %3")
                              .arg(m_address).arg(m_options.address).arg(command(set)),
                          true};
}

QString Diagnosis::refusedText() const
{
    QStringList what;
    if (m_refusedAddressReads)
        what << "the address read (register 0x0100) " + timesText(m_refusedAddressReads);
    if (m_refusedMeasurements)
        what << "the measurement read (registers 0x0000 to 0x0002) " + timesText(m_refusedMeasurements);
    return QString("%1 refused %2: exception %3, %4")
        .arg(m_address ? QString("the device at address %1").arg(m_address) : QString("the device"), what.join(" and "))
        .arg(m_exception, 2, 16, QChar('0'))
        .arg(exceptionName(m_exception));
}

void Diagnosis::concludeRefusal()
{
    if (!m_refusedAddressReads && !m_refusedMeasurements)
        return;
    const QStringList meaning = refusalMeaning(m_exception);
    m_findings << Finding{"refused", "refused",
                          QString("%1 %2: %3.").arg(m_options.tcp ? "Through the server," : QString("At %1 bit/s").arg(m_baud),
                                                    refusedText(), meaning.first()),
                          meaning.last() + " A refusal comes from a device that hears the request: the wiring and the "
                                           "speed are right.",
                          true};
}

void Diagnosis::concludeTiming()
{
    if (!m_turnarounds.isEmpty()) {
        QVector<double> sorted = m_turnarounds;
        std::sort(sorted.begin(), sorted.end());
        const bool late = sorted.last() > m_options.defaultTimeoutMs;
        Finding timing{"timing", "timing",
                       QString("Turnaround over %1, from the request's last byte to the reply's first: "
                               "minimum %2 ms, median %3 ms, maximum %4 ms.")
                           .arg(sorted.size() == 1 ? QString("1 reply") : QString("%1 replies").arg(sorted.size()))
                           .arg(milliseconds(sorted.first()), milliseconds(sorted.at(sorted.size() / 2)),
                                milliseconds(sorted.last())),
                       QString("--timeout %1 is safe.").arg(safeTimeout()), late};
        if (late)
            timing.todo = QString("Replies come after the default timeout of %1 ms: give --timeout %2.")
                              .arg(m_options.defaultTimeoutMs)
                              .arg(safeTimeout());
        m_findings << timing;
    }
    if (m_lates.isEmpty())
        return;
    QVector<double> sorted = m_lates;
    std::sort(sorted.begin(), sorted.end());
    const QString first = milliseconds(sorted.first()), last = milliseconds(sorted.last());
    const QString span = first == last ? first : first + " to " + last;
    m_findings << Finding{"late", "late replies",
                          QString("%1 after the doctor's wait of %2 ms had ended: %3 ms after %4 request, too late to be "
                                  "timed as turnaround.")
                              .arg(sorted.size() == 1 ? QString("A reply came") : QString("%1 replies came").arg(sorted.size()))
                              .arg(m_options.waitMs).arg(span, sorted.size() == 1 ? "its" : "their"),
                          QString("Give every command --timeout %1.").arg(safeTimeout()), true};
}

void Diagnosis::concludeQuality()
{
    if (m_series == 0)
        return;
    QString seen = QString("Of %1 measurement requests %2: %3 good, %4 damaged (bad check value%5), %6 missing")
                       .arg(m_series).arg(where()).arg(m_good).arg(m_damaged)
                       .arg(m_damagedEchoes ? ", or a changed echo" : "").arg(m_missing);
    const int lates = m_series - m_good - m_damaged - m_missing - m_seriesRefused;
    if (lates)
        seen += QString(", %1 late").arg(lates);
    if (m_seriesRefused)
        seen += QString(", %1 refused").arg(m_seriesRefused);
    seen += loss() > 0 ? QString("; %1 % lost.").arg(qRound(loss() * 100)) : QString(".");
    QStringList todo;
    if (m_damaged > DamagedShare * m_series) {
        todo << "Damage like this grows with speed on a long line: check the termination (120 Ω at each end) "
                "and the cable length";
        const int slower = m_baud / 2;
        if (codeForBaud(slower) && !m_options.tcp)
            todo.last() += ", or run the line slower: " + command({"set-baud", QString::number(slower), "--port",
                                                                     m_options.port, "--baud", QString::number(m_baud)});
        todo.last() += '.';
    }
    if (m_missing > 0)
        todo << "Some replies never came: check the wiring and the module's power.";
    if (loss() > LossShare) {
        const double missed = std::pow(loss(), retries() + 1);
        if (missed * MissedReadings <= 1)
            todo << QString("At %1 % lost the read command needs --retries %2 to miss fewer than one reading in %3.")
                        .arg(qRound(loss() * 100)).arg(retries()).arg(MissedReadings);
        else if (loss() < 1)
            todo << QString("At %1 % lost even --retries %2 misses about one reading in %3: mend the line first.")
                        .arg(qRound(loss() * 100)).arg(retries()).arg(qRound(1 / missed));
        else
            todo << "No retry helps where every reply is lost: mend the line first.";
    } else if (m_missing > 0) {
        todo << "--retries covers the odd one.";
    }
    m_findings << Finding{"quality", "quality", seen, todo.join(' '), m_damaged + m_missing > 0};
}

QString Diagnosis::cause() const
{
    QString tried;
    if (m_runs > 0)
        tried = m_worked ? QString("the read command worked %1 times, then failed; ").arg(m_worked)
                         : QString("the read command failed; ");
    if (!m_modbusTcp.isEmpty())
        return "the server speaks Modbus TCP (MBAP), not RTU over TCP: set it to its raw or transparent mode";
    if (m_collisionBaud)
        return "more than one module answers address 0; use " + command({"find", "--scan", "--port", m_options.port});
    if ((m_refusedAddressReads || m_refusedMeasurements) && !m_readings)
        return refusedText();
    if (m_baud && !m_address)
        return QString("a module answers address 0 %1 but reports no address a module can have (1 to %2)").arg(where()).arg(MaxAddress);
    if (m_baud && m_damaged > DamagedShare * m_series)
        return tried + QString("replies %1 are damaged: check the termination and cable length, or run slower").arg(where());
    if (m_baud)
        return tried + QString("replies %1 go missing: check the wiring and the module's power").arg(where());
    if (!m_garbled.isEmpty())
        return "bytes arrive but never a frame: check A/B wiring, speed or parity";
    if (m_echoes)
        return "only the adapter's echo comes back: no module answers; check its power and the A/B wiring";
    if (m_options.tcp)
        return "nothing answers through the server: check its serial settings, the module's power and the A/B wiring";
    return "nothing answers at any speed: check the module's power and the A/B wiring";
}

// The settings that worked, as the defaults every command takes from the
// environment; over TCP the speed only when it was given.
QString Diagnosis::exportLine() const
{
    QString line = "export MORVANE_PORT=" + ShellWords::quoted(m_options.port);
    if (!m_options.tcp || m_options.baudGiven)
        line += QString(" MORVANE_BAUD=%1").arg(m_baud);
    return line + QString(" MORVANE_LOCAL_ECHO=%1").arg(echo() ? 1 : 0);
}

QString Diagnosis::lastLine() const
{
    if (verified())
        return QString("Works now, %1 runs of %1: %2").arg(m_runs).arg(readCommand());
    return "Most likely cause: " + m_cause;
}

QString Diagnosis::text() const
{
    QStringList lines;
    const QString indent(TopicWidth + 2, ' ');
    for (const Finding &f : m_findings) {
        lines << QString(f.problem ? "! " : "  ") + f.topic.leftJustified(TopicWidth) + f.seen;
        for (const QString &line : f.todo.split('\n', Qt::SkipEmptyParts))
            lines << indent + "→ " + line;
    }
    if (verified())
        lines << "  " + QString("environment").leftJustified(TopicWidth) + "Instead of these options on every command: " + exportLine();
    lines << lastLine();
    return lines.join('\n');
}

QJsonObject Diagnosis::json() const
{
    QJsonArray findings;
    for (const Finding &f : m_findings)
        findings << QJsonObject{{"key", f.key}, {"topic", f.topic}, {"problem", f.problem}, {"seen", f.seen}, {"todo", f.todo}};
    auto orNull = [](bool known, const QJsonValue &value) { return known ? value : QJsonValue(); };
    return QJsonObject{{"port", m_options.port},
                       {"tcp", m_options.tcp},
                       {"answered", exitCode() == Done},
                       {"baud", orNull(m_baud && !m_options.tcp, m_baud)},
                       {"address", orNull(m_address, m_address)},
                       {"timeout", orNull(m_baud, safeTimeout())},
                       {"retries", orNull(m_baud, retries())},
                       {"loss", orNull(m_good + m_damaged + m_missing > 0, loss())},
                       {"local_echo", echo()},
                       {"findings", findings},
                       {"runs", m_runs},
                       {"worked", m_worked},
                       {"command", orNull(verified(), readCommand())},
                       {"cause", orNull(!verified(), m_cause)}};
}
