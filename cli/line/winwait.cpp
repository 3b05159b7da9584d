#include "winwait.h"

#include "interrupt.h"

#include <windows.h>

WinWait::Result WinWait::on(void *handle, int ms)
{
    // Before Interrupt::install() there is no event to watch; without a
    // handle the wait is for the interrupt alone.
    HANDLE handles[2];
    DWORD count = 0;
    if (Interrupt::event())
        handles[count++] = Interrupt::event();
    if (handle)
        handles[count++] = handle;
    const DWORD limit = ms < 0 ? INFINITE : DWORD(ms);
    const DWORD result = count ? ::WaitForMultipleObjects(count, handles, FALSE, limit) : ::SleepEx(limit, FALSE);
    if (Interrupt::signal())
        return Interrupted;
    if (result == WAIT_TIMEOUT || !count || (!handle && result == WAIT_OBJECT_0))
        return TimedOut;
    return result == WAIT_FAILED ? Failed : Ready;
}

QString WinWait::systemError(unsigned long code)
{
    wchar_t *text = nullptr;
    const DWORD size = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                            | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                        reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString message = size ? QString::fromWCharArray(text, int(size)).trimmed() : QString();
    ::LocalFree(text);
    if (message.endsWith('.'))
        message.chop(1);
    return message.isEmpty() ? QString("system error %1").arg(code) : message;
}

QString WinWait::lastError()
{
    return systemError(::GetLastError());
}
