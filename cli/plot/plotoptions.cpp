#include "plotoptions.h"

#include "linefile.h"

#include <QCommandLineParser>

namespace {

const int IsoDateLength = 10;   // 2026-12-08

bool side(const QString &text, int low, int high, int *value)
{
    bool ok = false;
    const qlonglong number = text.toLongLong(&ok);
    if (!ok || number < low || number > high)
        return false;
    *value = int(number);
    return true;
}

// A local time the clocks skipped (the hour a summer time begins) is no
// instant at all: Qt gives an invalid time for it, as for a wrong text.
bool skippedLocalTime(const QString &text)
{
    QDateTime utc;
    return !text.contains('Z') && !text.contains('+') && text.lastIndexOf('-') <= IsoDateLength
           && PlotOptions::parseIsoTime(text + 'Z', &utc);
}

QString takeTime(const QCommandLineParser &parser, const QString &name, QDateTime *time)
{
    if (!parser.isSet(name) || PlotOptions::parseIsoTime(parser.value(name), time))
        return QString();
    if (skippedLocalTime(parser.value(name)))
        return QString("--%1 %2 is a local time that does not exist here (the clocks skipped it when summer time "
                       "began); give a time after the change, or one with its offset such as %2+01:00")
            .arg(name, parser.value(name));
    return "--" + name + " takes an ISO 8601 time such as 2026-12-08T14:30, 2026-12-08 14:30:05, "
                         "2026-12-08T14:30Z or 2026-12-08, not " + parser.value(name);
}

QString takeSize(const QString &value, QSize *size)
{
    const QStringList sides = value.split('x');
    int width = 0, height = 0;
    if (sides.size() != 2 || !side(sides[0], PlotOptions::MinWidth, PlotOptions::MaxSide, &width)
        || !side(sides[1], PlotOptions::MinHeight, PlotOptions::MaxSide, &height))
        return QString("--size takes WIDTHxHEIGHT in pixels, %1x%2 to %3x%3, not %4")
            .arg(PlotOptions::MinWidth).arg(PlotOptions::MinHeight).arg(PlotOptions::MaxSide).arg(value);
    *size = QSize(width, height);
    return QString();
}

} // namespace

QString PlotOptions::takeLogs(const QStringList &values, PlotOptions *options)
{
    options->logs = values;
    return values.isEmpty() ? "plot takes one or more files, - for standard input" : QString();
}

QString PlotOptions::take(const QCommandLineParser &parser, PlotOptions *options)
{
    if (!parser.isSet("output"))
        return "plot needs -o FILE.png or FILE.svg";
    options->output = parser.value("output");
    if (!options->output.endsWith(".png", Qt::CaseInsensitive) && !options->output.endsWith(".svg", Qt::CaseInsensitive))
        return "-o takes FILE.png or FILE.svg, not " + options->output;
    QString error = takeTime(parser, "from", &options->from);
    if (error.isEmpty())
        error = takeTime(parser, "to", &options->to);
    if (error.isEmpty() && options->from.isValid() && options->to.isValid() && options->to <= options->from)
        error = "--to must come after --from";
    options->sizeGiven = parser.isSet("size");
    if (error.isEmpty() && parser.isSet("size"))
        error = takeSize(parser.value("size"), &options->size);
    options->title = LineFile::printable(parser.value("title"));
    return error;
}

bool PlotOptions::parseIsoTime(const QString &text, QDateTime *time)
{
    QString iso = text;
    if (iso.size() > IsoDateLength && iso[IsoDateLength] == ' ')
        iso[IsoDateLength] = 'T';
    *time = QDateTime::fromString(iso, Qt::ISODateWithMs);
    if (!time->isValid() && iso.size() == IsoDateLength)
        *time = QDateTime(QDate::fromString(iso, Qt::ISODate), QTime(0, 0));
    return time->isValid();
}
