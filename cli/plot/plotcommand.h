#ifndef PLOTCOMMAND_H
#define PLOTCOMMAND_H

#include "plotoptions.h"

class Console;
class ReadingLog;

// morvane-cli plot: reads the logs, draws them, writes the PNG or SVG file.
class PlotCommand
{
public:
    explicit PlotCommand(Console &console) : m_console(console) {}

    int run(const PlotOptions &options);

private:
    int readLogs(const PlotOptions &options, ReadingLog *log);
    int write(const PlotOptions &options, const ReadingLog &log);

    Console &m_console;
};

#endif // PLOTCOMMAND_H
