#include "timeaxis.h"

#include <cstdlib>

namespace {

const qint64 Second = 1000;
const qint64 Minute = 60 * Second;
const qint64 Hour = 60 * Minute;
const qint64 Day = 24 * Hour;
const qint64 Steps[] = {Second, 2 * Second, 5 * Second, 10 * Second, 15 * Second, 30 * Second,
                        Minute, 2 * Minute, 5 * Minute, 10 * Minute, 15 * Minute, 30 * Minute,
                        Hour, 2 * Hour, 3 * Hour, 6 * Hour, 12 * Hour, Day, 2 * Day, 7 * Day, 14 * Day, 28 * Day};

const char DateFormat[] = "d MMM";

} // namespace

QDateTime TimeAxis::local(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime);
}

QString TimeAxis::zone(const QDateTime &at)
{
    const QString name = at.timeZoneAbbreviation();
    if (!name.isEmpty() && name[0].isLetter())
        return name;
    const int minutes = at.offsetFromUtc() / 60;
    return QString("UTC%1%2:%3").arg(minutes < 0 ? '-' : '+').arg(std::abs(minutes) / 60, 2, 10, QLatin1Char('0'))
        .arg(std::abs(minutes) % 60, 2, 10, QLatin1Char('0'));
}

QString TimeAxis::stamp(qint64 ms)
{
    return local(ms).toString("yyyy-MM-dd HH:mm:ss t");
}

TimeAxis::TimeAxis(qint64 start, qint64 end, int maxTicks)
{
    const qint64 span = std::max<qint64>(end - start, 1);
    m_stepMs = Steps[std::size(Steps) - 1];
    for (qint64 step : Steps) {
        if (span / step < std::max(maxTicks, 1)) {
            m_stepMs = step;
            break;
        }
    }
    if (m_stepMs >= Day)
        dayTicks(start, end, int(m_stepMs / Day));
    else
        clockTicks(start, end);
}

// The zone after the first label and after each whose offset from UTC is
// not the one before it: "02:30 CEST", then "02:30 CET".
QString TimeAxis::zoned(const QDateTime &when, const QString &label)
{
    const bool changed = m_ticks.isEmpty() || local(m_ticks.constLast().time).offsetFromUtc() != when.offsetFromUtc();
    return changed ? label + ' ' + zone(when) : label;
}

// Steps under a day counted from the local midnight before the start.
void TimeAxis::clockTicks(qint64 start, qint64 end)
{
    const qint64 midnight = QDateTime(local(start).date(), QTime(0, 0), Qt::LocalTime).toMSecsSinceEpoch();
    const qint64 first = midnight + (start - midnight + m_stepMs - 1) / m_stepMs * m_stepMs;
    const QString format = m_stepMs < Minute ? "HH:mm:ss" : "HH:mm";
    QDate shownDate;
    for (qint64 t = first; t <= end; t += m_stepMs) {
        const QDateTime when = local(t);
        const bool newDay = when.date() != shownDate;
        shownDate = when.date();
        m_ticks.append({t, zoned(when, when.toString(format)), newDay ? when.toString(DateFormat) : QString()});
    }
}

// Days as the calendar has them: a day with a clock change is not 24 hours.
void TimeAxis::dayTicks(qint64 start, qint64 end, int days)
{
    QDate date = local(start).date();
    if (QDateTime(date, QTime(0, 0), Qt::LocalTime).toMSecsSinceEpoch() < start)
        date = date.addDays(1);
    for (;; date = date.addDays(days)) {
        const qint64 t = QDateTime(date, QTime(0, 0), Qt::LocalTime).toMSecsSinceEpoch();
        if (t > end)
            break;
        m_ticks.append({t, zoned(local(t), date.toString(DateFormat)), QString()});
    }
}
