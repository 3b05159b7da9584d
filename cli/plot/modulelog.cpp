#include "modulelog.h"

#include <algorithm>
#include <numeric>

int ModuleLog::misses() const
{
    return int(std::count(values[Temperature].cbegin(), values[Temperature].cend(), Missed));
}

// Several files of one module may come in any order; most logs are sorted.
void ModuleLog::sortByTime()
{
    if (std::is_sorted(times.cbegin(), times.cend()))
        return;
    QVector<int> order(size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [this](int a, int b) { return times[a] < times[b]; });
    QVector<qint64> sortedTimes(size());
    for (int i = 0; i < size(); ++i)
        sortedTimes[i] = times[order[i]];
    times = sortedTimes;
    for (QVector<qint16> &column : values) {
        QVector<qint16> sorted(size());
        for (int i = 0; i < size(); ++i)
            sorted[i] = column[order[i]];
        column = sorted;
    }
}
