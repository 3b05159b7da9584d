#ifndef WINWAIT_H
#define WINWAIT_H

#include <QString>

// Windows only: a wait on a handle that the interrupt's event ends at once,
// and the system's words for an error code.
namespace WinWait {

enum Result { Ready, TimedOut, Interrupted, Failed };

// Waits up to ms (0: only looks, below 0: no limit) for handle to be
// signalled; with a null handle, for the interrupt alone.
Result on(void *handle, int ms);
// FormatMessage's text for code, as strerror() gives it: no final full stop.
QString systemError(unsigned long code);
QString lastError();   // for GetLastError()

} // namespace WinWait

#endif // WINWAIT_H
