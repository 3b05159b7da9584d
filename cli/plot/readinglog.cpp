#include "readinglog.h"

#include "modbusframe.h"

#include <algorithm>
#include <climits>

namespace {

const qint64 Hour = 3600 * 1000;
const int FarSpans = 10;   // this many times the bulk's own span away is far
const int TailShare = 100;   // each module's first and last 1 % are not the bulk

qint64 median(QVector<qint64> values)
{
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

} // namespace

ReadingLog::ReadingLog() : m_index(ModbusFrame::MaxAddress + 1, -1) {}

void ReadingLog::add(int address, qint64 time, const qint16 (&values)[ModuleLog::Quantities])
{
    int &place = m_index[address];
    if (place < 0) {
        place = m_modules.size();
        m_modules.append(ModuleLog());
        m_modules.last().address = address;
    }
    ModuleLog &module = m_modules[place];
    module.times.append(time);
    for (int q = 0; q < ModuleLog::Quantities; ++q)
        module.values[q].append(values[q]);
}

void ReadingLog::finish()
{
    std::sort(m_modules.begin(), m_modules.end(), [](const ModuleLog &a, const ModuleLog &b) { return a.address < b.address; });
    for (int i = 0; i < m_modules.size(); ++i) {
        m_index[m_modules[i].address] = i;
        m_modules[i].sortByTime();
    }
}

int ReadingLog::readings() const
{
    int count = 0;
    for (const ModuleLog &module : m_modules)
        count += module.size();
    return count;
}

int ReadingLog::misses() const
{
    int count = 0;
    for (const ModuleLog &module : m_modules)
        count += module.misses();
    return count;
}

qint64 ReadingLog::start() const
{
    qint64 first = LLONG_MAX;
    for (const ModuleLog &module : m_modules)
        first = std::min(first, module.times.constFirst());
    return first;
}

qint64 ReadingLog::end() const
{
    qint64 last = LLONG_MIN;
    for (const ModuleLog &module : m_modules)
        last = std::max(last, module.times.constLast());
    return last;
}

// The bulk: the median over the modules of where each one's readings start
// and end, its first and last 1 % aside.
ReadingLog::Span ReadingLog::span() const
{
    QVector<qint64> lows, highs;
    for (const ModuleLog &module : m_modules) {
        const int tail = module.size() >= 3 ? std::max(1, module.size() / TailShare) : 0;
        lows << module.times[tail];
        highs << module.times[module.size() - 1 - tail];
    }
    const qint64 low = median(lows), high = median(highs);
    const qint64 reach = FarSpans * std::max(high - low, Hour);
    Span span{LLONG_MAX, LLONG_MIN};
    for (const ModuleLog &module : m_modules) {
        int first = 0, last = module.size() - 1;
        while (first <= last && module.times[first] < low - reach)
            ++first;
        while (last >= first && module.times[last] > high + reach)
            --last;
        const int far = module.size() - (last - first + 1);
        if (far > 0 && span.far == 0) {   // the lowest address: modules are in address order
            span.firstFar = first > 0 ? module.times[0] : module.times.constLast();
            span.farAddress = module.address;
        }
        span.far += far;
        if (first <= last) {
            span.start = std::min(span.start, module.times[first]);
            span.end = std::max(span.end, module.times[last]);
        }
    }
    return span;
}
