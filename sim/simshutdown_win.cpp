#include "simshutdown.h"

#include <QCoreApplication>
#include <QWinEventNotifier>

#include <windows.h>
#include <tlhelp32.h>

namespace {

// Ctrl-C and Ctrl-Break return at once. Closing the console, logging off and
// shutting down end the process when the handler returns, so the handler
// waits there until the event loop has quit and main returned.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        ::Sleep(INFINITE);
    return TRUE;
}

DWORD parentProcessId()
{
    const DWORD self = ::GetCurrentProcessId();
    DWORD parent = 0;
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == self) {
            parent = entry.th32ParentProcessID;
            break;
        }
    }
    ::CloseHandle(snapshot);
    return parent;
}

} // namespace

SimShutdown::SimShutdown()
    : m_parent(parentProcessId())
{
}

void SimShutdown::quitOnSignals()
{
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

// The parent's handle is signalled when it ends. A parent that cannot be
// opened is gone already.
void SimShutdown::exitWithParent()
{
    const HANDLE parent = ::OpenProcess(SYNCHRONIZE, FALSE, DWORD(m_parent));
    if (!parent) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
        return;
    }
    auto *notifier = new QWinEventNotifier(parent, qApp);
    QObject::connect(notifier, &QWinEventNotifier::activated, qApp, [parent] {
        ::CloseHandle(parent);
        QCoreApplication::quit();
    });
}
