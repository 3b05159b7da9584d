#ifndef TCPLINE_H
#define TCPLINE_H

#include "byteline.h"
#include "portname.h"

#include <QElapsedTimer>

// The line behind a serial device server: the RTU frames as they are, check
// values and all, through a TCP connection to tcp://HOST:PORT (RTU over TCP,
// not Modbus TCP's MBAP header). The server sets its line's speed; the speed
// kept here only times the frames. A connection that drops is a port lost,
// and reopen() connects again.
class TcpLine : public ByteLine
{
public:
    TcpLine();
    ~TcpLine() override;

    static constexpr int ConnectLimitMs = 5000;
    // The network and the device server pass bytes on in batches, further
    // apart than a USB adapter does.
    static constexpr int SilenceFloorMs = 100;
    bool open(const PortName &port, int baud);

    bool write(const QByteArray &bytes) override;
    Wait read(int ms, QByteArray *bytes) override;
    bool setBaudRate(int baud) override { m_baud = baud; return m_fd >= 0; }
    int baudRate() const override { return m_baud; }
    bool reopen() override { return open(m_port, m_baud); }
    QString errorString() const override { return m_error; }
    qint64 now() const override { return m_clock.elapsed(); }
    int silenceFloorMs() const override { return SilenceFloorMs; }

private:
    bool connectTo(const QString &host, int port);
    bool fail(const QString &why);
    void close();

    int m_fd = -1;
    PortName m_port;
    int m_baud = 9600;
    QString m_error;
    QElapsedTimer m_clock;
};

#endif // TCPLINE_H
