#ifndef WINSERIALLINE_H
#define WINSERIALLINE_H

#include "byteline.h"

#include <QElapsedTimer>
#include <QSerialPort>

// The line on a Windows COM port (COM5, \\.\COM12), through the system's
// own calls: every read and write is overlapped and waited for together
// with the interrupt's event, so Ctrl-C or closing the console ends it at
// once. (Qt Serial Port's reads wait for a comm event, which Wine does not
// deliver on a mapped pseudo-terminal.) A port that fails is closed.
class WinSerialLine : public ByteLine
{
public:
    WinSerialLine();
    ~WinSerialLine() override;

    // At 8N1 and this speed; false with errorString() and openError(),
    // classed as QSerialPort does.
    bool open(const QString &name, int baud);
    QSerialPort::SerialPortError openError() const { return m_openError; }

    bool write(const QByteArray &bytes) override;
    Wait read(int ms, QByteArray *bytes) override;
    bool setBaudRate(int baud) override;
    int baudRate() const override { return m_baud; }
    bool reopen() override { return open(m_name, m_baud); }
    QString errorString() const override { return m_error; }
    qint64 now() const override { return m_clock.elapsed(); }

private:
    bool configure(int baud);
    bool transfer(bool reading, char *data, int size, int ms, unsigned long *done);
    bool fail(const QString &why);
    void close();

    void *m_handle;           // the port's HANDLE, or INVALID_HANDLE_VALUE
    void *m_done = nullptr;   // the event an overlapped transfer sets
    QString m_name;
    int m_baud = 9600;
    QString m_error;
    QSerialPort::SerialPortError m_openError = QSerialPort::NoError;
    QElapsedTimer m_clock;
};

#endif // WINSERIALLINE_H
