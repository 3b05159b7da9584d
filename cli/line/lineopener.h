#ifndef LINEOPENER_H
#define LINEOPENER_H

#include "byteline.h"

#include <memory>

class PortName;

// The line --port names, opened at a speed: a serial port or a connection to
// a device server.
namespace LineOpener {

struct Opened
{
    std::unique_ptr<ByteLine> line;   // null when it could not be opened
    QString error;                    // then why, in the system's words
    QString hint;                     // and what to do, when that is known
};

Opened open(const PortName &port, int baud);

} // namespace LineOpener

#endif // LINEOPENER_H
