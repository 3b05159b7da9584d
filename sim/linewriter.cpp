#include "linewriter.h"

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <poll.h>
#include <unistd.h>
#endif

void LineWriter::print(const QString &line)
{
    QByteArray bytes = line.toLocal8Bit() + '\n';
    if (m_dropped > 0)
        bytes.prepend(QString("morvane-sim: %1 lines not shown, nobody was reading\n").arg(m_dropped).toLocal8Bit());
#ifdef Q_OS_WIN
    // Windows cannot tell whether a pipe has room: the line is written, and
    // a reader that stops reading holds the simulator up. A reader that is
    // gone fails the write, and the line is counted.
    const bool written = ::_write(m_fd, bytes.constData(), unsigned(bytes.size())) == bytes.size();
#else
    // A reader with room for one more buffer takes a line this short
    // whole: the write does not wait. A reader that is gone gets the write
    // all the same, and with it the usual SIGPIPE.
    struct pollfd room = {m_fd, POLLOUT, 0};
    const bool written = ::poll(&room, 1, 0) == 1 && (room.revents & (POLLOUT | POLLERR))
                         && ::write(m_fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
#endif
    if (written)
        m_dropped = 0;
    else
        ++m_dropped;
}
