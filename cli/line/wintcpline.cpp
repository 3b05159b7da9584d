#include "wintcpline.h"

#include "interrupt.h"
#include "winwait.h"

#include <QDeadlineTimer>

#include <memory>
#include <thread>

#include <winsock2.h>
#include <ws2tcpip.h>

namespace {

const int WriteLimitMs = 2000;
const int ChunkBytes = 512;
const int NoLimit = -1;

bool winsockStarted()
{
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

// A name lookup on a thread of its own. Whoever lets go of it last, the
// thread or an interrupted wait, frees what it found.
struct Lookup
{
    HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    int status = 0;
    addrinfo *found = nullptr;
    ~Lookup()
    {
        if (found)
            ::freeaddrinfo(found);
        ::CloseHandle(done);
    }
};

std::shared_ptr<Lookup> lookUp(const QString &host, int port)
{
    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, name = host.toUtf8(), service = QByteArray::number(port)] {
        addrinfo hints = {};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        lookup->status = ::getaddrinfo(name.constData(), service.constData(), &hints, &lookup->found);
        ::SetEvent(lookup->done);
    }).detach();
    return lookup;
}

} // namespace

WinTcpLine::WinTcpLine()
    : m_socket(INVALID_SOCKET)
{
    m_clock.start();
}

WinTcpLine::~WinTcpLine()
{
    close();
    if (m_event)
        ::WSACloseEvent(m_event);
}

bool WinTcpLine::open(const PortName &port, int baud)
{
    m_port = port;
    m_baud = baud;
    close();
    return connectTo(port.host(), port.tcpPort());
}

bool WinTcpLine::connected() const
{
    return m_socket != INVALID_SOCKET;
}

bool WinTcpLine::connectTo(const QString &host, int port)
{
    if (!winsockStarted())
        return fail("Winsock did not start: " + WinWait::systemError(::WSAGetLastError()));
    const std::shared_ptr<Lookup> lookup = lookUp(host, port);
    if (WinWait::on(lookup->done, NoLimit) == WinWait::Interrupted)
        return fail(QString("%1: the name lookup was interrupted").arg(host));
    if (lookup->status != 0)
        return fail(QString("%1: %2").arg(host, WinWait::systemError(DWORD(lookup->status))));
    QString why = "no address to connect to";
    for (const addrinfo *a = lookup->found; a && !connected(); a = a->ai_next)
        connectOne(a, &why);
    if (!connected())
        return fail(why);
    // A request goes out whole at once, not held back for more.
    const BOOL on = TRUE;
    ::setsockopt(SOCKET(m_socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof on);
    m_error.clear();
    return true;
}

// Connects to one of the addresses found, within ConnectLimitMs.
bool WinTcpLine::connectOne(const void *address, QString *why)
{
    const addrinfo *a = static_cast<const addrinfo *>(address);
    const SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) {
        *why = WinWait::systemError(DWORD(::WSAGetLastError()));
        return false;
    }
    m_socket = s;
    if (!m_event)
        m_event = ::WSACreateEvent();
    // From here the socket does not block; its events set m_event.
    ::WSAEventSelect(s, m_event, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE);
    int error = ::connect(s, a->ai_addr, int(a->ai_addrlen)) == 0 ? 0 : ::WSAGetLastError();
    if (error == WSAEWOULDBLOCK)
        waitFor(FD_CONNECT_BIT, ConnectLimitMs, &error);
    if (error == 0)
        return true;
    *why = error == WSAETIMEDOUT ? QString("no connection within %1 ms").arg(ConnectLimitMs)
         : error == WSAEINTR     ? QString("interrupted")
                                 : WinWait::systemError(DWORD(error));
    close();
    return false;
}

// Until the network event numbered bit has come (its error code in *error)
// or ms have gone by (WSAETIMEDOUT), or an interrupt (WSAEINTR).
bool WinTcpLine::waitFor(long bit, int ms, int *error)
{
    const QDeadlineTimer deadline(ms);
    for (;;) {
        WSANETWORKEVENTS events = {};
        if (::WSAEnumNetworkEvents(SOCKET(m_socket), m_event, &events) != 0) {
            *error = ::WSAGetLastError();
            return false;
        }
        if (events.lNetworkEvents & (1L << bit)) {
            *error = events.iErrorCode[bit];
            return true;
        }
        const WinWait::Result waited = WinWait::on(m_event, int(deadline.remainingTime()));
        if (waited != WinWait::Ready) {
            *error = waited == WinWait::Interrupted ? WSAEINTR : WSAETIMEDOUT;
            return false;
        }
    }
}

bool WinTcpLine::write(const QByteArray &bytes)
{
    if (!connected())
        return false;
    const QDeadlineTimer giveUp(WriteLimitMs);
    for (int done = 0; done < bytes.size();) {
        const int n = ::send(SOCKET(m_socket), bytes.constData() + done, bytes.size() - done, 0);
        if (n > 0) {
            done += n;
            continue;
        }
        const int error = ::WSAGetLastError();
        if (error != WSAEWOULDBLOCK)
            return fail(WinWait::systemError(DWORD(error)));
        if (Interrupt::signal())
            return true;   // left for the next read to report
        if (giveUp.hasExpired())
            return fail(QString("the server took no bytes for %1 ms").arg(WriteLimitMs));
        // A send that would block re-arms FD_WRITE.
        WinWait::on(m_event, int(giveUp.remainingTime()));
        ::WSAResetEvent(m_event);
    }
    return true;
}

ByteLine::Wait WinTcpLine::read(int ms, QByteArray *bytes)
{
    if (!connected())
        return WinWait::on(nullptr, ms) == WinWait::Interrupted ? Interrupted : Failed;
    const QDeadlineTimer deadline(qMax(0, ms));
    for (;;) {
        if (Interrupt::signal())
            return Interrupted;
        // Each recv() re-arms FD_READ, so the wait below cannot miss bytes
        // that come after it.
        char chunk[ChunkBytes];
        const int n = ::recv(SOCKET(m_socket), chunk, ChunkBytes, 0);
        if (n > 0) {
            *bytes = QByteArray(chunk, n);
            return Bytes;
        }
        const int error = n == 0 ? 0 : ::WSAGetLastError();
        if (error != WSAEWOULDBLOCK) {
            fail(n == 0 ? QString("the server closed the connection") : WinWait::systemError(DWORD(error)));
            return Failed;
        }
        const WinWait::Result waited = WinWait::on(m_event, int(deadline.remainingTime()));
        ::WSAResetEvent(m_event);
        if (waited == WinWait::Interrupted)
            return Interrupted;
        if (waited != WinWait::Ready)
            return Quiet;
    }
}

bool WinTcpLine::fail(const QString &why)
{
    m_error = why;
    close();
    return false;
}

void WinTcpLine::close()
{
    if (connected())
        ::closesocket(SOCKET(m_socket));
    m_socket = INVALID_SOCKET;
}
