#ifndef PLOTCOMMAND_H
#define PLOTCOMMAND_H

#include "settings.h"

class Console;
class ReadingLog;

// morvane-cli plot: reads the logs, draws them, writes the PNG or SVG file.
class PlotCommand
{
public:
    explicit PlotCommand(Console &console) : m_console(console) {}

    int run(const Settings &settings);

private:
    int readLogs(const Settings &settings, ReadingLog *log);
    int write(const Settings &settings, const ReadingLog &log);

    Console &m_console;
};

#endif // PLOTCOMMAND_H
