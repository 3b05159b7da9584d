#ifndef MODBUSMASTER_H
#define MODBUSMASTER_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QString>

// One serial line and the request-reply exchange on it, blocking: send a
// request, take the first reply that belongs to it, retry what was lost or
// damaged.
class ModbusMaster
{
public:
    enum Result { Answered, NoAnswer, Refused };

    int timeoutMs = 500;
    int retries = 2;
    bool verbose = false;

    // Opens the port (a path, or a short name such as ttyUSB0) at 8N1.
    bool open(const QString &port, int baud, QString *error);
    bool setBaudRate(int baud);
    int baudRate() const { return m_port.baudRate(); }

    // Sends the request and waits for its answer. A reply from another
    // address (any address for a request to address 0) or for another
    // function is not the answer; an exception reply is Refused, with its
    // code in exceptionCode().
    Result exchange(const QByteArray &request, QByteArray *reply);
    int exceptionCode() const { return m_exception; }

private:
    // One request and the wait for its answer; false when none came whole.
    bool attempt(const QByteArray &request, QByteArray *reply);
    QByteArray readFrame(const QElapsedTimer &clock, qint64 deadline);
    void trace(const char *direction, const QByteArray &frame) const;

    QSerialPort m_port;
    int m_exception = 0;
};

#endif // MODBUSMASTER_H
