#ifndef EXAMINATION_H
#define EXAMINATION_H

#include "diagnosis.h"
#include "doctoroptions.h"
#include "lineprobe.h"
#include "observations.h"

class ByteLine;
class Console;

// The doctor's probes of the line, within a budget, and what each brought:
// the module's address (or address 0 when none is given) asked at every
// speed, the given one first, until something answers; a module that
// answers asked for its measurement twenty times, for its turnaround and the
// line's quality; the read command that follows tried once. Where to go next
// it asks the diagnosis of what it has seen so far.
class Examination
{
public:
    enum Stop { None, Interrupted, PortLost };

    static constexpr int SeriesLength = 20;
    static constexpr int SeriesBudgetMs = 5000;   // a slow module gets fewer requests
    static constexpr int BudgetMs = 20000;        // every probe begins within this

    Examination(ByteLine &line, Console &console, const DoctorOptions &options);

    Observations run();
    Stop stop() const { return m_stop; }   // what ended the run early

private:
    bool send(Observations::Probe *probe);
    QList<int> speeds() const;
    bool sweep();
    bool trySpeed(const QByteArray &request, int baud, Diagnosis::SpeedOutcome *outcome);
    bool series(int baud, int address);
    bool quiet(int ms);
    void verify(const Diagnosis &sofar);
    bool outOfTime() const;

    ByteLine &m_line;
    Console &m_console;
    DoctorOptions m_options;
    LineProbe m_probe;
    qint64 m_deadline = 0;
    Stop m_stop = None;
    Observations m_seen;
};

#endif // EXAMINATION_H
