#ifndef PORTNAME_H
#define PORTNAME_H

#include <QString>

// What --port names: a serial port, by path or by a short name such as
// ttyUSB0 under /dev, or a serial device server at tcp://HOST:PORT.
class PortName
{
public:
    static constexpr int MaxTcpPort = 65535;

    // An error naming the allowed forms, or an empty string.
    static QString parse(const QString &given, PortName *port);
    static bool isTcp(const QString &text);

    bool isTcp() const { return !m_host.isEmpty(); }
    QString text() const { return m_text; }   // the path, or the URL as given
    QString host() const { return m_host; }   // TCP: a name, or an address without []
    int tcpPort() const { return m_tcpPort; }

private:
    QString m_text;
    QString m_host;
    int m_tcpPort = 0;
};

#endif // PORTNAME_H
