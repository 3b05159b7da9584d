#ifndef ROWFIELDS_H
#define ROWFIELDS_H

#include <QString>

#include <string_view>

// A reading row's time and values as text, each written and read back here.
namespace RowFields {

// "2026-12-08T02:40:57.985+01:00": ms since the epoch at an offset east of
// UTC in seconds ("Z" for none).
QString formatIsoTime(qint64 ms, int utcOffset);
// Any ISO 8601 time, local when it names no zone; the offset as written.
bool parseIsoTime(std::string_view text, qint64 *ms, int *utcOffset);

// Tenths as a decimal with one place: 215 is "21.5".
QString tenthsText(double tenths);
// A decimal such as -12.3 in tenths, rounded; false unless it is one in
// [lowest, highest].
bool parseTenths(std::string_view text, int lowest, int highest, int *tenths);

} // namespace RowFields

#endif // ROWFIELDS_H
