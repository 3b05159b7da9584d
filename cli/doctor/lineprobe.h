#ifndef LINEPROBE_H
#define LINEPROBE_H

#include "replydecoder.h"

#include <QByteArray>

class ByteLine;

// One request on the line, and everything that came back in a window, with
// times: whether the request's own bytes came back first (an echo), and what
// the rest is to the request. The doctor's raw look at a line, where the
// master only takes answers.
class LineProbe
{
public:
    enum Verdict { Answer, Refused, Damaged, Silent, Interrupted, PortLost };

    struct Result
    {
        Verdict verdict = Silent;
        bool echo = false;       // the request's bytes came back first, unchanged
        QByteArray heard;        // what came after the echo
        Reply reply;             // Answer and Refused
        double turnaroundMs = -1;   // from the request's last byte to the reply's first
    };

    explicit LineProbe(ByteLine &line) : m_line(line) {}

    bool verbose = false;   // what was sent and heard, on standard error

    // Waits up to waitMs after the request has left the line for a reply to
    // begin, then for the line to fall silent.
    Result send(const QByteArray &request, int waitMs);

private:
    Verdict listen(qint64 startBy, QByteArray *heard, qint64 *firstAt, const QByteArray &request);
    Result judge(const QByteArray &request, const QByteArray &raw, qint64 sentAt, qint64 firstAt) const;
    void flush();

    ByteLine &m_line;
};

#endif // LINEPROBE_H
