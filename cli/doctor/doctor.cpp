#include "doctor.h"

#include "adapterinfo.h"
#include "byteline.h"
#include "console.h"
#include "modbusframe.h"
#include "modbusmaster.h"
#include "quietline.h"

#include <QJsonArray>

#include <algorithm>
#include <cmath>

using namespace ModbusFrame;

namespace {

// The timeout the other commands take when none is given.
const int DefaultTimeoutMs = Settings().timeoutMs;
const int DefaultBaud = Settings().baud;
const int MinSafeTimeoutMs = 100;
// A share of damaged replies above this points at the line, not at chance.
const double DamagedShare = 0.1;
const int TopicWidth = 17;

QString milliseconds(double ms)
{
    return QString::number(qRound(ms));
}

} // namespace

Doctor::Doctor(ByteLine &line, Console &console, const Settings &settings)
    : m_line(line), m_console(console), m_settings(settings), m_probe(line)
{
    m_probe.verbose = settings.verbose;
}

int Doctor::run()
{
    m_deadline = m_line.now() + BudgetMs;
    m_findings << AdapterInfo::describe(m_settings.port);
    const bool done = sweep() && (!m_baud || !m_address || series());
    if (done && m_baud && m_address)
        verify();
    m_console.progress(QString());
    if (!done)
        return Failed;
    conclude();
    return m_baud ? Done : Failed;
}

bool Doctor::probe(const QByteArray &request, LineProbe::Result *result)
{
    *result = m_probe.send(request, m_settings.waitMs);
    if (result->verdict == LineProbe::Interrupted)
        m_stop = Interrupted;
    if (result->verdict == LineProbe::PortLost)
        m_stop = PortLost;
    m_echo = m_echo || result->echo == LineProbe::ExactEcho;
    return m_stop == None;
}

bool Doctor::outOfTime() const
{
    return m_line.now() >= m_deadline;
}

QList<int> Doctor::speeds() const
{
    QList<int> all = searchOrder();
    if (m_settings.baudGiven)
        all.move(all.indexOf(m_settings.baud), 0);
    return all;
}

// The address (or address 0) at every speed until something answers or
// several modules are heard answering at once.
bool Doctor::sweep()
{
    const QByteArray request = m_settings.address ? measurementRequest(quint8(m_settings.address)) : addressRequest();
    for (int baud : speeds()) {
        if (outOfTime())
            break;
        m_console.progress(QString("asking at %1 bit/s").arg(baud));
        if (!m_line.setBaudRate(baud)) {
            m_stop = PortLost;
            return false;
        }
        m_tried << baud;
        if (!trySpeed(request, baud))
            return false;
        if (m_baud || m_collisionBaud)
            break;
    }
    return true;
}

bool Doctor::trySpeed(const QByteArray &request, int baud)
{
    QList<LineProbe::Result> damaged;
    for (int i = 0; i < Tries; ++i) {
        LineProbe::Result result;
        if (!probe(request, &result))
            return false;
        if (result.verdict == LineProbe::Answer || result.verdict == LineProbe::Refused) {
            take(result, baud);
            return true;
        }
        if (result.verdict == LineProbe::Silent)
            return true;
        damaged << result;
        if (damaged.size() == 2 && collided(request, damaged[0], damaged[1])) {
            m_collisionBaud = baud;
            return true;
        }
    }
    m_garbled << baud;
    return true;
}

void Doctor::take(const LineProbe::Result &result, int baud)
{
    m_baud = baud;
    m_address = m_settings.address;
    if (!m_address && result.verdict == LineProbe::Answer) {
        const int own = result.reply.addressRegister();
        m_address = own >= MinAddress && own <= MaxAddress ? own : 0;
    }
}

// Several modules answering address 0 at once overlay their replies: a frame
// of the answer's length, at its time, whose check value fails the same way
// every time. Noise damages a reply differently each time.
bool Doctor::collided(const QByteArray &request, const LineProbe::Result &a, const LineProbe::Result &b) const
{
    return quint8(request.at(0)) == BroadcastAddress && a.heard == b.heard
           && a.heard.size() == Reply::answerLength(request);
}

// The measurement asked SeriesLength times: turnaround and quality.
bool Doctor::series()
{
    const QByteArray request = measurementRequest(quint8(m_address));
    const qint64 stopAt = qMin(m_deadline, m_line.now() + SeriesBudgetMs);
    for (int i = 0; i < SeriesLength && m_line.now() < stopAt; ++i) {
        m_console.progress(QString("timing and quality at %1 bit/s: request %2 of %3").arg(m_baud).arg(i + 1).arg(SeriesLength));
        LineProbe::Result result;
        if (!probe(request, &result))
            return false;
        switch (result.verdict) {
        case LineProbe::Answer:
        case LineProbe::Refused:
            ++m_good;
            m_turnarounds << result.turnaroundMs;
            break;
        case LineProbe::Damaged:
            ++m_damaged;
            break;
        default:
            ++m_missing;
            // A late reply must not be taken for the next request's.
            if (!quiet(m_settings.waitMs))
                return false;
            break;
        }
    }
    return true;
}

// Until the line has been quiet this long, or for four times that at most.
bool Doctor::quiet(int ms)
{
    const qint64 now = m_line.now();
    switch (QuietLine::waitFor(m_line, now, ms, now + 4 * qint64(ms))) {
    case ByteLine::Interrupted:
        m_stop = Interrupted;
        return false;
    case ByteLine::Failed:
        m_stop = PortLost;
        return false;
    case ByteLine::Bytes:
    case ByteLine::Quiet:
        break;
    }
    return true;
}

// The read command offered, tried once as it stands.
void Doctor::verify()
{
    m_console.progress("trying the read command");
    ModbusMaster master(m_line);
    master.timeoutMs = safeTimeout();
    master.retries = 0;
    master.localEcho = m_echo;
    master.verbose = m_settings.verbose;
    const ModbusMaster::Outcome outcome = master.exchange(measurementRequest(quint8(m_address)));
    if (outcome.status == ModbusMaster::Interrupted)
        m_stop = Interrupted;
    m_verified = outcome.status == ModbusMaster::Ok;
}

// Half as long again as the slowest reply, and some, in tens of ms.
int Doctor::safeTimeout() const
{
    if (m_turnarounds.isEmpty())
        return m_settings.waitMs;
    const double slowest = *std::max_element(m_turnarounds.begin(), m_turnarounds.end());
    return qMax(MinSafeTimeoutMs, int(std::ceil((slowest * 1.5 + 50) / 10)) * 10);
}

QString Doctor::readCommand() const
{
    return QString("morvane-cli read --port %1 --baud %2 --address %3 --timeout %4%5")
        .arg(m_settings.port)
        .arg(m_baud)
        .arg(m_address)
        .arg(safeTimeout())
        .arg(m_echo ? " --local-echo" : "");
}

void Doctor::conclude()
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
                                  .arg(m_settings.port)
                                  .arg(m_collisionBaud),
                              true};
    concludeSeries();
    if (m_verified)
        return;
    if (m_collisionBaud)
        m_cause = "more than one module answers address 0; use morvane-cli find --scan";
    else if (m_baud && !m_address)
        m_cause = QString("a module answers address 0 at %1 bit/s but reports no address a module can have (1 to %2)").arg(m_baud).arg(MaxAddress);
    else if (m_baud && m_damaged > DamagedShare * (m_good + m_damaged + m_missing))
        m_cause = QString("replies at %1 bit/s are damaged: check the termination and cable length, or run slower").arg(m_baud);
    else if (m_baud)
        m_cause = QString("replies at %1 bit/s go missing: check the wiring and the module's power").arg(m_baud);
    else if (!m_garbled.isEmpty())
        m_cause = "bytes arrive but never a frame: check A/B wiring, speed or parity";
    else if (m_echo)
        m_cause = "only the adapter's echo comes back: no module answers; check its power and the A/B wiring";
    else
        m_cause = "nothing answers at any speed: check the module's power and the A/B wiring";
}

void Doctor::concludeSpeed()
{
    QString garbled;
    if (!m_garbled.isEmpty())
        garbled = QString(" At %1 bytes came but never a frame.").arg(speedList(m_garbled));
    const QString asked = m_settings.address ? QString("address %1").arg(m_settings.address) : QString("address 0");
    if (m_baud) {
        const int expected = m_settings.baudGiven ? m_settings.baud : DefaultBaud;
        const bool wrong = m_baud != expected;
        Finding speed{"speed", QString("The module answers at %1 bit/s").arg(m_baud), QString(), wrong};
        if (wrong) {
            speed.seen += QString(", not at %1 bit/s%2").arg(expected).arg(m_settings.baudGiven ? "" : ", the default");
            speed.todo = QString("Give --baud %1 to every command, or set the module to %2 bit/s: "
                                 "morvane-cli set-baud %2 --port %3 --baud %1%4")
                             .arg(m_baud).arg(expected).arg(m_settings.port, m_echo ? " --local-echo" : "");
        }
        speed.seen += '.' + garbled;
        m_findings << speed;
        return;
    }
    if (m_collisionBaud)
        return;
    const QString waited = QString(", each given %1 ms to begin a reply").arg(m_settings.waitMs);
    if (!m_garbled.isEmpty()) {
        m_findings << Finding{"speed", QString("No reply to %1 at %2%3.%4").arg(asked, speedList(m_tried), waited, garbled),
                              "Bytes arrive but never a frame: check A/B wiring (swap A and B), speed or parity (8N1).", true};
        return;
    }
    QString todo = "Check the module's power and the A/B wiring (swap A and B).";
    if (m_settings.address)
        todo += QString(" Is the address %1? Without --address the doctor asks through address 0.").arg(m_settings.address);
    m_findings << Finding{"speed", QString("Nothing answered %1 at %2%3.").arg(asked, speedList(m_tried), waited), todo, true};
}

void Doctor::concludeSeries()
{
    if (!m_turnarounds.isEmpty()) {
        QVector<double> sorted = m_turnarounds;
        std::sort(sorted.begin(), sorted.end());
        const bool late = sorted.last() > DefaultTimeoutMs;
        Finding timing{"timing",
                       QString("Turnaround over %1 replies, from the request's last byte to the reply's first: "
                               "minimum %2 ms, median %3 ms, maximum %4 ms.")
                           .arg(sorted.size())
                           .arg(milliseconds(sorted.first()), milliseconds(sorted.at(sorted.size() / 2)),
                                milliseconds(sorted.last())),
                       QString("--timeout %1 is safe.").arg(safeTimeout()), late};
        if (late)
            timing.todo = QString("Replies come after the default timeout of %1 ms: give --timeout %2.")
                              .arg(DefaultTimeoutMs)
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
                               .arg(slower).arg(m_settings.port).arg(m_baud).arg(m_echo ? " --local-echo" : "");
        todo.last() += '.';
    }
    if (m_missing > 0)
        todo << "Some replies never came: check the wiring and the module's power; --retries covers the odd one.";
    quality.todo = todo.join(' ');
    m_findings << quality;
}

QString Doctor::text() const
{
    QStringList lines;
    const QString indent(TopicWidth + 2, ' ');
    for (const Finding &f : m_findings) {
        lines << QString(f.problem ? "! " : "  ") + f.topic.leftJustified(TopicWidth) + f.seen;
        for (const QString &line : f.todo.split('\n', Qt::SkipEmptyParts))
            lines << indent + "→ " + line;
    }
    lines << (m_verified ? "Works now: " + readCommand() : "Most likely cause: " + m_cause);
    return lines.join('\n');
}

QJsonObject Doctor::json() const
{
    QJsonArray findings;
    for (const Finding &f : m_findings)
        findings << QJsonObject{{"topic", f.topic}, {"problem", f.problem}, {"seen", f.seen}, {"todo", f.todo}};
    auto orNull = [](bool known, const QJsonValue &value) { return known ? value : QJsonValue(); };
    return QJsonObject{{"port", m_settings.port},
                       {"answered", m_baud != 0},
                       {"baud", orNull(m_baud, m_baud)},
                       {"address", orNull(m_address, m_address)},
                       {"timeout", orNull(m_baud, safeTimeout())},
                       {"local_echo", m_echo},
                       {"findings", findings},
                       {"command", orNull(m_verified, readCommand())},
                       {"cause", orNull(!m_verified, m_cause)}};
}
