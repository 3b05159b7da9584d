#include "descriptorio.h"

#include "interrupt.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
ssize_t put(int fd, DescriptorIo::Kind kind, const char *data, size_t size)
{
    // A connection the server has closed must give EPIPE, not SIGPIPE.
    return kind == DescriptorIo::Socket ? ::send(fd, data, size, MSG_NOSIGNAL) : ::write(fd, data, size);
}
}

QString DescriptorIo::writeAll(int fd, Kind kind, const QByteArray &bytes, int limitMs)
{
    const QDeadlineTimer giveUp(limitMs);
    for (int done = 0; done < bytes.size();) {
        const ssize_t n = put(fd, kind, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += int(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return strerror(errno);
        if (Interrupt::signal())
            return QString();
        if (giveUp.hasExpired())
            return QString("the %1 took no bytes for %2 ms").arg(kind == Socket ? "server" : "port").arg(limitMs);
        struct pollfd fds[] = {{fd, POLLOUT, 0}, {Interrupt::fd(), POLLIN, 0}};
        ::poll(fds, 2, int(giveUp.remainingTime()));
    }
    return QString();
}

ByteLine::Wait DescriptorIo::read(int fd, Kind kind, int ms, QByteArray *bytes, QString *error)
{
    struct pollfd fds[] = {{Interrupt::fd(), POLLIN, 0}, {fd, POLLIN, 0}};
    const int ready = ::poll(fds, 2, qMax(0, ms));
    if (Interrupt::signal())
        return ByteLine::Interrupted;
    if (fd < 0)
        return ByteLine::Failed;
    if (ready < 0 && errno == EINTR)
        return ByteLine::Quiet;
    if (ready < 0) {
        *error = strerror(errno);
        return ByteLine::Failed;
    }
    if (fds[1].revents == 0)
        return ByteLine::Quiet;
    char chunk[512];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n > 0) {
        if (kind == Socket) {
            // Each piece acknowledged at once: a server that sends a reply a
            // byte at a time, Nagle's way, waits for each acknowledgement.
            const int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
        }
        *bytes = QByteArray(chunk, int(n));
        return ByteLine::Bytes;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return ByteLine::Quiet;
    *error = n == 0 ? QString(kind == Socket ? "the server closed the connection" : "the device hung up")
                    : QString(strerror(errno));
    return ByteLine::Failed;
}
