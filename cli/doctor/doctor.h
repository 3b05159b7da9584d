#ifndef DOCTOR_H
#define DOCTOR_H

#include "finding.h"
#include "lineprobe.h"
#include "settings.h"

#include <QJsonObject>
#include <QList>
#include <QVector>

class ByteLine;
class Console;

// morvane-cli doctor: a short, bounded run of probes on the line, and a
// report a technician can act on. The module's address (or address 0 when
// none is given) is asked at every speed, the given one first, until
// something answers; bytes that come are looked at raw for the adapter's
// echo, damage and collisions. A module that answers is then asked for its
// measurement twenty times, for its turnaround and the line's quality, and
// the read command that follows from it all is tried once before it is
// offered.
class Doctor
{
public:
    Doctor(ByteLine &line, Console &console, const Settings &settings);

    // Done when a module answered, Failed when none did; for an interrupt
    // or a failed port, the status that stopped it.
    enum Stop { None, Interrupted, PortLost };
    int run();
    Stop stop() const { return m_stop; }

    QList<Finding> findings() const { return m_findings; }
    QString text() const;
    QJsonObject json() const;

    static constexpr int SeriesLength = 20;
    static constexpr int SeriesBudgetMs = 5000;   // a slow module gets fewer requests
    static constexpr int BudgetMs = 20000;        // every probe begins within this
    static constexpr int Tries = 3;               // at a speed where bytes came

private:
    bool probe(const QByteArray &request, LineProbe::Result *result);
    bool sweep();
    bool trySpeed(const QByteArray &request, int baud);
    bool series();
    bool quiet(int ms);
    void verify();
    bool outOfTime() const;
    void take(const LineProbe::Result &result, int baud);
    bool collided(const QByteArray &request, const LineProbe::Result &a, const LineProbe::Result &b) const;
    QList<int> speeds() const;
    int safeTimeout() const;
    QString readCommand() const;
    void conclude();
    void concludeSpeed();
    void concludeSeries();

    ByteLine &m_line;
    Console &m_console;
    Settings m_settings;
    LineProbe m_probe;
    qint64 m_deadline = 0;
    Stop m_stop = None;
    QList<Finding> m_findings;
    bool m_echo = false;
    int m_baud = 0;            // the speed the module answered at
    int m_address = 0;         // the module's address, when known
    int m_collisionBaud = 0;   // the speed several modules answered at
    QList<int> m_tried;
    QList<int> m_garbled;      // speeds where bytes came but never a frame
    QVector<double> m_turnarounds;
    int m_good = 0, m_damaged = 0, m_missing = 0;
    bool m_verified = false;
    QString m_cause;
};

#endif // DOCTOR_H
