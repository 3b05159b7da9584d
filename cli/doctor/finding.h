#ifndef FINDING_H
#define FINDING_H

#include <QString>

// One thing the doctor found: what was seen, and what to do (empty when
// there is nothing to do). A problem is something that keeps commands from
// working as they are.
struct Finding
{
    // Stable, for scripts reading the JSON: adapter, local_echo, modbus_tcp,
    // speed, address, refused, several_modules, timing, late, quality.
    QString key;
    QString topic;   // the same in words, for the text report
    QString seen;
    QString todo;
    bool problem = false;
};

#endif // FINDING_H
