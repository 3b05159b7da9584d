#ifndef LOGREADER_H
#define LOGREADER_H

#include "csvcolumns.h"
#include "linefile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <climits>

class ReadingLog;

// Reads the rows morvane-cli read writes, CSV or JSON lines (mixed as they
// come), into a ReadingLog. A CSV header line names the columns of the rows
// after it. A row that cannot be read is skipped and counted; the first few
// are named as "FILE:LINE: reason". Rows outside [from, to] are left out and
// are not bad.
class LogReader
{
public:
    static constexpr int NamedBadRows = 5;

    LogReader(ReadingLog *log, qint64 from = LLONG_MIN, qint64 to = LLONG_MAX)
        : m_log(log), m_from(from), m_to(to) {}

    // A path, or "-" for standard input. False when it cannot be opened or
    // read (errorString() says why) or a signal came.
    bool read(const QString &path);
    int readableRows() const { return m_readable; }   // of the last file
    int badRows() const { return m_bad; }
    QStringList namedBadRows() const { return m_named; }
    QString errorString() const { return m_error; }

    // A row's reason for being bad, or an empty string when it went in.
    QString take(const QByteArray &line);

private:
    bool line(int number, const QByteArray &text, LineFile::Trouble trouble);
    void bad(int number, const QString &reason);

    ReadingLog *m_log;
    qint64 m_from, m_to;
    QString m_path;
    CsvColumns m_columns;
    int m_readable = 0;
    int m_bad = 0;
    QStringList m_named;
    QString m_error;
};

#endif // LOGREADER_H
