#ifndef FINDING_H
#define FINDING_H

#include <QString>

// One thing the doctor found: what was seen, and what to do (empty when
// there is nothing to do). A problem is something that keeps commands from
// working as they are.
struct Finding
{
    QString topic;   // "adapter", "local echo", "speed", "several modules", "timing", "quality"
    QString seen;
    QString todo;
    bool problem = false;
};

#endif // FINDING_H
