#include "winserialline.h"

#include "interrupt.h"
#include "linetime.h"
#include "winwait.h"

#include <windows.h>

namespace {
// How long a port may refuse to take a request before it counts as failed.
const int WriteLimitMs = 2000;
// A read ends by the port's own timeout; this long after it, by ours.
const int ReadMarginMs = 200;
const int ChunkBytes = 512;
const char DevicePrefix[] = "\\\\.\\";

QSerialPort::SerialPortError openErrorFor(DWORD code)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return QSerialPort::DeviceNotFoundError;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return QSerialPort::PermissionError;
    default:
        return QSerialPort::OpenError;
    }
}
} // namespace

WinSerialLine::WinSerialLine()
    : m_handle(INVALID_HANDLE_VALUE)
{
    m_clock.start();
}

WinSerialLine::~WinSerialLine()
{
    close();
    if (m_done)
        ::CloseHandle(m_done);
}

bool WinSerialLine::open(const QString &name, int baud)
{
    m_name = name;
    m_baud = baud;
    close();
    // COM10 and above open only by their device path; the lower ones too.
    const QString path = name.startsWith(DevicePrefix) ? name : DevicePrefix + name;
    m_handle = ::CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ | GENERIC_WRITE, 0,
                             nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (m_handle == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        m_openError = openErrorFor(code);
        return fail(WinWait::systemError(code));
    }
    if (!m_done)
        m_done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!configure(baud)) {
        m_openError = QSerialPort::UnsupportedOperationError;
        return fail(QString("it does not take 8N1 at %1 bit/s (%2)").arg(baud).arg(WinWait::lastError()));
    }
    m_openError = QSerialPort::NoError;
    m_error.clear();
    return true;
}

// 8N1 at baud, no flow control, DTR and RTS on as a terminal program sets them.
bool WinSerialLine::configure(int baud)
{
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(m_handle, &dcb))
        return false;
    dcb.BaudRate = DWORD(baud);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    return ::SetCommState(m_handle, &dcb);
}

// One overlapped read or write, waited for up to ms or an interrupt, then
// cancelled. False when the port failed; *done is what was moved.
bool WinSerialLine::transfer(bool reading, char *data, int size, int ms, unsigned long *done)
{
    OVERLAPPED pending = {};
    pending.hEvent = m_done;
    ::ResetEvent(m_done);
    *done = 0;
    const BOOL started = reading ? ::ReadFile(m_handle, data, DWORD(size), nullptr, &pending)
                                 : ::WriteFile(m_handle, data, DWORD(size), nullptr, &pending);
    if (!started && ::GetLastError() != ERROR_IO_PENDING)
        return fail(WinWait::lastError());
    if (WinWait::on(m_done, ms) != WinWait::Ready)
        ::CancelIoEx(m_handle, &pending);
    DWORD moved = 0;
    if (!::GetOverlappedResult(m_handle, &pending, &moved, TRUE) && ::GetLastError() != ERROR_OPERATION_ABORTED)
        return fail(WinWait::lastError());
    *done = moved;
    return true;
}

bool WinSerialLine::write(const QByteArray &bytes)
{
    if (m_handle == INVALID_HANDLE_VALUE)
        return false;
    const int limitMs = WriteLimitMs + LineTime::wireMs(bytes.size(), m_baud);
    COMMTIMEOUTS timeouts = {};   // the write waits for our limit
    ::SetCommTimeouts(m_handle, &timeouts);
    QByteArray data = bytes;
    unsigned long done = 0;
    if (!transfer(false, data.data(), data.size(), limitMs, &done))
        return false;
    // An interrupt is left for the next read to report.
    if (int(done) < bytes.size() && !Interrupt::signal())
        return fail(QString("the port took no bytes for %1 ms").arg(limitMs));
    return true;
}

ByteLine::Wait WinSerialLine::read(int ms, QByteArray *bytes)
{
    if (m_handle == INVALID_HANDLE_VALUE)
        return WinWait::on(nullptr, ms) == WinWait::Interrupted ? Interrupted : Failed;
    // Back as soon as a byte is there, or after ms with none.
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (ms > 0) {
        timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
        timeouts.ReadTotalTimeoutConstant = DWORD(ms);
    }
    if (!::SetCommTimeouts(m_handle, &timeouts)) {
        fail(WinWait::lastError());
        return Failed;
    }
    char chunk[ChunkBytes];
    unsigned long done = 0;
    if (!transfer(true, chunk, ChunkBytes, qMax(0, ms) + ReadMarginMs, &done))
        return Failed;
    if (Interrupt::signal())
        return Interrupted;
    if (done == 0)
        return Quiet;
    *bytes = QByteArray(chunk, int(done));
    return Bytes;
}

bool WinSerialLine::setBaudRate(int baud)
{
    if (m_handle == INVALID_HANDLE_VALUE)
        return false;
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(m_handle, &dcb))
        return fail(WinWait::lastError());
    dcb.BaudRate = DWORD(baud);
    if (!::SetCommState(m_handle, &dcb))
        return fail(QString("it does not take %1 bit/s").arg(baud));
    m_baud = baud;
    return true;
}

bool WinSerialLine::fail(const QString &why)
{
    m_error = why;
    close();
    return false;
}

void WinSerialLine::close()
{
    if (m_handle != INVALID_HANDLE_VALUE)
        ::CloseHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
}
