#include "tcpline.h"

#include "descriptorio.h"
#include "interrupt.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const int WriteLimitMs = 2000;
// How often a name lookup in progress is looked at.
const int LookupPollMs = 20;

// getaddrinfo, in the background so that an interrupt ends the wait at once
// (a name server that does not answer holds a plain lookup for seconds).
int lookUp(const QString &host, int port, struct addrinfo **found)
{
    // Static: an abandoned lookup goes on using them until the program ends.
    static QByteArray name, service;
    static struct addrinfo hints;
    static struct gaicb request;
    name = host.toUtf8();
    service = QByteArray::number(port);
    hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    request = {};
    request.ar_name = name.constData();
    request.ar_service = service.constData();
    request.ar_request = &hints;
    struct gaicb *list[] = {&request};
    const int started = getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr);
    if (started != 0)
        return started;
    int state = EAI_INPROGRESS;
    while ((state = gai_error(&request)) == EAI_INPROGRESS) {
        struct pollfd wait = {Interrupt::fd(), POLLIN, 0};
        ::poll(&wait, 1, LookupPollMs);
        if (Interrupt::signal()) {
            gai_cancel(&request);
            return EAI_CANCELED;
        }
    }
    *found = request.ar_result;
    return state;
}

} // namespace

TcpLine::TcpLine()
{
    m_clock.start();
}

TcpLine::~TcpLine()
{
    close();
}

bool TcpLine::open(const PortName &port, int baud)
{
    m_port = port;
    m_baud = baud;
    close();
    return connectTo(port.host(), port.tcpPort());
}

bool TcpLine::connectTo(const QString &host, int port)
{
    struct addrinfo *found = nullptr;
    const int lookup = lookUp(host, port, &found);
    if (lookup == EAI_CANCELED)
        return fail(QString("%1: the name lookup was interrupted").arg(host));
    if (lookup != 0)
        return fail(QString("%1: %2").arg(host, gai_strerror(lookup)));
    QString why = "no address to connect to";
    for (struct addrinfo *a = found; a && m_fd < 0; a = a->ai_next) {
        m_fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (m_fd < 0) {
            why = strerror(errno);
            continue;
        }
        int error = ::connect(m_fd, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
        if (error == EINPROGRESS) {
            struct pollfd fds[] = {{m_fd, POLLOUT, 0}, {Interrupt::fd(), POLLIN, 0}};
            error = ::poll(fds, 2, ConnectLimitMs) > 0 && fds[0].revents ? 0 : ETIMEDOUT;
            socklen_t size = sizeof error;
            if (error == 0)
                getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &size);
            if (Interrupt::signal())
                error = EINTR;
        }
        if (error != 0) {
            why = error == ETIMEDOUT ? QString("no connection within %1 ms").arg(ConnectLimitMs) : QString(strerror(error));
            close();
        }
    }
    freeaddrinfo(found);
    if (m_fd < 0)
        return fail(why);
    // A request goes out whole at once, not held back for more.
    const int on = 1;
    setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    m_error.clear();
    return true;
}

bool TcpLine::write(const QByteArray &bytes)
{
    if (m_fd < 0)
        return false;
    const QString why = DescriptorIo::writeAll(m_fd, DescriptorIo::Socket, bytes, WriteLimitMs);
    return why.isEmpty() || fail(why);
}

ByteLine::Wait TcpLine::read(int ms, QByteArray *bytes)
{
    QString why;
    const Wait wait = DescriptorIo::read(m_fd, DescriptorIo::Socket, ms, bytes, &why);
    if (!why.isEmpty())
        fail(why);
    return wait;
}

bool TcpLine::fail(const QString &why)
{
    m_error = why;
    close();
    return false;
}

void TcpLine::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}
