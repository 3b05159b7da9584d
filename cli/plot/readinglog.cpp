#include "readinglog.h"

#include "modbusframe.h"

#include <algorithm>

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
