#ifndef MODULEBUS_H
#define MODULEBUS_H

#include "sensormodule.h"

#include <QByteArray>
#include <QVector>

// The modules on one line. Each hears every request; those that answer
// answer at once, so more than one reply (address 0, or two modules moved to
// one address) is a collision: the line carries the replies overlaid.
class ModuleBus
{
public:
    explicit ModuleBus(const QVector<SensorModule> &modules) : m_modules(modules) {}

    struct Answer
    {
        QByteArray reply;   // empty: silence
        int replies = 0;    // how many modules answered; more than one: a collision
        int deaf = 0;       // the address of a module the request was for that runs at another speed, or 0
        int baudAfter = 0;  // the speed of the module that answered, after the request
    };

    // The line's answer to a request that arrives at this speed; modules at
    // another speed hear only garbage.
    Answer handle(const QByteArray &request, int lineBaud);
    // Whether every module runs at this speed.
    bool allAt(int baud) const;

    // What a real line makes of replies sent at once: each byte the AND of
    // the bytes sent at its place (an idle line reads ones), as long as the
    // longest, and never with a check value that holds.
    static QByteArray collision(const QVector<QByteArray> &replies);

    QVector<SensorModule> &modules() { return m_modules; }
    const QVector<SensorModule> &modules() const { return m_modules; }

private:
    QVector<SensorModule> m_modules;
};

#endif // MODULEBUS_H
