#ifndef CSVCOLUMNS_H
#define CSVCOLUMNS_H

#include <QByteArray>
#include <QString>
#include <QVector>

#include <string_view>

// Where a reading row's fields are in a CSV line: as read writes them (six
// fields, nothing more), or where a header line names them, in any order,
// with any other column (a note added in a spreadsheet) ignored.
class CsvColumns
{
public:
    enum Field { Time, Address, Temperature, Humidity, DewPoint, Status, Fields };

    CsvColumns();   // read's own layout

    // A line naming the columns "time" and "address".
    static bool isHeader(const QByteArray &line);
    // The layout a header names: an empty string, or the columns it lacks.
    QString takeHeader(const QByteArray &line);

    // The wanted fields of a line, quoted ones with their quotes: an empty
    // string, or why the line has none.
    QString split(const QByteArray &line, std::string_view (&fields)[Fields]) const;

private:
    QVector<int> m_role;   // by column: the Field it holds, or -1
    bool m_headed = false;
};

#endif // CSVCOLUMNS_H
