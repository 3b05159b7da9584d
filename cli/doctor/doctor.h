#ifndef DOCTOR_H
#define DOCTOR_H

#include "doctoroptions.h"
#include "examination.h"

#include <QString>

class ByteLine;
class Console;

// morvane-cli doctor: a short, bounded examination of the line, and a report
// a technician can act on, drawn from what it saw.
class Doctor
{
public:
    Doctor(ByteLine &line, Console &console, const DoctorOptions &options);

    // Done when a module answered, Failed when none did; for an interrupt
    // or a failed port, see stop().
    int run();
    Examination::Stop stop() const { return m_examination.stop(); }
    QString report() const { return m_report; }   // text, or one JSON object

private:
    DoctorOptions m_options;
    Examination m_examination;
    QString m_report;
};

#endif // DOCTOR_H
