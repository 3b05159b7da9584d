#ifndef PORTHOLDER_H
#define PORTHOLDER_H

#include <QString>

// Which program holds a serial port open: the one its lock file names (as
// Qt and other serial programs write it, in /var/lock or /run/lock), else
// one the system shows with the device open.
struct PortHolder
{
    qint64 pid = 0;   // 0 when none is known
    QString program;

    static PortHolder of(const QString &path);
    QString text() const;   // "process 1234, minicom"
};

#endif // PORTHOLDER_H
