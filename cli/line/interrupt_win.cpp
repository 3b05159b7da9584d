#include "interrupt.h"

#include <csignal>

#include <windows.h>

namespace {

HANDLE interrupted = nullptr;
volatile LONG received = 0;

// Runs on a thread of its own. Closing the console, logging off and shutting
// down end the process as soon as the handler returns: it waits there, and
// the program ends with its exit code when main returns.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    ::InterlockedCompareExchange(&received, SIGINT, 0);
    ::SetEvent(interrupted);
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        ::Sleep(INFINITE);
    return TRUE;
}

} // namespace

void Interrupt::install()
{
    if (interrupted)
        return;
    interrupted = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (interrupted)
        ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

int Interrupt::fd()
{
    return -1;
}

void *Interrupt::event()
{
    return interrupted;
}

int Interrupt::signal()
{
    return int(received);
}

int Interrupt::exitCode()
{
    return 128 + int(received);
}
