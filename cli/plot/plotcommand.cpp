#include "plotcommand.h"

#include "console.h"
#include "exitcode.h"
#include "interrupt.h"
#include "logreader.h"
#include "plotrenderer.h"
#include "readinglog.h"
#include "safefile.h"
#include "timeaxis.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgGenerator>

namespace {

const int SvgHeadBytes = 1024;   // the <svg> element is in the first lines
const qint64 MinSpanMs = 60 * 1000;

} // namespace

int PlotCommand::run(const PlotOptions &options)
{
    const QString refusal = SafeFile::refusal(options.output, options.logs);
    if (!refusal.isEmpty()) {
        m_console.complain(refusal);
        return UsageError;
    }
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

// The span drawn: --from and --to, else the log's less readings far from
// the rest, which are named; a lone moment is widened to be seen.
std::pair<qint64, qint64> PlotCommand::span(const PlotOptions &options, const ReadingLog &log)
{
    const ReadingLog::Span bulk = log.span();
    qint64 start = options.from.isValid() ? options.from.toMSecsSinceEpoch() : bulk.start;
    qint64 end = options.to.isValid() ? options.to.toMSecsSinceEpoch() : bulk.end;
    if (bulk.far > 0)
        m_console.complain(QString("%1 reading%2 far from the rest, the first from address %3 dated %4 (a reset clock?), "
                                   "left off the time axis, which shows %5 to %6; --from %7 leaves %8 out of the table too")
                               .arg(bulk.far).arg(bulk.far == 1 ? "" : "s").arg(bulk.farAddress)
                               .arg(TimeAxis::stamp(bulk.firstFar), TimeAxis::stamp(bulk.start), TimeAxis::stamp(bulk.end))
                               .arg(TimeAxis::local(bulk.start).toString("yyyy-MM-ddTHH:mm"), bulk.far == 1 ? "it" : "them"));
    if (end - start < MinSpanMs) {
        start -= MinSpanMs / 2;
        end += MinSpanMs / 2;
    }
    return {start, end};
}

int PlotCommand::write(const PlotOptions &options, const ReadingLog &log)
{
    const auto [start, end] = span(options, log);
    QStringList addresses;
    for (const ModuleLog &module : log.modules())
        addresses << QString::number(module.address);
    const QString title = !options.title.isEmpty() ? options.title
                          : addresses.size() > 8 ? QString("Readings of %1 modules").arg(addresses.size())
                                                 : "Readings of address " + addresses.join(", ");
    QSize size = options.size;
    const int needed = PlotRenderer(log, size, title, start, end).neededHeight();
    if (needed > size.height() && !options.sizeGiven && needed <= PlotOptions::MaxSide)
        size.setHeight(needed);   // the picture grows for its panels
    const PlotRenderer renderer(log, size, title, start, end);
    if (!renderer.fits()) {
        m_console.complain(QString("--size %1x%2 leaves no room for panels of %3 pixels above the table of %4 module%6; "
                                   "give --size %1x%5 or more")
                               .arg(size.width()).arg(size.height()).arg(PlotRenderer::MinPanelHeight)
                               .arg(log.modules().size()).arg(needed).arg(log.modules().size() == 1 ? "" : "s"));
        return UsageError;
    }
    const QByteArray picture = options.output.endsWith(".svg", Qt::CaseInsensitive) ? svg(renderer, size, title) : png(renderer, size);
    const QString reason = picture.isEmpty() ? QString("the picture could not be drawn") : SafeFile::write(options.output, picture);
    if (!reason.isEmpty()) {
        m_console.complain(QString("cannot write %1: %2; no picture was left there (an earlier one is as it was)")
                               .arg(options.output, reason));
        return OutputError;
    }
    return Done;
}

QByteArray PlotCommand::png(const PlotRenderer &renderer, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    renderer.draw(&painter);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    return image.save(&buffer, "PNG") ? bytes : QByteArray();
}

// Sized in pixels, as the PNG: Qt writes millimetres at its resolution,
// which viewers show larger.
QByteArray PlotCommand::svg(const PlotRenderer &renderer, QSize size, const QString &title)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    svg.setTitle(title.toHtmlEscaped());   // the generator writes these two as they are
    svg.setDescription(QStringLiteral("Drawn by morvane-cli plot"));
    QPainter painter(&svg);
    renderer.draw(&painter);
    painter.end();
    static const QRegularExpression millimetres(R"(<svg width="[0-9.]+mm" height="[0-9.]+mm")");
    bytes.replace(millimetres.match(QString::fromLatin1(bytes.left(SvgHeadBytes))).captured().toLatin1(),
                  QString(R"(<svg width="%1px" height="%2px")").arg(size.width()).arg(size.height()).toLatin1());
    return bytes;
}
