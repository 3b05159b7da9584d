#include "modbusmaster.h"

#include "modbusframe.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <cstdio>

bool ModbusMaster::open(const QString &port, int baud, QString *error)
{
    m_port.setPortName(port);
    if (!m_port.open(QIODevice::ReadWrite)) {
        *error = m_port.errorString();
        return false;
    }
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    return setBaudRate(baud);
}

bool ModbusMaster::setBaudRate(int baud)
{
    return m_port.setBaudRate(baud);
}

ModbusMaster::Result ModbusMaster::exchange(const QByteArray &request, QByteArray *reply)
{
    for (int i = 0; i <= retries; ++i) {
        if (!attempt(request, reply))
            continue;
        if (quint8(reply->at(1)) & 0x80) {
            m_exception = quint8(reply->at(2));
            return Refused;
        }
        return Answered;
    }
    return NoAnswer;
}

bool ModbusMaster::attempt(const QByteArray &request, QByteArray *reply)
{
    // Whatever is left of an earlier exchange is not this one's answer.
    m_port.waitForReadyRead(0);
    m_port.readAll();
    m_port.clear(QSerialPort::Input);

    m_port.write(request);
    m_port.waitForBytesWritten(1000);
    trace("TX", request);

    // The time the request takes on the wire, then the time the module has.
    QElapsedTimer clock;
    clock.start();
    const qint64 deadline = request.size() * 11000 / qMax(1, baudRate()) + timeoutMs;
    while (clock.elapsed() < deadline) {
        const QByteArray frame = readFrame(clock, deadline);
        if (frame.isEmpty())
            break;
        if (!ModbusFrame::crcMatches(frame))
            continue;   // damaged: perhaps the answer is still to come
        const quint8 slave = quint8(request.at(0));
        const quint8 function = quint8(frame.at(1)) & 0x7F;
        if ((slave != 0 && quint8(frame.at(0)) != slave) || function != quint8(request.at(1)))
            continue;
        trace("RX", frame);
        *reply = frame;
        return true;
    }
    return false;
}

// One frame: ended by its known length or by 3.5 characters of silence
// (at least 30 ms, which a USB adapter may hold bytes back for), and never
// read past the deadline.
QByteArray ModbusMaster::readFrame(const QElapsedTimer &clock, qint64 deadline)
{
    const int silenceMs = qMax(30, 38500 / qMax(1, baudRate()));
    QByteArray frame;
    while (true) {
        const int length = ModbusFrame::replyLength(frame);
        if (length > 0 && frame.size() >= length)
            return frame;
        const qint64 left = deadline - clock.elapsed();
        if (m_port.bytesAvailable() == 0
            && (left <= 0 || !m_port.waitForReadyRead(int(frame.isEmpty() ? left : qMin<qint64>(left, silenceMs)))))
            return frame;
        frame += m_port.read(length > 0 ? length - frame.size() : 1);
    }
}

void ModbusMaster::trace(const char *direction, const QByteArray &frame) const
{
    if (!verbose)
        return;
    // The same form as the window's traffic log.
    fprintf(stderr, "%s->%s  %s\n", qPrintable(QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss")),
            direction, frame.toHex().constData());
}
