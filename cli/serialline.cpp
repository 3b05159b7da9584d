#include "serialline.h"

#include "interrupt.h"
#include "linetime.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {
// How long a port may refuse to take a request before it counts as failed.
const int WriteLimitMs = 2000;
}

SerialLine::SerialLine()
{
    m_clock.start();
}

bool SerialLine::open(const QString &path, int baud)
{
    m_path = path;
    m_baud = baud;
    m_port.close();
    m_port.setPortName(path);
    if (!m_port.open(QIODevice::ReadWrite)) {
        m_openError = m_port.error();
        return fail(portError("the system gives no reason"));
    }
    if (!m_port.setDataBits(QSerialPort::Data8) || !m_port.setParity(QSerialPort::NoParity)
        || !m_port.setStopBits(QSerialPort::OneStop) || !m_port.setFlowControl(QSerialPort::NoFlowControl)
        || !m_port.setBaudRate(baud)) {
        m_openError = m_port.error();
        return fail(portError(QString("it does not take 8N1 at %1 bit/s").arg(baud)));
    }
    m_openError = QSerialPort::NoError;
    m_error.clear();
    return true;
}

bool SerialLine::write(const QByteArray &bytes)
{
    if (!m_port.isOpen())
        return false;
    const qint64 giveUpAt = now() + WriteLimitMs + LineTime::wireMs(bytes.size(), m_baud);
    for (int done = 0; done < bytes.size();) {
        const ssize_t n = ::write(m_port.handle(), bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += int(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return fail(strerror(errno));
        if (Interrupt::signal())
            return true;
        if (now() >= giveUpAt)
            return fail(QString("the port took no bytes for %1 ms").arg(WriteLimitMs));
        struct pollfd fds[] = {{m_port.handle(), POLLOUT, 0}, {Interrupt::fd(), POLLIN, 0}};
        ::poll(fds, 2, int(giveUpAt - now()));
    }
    return true;
}

ByteLine::Wait SerialLine::read(int ms, QByteArray *bytes)
{
    const int port = m_port.isOpen() ? m_port.handle() : -1;
    struct pollfd fds[] = {{Interrupt::fd(), POLLIN, 0}, {port, POLLIN, 0}};
    const int ready = ::poll(fds, 2, qMax(0, ms));
    if (Interrupt::signal())
        return Interrupted;
    if (port < 0)
        return Failed;
    if (ready < 0 && errno == EINTR)
        return Quiet;
    if (ready < 0) {
        fail(strerror(errno));
        return Failed;
    }
    if (fds[1].revents == 0)
        return Quiet;
    char chunk[512];
    const ssize_t n = ::read(port, chunk, sizeof chunk);
    if (n > 0) {
        *bytes = QByteArray(chunk, int(n));
        return Bytes;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return Quiet;
    fail(n == 0 ? QString("the device hung up") : QString(strerror(errno)));
    return Failed;
}

bool SerialLine::setBaudRate(int baud)
{
    if (!m_port.isOpen())
        return false;
    if (!m_port.setBaudRate(baud))
        return fail(portError(QString("it does not take %1 bit/s").arg(baud)));
    m_baud = baud;
    return true;
}

bool SerialLine::fail(const QString &why)
{
    m_error = why;
    m_port.close();
    return false;
}

// QSerialPort's reason, or this when it has none to give.
QString SerialLine::portError(const QString &otherwise) const
{
    const QString why = m_port.errorString();
    return why.isEmpty() || why == "Unknown error" || why == "No error" ? otherwise : why;
}
