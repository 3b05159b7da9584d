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
}

LineProbe::Result LineProbe::send(const QByteArray &request, int waitMs)
{
    flush();
    Result result;
    const qint64 sentAt = m_line.now();
    if (!m_line.write(request)) {
        result.verdict = PortLost;
        return result;
    }
    if (verbose)
        fprintf(stderr, "%s\n", qUtf8Printable(trafficLine(request, false)));
    const qint64 startBy = sentAt + LineTime::wireMs(request.size(), m_line.baudRate()) + waitMs;
    QByteArray raw;
    qint64 firstAt = -1;
    const Verdict heard = listen(startBy, &raw, &firstAt, request);
    if (verbose && !raw.isEmpty())
        fprintf(stderr, "%s\n", qUtf8Printable(trafficLine(raw, true)));
    if (heard != Silent) {
        result.verdict = heard;
        return result;
    }
    return judge(request, raw, sentAt, firstAt);
}

// Until startBy for the first byte after any echo, then until the line has
// been silent for 3.5 characters. firstAt: when that first byte came.
LineProbe::Verdict LineProbe::listen(qint64 startBy, QByteArray *heard, qint64 *firstAt, const QByteArray &request)
{
    const int silence = LineTime::silenceMs(m_line.baudRate());
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
            if (!begun && !(heard->size() + bytes.size() <= request.size() && request.startsWith(*heard + bytes)))
                *firstAt = lastAt;
            *heard += bytes;
            break;
        }
    }
}

LineProbe::Result LineProbe::judge(const QByteArray &request, const QByteArray &raw, qint64 sentAt, qint64 firstAt) const
{
    Result result;
    result.echo = raw.startsWith(request);
    result.heard = result.echo ? raw.mid(request.size()) : raw;
    if (result.heard.isEmpty())
        return result;
    // The first byte is told when it has all arrived: the reply began a
    // character earlier. The request was over when its last byte had gone.
    const int baud = m_line.baudRate();
    const double requestEnd = sentAt + LineTime::wireMs(request.size(), baud);
    result.turnaroundMs = qMax(0.0, firstAt - LineTime::characterMs(baud) - requestEnd);
    result.verdict = Damaged;
    FrameAssembler assembler(FrameAssembler::Replies);
    assembler.feed(result.heard);
    assembler.silence();
    while (assembler.hasFrame()) {
        const Reply reply = Reply::decode(request, assembler.takeFrame());
        if (reply.kind != Reply::NotTheAnswer) {
            result.verdict = reply.isAnswer() ? Answer : Refused;
            result.reply = reply;
            break;
        }
    }
    return result;
}

void LineProbe::flush()
{
    for (int i = 0; i < FlushReads; ++i) {
        QByteArray junk;
        if (m_line.read(0, &junk) != ByteLine::Bytes)
            return;
    }
}
