#include "modbusmaster.h"

#include "byteline.h"
#include "linetime.h"
#include "quietline.h"
#include "trafficline.h"

#include <cmath>
#include <cstdio>

namespace {
// A line that never falls silent is given this many timeouts to, at most.
const int DrainLimit = 4;
// Bytes already waiting before a request are read in this many pieces at most.
const int FlushReads = 16;
}

ModbusMaster::ModbusMaster(ByteLine &line) : ModbusMaster(line, LineOptions())
{
}

ModbusMaster::Outcome ModbusMaster::exchange(const QByteArray &request, const Asking &asking, int moduleAddress)
{
    Outcome outcome;
    for (int i = 0; i <= asking.retries; ++i) {
        const Outcome tried = attempt(request, asking, moduleAddress);
        if (tried.status != NoAnswer)
            return tried;
        // No answer: the time is the first request's, the reason the last heard.
        if (i == 0)
            outcome.sentAt = tried.sentAt;
        if (!tried.ignored.isEmpty())
            outcome.ignored = tried.ignored;
        outcome.garbled = outcome.garbled || tried.garbled;
        outcome.echoed = outcome.echoed || tried.echoed;
    }
    return outcome;
}

ModbusMaster::Outcome ModbusMaster::attempt(const QByteArray &request, const Asking &asking, int moduleAddress)
{
    Outcome outcome;
    if (!send(request, asking, &outcome))
        return outcome;
    const int baud = m_line.baudRate();
    const int silence = silenceMs();
    const int answerLength = Reply::answerLength(request);
    const int replyMs = LineTime::wireMs(answerLength, baud) + silence;
    const qint64 startBy = m_line.now() + LineTime::wireMs(request.size(), baud) + asking.timeoutMs;
    qint64 until = startBy;
    qint64 lastByte = 0, begunAt = -1;
    const qint64 droppedBefore = m_assembler.dropped();
    Heard heard;
    for (qint64 now = m_line.now(); now < until; now = m_line.now()) {
        const qint64 wake = m_assembler.held() > 0 ? qMin(until, lastByte + silence) : until;
        QByteArray bytes;
        switch (m_line.read(int(wake - now), &bytes)) {
        case ByteLine::Interrupted:
            outcome.status = Interrupted;
            return outcome;
        case ByteLine::Failed:
            outcome.status = portLost();
            return outcome;
        case ByteLine::Quiet:
            if (m_assembler.held() > 0 && m_line.now() >= lastByte + silence)
                m_assembler.silence();
            break;
        case ByteLine::Bytes:
            if (!pastEcho(request, &bytes, &heard, &outcome))
                break;
            lastByte = m_line.now();
            // A reply that has begun in time is given its time on the wire,
            // and more while its pieces keep coming within the silence (a
            // device server passes a reply on in pieces), up to a silence
            // for each of its bytes.
            if (begunAt < 0 && m_assembler.held() == 0 && lastByte <= startBy) {
                begunAt = lastByte;
                until = qMax(until, lastByte + replyMs);
            }
            m_assembler.feed(bytes);
            if (begunAt >= 0 && m_assembler.held() > 0)
                until = qMax(until, qMin(lastByte + silence, begunAt + replyMs + qint64(answerLength) * silence));
            break;
        }
        if (takeAnswer(request, moduleAddress, &outcome))
            return outcome;
    }
    m_quietSince = m_line.now();
    if (asking.scanning && lastByte == 0)
        m_drainPending = false;
    outcome.status = NoAnswer;
    // An echo that came unasked is no garbled reply; bytes after it may be.
    outcome.echoed = !m_options.localEcho && heard.first == request;
    const bool onlyEcho = outcome.echoed && heard.count == request.size();
    outcome.garbled = begunAt >= 0 && !onlyEcho && (m_assembler.dropped() > droppedBefore || m_assembler.held() > 0);
    return outcome;
}

// The bytes that came, less the request's own at the front when an echo is
// due (--local-echo): false when none of them is left for the reply, or the
// echo differs from the request (nothing on the attempt is taken then).
// The first bytes are kept as they came, to tell an echo that was not due.
bool ModbusMaster::pastEcho(const QByteArray &request, QByteArray *bytes, Heard *heard, Outcome *outcome) const
{
    heard->count += bytes->size();
    if (heard->first.size() < request.size())
        heard->first += bytes->left(request.size() - heard->first.size());
    if (m_options.localEcho && heard->echo.size() < request.size()) {
        const int take = qMin(bytes->size(), request.size() - heard->echo.size());
        heard->echo += bytes->left(take);
        bytes->remove(0, take);
        if (heard->echo.size() == request.size() && heard->echo != request) {
            heard->echoDamaged = true;
            outcome->ignored = "the echo of the request differs from what was sent";
        }
    }
    return !bytes->isEmpty() && !heard->echoDamaged;
}

// The request on the line, once it is settled; false with the status that
// kept it off.
bool ModbusMaster::send(const QByteArray &request, const Asking &asking, Outcome *outcome)
{
    outcome->sentAt = QDateTime::currentDateTime();
    outcome->status = settle();
    if (outcome->status != Ok)
        return false;
    outcome->sentAt = QDateTime::currentDateTime();
    if (!m_line.write(request)) {
        outcome->status = portLost();
        return false;
    }
    trace(request, false);
    m_drainPending = true;
    m_drainMs = asking.timeoutMs;
    m_assembler.clear();
    return true;
}

// The first frame held that answers the request or refuses it; frames that
// are not the answer are passed over, the reason kept.
bool ModbusMaster::takeAnswer(const QByteArray &request, int moduleAddress, Outcome *outcome)
{
    while (m_assembler.hasFrame()) {
        const QByteArray frame = m_assembler.takeFrame();
        const Reply reply = Reply::decode(request, frame, moduleAddress);
        if (reply.kind == Reply::NotTheAnswer) {
            outcome->ignored = reply.reasonText();
            continue;
        }
        trace(frame, true);
        m_drainPending = false;
        m_frameEnd = m_line.now();
        outcome->status = reply.isAnswer() ? Ok : Refused;
        outcome->reply = reply;
        return true;
    }
    return false;
}

// Before a request or a change of speed: a late answer given its chance and
// thrown away, then whatever else is waiting dropped.
ModbusMaster::Status ModbusMaster::settle()
{
    if (m_lost)
        return PortLost;
    if (m_drainPending) {
        const Status drained = drain();
        if (drained != Ok)
            return drained;
    }
    // 3.5 characters between the last answer and the next request, so the
    // modules on the line see where one frame ends and the next begins.
    const qint64 gapEnd = m_frameEnd < 0 ? 0 : m_frameEnd + qint64(std::ceil(3.5 * LineTime::characterMs(m_line.baudRate())));
    for (qint64 now = m_line.now(); now < gapEnd; now = m_line.now()) {
        QByteArray junk;
        const ByteLine::Wait wait = m_line.read(int(gapEnd - now), &junk);
        if (wait == ByteLine::Interrupted)
            return Interrupted;
        if (wait == ByteLine::Failed)
            return portLost();
    }
    for (int i = 0; i < FlushReads; ++i) {
        QByteArray junk;
        switch (m_line.read(0, &junk)) {
        case ByteLine::Interrupted:
            return Interrupted;
        case ByteLine::Failed:
            return portLost();
        case ByteLine::Quiet:
            return Ok;
        case ByteLine::Bytes:
            break;
        }
    }
    return Ok;
}

// Until the line has been silent for the unanswered request's timeout since
// it went unanswered or the last byte came.
ModbusMaster::Status ModbusMaster::drain()
{
    const qint64 giveUpAt = m_line.now() + DrainLimit * qint64(m_drainMs);
    switch (QuietLine::waitFor(m_line, m_quietSince, m_drainMs, giveUpAt)) {
    case ByteLine::Interrupted:
        return Interrupted;
    case ByteLine::Failed:
        return portLost();
    case ByteLine::Bytes:
    case ByteLine::Quiet:
        break;
    }
    m_drainPending = false;
    return Ok;
}

ModbusMaster::Status ModbusMaster::setBaudRate(int baud)
{
    const Status settled = settle();
    if (settled != Ok)
        return settled;
    return m_line.setBaudRate(baud) ? Ok : portLost();
}

int ModbusMaster::baudRate() const
{
    return m_line.baudRate();
}

qint64 ModbusMaster::now() const
{
    return m_line.now();
}

ModbusMaster::Status ModbusMaster::waitUntil(qint64 time)
{
    while (true) {
        const qint64 now = m_line.now();
        if (m_lost && now >= m_nextReopen)
            tryReopen();
        if (now >= time)
            return Ok;
        QByteArray bytes;
        switch (m_line.read(int((m_lost ? qMin(time, m_nextReopen) : time) - now), &bytes)) {
        case ByteLine::Interrupted:
            return Interrupted;
        case ByteLine::Failed:
            portLost();
            break;
        case ByteLine::Bytes:
            m_quietSince = m_line.now();
            break;
        case ByteLine::Quiet:
            break;
        }
    }
}

ModbusMaster::Status ModbusMaster::portLost()
{
    if (!m_lost)
        m_nextReopen = m_line.now() + ReopenMs;
    m_lost = true;
    m_lostReason = m_line.errorString();
    return PortLost;
}

void ModbusMaster::tryReopen()
{
    if (m_line.reopen()) {
        m_lost = false;
        m_drainPending = false;
        return;
    }
    m_lostReason = m_line.errorString();
    m_nextReopen = m_line.now() + ReopenMs;
}

int ModbusMaster::silenceMs() const
{
    return qMax(m_line.silenceFloorMs(), LineTime::silenceMs(m_line.baudRate()));
}

void ModbusMaster::trace(const QByteArray &frame, bool received) const
{
    if (m_options.verbose)
        fprintf(stderr, "%s\n", qUtf8Printable(trafficLine(frame, received)));
}
