#include "console.h"

#include "interrupt.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {
const char ClearLine[] = "\r\033[K";
}

Console::Console(FILE *out, FILE *err) : m_out(out), m_err(err), m_terminal(isatty(fileno(err)))
{
    m_quiet.start();
}

Console::~Console()
{
    endProgress();
}

bool Console::print(const QString &text)
{
    if (m_failed)
        return false;
    endProgress();
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
    endProgress();
    fprintf(m_err, "morvane-cli: %s\n", qUtf8Printable(message));
}

void Console::hint(const QString &text)
{
    endProgress();
    fprintf(m_err, "%s\n", qUtf8Printable(text));
}

void Console::progress(const QString &text)
{
    m_progress = text;
    if (text.isEmpty())
        endProgress();
    else if (m_progressShown || progressDueMs() == 0)
        drawProgress();
}

int Console::progressDueMs() const
{
    if (!m_terminal || m_progress.isEmpty() || m_progressShown)
        return -1;
    return int(qMax<qint64>(0, ProgressDelayMs - m_quiet.elapsed()));
}

void Console::showDueProgress()
{
    if (progressDueMs() == 0)
        drawProgress();
}

void Console::drawProgress()
{
    fprintf(m_err, "%s%s", ClearLine, qUtf8Printable(m_progress));
    fflush(m_err);
    m_progressShown = true;
}

// What is shown goes, and the quiet starts again.
void Console::endProgress()
{
    if (m_progressShown)
        fprintf(m_err, "%s", ClearLine);
    m_progressShown = false;
    m_progress.clear();
    m_quiet.start();
}
