#include "rowfields.h"

#include <QDateTime>

#include <cmath>

namespace {

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

} // namespace

namespace RowFields {

QString formatIsoTime(qint64 ms, int utcOffset)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, utcOffset).toString(Qt::ISODateWithMs);
}

// "2026-12-08T01:40:57.985Z", as the CLI writes it in UTC, is read without
// building a QDateTime for each of a million rows; other forms take the
// long way.
bool parseIsoTime(std::string_view text, qint64 *ms, int *utcOffset)
{
    const char *p = text.data();
    int y, mo, d, h, mi, s, frac = 0;
    if (text.size() == 24 && p[4] == '-' && p[7] == '-' && p[10] == 'T' && p[13] == ':' && p[16] == ':'
        && p[19] == '.' && p[23] == 'Z' && digits(p, 4, &y) && digits(p + 5, 2, &mo) && digits(p + 8, 2, &d)
        && digits(p + 11, 2, &h) && digits(p + 14, 2, &mi) && digits(p + 17, 2, &s) && digits(p + 20, 3, &frac)
        && QDate::isValid(y, mo, d) && h < 24 && mi < 60 && s < 61) {
        *ms = ((daysFromCivil(y, mo, d) * 24 + h) * 60 + mi) * 60000LL + s * 1000LL + frac;
        *utcOffset = 0;
        return true;
    }
    const QDateTime time = QDateTime::fromString(QString::fromLatin1(p, int(text.size())), Qt::ISODateWithMs);
    if (!time.isValid())
        return false;
    *ms = time.toMSecsSinceEpoch();
    *utcOffset = time.offsetFromUtc();
    return true;
}

QString tenthsText(double tenths)
{
    return QString::number(tenths / 10.0, 'f', 1);
}

bool parseTenths(std::string_view text, int lowest, int highest, int *tenths)
{
    const char *p = text.data();
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
    const double scaled = (negative ? -v : v) * 10;
    if (p != end || !(scaled > lowest - 1.0 && scaled < highest + 1.0))
        return false;
    const long rounded = std::lround(scaled);
    if (rounded < lowest || rounded > highest)
        return false;
    *tenths = int(rounded);
    return true;
}

} // namespace RowFields
