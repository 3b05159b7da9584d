#ifndef DESCRIPTORIO_H
#define DESCRIPTORIO_H

#include "byteline.h"

#include <QByteArray>
#include <QString>

// Writes and reads on the descriptor under a ByteLine, a serial device's or
// a connection's: every wait bounded, and ended at once by an interrupt.
class DescriptorIo
{
public:
    enum Kind { Device, Socket };

    // Empty when every byte went out within limitMs, or when an interrupt
    // came first (the next read reports it); otherwise why not.
    static QString writeAll(int fd, Kind kind, const QByteArray &bytes, int limitMs);
    // Waits up to ms for bytes and takes them. On a descriptor of -1 it
    // waits out ms, ended only by an interrupt, and says Failed; a
    // descriptor that fails sets *error.
    static ByteLine::Wait read(int fd, Kind kind, int ms, QByteArray *bytes, QString *error);
};

#endif // DESCRIPTORIO_H
