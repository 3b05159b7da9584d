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
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

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

const int OldPicture = 60 * 1024;   // of a 64 KiB tmpfs: a page is left

// A small tmpfs filled up but for a few kilobytes, holding an old picture;
// unmounted however the test ends.
struct Mount
{
    Mount(const QString &where, bool wanted) : path(where)
    {
        if (!wanted || !QDir().mkpath(where))
            return;
        mounted = mount("tmpfs", qPrintable(where), "tmpfs", 0, "size=64k") == 0;
        QFile old(where + "/old.png");
        if (mounted && old.open(QIODevice::WriteOnly))
            old.write(QByteArray(OldPicture, 'x'));
    }
    ~Mount()
    {
        if (mounted)
            umount2(qPrintable(path), MNT_DETACH);
    }
    QString path;
    bool mounted = false;
};

// Well-formed XML, sized in pixels as the PNG.
void checkSvg(const QString &path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("svg"))
            QCOMPARE(xml.attributes().value("width").toString(), QString("%1px").arg(Size.width()));
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
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
        QTest::newRow("panel °C") << "" << -1 << "temperature and dew point (dotted), °C";
        QTest::newRow("dew point's legend") << "" << -1 << "dew point";
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
        QTest::newRow("status OK") << "2026-12-08T01:40:57.985Z,1,21.5,40.0,7.3,OK" << "status \"OK\" is not one";
        QTest::newRow("status ok and a blank") << "2026-12-08T01:40:57.985Z,1,21.5,40.0,7.3,ok " << "status \"ok \" is not one";
        QTest::newRow("an exception") << "2026-12-08T01:40:57.985Z,1,,,,illegal data address" << "";
        QTest::newRow("seventh field, no header") << "2026-12-08T01:40:57.985Z,1,21.5,40.0,7.3,ok,note" << "more than 6 fields";
        QTest::newRow("escape sequence") << "\x1b[2J2026-12-08T01:40:57.985Z,1,21.5,40.0,7.3,ok" << "time: \\x1b[2J2026";
        QTest::newRow("json address 1.5") << R"({"time":"2026-12-08T01:40:57Z","address":1.5,"status":"no answer"})" << "\"address\" is 1.5; it takes a whole number";
        QTest::newRow("json value as text") << R"({"time":"2026-12-08T01:40:57Z","address":1,"temperature":"21.6","humidity":40,"dew_point":7,"status":"ok"})"
                                            << "\"temperature\" is a string; it takes a number";
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

    // Whole files: lines of any length, headers, encodings.
    void files_data()
    {
        const QByteArray row = "2026-12-08T01:40:57.985Z,1,21.5,40.0,7.3,ok\n";
        const QByteArray header = "time,address,temperature_c,humidity_rh,dew_point_c,status\n";
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("readable");    // -1: the file is refused
        QTest::addColumn<int>("misses");
        QTest::addColumn<QString>("named");   // the first bad row named, or the refusal
        QTest::newRow("seven bad rows") << header + (row + "x\n").repeated(7) << 7 << 0 << ":3: only 1 of the 6 fields";
        // The tail of the long line would be a reading of 99.9 °C were the line cut where a read ends.
        const QByteArray tail = "2026-12-08T01:41:00.000Z,1,99.9,99.9,7.3,ok\n";
        QTest::newRow("long line") << row + QByteArray((1 << 16) - row.size(), 'A') + tail + "x\n" + row << 2 << 0
                                   << ":2: longer than 4096 bytes";
        QTest::newRow("a note column") << QByteArray("time,address,temperature_c,humidity_rh,dew_point_c,status,note\n"
                                          "2026-12-08T01:40:57.985Z,1,21.5,40.0,7.3,ok,\"checked, fine\"\n"
                                          "2026-12-08T01:40:58.985Z,1,,,,no answer,\n") << 2 << 1 << "";
        QTest::newRow("columns reordered") << QByteArray("status,address,time,dew_point_c,humidity_rh,temperature_c\nok,1,2026-12-08T01:40:57Z,7.3,40,21.5\n")
                                           << 1 << 0 << "";
        QTest::newRow("a column missing") << QByteArray("time,address,temperature_c,humidity_rh,dew_point_c\n") + row << -1 << 0
                                          << ":1: the header has no column status";
        QTest::newRow("NUL bytes") << row + QByteArray("2026-12-08T01:40:57.985Z,1,2\0,40.0,7.3,ok\n", 42) << 1 << 0 << ":2: holds NUL bytes";
        QTest::newRow("UTF-16 with a mark") << QByteArray("\xFF\xFE") + QByteArray(reinterpret_cast<const char *>(QString(row).utf16()), 2 * row.size())
                                            << -1 << 0 << "is UTF-16 text (it starts with a byte-order mark)";
        QTest::newRow("UTF-16, no mark") << QByteArray(reinterpret_cast<const char *>(QString(row).utf16()), 2 * row.size())
                                         << -1 << 0 << "is UTF-16 text, not UTF-8";
    }
    void files()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, readable);
        QFETCH(int, misses);
        QFETCH(QString, named);
        QTemporaryFile file;
        QVERIFY(file.open() && file.write(content) == content.size() && file.flush());
        ReadingLog log;
        LogReader reader(&log);
        QCOMPARE(reader.read(file.fileName()), readable >= 0);
        QVERIFY2(readable >= 0 || reader.errorString().contains(named), qPrintable(reader.errorString()));
        if (readable < 0)
            return;
        QCOMPARE(reader.readableRows(), readable);
        QCOMPARE(log.misses(), misses);
        QCOMPARE(reader.namedBadRows().value(0).mid(file.fileName().size()).left(named.size()), named);
    }

    void timeAxis_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<int>("minutes");
        QTest::addColumn<int>("maxTicks");
        QTest::addColumn<QString>("first");   // label and date of the first tick
        QTest::addColumn<int>("stepSeconds");
        QTest::addColumn<QByteArray>("tz");   // empty: India's
        QTest::addColumn<QString>("later");   // a later label that names its zone
        QTest::newRow("an hour") << "2026-12-08T01:40:57Z" << 60 << 13 << "07:15 IST 8 Dec" << 300 << QByteArray() << "";
        QTest::newRow("a minute") << "2026-12-08T01:40:57Z" << 1 << 10 << "07:11:00 IST 8 Dec" << 10 << QByteArray() << "";
        QTest::newRow("over midnight") << "2026-12-08T18:00:00Z" << 120 << 10 << "23:30 IST 8 Dec" << 900 << QByteArray() << "";
        QTest::newRow("days") << "2026-12-08T00:00:00Z" << 3 * 1440 << 5 << "9 Dec IST" << 86400 << QByteArray() << "";
        QTest::newRow("summer time ends") << "2026-10-25T00:00:00Z" << 120 << 5 << "02:00 CEST 25 Oct" << 1800
                                          << QByteArray("CET-1CEST,M3.5.0,M10.5.0/3") << "02:00 CET";
    }
    void timeAxis()
    {
        QFETCH(QString, start);
        QFETCH(int, minutes);
        QFETCH(int, maxTicks);
        QFETCH(QString, first);
        QFETCH(int, stepSeconds);
        QFETCH(QByteArray, tz);
        QFETCH(QString, later);
        qputenv("TZ", tz.isEmpty() ? QByteArray("IST-5:30") : tz);
        tzset();
        const qint64 from = QDateTime::fromString(start, Qt::ISODate).toMSecsSinceEpoch();
        const TimeAxis axis(from, from + minutes * 60000LL, maxTicks);
        QStringList labels;
        for (const TimeAxis::Tick &tick : axis.ticks())
            labels << tick.label;
        qputenv("TZ", "IST-5:30");
        tzset();
        QVERIFY(!axis.ticks().isEmpty() && axis.ticks().size() <= maxTicks);
        QCOMPARE((axis.ticks()[0].label + ' ' + axis.ticks()[0].date).trimmed(), first);
        QCOMPARE(axis.step(), stepSeconds * 1000LL);
        QCOMPARE(labels.filter(QRegularExpression(" [A-Z]+$")).mid(1), later.isEmpty() ? QStringList() : QStringList{later});
    }

    // The 20 colours: none a lighter or darker copy of another; with
    // dashes, 50 modules drawn all differently.
    void colours()
    {
        QSet<QPair<QRgb, int>> drawn;
        for (int m = 0; m < 50; ++m)
            drawn.insert({PlotRenderer::colour(m).rgb(), int(PlotRenderer::style(m))});
        QCOMPARE(drawn.size(), 50);
        for (int a = 0; a < 20; ++a) {
            for (int b = a + 1; b < 20; ++b) {
                const QColor x = PlotRenderer::colour(a), y = PlotRenderer::colour(b);
                const int hue = qAbs(x.hslHue() - y.hslHue());
                QVERIFY2(x.hslSaturation() < 25 || y.hslSaturation() < 25 || qMin(hue, 360 - hue) >= 10
                             || qAbs(x.hslSaturation() - y.hslSaturation()) >= 50, qPrintable(x.name() + ' ' + y.name()));
            }
        }
    }

    // A reading with no neighbour is a mark several pixels across, inside the frame.
    void loneReading()
    {
        ReadingLog log;
        LogReader(&log).take("2026-12-08T01:40:57.985Z,1,21.5,40.0,7.3,ok");
        log.finish();
        const PlotRenderer renderer(log, QSize(800, 600), "one", log.start() - 30000, log.end() + 30000);
        QImage image(800, 600, QImage::Format_RGB32);
        QPainter painter(&image);
        renderer.draw(&painter);
        const QPoint at = renderer.point(PlotRenderer::Celsius, log.start(), 21.5);
        for (const QPoint d : {QPoint(-2, -2), QPoint(2, 2)})
            QCOMPARE(image.pixel(at + d), PlotRenderer::colour(0).rgb());
    }

    void exitCodes_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("drawn") << "LOG -o OUT/a.svg --title 3<&>4\x1b" << 0 << "";
        QTest::newRow("unknown type") << "LOG -o OUT/a.jpg" << 2 << "FILE.png or FILE.svg, not";
        QTest::newRow("size") << "LOG -o OUT/a.png --size 99x99" << 2 << "640x480 to 4000x4000";
        QTest::newRow("too small") << "LOG -o OUT/a.png --size 640x480" << 2 << "give --size 640x580 or more";
        QTest::newRow("no readable row") << "BAD -o OUT/a.png" << 1 << "BAD:1: ";
        QTest::newRow("none in span") << "LOG -o OUT/a.png --from 2027-01-01" << 1 << "no reading between";
        QTest::newRow("unwritable") << "LOG -o OUT/none/a.png" << 4 << "No such file or directory";
        QTest::newRow("the log itself") << "OUT/log.png -o OUT/log.png" << 2 << "is the log OUT/log.png itself";
        QTest::newRow("a link to the log") << "LOG -o OUT/link.png" << 2 << "is the log LOG itself";
        QTest::newRow("a device") << "LOG -o OUT/device.png" << 2 << "is a character device";
        QTest::newRow("a full disk") << "LOG -o OUT/full/old.png" << 4 << "No space left on device";
    }
    // Each run leaves the log as it was and no temporary file.
    void exitCodes()
    {
        QFETCH(QString, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QByteArray rows = "2026-12-08T01:40:57.985Z,1,21.5,40.0,7.3,ok\n2026-12-08T01:40:58.985Z,1,21.6,40.0,7.3,ok\n";
        QFile log(dir.filePath("log.csv")), bad(dir.filePath("bad.csv")), named(dir.filePath("log.png"));
        QVERIFY(log.open(QIODevice::WriteOnly) && bad.open(QIODevice::WriteOnly) && named.open(QIODevice::WriteOnly));
        log.write(rows);
        named.write(rows);
        bad.write("nothing,here\n");
        log.close();
        bad.close();
        named.close();
        QVERIFY(QFile::link(log.fileName(), dir.filePath("link.png")));
        const QByteArray device = QFile::encodeName(dir.filePath("null"));
        if (message.contains("device") && mknod(device.constData(), S_IFCHR | 0666, makedev(1, 3)) != 0)
            QSKIP("cannot make a device node here");
        QVERIFY(QFile::link(dir.filePath("null"), dir.filePath("device.png")));
        const Mount full(dir.filePath("full"), message.contains("space"));
        if (message.contains("space") && !full.mounted)
            QSKIP("cannot mount a tmpfs here (mount needs root): the full disk is not tried");
        arguments.replace("LOG", log.fileName()).replace("BAD", bad.fileName()).replace("OUT", dir.path());
        QProcess cli;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            environment.remove(name);   // plot takes the offscreen platform itself
        cli.setProcessEnvironment(environment);
        cli.start(MORVANE_CLI, QStringList{"plot"} + arguments.replace("\\x1b", "\x1b").split(' '));
        QVERIFY(cli.waitForFinished(30000));
        const QString error = cli.readAllStandardError();
        QCOMPARE(cli.exitCode(), exitCode);
        QVERIFY2(error.contains(message.replace("BAD", bad.fileName()).replace("LOG", log.fileName()).replace("OUT", dir.path())),
                 qPrintable(error));
        QVERIFY(log.open(QIODevice::ReadOnly) && log.readAll() == rows);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Hidden | QDir::Files).filter(QRegularExpression("^\\.")), QStringList());
        if (full.mounted) {
            QCOMPARE(QDir(full.path).entryList(QDir::Hidden | QDir::Files), QStringList{"old.png"});
            QCOMPARE(QFileInfo(full.path + "/old.png").size(), OldPicture);
        }
        if (exitCode == 0)
            checkSvg(dir.filePath("a.svg"));
    }
};

QTEST_MAIN(PlotTest)
#include "tst_plot.moc"
