#include "console.h"

#include "interrupt.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

bool Console::print(const QString &text)
{
    if (m_failed)
        return false;
    const QByteArray line = text.toUtf8() + '\n';
    errno = 0;
    if (fwrite(line.constData(), 1, size_t(line.size()), m_out) == size_t(line.size()) && fflush(m_out) == 0)
        return true;
    m_failed = true;
    if (!Interrupt::signal())
        complain(QString("cannot write to standard output: %1").arg(strerror(errno ? errno : EIO)));
    return false;
}

void Console::complain(const QString &message)
{
    fprintf(m_err, "morvane-cli: %s\n", qUtf8Printable(message));
}

void Console::hint(const QString &text)
{
    fprintf(m_err, "%s\n", qUtf8Printable(text));
}

void Console::progress(const QString &text)
{
    if (!isatty(fileno(m_out)) || !isatty(fileno(m_err)))
        return;
    fprintf(m_err, "\r%s\033[K", qUtf8Printable(text));
}
