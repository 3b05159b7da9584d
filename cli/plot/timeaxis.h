#ifndef TIMEAXIS_H
#define TIMEAXIS_H

#include <QDateTime>
#include <QVector>

// Ticks for a span of time, in local time (the TZ variable is honoured): a
// step of seconds, minutes, hours or days as the span needs, on round local
// times, at most maxTicks of them. The first label names the zone, and so
// does each after a change of offset.
class TimeAxis
{
public:
    struct Tick
    {
        qint64 time;      // ms since the epoch
        QString label;    // "14:30", "14:30:15" or "8 Dec"; "14:30 CET" for the first
        QString date;     // "8 Dec" under the first tick of each day, for steps under a day
    };

    TimeAxis(qint64 start, qint64 end, int maxTicks);
    const QVector<Tick> &ticks() const { return m_ticks; }
    qint64 step() const { return m_stepMs; }

    static QDateTime local(qint64 ms);
    static QString stamp(qint64 ms);   // "2026-12-08 02:40:57 CET"
    static QString zone(const QDateTime &at);   // "CET", or "UTC+05:30" where the zone has no name

private:
    void dayTicks(qint64 start, qint64 end, int days);
    void clockTicks(qint64 start, qint64 end);
    QString zoned(const QDateTime &when, const QString &label);

    qint64 m_stepMs = 0;
    QVector<Tick> m_ticks;
};

#endif // TIMEAXIS_H
