#include "plotcommand.h"

#include "console.h"
#include "exitcode.h"
#include "interrupt.h"
#include "logreader.h"
#include "plotrenderer.h"
#include "readinglog.h"

#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSvgGenerator>

int PlotCommand::run(const PlotOptions &options)
{
    ReadingLog log;
    const int read = readLogs(options, &log);
    if (read != Done)
        return read;
    return write(options, log);
}

int PlotCommand::readLogs(const PlotOptions &options, ReadingLog *log)
{
    LogReader reader(log, options.from.isValid() ? options.from.toMSecsSinceEpoch() : LLONG_MIN,
                     options.to.isValid() ? options.to.toMSecsSinceEpoch() : LLONG_MAX);
    QStringList empty;
    for (const QString &path : options.logs) {
        if (!reader.read(path)) {
            if (Interrupt::signal())
                return Failed;
            m_console.complain(reader.errorString());
            return Failed;
        }
        if (reader.readableRows() == 0)
            empty << (path == "-" ? QStringLiteral("standard input") : path);
    }
    for (const QString &row : reader.namedBadRows())
        m_console.hint(row);
    if (reader.badRows() > 0)
        m_console.complain(reader.badRows() == 1 ? QString("1 row could not be read and was skipped")
                                                 : QString("%1 rows could not be read and were skipped").arg(reader.badRows()));
    if (!empty.isEmpty()) {
        m_console.complain("no readable row in " + empty.join(", "));
        return Failed;
    }
    log->finish();
    if (log->modules().isEmpty()) {
        m_console.complain("no reading between --from and --to");
        return Failed;
    }
    return Done;
}

int PlotCommand::write(const PlotOptions &options, const ReadingLog &log)
{
    const qint64 start = options.from.isValid() ? options.from.toMSecsSinceEpoch() : log.start();
    const qint64 end = options.to.isValid() ? options.to.toMSecsSinceEpoch() : log.end();
    QStringList addresses;
    for (const ModuleLog &module : log.modules())
        addresses << QString::number(module.address);
    const QString title = !options.title.isEmpty() ? options.title
                          : addresses.size() > 8 ? QString("Readings of %1 modules").arg(addresses.size())
                                                 : "Readings of address " + addresses.join(", ");
    const PlotRenderer renderer(log, options.size, title, start, end);
    if (!renderer.fits()) {
        m_console.complain(QString("--size %1x%2 leaves no room for the panels above the table of %3 modules; "
                                   "make it at least %4 high")
                               .arg(options.size.width()).arg(options.size.height())
                               .arg(log.modules().size()).arg(renderer.neededHeight()));
        return UsageError;
    }
    QSaveFile file(options.output);
    if (!file.open(QIODevice::WriteOnly)) {
        m_console.complain(QString("cannot write %1: %2").arg(options.output, file.errorString()));
        return OutputError;
    }
    bool drawn = true;
    if (options.output.endsWith(".svg", Qt::CaseInsensitive)) {
        QSvgGenerator svg;
        svg.setOutputDevice(&file);
        svg.setSize(options.size);
        svg.setViewBox(QRect(QPoint(0, 0), options.size));
        svg.setTitle(title);
        QPainter painter(&svg);
        renderer.draw(&painter);
    } else {
        QImage image(options.size, QImage::Format_RGB32);
        QPainter painter(&image);
        renderer.draw(&painter);
        painter.end();
        drawn = image.save(&file, "PNG");
    }
    if (!drawn || !file.commit()) {
        m_console.complain(QString("cannot write %1: %2").arg(options.output, file.errorString()));
        return OutputError;
    }
    return Done;
}
