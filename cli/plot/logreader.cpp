#include "logreader.h"

#include "interrupt.h"
#include "readinglog.h"
#include "readingrow.h"

#include <climits>
#include <functional>

namespace {

// What a ModuleLog holds: tenths in 16 bits, the lowest taken for a miss.
const ReadingRow::Range Kept{ModuleLog::Missed + 1, SHRT_MAX};

} // namespace

bool LogReader::read(const QString &path)
{
    m_path = path == "-" ? QStringLiteral("standard input") : path;
    m_readable = 0;
    m_columns = CsvColumns();
    LineFile file([] { return Interrupt::signal() != 0; });
    using namespace std::placeholders;
    const bool ok = file.read(path, std::bind(&LogReader::line, this, _1, _2, _3));
    if (!ok && m_error.isEmpty())
        m_error = file.errorString();
    return ok;
}

// False only for a header the rows after it cannot be read by.
bool LogReader::line(int number, const QByteArray &text, LineFile::Trouble trouble)
{
    if (trouble != LineFile::None) {
        bad(number, LineFile::reason(trouble));
        return true;
    }
    if (text.isEmpty())
        return true;
    if (CsvColumns::isHeader(text)) {
        const QString missing = m_columns.takeHeader(text);
        if (!missing.isEmpty())
            m_error = QString("%1:%2: %3").arg(m_path).arg(number).arg(missing);
        return missing.isEmpty();
    }
    const QString reason = take(text);
    if (reason.isEmpty())
        ++m_readable;
    else
        bad(number, reason);
    return true;
}

void LogReader::bad(int number, const QString &reason)
{
    ++m_bad;
    if (m_named.size() < NamedBadRows)
        m_named << QString("%1:%2: %3").arg(m_path).arg(number).arg(reason);
}

QString LogReader::take(const QByteArray &line)
{
    ReadingRow row;
    const QString reason = line.startsWith('{') ? ReadingRow::readJson(line, &row, Kept)
                                                : ReadingRow::readCsv(line, &row, Kept, m_columns);
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
