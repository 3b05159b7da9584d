#include "simserver.h"

#include "linetime.h"
#include "modbusframe.h"
#include "simline.h"
#include "trafficline.h"

#include <cmath>

#include <unistd.h>

namespace {
// Pieces of replies waiting for their time, at most: a master that floods
// the line does not pile them up.
const int MaxWaitingReplies = 16;
// After a reply has left the line, before the device changes speed.
const int SpeedSwitchMarginMs = 20;
}

SimServer::SimServer(const QVector<SensorModule> &modules, const Faults &faults, quint32 seed, QObject *parent)
    : QObject(parent)
    , m_bus(modules)
    , m_faults(faults)
    , m_random(seed)
    , m_baud(ModbusFrame::baudForCode(modules.first().baudCode))
    , m_out(STDOUT_FILENO)
    , m_err(STDERR_FILENO)
{
    m_silence.setSingleShot(true);
    connect(&m_silence, &QTimer::timeout, this, &SimServer::lineSilent);
    m_speedSwitch.setSingleShot(true);
    connect(&m_speedSwitch, &QTimer::timeout, this, &SimServer::switchSpeed);
    connect(&m_drift, &QTimer::timeout, this, &SimServer::drift);
    connect(&m_pacer, &LinePacer::due, this, &SimServer::transmit);
    for (const SensorModule &module : modules)
        m_walks.append({module.temperature / 10.0, module.humidity / 10.0});
}

QString SimServer::serve(SimLine *line)
{
    m_line = line;
    line->setParent(this);
    connect(line, &SimLine::received, this, &SimServer::receive);
    connect(line, &SimLine::failed, this, &SimServer::lineFailed);
    connect(line, &SimLine::connectionOpened, this, [this](const QString &peer) {
        if (m_verbose)
            log("morvane-sim: connection from " + peer);
    });
    connect(line, &SimLine::connectionRefused, this, [this](const QString &peer) {
        m_err.print("morvane-sim: connection from " + peer + " closed, one is served at a time");
    });
    connect(line, &SimLine::connectionClosed, this, &SimServer::connectionClosed);
    return line->open(m_baud);
}

// What was on its way is lost with the connection; the next one starts on
// a quiet line.
void SimServer::connectionClosed()
{
    m_pacer.clear();
    m_requests.clear();
    m_silence.stop();
    if (m_verbose)
        log("morvane-sim: connection closed, listening");
}

void SimServer::setDrift(bool drift)
{
    if (drift)
        m_drift.start(1000);
    else
        m_drift.stop();
}

void SimServer::receive(const QByteArray &bytes)
{
    // A two-wire adapter hears its own request first, as it goes out.
    if (m_faults.localEcho)
        transmit(bytes);
    const double now = m_pacer.now();
    if (m_requests.held() == 0)
        m_heldSince = now;
    m_lastByteAt = now;
    m_requests.feed(bytes);
    answerRequests();
    // A master at a speed no module has still gets its silence timed.
    const int baud = lineBaud();
    if (m_requests.held() > 0)
        m_silence.start(LineTime::silenceMs(baud > 0 ? baud : m_baud));
    else
        m_silence.stop();
}

void SimServer::lineSilent()
{
    m_silence.stop();
    m_requests.silence();
    answerRequests();
    if (m_verbose && m_requests.dropped() != m_droppedShown) {
        log(QString("morvane-sim: %1 bytes skipped, no request").arg(m_requests.dropped() - m_droppedShown));
        m_droppedShown = m_requests.dropped();
    }
}

// A request is over on the line when its last byte came, and with wire
// time no earlier than its bytes take from the first one (or from the end of
// the one before: a line carries one thing at a time).
void SimServer::answerRequests()
{
    while (m_requests.hasFrame()) {
        const QByteArray request = m_requests.takeFrame();
        double end = m_lastByteAt;
        const int baud = lineBaud();
        if (m_wireTime)
            end = qMax(end, qMax(m_heldSince, m_requestEnd) + request.size() * LineTime::characterMs(baud > 0 ? baud : m_baud));
        m_requestEnd = end;
        m_heldSince = m_lastByteAt;
        answer(request, end);
    }
}

// Where the line shows the master's speed, a request at another speed
// than a module's is garbage to it. Elsewhere the line runs at the
// device's speed.
int SimServer::lineBaud() const
{
    const int seen = m_line ? m_line->seenBaud() : SimLine::SpeedUnseen;
    return seen == SimLine::SpeedUnseen ? m_baud : seen;
}

void SimServer::answer(const QByteArray &request, double requestEnd)
{
    if (m_verbose)
        log(trafficLine(request, true));
    const int baud = lineBaud();
    const int oldBaud = m_baud;
    const ModuleBus::Answer answer = m_bus.handle(request, baud);
    if (answer.replies == 0) {
        if (m_verbose && answer.deaf) {
            for (const SensorModule &module : m_bus.modules()) {
                if (module.address == answer.deaf) {
                    log(QString("morvane-sim: no answer, the line runs at %1 bit/s, the module at %2")
                            .arg(baud).arg(ModbusFrame::baudForCode(module.baudCode)));
                    break;
                }
            }
        }
        return;
    }
    if (m_verbose && answer.replies > 1)
        log(QString("morvane-sim: %1 modules answer at once, the replies collide").arg(answer.replies));
    const QByteArray &reply = answer.reply;
    if (!chance(m_faults.drop)) {
        QByteArray out = reply;
        if (chance(m_faults.corrupt)) {
            // One bit of the body flips; the check value stays as it was.
            const int at = int(m_random.bounded(quint32(out.size() - 2)));
            out[at] = char(out.at(at) ^ (1 << m_random.bounded(8)));
        }
        if (chance(m_faults.noise))
            out.prepend(char(m_random.bounded(256)));
        garble(&out, baud);
        schedule(out, requestEnd + m_faults.turnaroundMs + m_faults.delayMs, baud);
    }
    // Behind a device server the line keeps the server's speed; a serial
    // device follows the modules' new speed once the reply has left, but
    // only when all of them run at it: one module moved to another speed
    // leaves the line at the others'.
    if ((m_line && !m_line->followsModuleSpeed()) || !m_bus.allAt(answer.baudAfter))
        return;
    m_baud = answer.baudAfter;
    if (m_baud != oldBaud) {
        const double left = qMax(0.0, m_pacer.idleAt() - m_pacer.now());
        m_speedSwitch.start(int(std::ceil(left)) + LineTime::wireMs(reply.size() + 1, oldBaud) + SpeedSwitchMarginMs);
    }
}

// A long line without its terminating resistor, above some speed.
void SimServer::garble(QByteArray *bytes, int baud)
{
    if (m_faults.garbleAbove < 0 || baud <= m_faults.garbleAbove)
        return;
    for (int i = 0; i < bytes->size(); ++i) {
        if (chance(GarbleShare))
            (*bytes)[i] = char(bytes->at(i) ^ (1 + m_random.bounded(255)));
    }
}

void SimServer::schedule(const QByteArray &bytes, double startMs, int baud)
{
    if (m_pacer.waiting() >= MaxWaitingReplies) {
        if (m_verbose)
            log(QString("morvane-sim: reply dropped, %1 pieces already wait to go out").arg(m_pacer.waiting()));
        return;
    }
    if (m_verbose)
        log(trafficLine(bytes, false));
    const double characterMs = m_wireTime ? LineTime::characterMs(baud) : 0;
    if (bytes.size() > 1 && chance(m_faults.split)) {
        const int cut = 1 + int(m_random.bounded(quint32(bytes.size() - 1)));
        const double firstGone = m_pacer.queue(startMs, bytes.left(cut), characterMs);
        m_pacer.queue(firstGone + m_faults.gapMs, bytes.mid(cut), characterMs);
    } else {
        m_pacer.queue(startMs, bytes, characterMs);
    }
}

// A line that takes no more is told once, when it starts and when it ends.
void SimServer::transmit(const QByteArray &bytes)
{
    emit transmitted(bytes);
    const QString refusal = m_line ? m_line->write(bytes) : QString();
    if (refusal.isEmpty()) {
        if (m_lost > 0)
            m_err.print(QString("morvane-sim: replies go out again, %1 lost").arg(m_lost));
        m_lost = 0;
    } else if (m_lost++ == 0) {
        m_err.print("morvane-sim: write failed (" + refusal + "), the master reads nothing? "
                    "Replies are lost until one goes out.");
    }
}

void SimServer::switchSpeed()
{
    if (m_line)
        m_line->setBaudRate(m_baud);
}

// Each module its own random walk.
void SimServer::drift()
{
    for (int i = 0; i < m_walks.size(); ++i) {
        Walk &walk = m_walks[i];
        SensorModule &module = m_bus.modules()[i];
        walk.temperature = qBound(-20.0, walk.temperature + (m_random.generateDouble() - 0.5) * 0.2, 60.0);
        walk.humidity = qBound(5.0, walk.humidity + (m_random.generateDouble() - 0.5) * 0.6, 95.0);
        module.temperature = qint16(qRound(walk.temperature * 10));
        module.humidity = quint16(qRound(walk.humidity * 10));
        if (!m_fixedDewPoint)
            module.dewPoint = qint16(qRound(SensorModule::magnusDewPoint(walk.temperature, walk.humidity) * 10));
    }
}

void SimServer::log(const QString &line)
{
    m_out.print(line);
}
