#ifndef PLOTCOMMAND_H
#define PLOTCOMMAND_H

#include "plotoptions.h"

#include <utility>

class Console;
class PlotRenderer;
class ReadingLog;

// morvane-cli plot: reads the logs, draws them, writes the PNG or SVG file
// whole or not at all, never over one of the logs.
class PlotCommand
{
public:
    explicit PlotCommand(Console &console) : m_console(console) {}

    int run(const PlotOptions &options);

private:
    int readLogs(const PlotOptions &options, ReadingLog *log);
    std::pair<qint64, qint64> span(const PlotOptions &options, const ReadingLog &log);
    int write(const PlotOptions &options, const ReadingLog &log);
    static QByteArray png(const PlotRenderer &renderer, QSize size);
    static QByteArray svg(const PlotRenderer &renderer, QSize size, const QString &title);

    Console &m_console;
};

#endif // PLOTCOMMAND_H
