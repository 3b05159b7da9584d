#include "plotrenderer.h"

#include "readinglog.h"
#include "rowfields.h"
#include "timeaxis.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {

const int Margin = 12;
const int AxisWidth = 56;
const int FontPixels = 12;
const int SmallPixels = 9;      // the gap strip's addresses
const int TitlePixels = 16;
const int PanelGap = 10;
const int GapRow = 10;          // a module's row in the gap strip
const int TickPixels = 90;      // room for a time label
const int ValuePixels = 36;     // between value labels, at least
const int MinValueSteps = 3;
const int LegendEntry = 100;
const int LegendSample = 16;
const int MarkSize = 5;         // a reading with no neighbour to join
const int AddressColumn = 64;
const int MissedColumn = 64;
const double DewPointTint = 0.55;   // the dew point: the module's colour, this much lighter
const QColor Ink(0x33, 0x33, 0x33);
const QColor Frame(0x99, 0x99, 0x99);
const QColor Grid(0xe4, 0xe4, 0xe4);
// Twenty colours, none a lighter or darker copy of another (hue and
// saturation apart); then the same twenty with dashes.
const QRgb Palette[] = {0x1f77b4, 0xff7f0e, 0x2ca02c, 0xd62728, 0x9467bd, 0x8c564b, 0xe377c2, 0x17becf, 0xbcbd22, 0x393b79,
                        0xe6ab02, 0x66a61e, 0x1b9e77, 0x6a5acd, 0x800080, 0xdc143c, 0x000000, 0x808080, 0x8b4513, 0x00688b};
const int PaletteSize = int(std::size(Palette));
const Qt::PenStyle Styles[] = {Qt::SolidLine, Qt::DashLine, Qt::DashDotLine, Qt::DashDotDotLine};
const Qt::PenStyle DewPointStyle = Qt::DotLine;
QColor tint(const QColor &c)
{
    auto lighter = [](int v) { return v + int((255 - v) * DewPointTint); };
    return QColor(lighter(c.red()), lighter(c.green()), lighter(c.blue()));
}

const char *const QuantityNames[ModuleLog::Quantities] = {"temperature °C", "humidity %RH", "dew point °C"};
const char *const PanelNames[PlotRenderer::Panels] = {"temperature and dew point (dotted), °C", "relative humidity, %"};

} // namespace

PlotRenderer::PlotRenderer(const ReadingLog &log, QSize size, const QString &title, qint64 start, qint64 end)
    : m_log(log), m_size(size), m_title(title), m_start(start), m_end(end)
{
    m_font.setFamily("DejaVu Sans");
    m_font.setPixelSize(FontPixels);
    m_titleFont = m_font;
    m_titleFont.setPixelSize(TitlePixels);
    m_titleFont.setBold(true);
    m_line = QFontMetrics(m_font).height() + 4;
    layOut();
    findRanges();
}

// Everything but the panels has a fixed height; the panels share the rest.
void PlotRenderer::layOut()
{
    m_left = Margin + AxisWidth;
    m_width = m_size.width() - m_left - 2 * Margin;
    const int n = m_log.modules().size();
    const int perLine = std::max(1, m_width / LegendEntry);
    m_legendLines = (n + 1 + perLine - 1) / perLine;   // and the dew point's entry
    m_top = Margin + QFontMetrics(m_titleFont).height() + (1 + m_legendLines) * m_line + m_line / 2;
    const int strip = std::max(m_line, n * GapRow);
    m_fixedHeight = m_top + 2 * m_line + PanelGap + 3 * m_line + strip + m_line / 2 + (n + 2) * m_line + Margin;
    m_panelHeight = (m_size.height() - m_fixedHeight) / 2;
    m_gapTop = panel(Humidity).bottom() + 1 + 3 * m_line;   // under the time labels and the strip's name
    m_tableTop = m_gapTop + strip + m_line / 2;
}

void PlotRenderer::findRanges()
{
    double low[Panels] = {HUGE_VAL, HUGE_VAL}, high[Panels] = {-HUGE_VAL, -HUGE_VAL};
    for (const ModuleLog &module : m_log.modules()) {
        for (int i = 0; i < module.size(); ++i) {
            if (module.missed(i))
                continue;
            for (int q = 0; q < ModuleLog::Quantities; ++q) {
                const int p = q == ModuleLog::Humidity ? Humidity : Celsius;
                low[p] = std::min<double>(low[p], module.values[q][i]);
                high[p] = std::max<double>(high[p], module.values[q][i]);
            }
        }
    }
    for (int p = 0; p < Panels; ++p)
        m_ranges[p] = niceRange(low[p] / 10, high[p] / 10, std::max(MinValueSteps, m_panelHeight / ValuePixels));
}

int PlotRenderer::neededHeight() const
{
    return m_fixedHeight + 2 * MinPanelHeight;
}

// Round figures around the values, at most about this many steps.
PlotRenderer::Range PlotRenderer::niceRange(double low, double high, int steps)
{
    if (!std::isfinite(low))
        low = high = 0;
    // Off the frame, and a flat line in the middle.
    const double margin = std::max(0.5, (high - low) * 0.05);
    low -= margin;
    high += margin;
    const double rough = (high - low) / std::min(steps, 6);
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = power;
    for (double factor : {1.0, 2.0, 2.5, 5.0, 10.0}) {
        step = factor * power;
        if (step >= rough)
            break;
    }
    return {std::floor(low / step) * step, std::ceil(high / step) * step, step};
}

QRect PlotRenderer::panel(Panel which) const
{
    return QRect(m_left, m_top + m_line + which * (m_line + m_panelHeight + PanelGap), m_width, m_panelHeight);
}

int PlotRenderer::y(Panel which, double value) const
{
    const QRect r = panel(which);
    const Range &range = m_ranges[which];
    return r.bottom() - int(std::lround((value - range.low) / (range.high - range.low) * (r.height() - 1)));
}

QPoint PlotRenderer::point(Panel which, qint64 time, double value) const
{
    return QPoint(m_left + Decimator(m_start, m_end, m_width).column(time), y(which, value));
}

QColor PlotRenderer::colour(int module)
{
    return QColor(Palette[module % PaletteSize]);
}

Qt::PenStyle PlotRenderer::style(int module)
{
    return Styles[(module / PaletteSize) % int(std::size(Styles))];
}

QColor PlotRenderer::dewPointColour(int module)
{
    return tint(colour(module));
}

void PlotRenderer::draw(QPainter *painter) const
{
    painter->fillRect(QRect(QPoint(0, 0), m_size), Qt::white);
    painter->setFont(m_font);
    drawHeader(painter);
    drawPanel(painter, Celsius);
    drawPanel(painter, Humidity);
    drawTimeLabels(painter);
    drawCurves(painter);
    drawGaps(painter);
    drawTable(painter);
}

QString PlotRenderer::summary() const
{
    const int readings = m_log.readings();
    const int misses = m_log.misses();
    return QString("%1 to %2, %3 readings, %4 missed (%5 %)")
        .arg(TimeAxis::stamp(m_log.start()), TimeAxis::stamp(m_log.end()))
        .arg(readings)
        .arg(misses)
        .arg(QString::number(100.0 * misses / std::max(readings, 1), 'f', 1));
}

void PlotRenderer::drawHeader(QPainter *painter) const
{
    painter->setPen(Ink);
    painter->setFont(m_titleFont);
    const int titleHeight = QFontMetrics(m_titleFont).height();
    painter->drawText(QRect(Margin, Margin, m_size.width() - 2 * Margin, titleHeight), Qt::AlignLeft | Qt::AlignVCenter, m_title);
    painter->setFont(m_font);
    const int top = Margin + titleHeight;
    painter->drawText(QRect(Margin, top, m_size.width() - 2 * Margin, m_line), Qt::AlignLeft | Qt::AlignVCenter, summary());
    const int perLine = std::max(1, m_width / LegendEntry);
    const int n = m_log.modules().size();
    for (int i = 0; i <= n; ++i) {
        const QPoint at(m_left + (i % perLine) * LegendEntry, top + m_line + (i / perLine) * m_line);
        if (i < n)
            drawLegendEntry(painter, at, QPen(colour(i), 2, style(i)), QString("address %1").arg(m_log.modules()[i].address));
        else
            drawLegendEntry(painter, at, QPen(tint(Ink), 2, DewPointStyle), "dew point");
    }
}

void PlotRenderer::drawLegendEntry(QPainter *painter, QPoint at, const QPen &pen, const QString &text) const
{
    painter->setPen(pen);
    const int y = at.y() + m_line / 2;
    painter->drawLine(at.x(), y, at.x() + LegendSample, y);
    painter->setPen(Ink);
    painter->drawText(QRect(at.x() + LegendSample + 4, at.y(), LegendEntry - LegendSample - 4, m_line),
                      Qt::AlignLeft | Qt::AlignVCenter, text);
}

void PlotRenderer::drawPanel(QPainter *painter, Panel which) const
{
    const QRect r = panel(which);
    const Range &range = m_ranges[which];
    painter->setPen(Grid);
    const TimeAxis axis(m_start, m_end, m_width / TickPixels);
    for (const TimeAxis::Tick &tick : axis.ticks()) {
        const int x = point(which, tick.time, 0).x();
        painter->drawLine(x, r.top(), x, r.bottom());
    }
    const int steps = int(std::lround((range.high - range.low) / range.step));
    for (int i = 0; i <= steps; ++i) {
        const double value = range.low + i * range.step;
        const int at = y(which, value);
        painter->setPen(Grid);
        painter->drawLine(r.left(), at, r.right(), at);
        painter->setPen(Ink);
        const int decimals = range.step == std::floor(range.step) ? 0 : range.step * 10 == std::floor(range.step * 10) ? 1 : 2;
        painter->drawText(QRect(Margin, at - m_line / 2, AxisWidth - 6, m_line), Qt::AlignRight | Qt::AlignVCenter,
                          QString::number(value, 'f', decimals));
    }
    painter->setPen(Frame);
    painter->drawRect(r.adjusted(0, 0, -1, -1));
    painter->setPen(Ink);
    painter->drawText(QRect(r.left(), r.top() - m_line, r.width(), m_line), Qt::AlignLeft | Qt::AlignVCenter, PanelNames[which]);
}

// Under the lower panel: each tick's time, and its date under a day's first.
void PlotRenderer::drawTimeLabels(QPainter *painter) const
{
    const QRect r = panel(Humidity);
    painter->setPen(Ink);
    const TimeAxis axis(m_start, m_end, m_width / TickPixels);
    for (const TimeAxis::Tick &tick : axis.ticks()) {
        const int x = point(Humidity, tick.time, 0).x();
        painter->drawText(QRect(x - TickPixels / 2, r.bottom() + 2, TickPixels, m_line), Qt::AlignCenter, tick.label);
        if (!tick.date.isEmpty())
            painter->drawText(QRect(x - TickPixels / 2, r.bottom() + 2 + m_line, TickPixels, m_line), Qt::AlignCenter, tick.date);
    }
}

// Crisp one-pixel lines: the columns are the decimation's, nothing to smooth.
// A reading with no neighbour in its segment is a mark, not a dot.
void PlotRenderer::drawCurves(QPainter *painter) const
{
    struct Curve
    {
        ModuleLog::Quantity quantity;
        Panel panel;
    };
    const Curve curves[] = {{ModuleLog::DewPoint, Celsius}, {ModuleLog::Temperature, Celsius}, {ModuleLog::Humidity, Humidity}};
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setBrush(Qt::NoBrush);
    Decimator decimator(m_start, m_end, m_width);
    for (int m = 0; m < m_log.modules().size(); ++m) {
        decimator.run(m_log.modules()[m]);
        for (const Curve &curve : curves) {
            const int q = curve.quantity;
            const bool dewPoint = q == ModuleLog::DewPoint;
            const QColor colour = dewPoint ? dewPointColour(m) : PlotRenderer::colour(m);
            painter->setClipRect(panel(curve.panel));
            painter->setPen(QPen(colour, 1, dewPoint ? DewPointStyle : style(m)));
            for (const Decimator::Segment &segment : decimator.segments()) {
                QPolygon line;
                for (const Decimator::Column &c : segment) {
                    const int x = m_left + c.x;
                    const QPoint corners[] = {{x, y(curve.panel, c.first[q] / 10.0)}, {x, y(curve.panel, c.low[q] / 10.0)},
                                              {x, y(curve.panel, c.high[q] / 10.0)}, {x, y(curve.panel, c.last[q] / 10.0)}};
                    for (const QPoint &corner : corners) {
                        if (line.isEmpty() || corner != line.constLast())
                            line << corner;
                    }
                }
                if (segment.size() == 1) {
                    const QRect span = line.boundingRect();
                    painter->fillRect(span.adjusted(-MarkSize / 2, -MarkSize / 2, MarkSize / 2, MarkSize / 2), colour);
                    continue;
                }
                QPainterPath path;
                path.addPolygon(line);
                painter->drawPath(path);
            }
        }
    }
    painter->setClipping(false);
}

// Every gap at least a pixel wide, however short against the span.
void PlotRenderer::drawGaps(QPainter *painter) const
{
    painter->setPen(Ink);
    painter->drawText(QRect(Margin, m_gapTop - m_line, m_width, m_line), Qt::AlignLeft | Qt::AlignVCenter, "gaps by address");
    QFont small = m_font;
    small.setPixelSize(SmallPixels);
    painter->setFont(small);
    Decimator decimator(m_start, m_end, m_width);
    for (int m = 0; m < m_log.modules().size(); ++m) {
        const int top = m_gapTop + m * GapRow;
        painter->drawText(QRect(m_left - AxisWidth / 2, top, AxisWidth / 2 - 4, GapRow), Qt::AlignRight | Qt::AlignVCenter,
                          QString::number(m_log.modules()[m].address));
        decimator.run(m_log.modules()[m]);
        for (const Decimator::Gap &gap : decimator.gaps()) {
            const int from = std::max(0, decimator.column(gap.from));
            const int to = std::max(decimator.column(gap.to), from + 1);
            painter->fillRect(QRect(m_left + from, top, to - from, GapRow - 1), colour(m));
        }
    }
    painter->setFont(m_font);
}

void PlotRenderer::drawTable(QPainter *painter) const
{
    const int number = std::min(70, (m_size.width() - 2 * Margin - AddressColumn - MissedColumn) / 9);
    auto cell = [&](int column, int row, const QString &text, int span = 1) {
        const int x = Margin + AddressColumn + column * number;
        painter->drawText(QRect(x, m_tableTop + row * m_line, span * number, m_line), Qt::AlignRight | Qt::AlignVCenter, text);
    };
    painter->setPen(Ink);
    for (int q = 0; q < ModuleLog::Quantities; ++q) {
        cell(3 * q, 0, QuantityNames[q], 3);
        cell(3 * q, 1, "min");
        cell(3 * q + 1, 1, "mean");
        cell(3 * q + 2, 1, "max");
    }
    painter->drawText(QRect(Margin, m_tableTop + m_line, AddressColumn, m_line), Qt::AlignLeft | Qt::AlignVCenter, "address");
    cell(9, 1, "missed");
    for (int m = 0; m < m_log.modules().size(); ++m) {
        const ModuleLog &module = m_log.modules()[m];
        const int row = m + 2;
        painter->fillRect(QRect(Margin, m_tableTop + row * m_line + m_line / 2 - 2, 12, 4), colour(m));
        painter->drawText(QRect(Margin + 16, m_tableTop + row * m_line, AddressColumn - 16, m_line),
                          Qt::AlignLeft | Qt::AlignVCenter, QString::number(module.address));
        for (int q = 0; q < ModuleLog::Quantities; ++q) {
            double low = HUGE_VAL, high = -HUGE_VAL, sum = 0;
            int count = 0;
            for (qint16 v : module.values[q]) {
                if (v == ModuleLog::Missed)
                    continue;
                low = std::min<double>(low, v);
                high = std::max<double>(high, v);
                sum += v;
                ++count;
            }
            cell(3 * q, row, count ? RowFields::tenthsText(low) : "-");
            cell(3 * q + 1, row, count ? RowFields::tenthsText(sum / count) : "-");
            cell(3 * q + 2, row, count ? RowFields::tenthsText(high) : "-");
        }
        cell(9, row, QString::number(100.0 * module.misses() / module.size(), 'f', 1) + " %");
    }
}
