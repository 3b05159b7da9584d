#ifndef LINEPROBE_H
#define LINEPROBE_H

#include "replydecoder.h"

#include <QByteArray>
#include <QList>

class ByteLine;

// One request on the line, and everything that came back in a window, with
// times: whether the request's own bytes came back first (an echo), and what
// the rest is to the request. The doctor's raw look at a line, where the
// master only takes answers.
class LineProbe
{
public:
    enum Verdict { Answer, Refused, Damaged, Silent, Interrupted, PortLost };
    // The request's bytes back first: as they were sent, or as many bytes
    // with at most a quarter of them changed.
    enum Echo { NoEcho, ExactEcho, DamagedEcho };

    // Bytes as one read brought them, and when: milliseconds after the
    // request's last byte had left (negative while it was still going out).
    struct Piece
    {
        QByteArray bytes;
        double atMs = 0;
    };

    struct Result
    {
        Verdict verdict = Silent;
        Echo echo = NoEcho;
        QList<Piece> raw;        // all that came, any echo included
        QByteArray heard;        // what came after an exact echo
        Reply reply;             // Answer and Refused (its exception code)
        double turnaroundMs = -1;   // from the request's last byte to the reply's first
    };

    explicit LineProbe(ByteLine &line) : m_line(line) {}

    bool verbose = false;   // what was sent and heard, on standard error

    // Waits up to waitMs after the request has left the line for a reply to
    // begin, then for the line to fall silent.
    Result send(const QByteArray &request, int waitMs);

private:
    Verdict listen(qint64 startBy, const QByteArray &request, QList<Piece> *pieces, qint64 *firstAt);
    Result judge(const QByteArray &request, const QList<Piece> &pieces, qint64 sentAt, qint64 firstAt) const;
    void flush();

    ByteLine &m_line;
};

#endif // LINEPROBE_H
