#include "diagnosis.h"

#include "exitcode.h"
#include "modbusframe.h"

#include <QJsonArray>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

using namespace ModbusFrame;
using Probe = Observations::Probe;

namespace {

const int MinSafeTimeoutMs = 100;
// A share of damaged replies above this points at the line, not at chance.
const double DamagedShare = 0.1;
const int TopicWidth = 17;

QString milliseconds(double ms)
{
    return QString::number(qRound(ms));
}

} // namespace

Diagnosis::SpeedOutcome Diagnosis::atSpeed(const QList<Probe> &probes)
{
    QList<LineProbe::Result> damaged;
    for (const Probe &probe : probes) {
        switch (probe.result.verdict) {
        case LineProbe::Answer:
        case LineProbe::Refused:
            return Answered;
        case LineProbe::Damaged:
            damaged << probe.result;
            break;
        default:
            return Silent;
        }
        if (damaged.size() == 2 && collided(probe.request, damaged[0], damaged[1]))
            return Collision;
    }
    return damaged.size() == Tries ? Garbled : Open;
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
    for (const Probe &probe : observations.probes)
        m_echo = m_echo || probe.result.echo == LineProbe::ExactEcho;
    readSweep(observations.probes);
    readSeries(observations.probes);
    m_verified = observations.verification == ModbusMaster::Ok;
    conclude();
}

// The speeds in the order asked, and what each came to.
void Diagnosis::readSweep(const QList<Probe> &probes)
{
    for (const Probe &probe : probes) {
        if (probe.stage == Probe::Sweep && !m_tried.contains(probe.baud))
            m_tried << probe.baud;
    }
    for (int baud : m_tried) {
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
        case Open:
        case Silent:
            break;
        }
    }
}

void Diagnosis::take(const Probe &answer)
{
    m_baud = answer.baud;
    m_address = m_options.address;
    if (!m_address && answer.result.verdict == LineProbe::Answer) {
        const int own = answer.result.reply.addressRegister();
        m_address = own >= MinAddress && own <= MaxAddress ? own : 0;
    }
}

// The measurement asked again and again: turnaround and quality.
void Diagnosis::readSeries(const QList<Probe> &probes)
{
    for (const Probe &probe : probes) {
        if (probe.stage != Probe::Series)
            continue;
        switch (probe.result.verdict) {
        case LineProbe::Answer:
        case LineProbe::Refused:
            ++m_good;
            m_turnarounds << probe.result.turnaroundMs;
            break;
        case LineProbe::Damaged:
            ++m_damaged;
            break;
        default:
            ++m_missing;
            break;
        }
    }
}

// Half as long again as the slowest reply, and some, in tens of ms.
int Diagnosis::safeTimeout() const
{
    if (m_turnarounds.isEmpty())
        return m_options.waitMs;
    const double slowest = *std::max_element(m_turnarounds.begin(), m_turnarounds.end());
    return qMax(MinSafeTimeoutMs, int(std::ceil((slowest * 1.5 + 50) / 10)) * 10);
}

// Done when a module answered.
int Diagnosis::exitCode() const
{
    return m_baud ? Done : Failed;
}

QString Diagnosis::readCommand() const
{
    return QString("morvane-cli read --port %1 --baud %2 --address %3 --timeout %4%5")
        .arg(m_options.port)
        .arg(m_baud)
        .arg(m_address)
        .arg(safeTimeout())
        .arg(m_echo ? " --local-echo" : "");
}

void Diagnosis::conclude()
{
    if (m_echo)
        m_findings << Finding{"local echo",
                              "Each request came back, byte for byte, before any reply: the adapter hears what it "
                              "sends (two-wire RS-485 without echo suppression).",
                              "Add --local-echo to every command on this line, or turn on the adapter's echo suppression.",
                              true};
    concludeSpeed();
    if (m_collisionBaud)
        m_findings << Finding{"several modules",
                              QString("At %1 bit/s the reply to address 0 comes at its time and length, but its check "
                                      "value is wrong, the same way on every try: more than one module answers address 0.")
                                  .arg(m_collisionBaud),
                              QString("List them with morvane-cli find --scan --port %1 --baud %2, then read each at its "
                                      "own address (set-address with one module on the line at a time).")
                                  .arg(m_options.port)
                                  .arg(m_collisionBaud),
                              true};
    concludeSeries();
    if (!m_verified)
        m_cause = cause();
}

QString Diagnosis::cause() const
{
    if (m_collisionBaud)
        return "more than one module answers address 0; use morvane-cli find --scan";
    if (m_baud && !m_address)
        return QString("a module answers address 0 at %1 bit/s but reports no address a module can have (1 to %2)").arg(m_baud).arg(MaxAddress);
    if (m_baud && m_damaged > DamagedShare * (m_good + m_damaged + m_missing))
        return QString("replies at %1 bit/s are damaged: check the termination and cable length, or run slower").arg(m_baud);
    if (m_baud)
        return QString("replies at %1 bit/s go missing: check the wiring and the module's power").arg(m_baud);
    if (!m_garbled.isEmpty())
        return "bytes arrive but never a frame: check A/B wiring, speed or parity";
    if (m_echo)
        return "only the adapter's echo comes back: no module answers; check its power and the A/B wiring";
    return "nothing answers at any speed: check the module's power and the A/B wiring";
}

void Diagnosis::concludeSpeed()
{
    QString garbled;
    if (!m_garbled.isEmpty())
        garbled = QString(" At %1 bytes came but never a frame.").arg(speedList(m_garbled));
    const QString asked = m_options.address ? QString("address %1").arg(m_options.address) : QString("address 0");
    if (m_baud) {
        const bool wrong = m_baud != m_options.baud;
        Finding speed{"speed", QString("The module answers at %1 bit/s").arg(m_baud), QString(), wrong};
        if (wrong) {
            speed.seen += QString(", not at %1 bit/s%2").arg(m_options.baud).arg(m_options.baudGiven ? "" : ", the default");
            speed.todo = QString("Give --baud %1 to every command, or set the module to %2 bit/s: "
                                 "morvane-cli set-baud %2 --port %3 --baud %1%4")
                             .arg(m_baud).arg(m_options.baud).arg(m_options.port, m_echo ? " --local-echo" : "");
        }
        speed.seen += '.' + garbled;
        m_findings << speed;
        return;
    }
    if (m_collisionBaud)
        return;
    const QString waited = QString(", each given %1 ms to begin a reply").arg(m_options.waitMs);
    if (!m_garbled.isEmpty()) {
        m_findings << Finding{"speed", QString("No reply to %1 at %2%3.%4").arg(asked, speedList(m_tried), waited, garbled),
                              "Bytes arrive but never a frame: check A/B wiring (swap A and B), speed or parity (8N1).", true};
        return;
    }
    QString todo = "Check the module's power and the A/B wiring (swap A and B).";
    if (m_options.address)
        todo += QString(" Is the address %1? Without --address the doctor asks through address 0.").arg(m_options.address);
    m_findings << Finding{"speed", QString("Nothing answered %1 at %2%3.").arg(asked, speedList(m_tried), waited), todo, true};
}

void Diagnosis::concludeSeries()
{
    if (!m_turnarounds.isEmpty()) {
        QVector<double> sorted = m_turnarounds;
        std::sort(sorted.begin(), sorted.end());
        const bool late = sorted.last() > m_options.defaultTimeoutMs;
        Finding timing{"timing",
                       QString("Turnaround over %1 replies, from the request's last byte to the reply's first: "
                               "minimum %2 ms, median %3 ms, maximum %4 ms.")
                           .arg(sorted.size())
                           .arg(milliseconds(sorted.first()), milliseconds(sorted.at(sorted.size() / 2)),
                                milliseconds(sorted.last())),
                       QString("--timeout %1 is safe.").arg(safeTimeout()), late};
        if (late)
            timing.todo = QString("Replies come after the default timeout of %1 ms: give --timeout %2.")
                              .arg(m_options.defaultTimeoutMs)
                              .arg(safeTimeout());
        m_findings << timing;
    }
    const int asked = m_good + m_damaged + m_missing;
    if (asked == 0)
        return;
    Finding quality{"quality",
                    QString("Of %1 measurement requests at %2 bit/s: %3 good, %4 damaged (bad check value), %5 missing.")
                        .arg(asked).arg(m_baud).arg(m_good).arg(m_damaged).arg(m_missing),
                    QString(), m_damaged + m_missing > 0};
    QStringList todo;
    if (m_damaged > DamagedShare * asked) {
        todo << "Damage like this grows with speed on a long line: check the termination (120 Ω at each end) "
                "and the cable length";
        const int slower = m_baud / 2;
        if (codeForBaud(slower))
            todo.last() += QString(", or run the line slower: morvane-cli set-baud %1 --port %2 --baud %3%4")
                               .arg(slower).arg(m_options.port).arg(m_baud).arg(m_echo ? " --local-echo" : "");
        todo.last() += '.';
    }
    if (m_missing > 0)
        todo << "Some replies never came: check the wiring and the module's power; --retries covers the odd one.";
    quality.todo = todo.join(' ');
    m_findings << quality;
}

// The settings that worked, as the defaults every command takes from the environment.
QString Diagnosis::exportLine() const
{
    static const QRegularExpression plain("^[A-Za-z0-9_./:+-]+$");
    QString port = m_options.port;
    if (!plain.match(port).hasMatch())
        port = '\'' + port.replace('\'', "'\\''") + '\'';
    return QString("export MORVANE_PORT=%1 MORVANE_BAUD=%2 MORVANE_LOCAL_ECHO=%3").arg(port).arg(m_baud).arg(m_echo ? 1 : 0);
}

QString Diagnosis::lastLine() const
{
    return m_verified ? "Works now: " + readCommand() : "Most likely cause: " + m_cause;
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
    if (m_verified)
        lines << "  " + QString("environment").leftJustified(TopicWidth) + "Instead of these options on every command: " + exportLine();
    lines << lastLine();
    return lines.join('\n');
}

QJsonObject Diagnosis::json() const
{
    QJsonArray findings;
    for (const Finding &f : m_findings)
        findings << QJsonObject{{"topic", f.topic}, {"problem", f.problem}, {"seen", f.seen}, {"todo", f.todo}};
    auto orNull = [](bool known, const QJsonValue &value) { return known ? value : QJsonValue(); };
    return QJsonObject{{"port", m_options.port},
                       {"answered", m_baud != 0},
                       {"baud", orNull(m_baud, m_baud)},
                       {"address", orNull(m_address, m_address)},
                       {"timeout", orNull(m_baud, safeTimeout())},
                       {"local_echo", m_echo},
                       {"findings", findings},
                       {"command", orNull(m_verified, readCommand())},
                       {"cause", orNull(!m_verified, m_cause)}};
}
