#ifndef PLOTOPTIONS_H
#define PLOTOPTIONS_H

#include <QDateTime>
#include <QSize>
#include <QStringList>

class QCommandLineParser;

// What plot is asked to draw, from its values and options (-o, --from,
// --to, --size, --title), checked once.
struct PlotOptions
{
    static constexpr int MinWidth = 640, MinHeight = 480, MaxSide = 4000;

    QStringList logs;     // the files, "-" for standard input
    QString output;
    QDateTime from, to;   // invalid for the log's own ends
    QSize size{1200, 800};
    bool sizeGiven = false;   // else the picture grows to give its panels room
    QString title;

    // An error naming what is allowed, or an empty string.
    static QString takeLogs(const QStringList &values, PlotOptions *options);
    static QString take(const QCommandLineParser &parser, PlotOptions *options);
    // An ISO 8601 time, local unless it names a zone; a date alone is its
    // midnight.
    static bool parseIsoTime(const QString &text, QDateTime *time);
};

#endif // PLOTOPTIONS_H
