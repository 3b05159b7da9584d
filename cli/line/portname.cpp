#include "portname.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace {
const char TcpScheme[] = "tcp://";
}

bool PortName::isTcp(const QString &text)
{
    return text.startsWith(TcpScheme);
}

QString PortName::parse(const QString &given, PortName *port)
{
    *port = PortName();
    if (!isTcp(given)) {
#ifdef Q_OS_WIN
        // COM5, \\.\COM12: the system's own names, taken as given.
        if (given.isEmpty())
            return "--port takes a port's name, such as COM5; it is empty";
        port->m_text = given;
#else
        if (given.isEmpty())
            return "--port takes a path, or a name such as ttyUSB0; it is empty";
        // A path that exists is taken as given, relative ones too; a short
        // name is looked for under /dev/.
        const QFileInfo file(given);
        port->m_text = file.exists() || file.isAbsolute() || given.contains('/') ? file.absoluteFilePath() : "/dev/" + given;
#endif
        return QString();
    }
    static const QRegularExpression form("^tcp://(\\[[^\\]]+\\]|[^:/\\[\\]]+):(\\d{1,9})$");
    const QRegularExpressionMatch m = form.match(given);
    const QString usage = QString("--port takes tcp://HOST:PORT, PORT 1 to %1, not %2").arg(MaxTcpPort).arg(given);
    const int number = m.captured(2).toInt();
    if (!m.hasMatch() || number < 1 || number > MaxTcpPort)
        return usage;
    port->m_text = given;
    port->m_host = m.captured(1);
    if (port->m_host.startsWith('['))
        port->m_host = port->m_host.mid(1, port->m_host.size() - 2);
    port->m_tcpPort = number;
    return QString();
}
