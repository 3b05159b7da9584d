#ifndef WINTCPLINE_H
#define WINTCPLINE_H

#include "byteline.h"
#include "portname.h"

#include <QElapsedTimer>

// TcpLine's Windows side, through Winsock: the RTU frames to a serial device
// server at tcp://HOST:PORT. The name is looked up on a thread of its own
// and every wait watches the socket's event together with the interrupt's,
// so Ctrl-C or closing the console ends any of them at once. A connection
// that drops is a port lost, and reopen() connects again.
class WinTcpLine : public ByteLine
{
public:
    WinTcpLine();
    ~WinTcpLine() override;

    static constexpr int ConnectLimitMs = 5000;
    static constexpr int SilenceFloorMs = 100;
    bool open(const PortName &port, int baud);

    bool write(const QByteArray &bytes) override;
    Wait read(int ms, QByteArray *bytes) override;
    bool setBaudRate(int baud) override { m_baud = baud; return connected(); }
    int baudRate() const override { return m_baud; }
    bool reopen() override { return open(m_port, m_baud); }
    QString errorString() const override { return m_error; }
    qint64 now() const override { return m_clock.elapsed(); }
    int silenceFloorMs() const override { return SilenceFloorMs; }

private:
    bool connected() const;
    bool connectTo(const QString &host, int port);
    bool connectOne(const void *address, QString *why);
    bool waitFor(long event, int ms, int *error);
    bool fail(const QString &why);
    void close();

    quintptr m_socket;          // a SOCKET, INVALID_SOCKET when none
    void *m_event = nullptr;    // the socket's network events set it
    PortName m_port;
    int m_baud = 9600;
    QString m_error;
    QElapsedTimer m_clock;
};

#endif // WINTCPLINE_H
