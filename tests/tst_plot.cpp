// morvane-cli plot: the log reader, the decimation, the picture (pixels of
// the PNG, elements of the SVG), the time axis in a fixed zone, exit codes.
#include "logreader.h"
#include "plotrenderer.h"
#include "readinglog.h"
#include "timeaxis.h"

#include <QBuffer>
#include <QPainter>
#include <QSvgGenerator>
#include <QXmlStreamReader>
#include <QtTest>

#include <ctime>

namespace {

const qint64 Start = QDateTime::fromString("2026-12-08T01:00:00Z", Qt::ISODate).toMSecsSinceEpoch();
const int Rows = 5000;                  // one a second: more readings than columns
const int PauseFrom = 600, PauseTo = 700;   // module 1: no rows at all
const int MissFrom = 300, MissTo = 350;     // module 2: "no answer" rows
const QSize Size(1200, 800);

QString isoAt(int second)
{
    return QDateTime::fromMSecsSinceEpoch(Start + second * 1000LL, Qt::UTC).toString(Qt::ISODateWithMs);
}

// A second whose reading has others before and after it in its column.
int midColumn(int near)
{
    const Decimator columns(Start, Start + (Rows - 1) * 1000LL, Size.width() - 80);
    while (columns.column(Start + (near - 1) * 1000LL) != columns.column(Start + (near + 1) * 1000LL))
        ++near;
    return near;
}
const int Spike = midColumn(2500);

// Module 1 at 20.0 °C, 40 %, 6.0 °C with a pause and a 30.0 °C spike;
// module 2 at 25.0 °C, 60 %, 10.0 °C with a run of misses.
void fill(ReadingLog *log)
{
    LogReader reader(log);
    for (int s = 0; s < Rows; ++s) {
        if (s < PauseFrom || s >= PauseTo)
            reader.take(QString("%1,1,%2,40.0,6.0,ok").arg(isoAt(s), s == Spike ? "30.0" : "20.0").toLatin1());
        reader.take((s >= MissFrom && s < MissTo ? QString("%1,2,,,,no answer") : QString("%1,2,25.0,60.0,10.0,ok"))
                        .arg(isoAt(s)).toLatin1());
    }
    log->finish();
}

} // namespace

class PlotTest : public QObject
{
    Q_OBJECT

private:
    ReadingLog m_log;
    PlotRenderer *m_renderer = nullptr;
    QImage m_image;
    QByteArray m_svg;

private slots:
    void initTestCase()
    {
        qputenv("TZ", "IST-5:30");   // no zone data needed, and half an hour off UTC
        tzset();
        fill(&m_log);
        m_renderer = new PlotRenderer(m_log, Size, "test", m_log.start(), m_log.end());
        m_image = QImage(Size, QImage::Format_RGB32);
        QPainter painter(&m_image);
        m_renderer->draw(&painter);
        QBuffer buffer(&m_svg);
        buffer.open(QIODevice::WriteOnly);
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(Size);
        QPainter svgPainter(&svg);
        m_renderer->draw(&svgPainter);
    }
    void cleanupTestCase() { delete m_renderer; }

    void pixels_data()
    {
        QTest::addColumn<int>("panel");
        QTest::addColumn<int>("module");
        QTest::addColumn<int>("second");
        QTest::addColumn<double>("value");   // NAN: the column must not carry the colour
        QTest::newRow("temperature of 1") << 0 << 0 << 100 << 20.0;
        QTest::newRow("humidity of 2") << 1 << 1 << 4000 << 60.0;
        QTest::newRow("one-row spike of 1") << 0 << 0 << Spike << 30.0;
        QTest::newRow("pause of 1") << 0 << 0 << (PauseFrom + PauseTo) / 2 << qQNaN();
        QTest::newRow("misses of 2") << 1 << 1 << (MissFrom + MissTo) / 2 << qQNaN();
    }
    void pixels()
    {
        QFETCH(int, panel);
        QFETCH(int, module);
        QFETCH(int, second);
        QFETCH(double, value);
        const auto which = PlotRenderer::Panel(panel);
        const QRect r = m_renderer->panel(which);
        const QPoint p = m_renderer->point(which, Start + second * 1000LL, qIsNaN(value) ? 0 : value);
        const QRgb colour = PlotRenderer::colour(module).rgb();
        int found = -1;
        for (int y = r.top(); y <= r.bottom(); ++y) {
            if (m_image.pixel(p.x(), y) == colour && (found < 0 || qAbs(y - p.y()) < qAbs(found - p.y())))
                found = y;
        }
        if (qIsNaN(value))
            QCOMPARE(found, -1);
        else
            QVERIFY2(qAbs(found - p.y()) <= 1, qPrintable(QString("at %1, colour at y %2").arg(p.y()).arg(found)));
    }

    // The curves as paths by stroke colour, and every text drawn.
    void svg_data()
    {
        QTest::addColumn<QString>("stroke");
        QTest::addColumn<int>("paths");     // with that stroke; -1 for a text instead
        QTest::addColumn<QString>("text");
        // Temperature and humidity: a path before and one after the gap.
        QTest::newRow("module 1") << PlotRenderer::colour(0).name() << 4 << "";
        QTest::newRow("dew point of 1") << PlotRenderer::dewPointColour(0).name() << 2 << "";
        QTest::newRow("module 2") << PlotRenderer::colour(1).name() << 4 << "";
        QTest::newRow("panel °C") << "" << -1 << "temperature and dew point (light), °C";
        QTest::newRow("panel %") << "" << -1 << "relative humidity, %";
        QTest::newRow("max of 1") << "" << -1 << "30.0";
        QTest::newRow("mean of 1") << "" << -1 << QString::number(20.0 + 10.0 / (Rows - 100), 'f', 1);
        QTest::newRow("missed of 2") << "" << -1 << "1.0 %";
        QTest::newRow("title") << "" << -1 << "2026-12-08 06:30:00 IST to 2026-12-08 07:53:19 IST, 9900 readings, 50 missed (0.5 %)";
    }
    void svg()
    {
        QFETCH(QString, stroke);
        QFETCH(int, paths);
        QFETCH(QString, text);
        QXmlStreamReader xml(m_svg);
        QStringList strokes{""};
        int count = 0;
        QStringList texts;
        while (!xml.atEnd()) {
            xml.readNext();
            if (xml.isStartElement() && xml.name() == QLatin1String("g"))
                strokes << xml.attributes().value("stroke").toString();
            if (xml.isEndElement() && xml.name() == QLatin1String("g"))
                strokes.removeLast();
            if (xml.isStartElement() && xml.name() == QLatin1String("path") && strokes.constLast() == stroke)
                ++count;
            if (xml.isStartElement() && xml.name() == QLatin1String("text"))
                texts << xml.readElementText().simplified();
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        if (paths >= 0)
            QCOMPARE(count, paths);
        else
            QVERIFY2(texts.contains(text), qPrintable(texts.join(" | ")));
    }

    void badRows_data()
    {
        QTest::addColumn<QString>("row");
        QTest::addColumn<QString>("reason");   // empty: the row goes in
        QTest::newRow("csv") << "2026-12-08T01:40:57.985Z,1,21.5,40.0,7.3,ok" << "";
        QTest::newRow("quoted status") << "2026-12-08T01:40:57.985Z,1,,,,\"port lost: gone, \"\"ttyUSB0\"\"\"" << "";
        QTest::newRow("json") << R"({"time":"2026-12-08T01:40:57.985Z","address":3,"temperature":-1.5,"humidity":40,"dew_point":null,"status":"no answer"})" << "";
        QTest::newRow("offset time") << "2026-12-08T02:40:57+01:00,1,21.5,40.0,7.3,ok" << "";
        QTest::newRow("junk") << "garbage" << "6 fields";
        QTest::newRow("time") << "yesterday,1,21.5,40.0,7.3,ok" << "the time is not";
        QTest::newRow("address") << "2026-12-08T01:40:57.985Z,248,21.5,40.0,7.3,ok" << "1 to 247, not 248";
        QTest::newRow("ok without a value") << "2026-12-08T01:40:57.985Z,1,21.5,,7.3,ok" << "humidity is not a number";
        QTest::newRow("value") << "2026-12-08T01:40:57.985Z,1,21.5x,40.0,7.3,ok" << "temperature is not";
        QTest::newRow("no status") << "2026-12-08T01:40:57.985Z,1,,,," << "status is empty";
        QTest::newRow("broken json") << R"({"time":"2026-12-08T01:40:57.985Z")" << "not JSON";
    }
    void badRows()
    {
        QFETCH(QString, row);
        QFETCH(QString, reason);
        ReadingLog log;
        LogReader reader(&log);
        const QString got = reader.take(row.toUtf8());
        QVERIFY2(reason.isEmpty() ? got.isEmpty() : got.contains(reason), qPrintable(got));
    }

    void badRowsNamed()
    {
        QTemporaryFile file;
        QVERIFY(file.open());
        file.write("time,address,temperature_c,humidity_rh,dew_point_c,status\n");
        for (int i = 0; i < 7; ++i)
            file.write("2026-12-08T01:40:57.985Z,1,21.5,40.0,7.3,ok\nx\n");
        file.close();
        ReadingLog log;
        LogReader reader(&log);
        QVERIFY(reader.read(file.fileName()));
        QCOMPARE(reader.badRows(), 7);
        QCOMPARE(reader.readableRows(), 7);
        QCOMPARE(reader.namedBadRows().size(), LogReader::NamedBadRows);
        QVERIFY(reader.namedBadRows().constFirst().startsWith(file.fileName() + ":3: "));
    }

    void timeAxis_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<int>("minutes");
        QTest::addColumn<int>("maxTicks");
        QTest::addColumn<QString>("first");   // label and date of the first tick
        QTest::addColumn<int>("stepSeconds");
        QTest::newRow("an hour") << "2026-12-08T01:40:57Z" << 60 << 13 << "07:15 8 Dec" << 300;
        QTest::newRow("a minute") << "2026-12-08T01:40:57Z" << 1 << 10 << "07:11:00 8 Dec" << 10;
        QTest::newRow("over midnight") << "2026-12-08T18:00:00Z" << 120 << 10 << "23:30 8 Dec" << 900;
        QTest::newRow("days") << "2026-12-08T00:00:00Z" << 3 * 1440 << 5 << "9 Dec" << 86400;
    }
    void timeAxis()
    {
        QFETCH(QString, start);
        QFETCH(int, minutes);
        QFETCH(int, maxTicks);
        QFETCH(QString, first);
        QFETCH(int, stepSeconds);
        const qint64 from = QDateTime::fromString(start, Qt::ISODate).toMSecsSinceEpoch();
        const TimeAxis axis(from, from + minutes * 60000LL, maxTicks);
        QVERIFY(!axis.ticks().isEmpty() && axis.ticks().size() <= maxTicks);
        QCOMPARE((axis.ticks()[0].label + ' ' + axis.ticks()[0].date).trimmed(), first);
        QCOMPARE(axis.step(), stepSeconds * 1000LL);
    }

    void exitCodes_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("drawn") << "LOG -o OUT/a.svg --title run" << 0 << "";
        QTest::newRow("unknown type") << "LOG -o OUT/a.jpg" << 2 << "FILE.png or FILE.svg, not";
        QTest::newRow("size") << "LOG -o OUT/a.png --size 99x99" << 2 << "640x480 to 4000x4000";
        QTest::newRow("no readable row") << "BAD -o OUT/a.png" << 1 << "BAD:1: ";
        QTest::newRow("none in span") << "LOG -o OUT/a.png --from 2027-01-01" << 1 << "no reading between";
        QTest::newRow("unwritable") << "LOG -o OUT/none/a.png" << 4 << "No such file or directory";
    }
    void exitCodes()
    {
        QFETCH(QString, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QFile log(dir.filePath("log.csv")), bad(dir.filePath("bad.csv"));
        QVERIFY(log.open(QIODevice::WriteOnly) && bad.open(QIODevice::WriteOnly));
        log.write("2026-12-08T01:40:57.985Z,1,21.5,40.0,7.3,ok\n2026-12-08T01:40:58.985Z,1,21.6,40.0,7.3,ok\n");
        bad.write("nothing,here\n");
        log.close();
        bad.close();
        arguments.replace("LOG", log.fileName()).replace("BAD", bad.fileName()).replace("OUT", dir.path());
        QProcess cli;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            environment.remove(name);   // plot takes the offscreen platform itself
        cli.setProcessEnvironment(environment);
        cli.start(MORVANE_CLI, QStringList{"plot"} + arguments.split(' '));
        QVERIFY(cli.waitForFinished(30000));
        QCOMPARE(cli.exitCode(), exitCode);
        QVERIFY2(QString(cli.readAllStandardError()).contains(message.replace("BAD", bad.fileName())), qPrintable(message));
    }
};

QTEST_MAIN(PlotTest)
#include "tst_plot.moc"
