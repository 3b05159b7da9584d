#ifndef BYTELINE_H
#define BYTELINE_H

#include "linetime.h"

#include <QByteArray>
#include <QString>

// The serial line as the master uses it, so that a test can play it: bytes
// out, bytes in with a bounded wait that an interrupt ends, the line speed,
// a port that fails with its reason, and a clock in milliseconds.
class ByteLine
{
public:
    enum Wait { Bytes, Quiet, Interrupted, Failed };

    virtual ~ByteLine() = default;

    // False when the port failed (errorString() says why). An interrupt
    // during the write is left for the next read to report.
    virtual bool write(const QByteArray &bytes) = 0;
    // Waits up to ms for bytes. Quiet when none came, perhaps early (the
    // caller goes by its clock). On a port that has failed it waits out ms,
    // ended only by an interrupt, and says Failed.
    virtual Wait read(int ms, QByteArray *bytes) = 0;
    virtual bool setBaudRate(int baud) = 0;
    virtual int baudRate() const = 0;
    // Opens the same path again, at the same speed; false while it cannot.
    virtual bool reopen() = 0;
    virtual QString errorString() const = 0;
    virtual qint64 now() const = 0;   // milliseconds, monotonic
    // The shortest pause that ends a frame on this line, whatever its speed.
    virtual int silenceFloorMs() const { return LineTime::AdapterFloorMs; }
};

#endif // BYTELINE_H
