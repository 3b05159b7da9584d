#ifndef TCPSIMLINE_H
#define TCPSIMLINE_H

#include "simline.h"

#include <QHostAddress>

class QTcpServer;
class QTcpSocket;

// The line behind a TCP listener, as a serial device server set to one
// connection serves it. The line's speed is the server's: it stays when a
// module changes its own.
class TcpSimLine : public SimLine
{
    Q_OBJECT

public:
    TcpSimLine(const QHostAddress &host, quint16 port, QObject *parent = nullptr);

    // Returns "tcp://HOST:PORT" as bound.
    QString open(int baud) override;
    QString write(const QByteArray &bytes) override;
    bool followsModuleSpeed() const override { return false; }

private:
    void acceptConnection();
    bool connectionGone() const;
    void closeConnection();

    QHostAddress m_host;
    quint16 m_port;
    QTcpServer *m_listener = nullptr;
    QTcpSocket *m_connection = nullptr;
};

#endif // TCPSIMLINE_H
