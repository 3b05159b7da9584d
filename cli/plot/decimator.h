#ifndef DECIMATOR_H
#define DECIMATOR_H

#include "modulelog.h"

#include <QVector>

// A module's readings brought down to pixel columns: each column keeps the
// first, lowest, highest and last value of the readings that fall in it, so
// a spike of one reading survives any zoom. The line breaks at a missed
// reading and at a pause longer than PauseIntervals reading intervals; each
// break is a gap, from the last reading before it to the first after.
class Decimator
{
public:
    static constexpr int PauseIntervals = 3;

    struct Column
    {
        int x;
        qint16 first[ModuleLog::Quantities], low[ModuleLog::Quantities];
        qint16 high[ModuleLog::Quantities], last[ModuleLog::Quantities];
    };
    using Segment = QVector<Column>;
    struct Gap
    {
        qint64 from, to;
    };

    // Columns 0 to width - 1 cover start to end.
    Decimator(qint64 start, qint64 end, int width) : m_start(start), m_end(end), m_width(width) {}

    void run(const ModuleLog &log);
    const QVector<Segment> &segments() const { return m_segments; }
    const QVector<Gap> &gaps() const { return m_gaps; }

    int column(qint64 time) const;
    // The usual step between readings: the median, which pauses and bursts
    // do not move.
    static qint64 interval(const ModuleLog &log);

private:
    void take(const ModuleLog &log, int i);

    qint64 m_start, m_end;
    int m_width;
    QVector<Segment> m_segments;
    QVector<Gap> m_gaps;
    bool m_open = false;
};

#endif // DECIMATOR_H
