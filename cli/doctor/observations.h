#ifndef OBSERVATIONS_H
#define OBSERVATIONS_H

#include "finding.h"
#include "lineprobe.h"
#include "modbusmaster.h"

#include <QList>

// All the doctor saw, with no conclusion drawn: every probe in the order
// sent, with what came back and when; what the system says of the port; how
// the read command fared, each time it was tried.
struct Observations
{
    struct Probe
    {
        enum Stage { Sweep, Series };   // a speed searched, or the measurement timed
        Stage stage = Sweep;
        int baud = 0;
        int address = 0;   // the one asked, 0 for every module
        QByteArray request;
        LineProbe::Result result;
    };

    Finding adapter;          // AdapterInfo's finding for the port
    bool tcp = false;
    QList<Probe> probes;
    bool outOfTime = false;   // the budget ended the sweep or the series early
    int tried = 0;    // the read command offered, run this many times
    int worked = 0;   // and read the module this many times
};

#endif // OBSERVATIONS_H
