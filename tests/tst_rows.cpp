// The reading row: what read and find --scan write, byte for byte, and
// that every row read can write comes back the same from CSV and JSON.
#include "modbusframe.h"
#include "readingrow.h"

#include <QtTest>

#include <ctime>

namespace {

const QVector<int> Missing;
const QByteArray CentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";

struct Zone
{
    const char *name;
    QByteArray tz;
    qint64 time;   // ms since the epoch
    int offset;    // the local offset then, in seconds
};

const Zone Zones[] = {
    {"UTC", "UTC", 1796694057985, 0},
    {"India", "IST-5:30", 1796694057985, 19800},
    {"Pacific summer", "PST8PDT", 1782907200001, -25200},
    {"last ms of CET in March", CentralEurope, 1774745999999, 3600},
    {"first ms of CEST", CentralEurope, 1774746000000, 7200},
    {"last ms of CEST", CentralEurope, 1792889999999, 7200},
    {"first ms of CET in October", CentralEurope, 1792890000000, 3600},
};

ReadingRow row(int address, const QString &status, const QVector<int> &values, qint64 time = 0, int offset = 0)
{
    ReadingRow row;
    row.time = time;
    row.utcOffset = offset;
    row.address = address;
    row.status = status;
    for (int q = 0; q < values.size(); ++q)
        row.tenths[q] = values[q];
    return row;
}

} // namespace

class TestRows : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<bool>("json");
        QTest::addColumn<QByteArray>("tz");
        QTest::addColumn<qint64>("time");
        QTest::addColumn<int>("offset");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QVector<int>>("values");
        QList<QPair<QString, QVector<int>>> cases{{"ok", {-32768, 65535, 32767}}, {"ok", {0, 0, -1}},
                                                  {"ok", {32767, 0, -32768}}, {"no answer", Missing},
                                                  {"port lost: read failed, \"ttyUSB0\" is gone", Missing}};
        for (int code = ModbusFrame::IllegalFunction; code <= ModbusFrame::GatewayTargetFailedToRespond + 1; ++code)
            cases.append({ModbusFrame::exceptionName(code), Missing});
        for (bool json : {false, true}) {
            for (const Zone &zone : Zones) {
                for (const auto &c : cases) {
                    QTest::addRow("%s, %s, %s %d", json ? "json" : "csv", zone.name, qPrintable(c.first), c.second.value(0))
                        << json << zone.tz << zone.time << zone.offset << c.first << c.second;
                }
            }
        }
    }
    void roundTrip()
    {
        QFETCH(bool, json);
        QFETCH(QByteArray, tz);
        QFETCH(qint64, time);
        QFETCH(int, offset);
        QFETCH(QString, status);
        QFETCH(QVector<int>, values);
        qputenv("TZ", tz);
        tzset();
        ReadingRow written = row(ModbusFrame::MaxAddress, status, values);
        written.setTime(QDateTime::fromMSecsSinceEpoch(time));   // local, as the master stamps a request
        QCOMPARE(written.utcOffset, offset);
        const QByteArray line = (json ? written.jsonLine() : written.csvLine()).toUtf8();
        ReadingRow back;
        const QString reason = json ? ReadingRow::readJson(line, &back) : ReadingRow::readCsv(line, &back);
        QVERIFY2(reason.isEmpty(), qPrintable(reason + " in " + line));
        QCOMPARE(back.time, time);
        QCOMPARE(back.utcOffset, offset);
        QCOMPARE(back.address, written.address);
        QCOMPARE(back.status, status);
        for (int q = 0; q < ReadingRow::Quantities; ++q)
            QCOMPARE(back.tenths[q], written.tenths[q]);
    }

    void bytes_data()
    {
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("expected");
        const qint64 time = 1796694057985;   // 2026-12-08T01:40:57.985Z
        const ReadingRow ok = row(7, "ok", {215, 400, -73}, time, 3600);
        const ReadingRow utc = row(7, "ok", {215, 400, -73}, time, 0);
        const ReadingRow miss = row(12, "port lost: read failed, \"ttyUSB0\" is gone", Missing, time, -28800);
        QTest::newRow("text") << ok.textLine(false) << "temperature 21.5 °C, humidity 40.0 %RH, dew point -7.3 °C";
        QTest::newRow("text, several") << ok.textLine(true) << "address 7: temperature 21.5 °C, humidity 40.0 %RH, dew point -7.3 °C";
        QTest::newRow("text miss") << miss.textLine(false) << "address 12: port lost: read failed, \"ttyUSB0\" is gone";
        QTest::newRow("csv") << ok.csvLine() << "2026-12-08T02:40:57.985+01:00,7,21.5,40.0,-7.3,ok";
        QTest::newRow("csv in UTC") << utc.csvLine() << "2026-12-08T01:40:57.985Z,7,21.5,40.0,-7.3,ok";
        QTest::newRow("csv miss") << miss.csvLine()
                                  << R"(2026-12-07T17:40:57.985-08:00,12,,,,"port lost: read failed, ""ttyUSB0"" is gone")";
        QTest::newRow("json") << ok.jsonLine()
                              << R"({"address":7,"dew_point":-7.3,"humidity":40,"status":"ok","temperature":21.5,"time":"2026-12-08T02:40:57.985+01:00"})";
        // Plain literals where a quote is escaped: moc misreads \" in a raw string.
        QTest::newRow("json miss") << miss.jsonLine()
                                   << "{\"address\":12,\"dew_point\":null,\"humidity\":null,\"status\":\"port lost: read failed, \\\"ttyUSB0\\\" is gone\",\"temperature\":null,\"time\":\"2026-12-07T17:40:57.985-08:00\"}";
        QTest::newRow("influx") << ok.influxLine() << "morvane,address=7 temperature=21.5,humidity=40.0,dew_point=-7.3 1796694057985000000";
        QTest::newRow("scan csv") << ok.scanCsvLine(9600) << "7,9600,21.5,40.0,-7.3,ok";
        QTest::newRow("scan csv miss, no speed") << miss.scanCsvLine(std::nullopt)
                                                 << R"(12,,,,,"port lost: read failed, ""ttyUSB0"" is gone")";
        QTest::newRow("scan json") << ok.scanJsonLine(9600)
                                   << R"({"address":7,"baud":9600,"dew_point":-7.3,"humidity":40,"status":"ok","temperature":21.5})";
        QTest::newRow("scan json miss, no speed") << miss.scanJsonLine(std::nullopt)
                                                  << "{\"address\":12,\"baud\":null,\"dew_point\":null,\"humidity\":null,\"status\":\"port lost: read failed, \\\"ttyUSB0\\\" is gone\",\"temperature\":null}";
    }
    void bytes()
    {
        QFETCH(QString, written);
        QFETCH(QString, expected);
        QCOMPARE(written, expected);
    }
};

QTEST_GUILESS_MAIN(TestRows)
#include "tst_rows.moc"
