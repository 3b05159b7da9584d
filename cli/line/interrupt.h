#ifndef INTERRUPT_H
#define INTERRUPT_H

#include <QtGlobal>

// SIGINT and SIGTERM as something a wait can watch: once either has come,
// the descriptor stays readable, so every wait from then on ends at once.
// On Windows Ctrl-C, Ctrl-Break and closing the console count as SIGINT, and
// an event stays set instead.
namespace Interrupt {

void install();
int fd();         // -1 before install(), and on Windows
int signal();     // the signal that came, or 0
int exitCode();   // 128 + the signal: 130 for SIGINT, 143 for SIGTERM
#ifdef Q_OS_WIN
void *event();    // a HANDLE; null before install()
#endif

} // namespace Interrupt

#endif // INTERRUPT_H
