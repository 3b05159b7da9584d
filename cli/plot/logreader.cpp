#include "logreader.h"

#include "interrupt.h"
#include "readinglog.h"
#include "readingrow.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

const int ChunkBytes = 1 << 16;
const int MaxLineBytes = 4096;
// What a ModuleLog holds: tenths in 16 bits, the lowest taken for a miss.
const ReadingRow::Range Kept{ModuleLog::Missed + 1, SHRT_MAX};

} // namespace

bool LogReader::read(const QString &path)
{
    m_path = path == "-" ? QStringLiteral("standard input") : path;
    m_lineNumber = 0;
    m_readable = 0;
    if (path == "-")
        return readFrom(STDIN_FILENO);
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        m_error = QString("cannot open %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    const bool ok = readFrom(fd);
    ::close(fd);
    return ok;
}

// Plain read(2): a signal ends the wait on a pipe at once.
bool LogReader::readFrom(int fd)
{
    QByteArray pending;
    std::vector<char> chunk(ChunkBytes);
    for (;;) {
        const ssize_t n = ::read(fd, chunk.data(), ChunkBytes);
        if (Interrupt::signal())
            return false;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            m_error = QString("cannot read %1: %2").arg(m_path, QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
        if (n == 0)
            break;
        pending.append(chunk.data(), int(n));
        int from = 0;
        for (int newline; (newline = pending.indexOf('\n', from)) >= 0; from = newline + 1)
            line(QByteArray::fromRawData(pending.constData() + from, newline - from));
        pending.remove(0, from);
        if (pending.size() > MaxLineBytes) {
            line(pending);   // named as too long, the rest of it skipped
            pending.clear();
        }
    }
    if (!pending.isEmpty())
        line(pending);
    return true;
}

void LogReader::line(const QByteArray &text)
{
    ++m_lineNumber;
    const QByteArray row = text.endsWith('\r') ? text.left(text.size() - 1) : text;
    if (row.isEmpty() || row == ReadingRow::CsvHeader)
        return;
    const QString reason = row.size() > MaxLineBytes ? QString("longer than %1 bytes").arg(MaxLineBytes) : take(row);
    if (reason.isEmpty()) {
        ++m_readable;
        return;
    }
    ++m_bad;
    if (m_named.size() < NamedBadRows)
        m_named << QString("%1:%2: %3").arg(m_path).arg(m_lineNumber).arg(reason);
}

QString LogReader::take(const QByteArray &line)
{
    ReadingRow row;
    const QString reason = line.startsWith('{') ? ReadingRow::readJson(line, &row, Kept) : ReadingRow::readCsv(line, &row, Kept);
    if (!reason.isEmpty())
        return reason;
    if (row.time < m_from || row.time > m_to)
        return QString();
    qint16 tenths[ModuleLog::Quantities];
    for (int q = 0; q < ModuleLog::Quantities; ++q)
        tenths[q] = row.tenths[q] ? qint16(*row.tenths[q]) : ModuleLog::Missed;
    m_log->add(row.address, row.time, tenths);
    return QString();
}
