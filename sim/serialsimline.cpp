#include "serialsimline.h"

#include <QSerialPort>

#include <poll.h>

namespace {
const int HangUpCheckMs = 500;
}

SerialSimLine::SerialSimLine(const QString &path, QObject *parent)
    : SimLine(parent)
    , m_path(path)
    , m_port(new QSerialPort(path, this))
{
    connect(&m_hangUpCheck, &QTimer::timeout, this, &SerialSimLine::checkHangUp);
}

QString SerialSimLine::open(int baud)
{
    if (!m_port->open(QIODevice::ReadWrite) || !m_port->setBaudRate(baud)
        || !m_port->setDataBits(QSerialPort::Data8) || !m_port->setParity(QSerialPort::NoParity)
        || !m_port->setStopBits(QSerialPort::OneStop) || !m_port->setFlowControl(QSerialPort::NoFlowControl)) {
        setErrorString(m_port->errorString());
        return QString();
    }
    connect(m_port, &QSerialPort::readyRead, this, [this] { emit received(m_port->readAll()); });
    connect(m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        if (error == QSerialPort::ResourceError)
            fail(m_port->errorString());
    });
    m_hangUpCheck.start(HangUpCheckMs);
    return m_path;
}

QString SerialSimLine::write(const QByteArray &bytes)
{
    return writeQueued(m_port, bytes);
}

void SerialSimLine::setBaudRate(int baud)
{
    m_port->setBaudRate(baud);
}

// A device that goes away may hang up without an error Qt reports: a
// pseudo-terminal whose other end closed reads end-of-file, again and again.
void SerialSimLine::checkHangUp()
{
    struct pollfd line = {int(m_port->handle()), 0, 0};
    if (::poll(&line, 1, 0) == 1 && (line.revents & (POLLHUP | POLLERR | POLLNVAL)))
        fail("the line hung up");
}

void SerialSimLine::fail(const QString &reason)
{
    m_hangUpCheck.stop();
    m_port->close();
    emit failed(reason);
}
