#ifndef DIAGNOSIS_H
#define DIAGNOSIS_H

#include "doctoroptions.h"
#include "finding.h"
#include "observations.h"

#include <QJsonObject>
#include <QList>
#include <QVector>

// What the doctor's observations mean: the findings, the last line (the read
// command that worked, or the most likely cause), and the same as JSON. It
// only reads the observations; the examination asks it, as it goes, where
// the module answered and what the read command should be.
class Diagnosis
{
public:
    // What the sweep's probes at one speed come to; Open while the speed
    // needs another try.
    enum SpeedOutcome { Open, Answered, Silent, Collision, Garbled };
    static constexpr int Tries = 3;   // at a speed where bytes came
    static SpeedOutcome atSpeed(const QList<Observations::Probe> &probes);

    Diagnosis(const Observations &observations, const DoctorOptions &options);

    int baud() const { return m_baud; }         // the speed the module answered at, 0 for none
    int address() const { return m_address; }   // the module's address, 0 when not known
    bool echo() const { return m_echo; }
    int safeTimeout() const;
    int exitCode() const;

    QList<Finding> findings() const { return m_findings; }
    QString lastLine() const;
    QString exportLine() const;   // export MORVANE_PORT=… for the settings that worked
    QString text() const;
    QJsonObject json() const;

private:
    static bool collided(const QByteArray &request, const LineProbe::Result &a, const LineProbe::Result &b);
    void readSweep(const QList<Observations::Probe> &probes);
    void take(const Observations::Probe &answer);
    void readSeries(const QList<Observations::Probe> &probes);
    QString readCommand() const;
    void conclude();
    void concludeSpeed();
    void concludeSeries();
    QString cause() const;

    DoctorOptions m_options;
    QList<Finding> m_findings;
    bool m_echo = false;
    int m_baud = 0;
    int m_address = 0;
    int m_collisionBaud = 0;   // the speed several modules answered at
    QList<int> m_tried;
    QList<int> m_garbled;      // speeds where bytes came but never a frame
    QVector<double> m_turnarounds;
    int m_good = 0, m_damaged = 0, m_missing = 0;
    bool m_verified = false;
    QString m_cause;
};

#endif // DIAGNOSIS_H
