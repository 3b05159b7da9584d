#ifndef SERIALLINE_H
#define SERIALLINE_H

#include "byteline.h"

#include <QElapsedTimer>
#include <QSerialPort>

// The line on a serial port. QSerialPort opens and sets it up (its errors
// say why a port cannot be opened); the waits poll the port's descriptor
// together with the interrupt's, so a signal ends them at once. A port that
// fails is closed, so that an adapter plugged back in gets its old name.
class SerialLine : public ByteLine
{
public:
    SerialLine();

    // At 8N1 and this speed; false with errorString() and openError().
    bool open(const QString &path, int baud);
    QSerialPort::SerialPortError openError() const { return m_openError; }

    bool write(const QByteArray &bytes) override;
    Wait read(int ms, QByteArray *bytes) override;
    bool setBaudRate(int baud) override;
    int baudRate() const override { return m_baud; }
    bool reopen() override { return open(m_path, m_baud); }
    QString errorString() const override { return m_error; }
    qint64 now() const override { return m_clock.elapsed(); }

private:
    bool fail(const QString &why);
    QString portError(const QString &otherwise) const;

    QSerialPort m_port;
    QString m_path;
    int m_baud = 9600;
    QString m_error;
    QSerialPort::SerialPortError m_openError = QSerialPort::NoError;
    QElapsedTimer m_clock;
};

#endif // SERIALLINE_H
