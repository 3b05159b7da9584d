#ifndef LINEPROBE_H
#define LINEPROBE_H

#include "replydecoder.h"

#include <QByteArray>
#include <QList>

class ByteLine;

// One request on the line, and everything that came back in a window, with
// times: whether the request's own bytes came back first (an echo), and what
// the rest is to the request. The doctor's raw look at a line, where the
// master only takes answers. Afterwards it can listen on for a reply that
// comes after the window, so that it is not taken for the next request's.
class LineProbe
{
public:
    // Late: the reply came after the window (lateReply() found it).
    // ModbusTcp: what came carries a Modbus TCP (MBAP) header.
    enum Verdict { Answer, Refused, Damaged, Silent, Interrupted, PortLost, Late, ModbusTcp };
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
        QByteArray heard;        // what came after an echo
        Reply reply;             // Answer, Refused and Late (a late refusal too)
        double turnaroundMs = -1;   // from the request's last byte to the reply's first
        double lateMs = -1;         // Late: the same, for a reply after the window
    };

    explicit LineProbe(ByteLine &line) : m_line(line) {}

    bool verbose = false;   // what was sent and heard, on standard error
    // Behind a device server: a Modbus TCP reply that begins as the request
    // did is taken for that, not for an echo.
    bool tcp = false;

    // Waits up to waitMs after the request has left the line for a reply to
    // begin, then for the line to fall silent.
    Result send(const QByteArray &request, int waitMs);
    // Listens until the line has been quiet for quietMs (four times that at
    // most) for the last request's reply. Silent, with *late the reply when
    // one came (Late) and untouched when none did; or Interrupted, PortLost.
    Verdict lateReply(int quietMs, Result *late);
    static bool isModbusTcp(const QByteArray &bytes);

private:
    Verdict listen(qint64 startBy, const QByteArray &request, QList<Piece> *pieces, qint64 *firstAt);
    Result judge(const QByteArray &request, const QList<Piece> &pieces, qint64 sentAt, qint64 firstAt) const;
    void flush();
    int silenceMs() const;

    ByteLine &m_line;
    QByteArray m_request;        // the last one sent
    double m_requestEnd = 0;     // when its last byte had left
};

#endif // LINEPROBE_H
