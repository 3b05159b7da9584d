#ifndef MODULELOG_H
#define MODULELOG_H

#include <QVector>

#include <climits>

// The readings of one module, in the order they were read. Values are kept
// in tenths, as the module gives them; a missed reading holds Missed.
struct ModuleLog
{
    enum Quantity { Temperature, Humidity, DewPoint, Quantities };
    static constexpr qint16 Missed = SHRT_MIN;

    int address = 0;
    QVector<qint64> times;                // ms since the epoch
    QVector<qint16> values[Quantities];

    int size() const { return times.size(); }
    bool missed(int i) const { return values[Temperature][i] == Missed; }
    int misses() const;
    void sortByTime();
};

#endif // MODULELOG_H
