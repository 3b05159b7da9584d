#include "tcpsimline.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <poll.h>

TcpSimLine::TcpSimLine(const QHostAddress &host, quint16 port, QObject *parent)
    : SimLine(parent)
    , m_host(host)
    , m_port(port)
{
}

QString TcpSimLine::open(int)
{
    m_listener = new QTcpServer(this);
    if (!m_listener->listen(m_host, m_port)) {
        setErrorString(m_listener->errorString());
        return QString();
    }
    connect(m_listener, &QTcpServer::newConnection, this, &TcpSimLine::acceptConnection);
    const QHostAddress bound = m_listener->serverAddress();
    const QString name = bound.protocol() == QAbstractSocket::IPv6Protocol ? "[" + bound.toString() + "]" : bound.toString();
    return QString("tcp://%1:%2").arg(name).arg(m_listener->serverPort());
}

// One master at a time: another is closed at once rather than left waiting
// for its turn.
void TcpSimLine::acceptConnection()
{
    while (QTcpSocket *socket = m_listener->nextPendingConnection()) {
        const QString peer = QString("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
        if (m_connection && connectionGone())
            closeConnection();
        if (m_connection) {
            emit connectionRefused(peer);
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_connection = socket;
        // Bytes go on as the line gives them, as a device server passes
        // them: never held back waiting for the master's acknowledgement.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        emit connectionOpened(peer);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { emit received(socket->readAll()); });
        connect(socket, &QTcpSocket::disconnected, this, &TcpSimLine::closeConnection);
    }
}

// A master that closed and came straight back may be here before its close
// has been seen.
bool TcpSimLine::connectionGone() const
{
    struct pollfd peer = {int(m_connection->socketDescriptor()), POLLRDHUP, 0};
    return ::poll(&peer, 1, 0) == 1 && (peer.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

void TcpSimLine::closeConnection()
{
    m_connection->disconnect(this);
    m_connection->deleteLater();
    m_connection = nullptr;
    emit connectionClosed();
}

QString TcpSimLine::write(const QByteArray &bytes)
{
    if (!m_connection)
        return QString();   // nobody to hear it
    return writeQueued(m_connection, bytes);
}
