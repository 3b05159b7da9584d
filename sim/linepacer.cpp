#include "linepacer.h"

#include <cmath>

LinePacer::LinePacer(QObject *parent)
    : QObject(parent)
{
    m_clock.start();
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &LinePacer::sendDue);
}

double LinePacer::queue(double startMs, const QByteArray &bytes, double characterMs)
{
    const double start = qMax(startMs, m_idleAt);
    m_idleAt = start + bytes.size() * characterMs;
    m_pieces.append({start, characterMs, bytes, 0});
    sendDue();
    return m_idleAt;
}

void LinePacer::clear()
{
    m_pieces.clear();
    m_timer.stop();
    m_idleAt = 0;
}

// A byte reaches the other end when its character time is over.
void LinePacer::sendDue()
{
    const double t = now();
    while (!m_pieces.isEmpty()) {
        Piece &piece = m_pieces.first();
        if (piece.startMs > t)
            break;
        const int end = piece.characterMs > 0
            ? qMin(piece.bytes.size(), int((t - piece.startMs) / piece.characterMs))
            : piece.bytes.size();
        const QByteArray out = piece.bytes.mid(piece.sent, end - piece.sent);
        piece.sent = end;
        const bool done = piece.sent == piece.bytes.size();
        if (done)
            m_pieces.removeFirst();
        if (!out.isEmpty())
            emit due(out);
        if (!done)
            break;
    }
    if (m_pieces.isEmpty())
        return;
    const Piece &next = m_pieces.first();
    const double at = next.startMs + (next.characterMs > 0 ? (next.sent + 1) * next.characterMs : 0);
    m_timer.start(int(std::ceil(qMax(0.0, at - now()))));
}
