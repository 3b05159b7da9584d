#ifndef READINGROW_H
#define READINGROW_H

#include "csvcolumns.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <climits>
#include <optional>

// One row of morvane-cli read: a module's reading at a time, or its miss
// and why. Written as text, CSV, a JSON line or an InfluxDB line, and read
// back from CSV or JSON by the same code, so a log read wrote is one plot
// reads. find --scan's rows are the same without the time, with the speed.
struct ReadingRow
{
    enum Quantity { Temperature, Humidity, DewPoint, Quantities };
    struct Range { int lowest, highest; };   // in tenths
    static constexpr Range RegisterRange{SHRT_MIN, USHRT_MAX};   // what a module can report
    static constexpr char CsvHeader[] = "time,address,temperature_c,humidity_rh,dew_point_c,status";
    static constexpr char ScanCsvHeader[] = "address,baud,temperature_c,humidity_rh,dew_point_c,status";

    qint64 time = 0;     // ms since the epoch
    int utcOffset = 0;   // seconds east of UTC, as the time is written
    int address = 0;
    QString status;      // "ok", or why there is no reading
    std::optional<int> tenths[Quantities];   // none in a miss

    bool ok() const { return status == QLatin1String("ok"); }
    // ok, no answer, port lost: REASON, or a Modbus exception's name.
    static bool knownStatus(const QString &status);
    // At that moment, written with its offset from UTC (the local one for a local time).
    void setTime(const QDateTime &at);

    // "address N: " leads when several modules are read, and on a miss.
    QString textLine(bool several) const;
    QString csvLine() const;
    QString jsonLine() const;
    QString influxLine() const;
    // No speed behind a device server: it is the server's.
    QString scanCsvLine(std::optional<int> baud) const;
    QString scanJsonLine(std::optional<int> baud) const;

    // A CSV row or a JSON line into *row: an empty string, or the reason it
    // is no row. Values of an "ok" row outside range are not numbers to it;
    // a status the CLI does not write makes no row, never a miss.
    static QString readCsv(const QByteArray &line, ReadingRow *row, Range range = RegisterRange,
                           const CsvColumns &columns = CsvColumns());
    static QString readJson(const QByteArray &line, ReadingRow *row, Range range = RegisterRange);
};

#endif // READINGROW_H
