#ifndef EXAMINATION_H
#define EXAMINATION_H

#include "diagnosis.h"
#include "doctoroptions.h"
#include "lineprobe.h"
#include "observations.h"

class ByteLine;
class Console;

// The doctor's probes of the line, within a budget, and what each brought:
// at every speed (over TCP, at the server's only) the module's address and
// address 0 by turns (address 0 alone when none is given), three tries at
// least, until something answers; a module that answers asked for its
// measurement twenty times, for its turnaround and the line's quality; the
// read command that follows run a few times. A reply that may be the late
// one of a request before it is listened past, so that each reply is timed
// against the request that asked. Where to go next it asks the diagnosis of
// what it has seen so far.
class Examination
{
public:
    enum Stop { None, Interrupted, PortLost };

    static constexpr int SeriesLength = 20;
    static constexpr int SeriesBudgetMs = 8000;   // a slow module, or a lossy line, gets fewer requests
    // Every probe begins within this: with the default --wait, every try at
    // every speed, and a module at 1200 bit/s still done within 30 s.
    static constexpr int BudgetMs = 22000;
    static constexpr int VerifyTries = 5;         // the read command's runs before "works now"

    Examination(ByteLine &line, Console &console, const DoctorOptions &options);

    Observations run();
    Stop stop() const { return m_stop; }   // what ended the run early

private:
    bool ask(Observations::Probe *probe, bool afterSilence);
    bool stopped(LineProbe::Verdict verdict);
    QList<int> speeds() const;
    bool sweep();
    bool trySpeed(int baud, Diagnosis::SpeedOutcome *outcome);
    bool series(int baud, int address);
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
