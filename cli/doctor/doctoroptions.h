#ifndef DOCTOROPTIONS_H
#define DOCTOROPTIONS_H

#include <QString>

// What the doctor is asked to look at, and how it reports.
struct DoctorOptions
{
    QString port;              // the path to open, or tcp://HOST:PORT
    int baud = 0;              // the given speed, else the other commands' default
    bool baudGiven = false;    // asked first, and the speed the module should run at
    int address = 0;           // the one module, 0 to ask through address 0
    int waitMs = 0;            // how long each probe waits for a reply to begin
    int defaultTimeoutMs = 0;  // the other commands' timeout: a later reply is a problem
    int defaultRetries = 0;    // and their retries
    bool verbose = false;      // what was sent and heard, on standard error
    bool json = false;         // the report as one JSON object, else as text
    bool tcp = false;          // the port is a TCP connection
};

#endif // DOCTOROPTIONS_H
