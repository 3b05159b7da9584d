#ifndef READINGLOG_H
#define READINGLOG_H

#include "modulelog.h"

#include <QList>

// The readings of every module in a log, one ModuleLog per address.
class ReadingLog
{
public:
    ReadingLog();

    void add(int address, qint64 time, const qint16 (&values)[ModuleLog::Quantities]);
    void finish();   // sorts each module's readings; call once all are in

    const QList<ModuleLog> &modules() const { return m_modules; }
    int readings() const;
    int misses() const;
    qint64 start() const;
    qint64 end() const;

    // The readings' span less those far from the rest (a module whose clock
    // was reset reports 1970), and the first of those left out.
    struct Span
    {
        qint64 start, end;
        int far = 0;
        qint64 firstFar = 0;
        int farAddress = 0;
    };
    Span span() const;

private:
    QList<ModuleLog> m_modules;
    QVector<int> m_index;   // by address: its place in m_modules, or -1
};

#endif // READINGLOG_H
