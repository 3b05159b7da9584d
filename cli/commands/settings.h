#ifndef SETTINGS_H
#define SETTINGS_H

#include "exitcode.h"
#include "plotoptions.h"
#include "portname.h"

#include <QString>
#include <QVector>

// A command's arguments and options, parsed and checked once.
struct Settings
{
    enum Format { Text, Csv, Json, Influx };

    QString port;              // the path to open, or tcp://HOST:PORT
    int baud = 9600;
    bool baudGiven = false;    // find: only this speed
    int timeoutMs = 500;
    int scanTimeoutMs = 30;    // find --scan and read --address all-found
    int retries = 2;
    bool retriesGiven = false;
    bool verbose = false;
    bool localEcho = false;    // the line brings each request back first
    bool scan = false;
    bool probe = false;
    QVector<int> addresses;    // read: the modules, in rising order
    bool allFound = false;     // read: the modules a scan at --baud finds
    int address = 0;           // doctor: the one module, 0 for none
    double watchSeconds = 0;   // read: 0 for once
    int count = 1;
    Format format = Text;
    int value = 0;             // set-address NEW, set-baud RATE
    int waitMs = 1000;         // doctor: how long each probe waits for a reply
    PlotOptions plot;

    bool tcp() const { return PortName::isTcp(port); }
};

#endif // SETTINGS_H
