#ifndef DIAGNOSIS_H
#define DIAGNOSIS_H

#include "doctoroptions.h"
#include "finding.h"
#include "observations.h"

#include <QJsonObject>
#include <QList>
#include <QVector>

// What the doctor's observations mean: the findings, the last line (the read
// command that worked each time it was run, or the most likely cause), and
// the same as JSON. It only reads the observations; the examination asks it,
// as it goes, where the module answered and what the read command should be.
// A reply is timed only against the request that asked for it; over TCP no
// serial speed is claimed, the server's being its own setting.
class Diagnosis
{
public:
    // What the sweep's probes at one speed come to; Open while the speed
    // needs another try.
    enum SpeedOutcome { Open, Answered, Silent, Collision, Garbled, ModbusTcp };
    // At each speed before the next: a line that loses half the replies
    // still shows the module at its speed fifteen times in sixteen.
    static constexpr int Tries = 4;
    static SpeedOutcome atSpeed(const QList<Observations::Probe> &probes);
    // The address a sweep's try asks: the given one and 0 by turns.
    static int askedAt(int tryIndex, int address);

    Diagnosis(const Observations &observations, const DoctorOptions &options);

    int baud() const { return m_baud; }         // the speed the module answered at (TCP: the one timed), 0 for none
    int address() const { return m_address; }   // the module's address, 0 when not known
    bool echo() const { return m_echoes > 0; }
    int safeTimeout() const;
    int retries() const;   // what the read command needs for the loss seen
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
    void count(const Observations::Probe &probe);
    void refusal(const QByteArray &request, const Reply &reply);
    QString refusedText() const;
    double loss() const;
    bool verified() const { return m_runs > 0 && m_worked == m_runs; }
    QString command(QStringList words) const;
    QString readCommand() const;
    QString where() const;
    void conclude();
    void concludeEcho();
    void concludeModbusTcp();
    void concludeSpeed();
    void concludeSilence();
    void concludeAddress();
    void concludeRefusal();
    void concludeTiming();
    void concludeQuality();
    QString cause() const;

    DoctorOptions m_options;
    QList<Finding> m_findings;
    int m_echoes = 0, m_damagedEchoes = 0;
    int m_baud = 0;
    int m_address = 0;
    int m_collisionBaud = 0;   // the speed several modules answered at
    QList<int> m_speeds;       // in the order asked
    QList<int> m_garbled;      // speeds where bytes came but never a frame
    QByteArray m_modbusTcp;    // the first reply with a Modbus TCP header
    bool m_outOfTime = false;
    QVector<double> m_turnarounds, m_lates;
    double m_sweepTurnaround = -1;   // the sweep's answer, when it was one
    int m_series = 0;          // the measurement, asked again and again
    int m_good = 0, m_damaged = 0, m_missing = 0, m_seriesRefused = 0;
    int m_refusedAddressReads = 0, m_refusedMeasurements = 0, m_exception = 0;   // of any probe; the last code
    int m_readings = 0;        // replies of any probe that were not refusals
    int m_runs = 0, m_worked = 0;   // the read command offered
    QString m_cause;
};

#endif // DIAGNOSIS_H
