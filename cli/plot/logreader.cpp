#include "logreader.h"

#include "interrupt.h"
#include "modbusframe.h"
#include "readinglog.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

const int ChunkBytes = 1 << 16;
const int MaxLineBytes = 4096;
const char Header[] = "time,address,temperature_c,humidity_rh,dew_point_c,status";
const char *const ValueNames[ModuleLog::Quantities] = {"temperature", "humidity", "dew point"};

bool digits(const char *p, int count, int *value)
{
    int v = 0;
    for (int i = 0; i < count; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return false;
        v = v * 10 + (p[i] - '0');
    }
    *value = v;
    return true;
}

// The days from 1970-01-01 to a date of the proleptic Gregorian calendar.
qint64 daysFromCivil(int y, int m, int d)
{
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return qint64(era) * 146097 + doe - 719468;
}

// "2026-12-08T01:40:57.985Z", as the CLI writes it, read without building
// a QDateTime for each of a million rows; other ISO forms take the long way.
bool isoTime(const QByteArray &text, qint64 *ms)
{
    const char *p = text.constData();
    int y, mo, d, h, mi, s, frac = 0;
    if (text.size() == 24 && p[4] == '-' && p[7] == '-' && p[10] == 'T' && p[13] == ':' && p[16] == ':'
        && p[19] == '.' && p[23] == 'Z' && digits(p, 4, &y) && digits(p + 5, 2, &mo) && digits(p + 8, 2, &d)
        && digits(p + 11, 2, &h) && digits(p + 14, 2, &mi) && digits(p + 17, 2, &s) && digits(p + 20, 3, &frac)
        && QDate::isValid(y, mo, d) && h < 24 && mi < 60 && s < 61) {
        *ms = ((daysFromCivil(y, mo, d) * 24 + h) * 60 + mi) * 60000LL + s * 1000LL + frac;
        return true;
    }
    const QDateTime time = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs);
    if (!time.isValid())
        return false;
    *ms = time.toMSecsSinceEpoch();
    return true;
}

// A decimal such as -12.3 in tenths, rounded.
bool tenths(const QByteArray &text, qint16 *value)
{
    const char *p = text.constData();
    const char *end = p + text.size();
    const bool negative = p < end && *p == '-';
    p += negative;
    double v = 0;
    const char *start = p;
    while (p < end && *p >= '0' && *p <= '9')
        v = v * 10 + (*p++ - '0');
    if (p == start)
        return false;
    if (p < end && *p == '.') {
        ++p;
        double scale = 0.1;
        if (p == end)
            return false;
        while (p < end && *p >= '0' && *p <= '9') {
            v += (*p++ - '0') * scale;
            scale /= 10;
        }
    }
    const long rounded = std::lround((negative ? -v : v) * 10);
    if (p != end || rounded <= ModuleLog::Missed || rounded > SHRT_MAX)
        return false;
    *value = qint16(rounded);
    return true;
}

QByteArray unquoted(const QByteArray &field, bool *ok)
{
    *ok = true;
    if (!field.startsWith('"'))
        return field;
    *ok = field.size() >= 2 && field.endsWith('"');
    return field.mid(1, field.size() - 2).replace("\"\"", "\"");
}

// The CSV fields of a row; the last may be quoted and hold commas.
QList<QByteArray> csvFields(const QByteArray &line)
{
    QList<QByteArray> fields;
    int from = 0;
    while (fields.size() < 5) {
        const int comma = line.indexOf(',', from);
        if (comma < 0)
            break;
        fields << QByteArray::fromRawData(line.constData() + from, comma - from);
        from = comma + 1;
    }
    fields << QByteArray::fromRawData(line.constData() + from, line.size() - from);
    return fields;
}

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
    if (row.isEmpty() || row == Header)
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
    return line.startsWith('{') ? takeJson(line) : takeCsv(line);
}

QString LogReader::takeCsv(const QByteArray &line)
{
    const QList<QByteArray> fields = csvFields(line);
    if (fields.size() != 6)
        return "not a row of morvane-cli read: 6 fields, CSV or a JSON object";
    qint64 time = 0;
    if (!isoTime(fields[0], &time))
        return "the time is not an ISO 8601 time: " + QString::fromUtf8(fields[0]);
    bool ok = false;
    const int address = fields[1].toInt(&ok);
    if (!ok)
        return "the address is not a number: " + QString::fromUtf8(fields[1]);
    const QByteArray status = unquoted(fields[5], &ok);
    if (!ok)
        return "the status has an open quote";
    const QByteArray values[3] = {fields[2], fields[3], fields[4]};
    return add(time, address, status, values);
}

QString LogReader::takeJson(const QByteArray &line)
{
    QJsonParseError error;
    const QJsonObject row = QJsonDocument::fromJson(line, &error).object();
    if (error.error != QJsonParseError::NoError)
        return "not JSON: " + error.errorString();
    qint64 time = 0;
    if (!isoTime(row.value("time").toString().toLatin1(), &time))
        return "the time is not an ISO 8601 time";
    if (!row.value("address").isDouble())
        return "the address is not a number";
    QByteArray values[3];
    const char *const keys[3] = {"temperature", "humidity", "dew_point"};
    for (int q = 0; q < 3; ++q) {
        const QJsonValue value = row.value(keys[q]);
        if (value.isDouble())
            values[q] = QByteArray::number(value.toDouble(), 'f', 2);
    }
    return add(time, row.value("address").toInt(), row.value("status").toString().toUtf8(), values);
}

QString LogReader::add(qint64 time, int address, const QByteArray &status, const QByteArray (&values)[3])
{
    if (address < ModbusFrame::MinAddress || address > ModbusFrame::MaxAddress)
        return QString("the address is %1 to %2, not %3").arg(ModbusFrame::MinAddress).arg(ModbusFrame::MaxAddress).arg(address);
    if (status.isEmpty())
        return "the status is empty";
    qint16 tenth[ModuleLog::Quantities] = {ModuleLog::Missed, ModuleLog::Missed, ModuleLog::Missed};
    if (status == "ok") {
        for (int q = 0; q < ModuleLog::Quantities; ++q) {
            if (!tenths(values[q], &tenth[q]))
                return QString("the %1 is not a number: %2").arg(ValueNames[q], QString::fromUtf8(values[q]));
        }
    }
    if (time >= m_from && time <= m_to)
        m_log->add(address, time, tenth);
    return QString();
}
