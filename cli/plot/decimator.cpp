#include "decimator.h"

#include <algorithm>

int Decimator::column(qint64 time) const
{
    if (m_end <= m_start)
        return 0;
    return int(std::min<qint64>(m_width - 1, (time - m_start) * m_width / (m_end - m_start + 1)));
}

qint64 Decimator::interval(const ModuleLog &log)
{
    QVector<qint64> steps;
    steps.reserve(log.size());
    for (int i = 1; i < log.size(); ++i) {
        if (log.times[i] > log.times[i - 1])
            steps << log.times[i] - log.times[i - 1];
    }
    if (steps.isEmpty())
        return 0;
    auto middle = steps.begin() + steps.size() / 2;
    std::nth_element(steps.begin(), middle, steps.end());
    return *middle;
}

void Decimator::run(const ModuleLog &log)
{
    m_segments.clear();
    m_gaps.clear();
    m_open = false;
    const qint64 pause = PauseIntervals * interval(log);
    qint64 lastTaken = 0;
    qint64 missedFrom = 0;
    bool broken = false;
    for (int i = 0; i < log.size(); ++i) {
        const qint64 time = log.times[i];
        if (log.missed(i)) {
            if (!broken)
                missedFrom = m_open ? lastTaken : time;
            broken = true;
            continue;
        }
        if (broken || (m_open && pause > 0 && time - lastTaken > pause)) {
            m_gaps.append({broken ? missedFrom : lastTaken, time});
            m_open = false;
        }
        broken = false;
        take(log, i);
        lastTaken = time;
    }
    if (broken)
        m_gaps.append({missedFrom, log.times.constLast()});
}

void Decimator::take(const ModuleLog &log, int i)
{
    const int x = column(log.times[i]);
    if (!m_open || m_segments.last().last().x != x) {
        if (!m_open)
            m_segments.append(Segment());
        m_open = true;
        Column c;
        c.x = x;
        for (int q = 0; q < ModuleLog::Quantities; ++q)
            c.first[q] = c.low[q] = c.high[q] = c.last[q] = log.values[q][i];
        m_segments.last().append(c);
        return;
    }
    Column &c = m_segments.last().last();
    for (int q = 0; q < ModuleLog::Quantities; ++q) {
        const qint16 v = log.values[q][i];
        c.low[q] = std::min(c.low[q], v);
        c.high[q] = std::max(c.high[q], v);
        c.last[q] = v;
    }
}
