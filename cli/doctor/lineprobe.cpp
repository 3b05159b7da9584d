#include "lineprobe.h"

#include "byteline.h"
#include "frameassembler.h"
#include "linetime.h"
#include "modbusframe.h"
#include "trafficline.h"

#include <cstdio>

namespace {

// Bytes already waiting before a request are read in this many pieces at most.
const int FlushReads = 16;
// An echo may have this share of its bytes changed (one in four) and still
// be one.
const int ChangedEchoShare = 4;
// A Modbus TCP header: transaction, protocol 0, the length of what follows.
const int MbapHeaderLength = 6;
const int MinMbapLength = 2;   // unit and function

QByteArray joined(const QList<LineProbe::Piece> &pieces)
{
    QByteArray bytes;
    for (const LineProbe::Piece &piece : pieces)
        bytes += piece.bytes;
    return bytes;
}

LineProbe::Echo echoIn(const QByteArray &request, const QByteArray &raw)
{
    if (raw.startsWith(request))
        return LineProbe::ExactEcho;
    if (raw.size() < request.size())
        return LineProbe::NoEcho;
    int changed = 0;
    for (int i = 0; i < request.size(); ++i)
        changed += raw.at(i) != request.at(i);
    return changed <= request.size() / ChangedEchoShare ? LineProbe::DamagedEcho : LineProbe::NoEcho;
}

} // namespace

LineProbe::Result LineProbe::send(const QByteArray &request, int waitMs)
{
    flush();
    Result result;
    const qint64 sentAt = m_line.now();
    m_request = request;
    m_requestEnd = sentAt + LineTime::wireMs(request.size(), m_line.baudRate());
    if (!m_line.write(request)) {
        result.verdict = PortLost;
        return result;
    }
    if (verbose)
        fprintf(stderr, "%s\n", qUtf8Printable(trafficLine(request, false)));
    const qint64 startBy = sentAt + LineTime::wireMs(request.size(), m_line.baudRate()) + waitMs;
    QList<Piece> pieces;
    qint64 firstAt = -1;
    const Verdict heard = listen(startBy, request, &pieces, &firstAt);
    if (verbose && !pieces.isEmpty())
        fprintf(stderr, "%s\n", qUtf8Printable(trafficLine(joined(pieces), true)));
    if (heard != Silent) {
        result.verdict = heard;
        return result;
    }
    return judge(request, pieces, sentAt, firstAt);
}

// Until startBy for the first byte after any echo, then until the line has
// been silent for 3.5 characters. firstAt: when that first byte came; each
// piece's time is the clock's when it was read.
LineProbe::Verdict LineProbe::listen(qint64 startBy, const QByteArray &request, QList<Piece> *pieces, qint64 *firstAt)
{
    QByteArray heard;
    const int silence = silenceMs();
    // A line that never falls silent is listened to for one longest frame.
    const qint64 giveUpAt = startBy + LineTime::wireMs(ModbusFrame::MaxFrameLength, m_line.baudRate()) + silence;
    qint64 lastAt = m_line.now();
    for (qint64 now = m_line.now();; now = m_line.now()) {
        const bool begun = *firstAt >= 0;
        const qint64 until = qMin(giveUpAt, begun ? lastAt + silence : startBy);
        if (now >= until)
            return Silent;
        QByteArray bytes;
        switch (m_line.read(int(until - now), &bytes)) {
        case ByteLine::Interrupted:
            return Interrupted;
        case ByteLine::Failed:
            return PortLost;
        case ByteLine::Quiet:
            break;
        case ByteLine::Bytes:
            lastAt = m_line.now();
            // While the bytes so far are the request's own, they may be its echo.
            if (!begun && !(heard.size() + bytes.size() <= request.size() && request.startsWith(heard + bytes)))
                *firstAt = lastAt;
            heard += bytes;
            *pieces << Piece{bytes, double(lastAt)};
            break;
        }
    }
}

LineProbe::Result LineProbe::judge(const QByteArray &request, const QList<Piece> &pieces, qint64 sentAt, qint64 firstAt) const
{
    Result result;
    const QByteArray raw = joined(pieces);
    // The first byte is told when it has all arrived: the reply began a
    // character earlier. The request was over when its last byte had gone.
    const int baud = m_line.baudRate();
    const double requestEnd = sentAt + LineTime::wireMs(request.size(), baud);
    result.raw = pieces;
    for (Piece &piece : result.raw)
        piece.atMs -= requestEnd;
    result.echo = echoIn(request, raw);
    if (isModbusTcp(raw) && (tcp || result.echo != ExactEcho)) {
        result.verdict = ModbusTcp;
        result.heard = raw;
        result.echo = NoEcho;
        return result;
    }
    result.heard = result.echo == NoEcho ? raw : raw.mid(request.size());
    if (result.heard.isEmpty()) {
        // A damaged echo is damage, whatever follows it.
        result.verdict = result.echo == DamagedEcho ? Damaged : Silent;
        return result;
    }
    result.turnaroundMs = qMax(0.0, firstAt - LineTime::characterMs(baud) - requestEnd);
    result.verdict = Damaged;
    FrameAssembler assembler(FrameAssembler::Replies);
    assembler.feed(result.heard);
    assembler.silence();
    while (assembler.hasFrame()) {
        const Reply reply = Reply::decode(request, assembler.takeFrame());
        if (reply.kind != Reply::NotTheAnswer) {
            result.verdict = result.echo == DamagedEcho ? Damaged : reply.isAnswer() ? Answer : Refused;
            result.reply = reply;
            break;
        }
    }
    return result;
}

LineProbe::Verdict LineProbe::lateReply(int quietMs, Result *late)
{
    FrameAssembler assembler(FrameAssembler::Replies);
    const qint64 giveUpAt = m_line.now() + 4 * qint64(quietMs);
    qint64 lastAt = m_line.now(), firstAt = -1;
    for (qint64 now = lastAt; now < qMin(giveUpAt, lastAt + quietMs); now = m_line.now()) {
        QByteArray bytes;
        switch (m_line.read(int(qMin(giveUpAt, lastAt + quietMs) - now), &bytes)) {
        case ByteLine::Interrupted:
            return Interrupted;
        case ByteLine::Failed:
            return PortLost;
        case ByteLine::Quiet:
            break;
        case ByteLine::Bytes:
            lastAt = m_line.now();
            firstAt = firstAt < 0 ? lastAt : firstAt;
            assembler.feed(bytes);
            break;
        }
    }
    assembler.silence();
    while (assembler.hasFrame()) {
        const Reply reply = Reply::decode(m_request, assembler.takeFrame());
        if (reply.kind != Reply::NotTheAnswer) {
            late->verdict = Late;
            late->reply = reply;
            late->lateMs = qMax(0.0, firstAt - LineTime::characterMs(m_line.baudRate()) - m_requestEnd);
            late->turnaroundMs = -1;
            break;
        }
    }
    return Silent;
}

// Transaction (any), protocol 0, and a length that is what follows.
bool LineProbe::isModbusTcp(const QByteArray &bytes)
{
    if (bytes.size() < MbapHeaderLength + MinMbapLength || bytes.at(2) != 0 || bytes.at(3) != 0)
        return false;
    return ModbusFrame::word(bytes, 4) == bytes.size() - MbapHeaderLength;
}

int LineProbe::silenceMs() const
{
    return qMax(m_line.silenceFloorMs(), LineTime::silenceMs(m_line.baudRate()));
}

void LineProbe::flush()
{
    for (int i = 0; i < FlushReads; ++i) {
        QByteArray junk;
        if (m_line.read(0, &junk) != ByteLine::Bytes)
            return;
    }
}
