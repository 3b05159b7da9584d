#include "serialline.h"

#include "descriptorio.h"
#include "linetime.h"

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
    const QString why = DescriptorIo::writeAll(m_port.handle(), DescriptorIo::Device, bytes,
                                               WriteLimitMs + LineTime::wireMs(bytes.size(), m_baud));
    return why.isEmpty() || fail(why);
}

ByteLine::Wait SerialLine::read(int ms, QByteArray *bytes)
{
    QString why;
    const Wait wait = DescriptorIo::read(m_port.isOpen() ? m_port.handle() : -1, DescriptorIo::Device, ms, bytes, &why);
    if (!why.isEmpty())
        fail(why);
    return wait;
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
