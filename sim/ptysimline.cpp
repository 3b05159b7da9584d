#include "ptysimline.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtySimLine::~PtySimLine()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

QString PtySimLine::open(int)
{
    char name[128] = {};
    struct termios raw;
    ::memset(&raw, 0, sizeof raw);
    ::cfmakeraw(&raw);
    if (::openpty(&m_master, &m_slave, name, &raw, nullptr) != 0) {
        setErrorString(QString::fromLocal8Bit(strerror(errno)));
        return QString();
    }
    // Our own slave descriptor stays open, so the terminal is not hung up
    // each time the master closes it.
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PtySimLine::readAll);
    return QString::fromLocal8Bit(name);
}

void PtySimLine::readAll()
{
    char chunk[512];
    ssize_t n;
    while ((n = ::read(m_master, chunk, sizeof chunk)) > 0)
        emit received(QByteArray(chunk, int(n)));
}

QString PtySimLine::write(const QByteArray &bytes)
{
    const ssize_t n = ::write(m_master, bytes.constData(), size_t(bytes.size()));
    if (n == bytes.size())
        return QString();
    return n < 0 ? QString::fromLocal8Bit(strerror(errno)) : QString("%1 of %2 bytes written").arg(n).arg(bytes.size());
}

// A request at another speed than a module's is garbage to it, as on a
// real line.
int PtySimLine::seenBaud() const
{
    struct termios line;
    if (m_slave < 0 || ::tcgetattr(m_slave, &line) != 0)
        return SpeedUnseen;
    static const QList<QPair<speed_t, int>> speeds = {
        {B1200, 1200}, {B2400, 2400}, {B4800, 4800}, {B9600, 9600}, {B19200, 19200},
        {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
    for (const auto &s : speeds) {
        if (s.first == cfgetospeed(&line))
            return s.second;
    }
    return 0;
}
