#ifndef PLOTRENDERER_H
#define PLOTRENDERER_H

#include "decimator.h"

#include <QColor>
#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>

class QPainter;
class ReadingLog;

// Draws a reading log: a title with the span and the counts, a legend, two
// panels on one time axis in local time with its zone (temperature, and dew
// point dotted, in °C; relative humidity in %), a strip marking each
// module's gaps, and a table of each module's minimum, mean and maximum and
// its share of missed readings. Each module has a colour of its own; past
// the palette, a line style too.
class PlotRenderer
{
public:
    enum Panel { Celsius, Humidity, Panels };

    // Draws start to end of the log in size pixels.
    PlotRenderer(const ReadingLog &log, QSize size, const QString &title, qint64 start, qint64 end);

    static constexpr int MinPanelHeight = 150;

    bool fits() const { return m_panelHeight >= MinPanelHeight; }
    int neededHeight() const;   // exactly what gives each panel MinPanelHeight
    void draw(QPainter *painter) const;

    QRect panel(Panel which) const;
    QPoint point(Panel which, qint64 time, double value) const;   // value in °C or %
    static QColor colour(int module);
    static QColor dewPointColour(int module);
    static Qt::PenStyle style(int module);   // solid for the palette's first round

private:
    struct Range
    {
        double low, high, step;
    };

    void layOut();
    void findRanges();
    void drawHeader(QPainter *painter) const;
    void drawLegendEntry(QPainter *painter, QPoint at, const QPen &pen, const QString &text) const;
    void drawTimeLabels(QPainter *painter) const;
    void drawPanel(QPainter *painter, Panel which) const;
    void drawCurves(QPainter *painter) const;
    void drawGaps(QPainter *painter) const;
    void drawTable(QPainter *painter) const;
    QString summary() const;
    int y(Panel which, double value) const;
    static Range niceRange(double low, double high, int steps);

    const ReadingLog &m_log;
    QSize m_size;
    QString m_title;
    qint64 m_start, m_end;
    QFont m_font, m_titleFont;
    int m_line;             // the height of a line of text
    int m_top;              // the first panel's title line
    int m_left, m_width;    // the panels' columns
    int m_panelHeight;
    int m_fixedHeight;      // all but the panels
    int m_gapTop;
    int m_tableTop;
    int m_legendLines;
    Range m_ranges[Panels];
};

#endif // PLOTRENDERER_H
