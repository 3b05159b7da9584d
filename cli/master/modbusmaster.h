#ifndef MODBUSMASTER_H
#define MODBUSMASTER_H

#include "frameassembler.h"
#include "linetime.h"
#include "replydecoder.h"

#include <QDateTime>

class ByteLine;

// The request-reply exchange on a line: sends a request, takes the first
// frame the decoder calls its answer (or a refusal), retries what was lost
// or damaged. The module has the request's timeout to start answering once
// the request has left the line; a reply that has begun is given its time
// on the wire. After a request that got no answer in time, the line must
// stay silent for that timeout once more, whatever comes meanwhile thrown
// away, before the next request, a retry or a change of speed: a late answer
// is never taken for a later request's. With localEcho the line first brings
// back the request's own bytes (a two-wire adapter hears itself); they are
// taken off before the reply, and an echo that differs from what was sent
// means a damaged line: nothing on that attempt is taken for the answer.
class ModbusMaster
{
public:
    enum Status { Ok, Refused, NoAnswer, PortLost, Interrupted };

    struct Outcome
    {
        Status status = NoAnswer;
        Reply reply;         // Ok and Refused: the frame decoded
        QString ignored;     // why the last frame that came was not the answer
        bool garbled = false;   // NoAnswer: bytes began in time but made no frame
        bool echoed = false;    // NoAnswer: the request's own bytes came back first, unasked
        QDateTime sentAt;    // when the request went out
    };

    // What holds for every request on this line.
    struct LineOptions
    {
        bool verbose = false;   // every frame sent and taken on standard error
        bool localEcho = false;
    };

    // How one request is asked.
    struct Asking
    {
        int timeoutMs = 500;
        int retries = 2;
        // A scan: each request goes to another address, so after one met by
        // silence alone the next goes at once; a late answer carries an
        // address the next request does not ask and is not taken for its
        // answer.
        bool scanning = false;
    };

    explicit ModbusMaster(ByteLine &line);
    ModbusMaster(ByteLine &line, const LineOptions &options) : m_line(line), m_options(options) {}

    // For a request to address 0, moduleAddress is the module's own address
    // when it is known (its echo may come from there), else -1.
    Outcome exchange(const QByteArray &request, const Asking &asking, int moduleAddress = -1);
    Status setBaudRate(int baud);
    int baudRate() const;
    // Waits until this time on the line's clock, throwing away what comes;
    // a port that was lost is opened again every ReopenMs meanwhile.
    Status waitUntil(qint64 time);
    qint64 now() const;
    ByteLine &line() const { return m_line; }

    bool lost() const { return m_lost; }
    QString lostReason() const { return m_lostReason; }

    static constexpr int ReopenMs = 2000;

private:
    // What came back on one attempt, for the echo.
    struct Heard
    {
        QByteArray first;   // the first bytes, as many as the request has
        int count = 0;
        QByteArray echo;    // with localEcho: what was taken for it
        bool echoDamaged = false;
    };

    Outcome attempt(const QByteArray &request, const Asking &asking, int moduleAddress);
    bool send(const QByteArray &request, const Asking &asking, Outcome *outcome);
    bool pastEcho(const QByteArray &request, QByteArray *bytes, Heard *heard, Outcome *outcome) const;
    bool takeAnswer(const QByteArray &request, int moduleAddress, Outcome *outcome);
    Status settle();
    Status drain();
    Status portLost();
    void tryReopen();
    void trace(const QByteArray &frame, bool received) const;
    int silenceMs() const;

    ByteLine &m_line;
    LineOptions m_options;
    FrameAssembler m_assembler{FrameAssembler::Replies};
    bool m_drainPending = false;   // the last request went unanswered
    int m_drainMs = 0;             // its timeout
    qint64 m_quietSince = 0;
    qint64 m_frameEnd = -1;        // the last answer's last byte came; -1 before any
    bool m_lost = false;
    QString m_lostReason;
    qint64 m_nextReopen = 0;
};

#endif // MODBUSMASTER_H
