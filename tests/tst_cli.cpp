// morvane-cli against morvane-sim on a pseudo-terminal, and against the test
// playing a module that refuses.
#include "testsupport.h"

#include <QtTest>

static QProcess *startCli(const QString &arguments, const QString &port)
{
    QStringList args = arguments.split(' ', Qt::SkipEmptyParts);
    if (!args.contains("--port"))
        args << "--port" << port;
    auto *cli = new QProcess;
    cli->start(MORVANE_CLI, args);
    return cli;
}

class CliTest : public QObject
{
    Q_OBJECT

private slots:
    // Each row: the simulator's options, then runs of "arguments | exit code |
    // pattern its standard output must match", one after another.
    void commands_data()
    {
        QTest::addColumn<QString>("sim");
        QTest::addColumn<QStringList>("runs");
        for (const char *baud : {"1200", "2400", "4800", "9600", "19200"})
            QTest::addRow("find at %s", baud) << QString("--address 7 --baud %1").arg(baud)
                                              << QStringList{QString("find | 0 | ^address 7 at %1 bit/s\n$").arg(baud)};
        QTest::newRow("find --scan") << "--address 200 --baud 19200"
                                     << QStringList{"find --scan --baud 19200 --timeout 30 | 0 | ^address 200 at 19200 bit/s\n$"};
        QTest::newRow("read, three formats") << "--address 3 --temperature -12.3 --humidity 87.6 --dew-point -13.9"
            << QStringList{"read --address 3 | 0 | ^temperature -12.3 °C, humidity 87.6 %RH, dew point -13.9 °C\n$",
                           "read --address 3 --format csv --watch 0.2 --count 3 | 0 | "
                           "^time,address,temperature_c,humidity_rh,dew_point_c,status\n"
                           "(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d(Z|[+-]\\d\\d:\\d\\d),3,-12.3,87.6,-13.9,ok\n){3}$",
                           "read --address 3 --format json | 0 | \"temperature\":-12.3",
                           "read --address 4 --timeout 100 | 1 | no answer"};
        QTest::newRow("large values") << "--temperature 3276.7 --humidity 6553.5 --dew-point -3276.8"
            << QStringList{"read --address 1 | 0 | temperature 3276.7 °C, humidity 6553.5 %RH, dew point -3276.8 °C"};
        QTest::newRow("set-address, then read") << "--address 5"
            << QStringList{"set-address 12 | 0 | ^address 5 → 12\n$", "read --address 12 | 0 | ^temperature"};
        QTest::newRow("set-baud, then find") << "--address 5"
            << QStringList{"set-baud 19200 | 0 | ^address 5: 9600 → 19200 bit/s\n$", "find | 0 | ^address 5 at 19200 bit/s"};
        // Nothing goes on the line for a value the module cannot take.
        QTest::newRow("refused before sending") << "--address 5 --verbose"
            << QStringList{"set-address 0 | 2 | ^$", "set-address 248 | 2 | ^$", "set-baud 38400 | 2 | ^$",
                           "read --port /nonexistent/tty --address 1 | 3 | ^$"};
        // Every value shown is the one sent, however many tries it takes.
        QTest::newRow("bad line") << "--drop 0.3 --corrupt 0.2 --seed 5 --temperature 21.5 --humidity 40 --dew-point 7.3"
            << QStringList{"read --address 1 --format csv --watch 0.05 --count 20 --retries 5 | 0 | "
                           "^time,.*\n(\\S+,1,(21.5,40.0,7.3,ok|,,,no answer)\n){20}$"};
    }

    void commands()
    {
        QFETCH(QString, sim);
        QFETCH(QStringList, runs);
        SimProcess module(sim.split(' ', Qt::SkipEmptyParts));
        for (const QString &run : runs) {
            const QStringList parts = run.split(" | ");
            QScopedPointer<QProcess> cli(startCli(parts[0], module.path()));
            QVERIFY(cli->waitForFinished(60000));
            const QString out = QString::fromUtf8(cli->readAllStandardOutput());
            const QString why = parts[0] + ":\n" + out + cli->readAllStandardError();
            QVERIFY2(cli->exitCode() == parts[1].toInt(), qPrintable(why));
            QVERIFY2(QRegularExpression(parts[2]).match(out).hasMatch(), qPrintable(why));
            for (const QString &line : out.split('\n', Qt::SkipEmptyParts))
                QVERIFY(!parts[0].contains("json") || QJsonDocument::fromJson(line.toUtf8()).isObject());
        }
        if (QTest::currentDataTag() == QString("refused before sending"))
            QVERIFY(module.output().filter("->RX").isEmpty());
    }

    // A reply from another module is not the answer; the refusal is.
    void exceptionNamed()
    {
        Pty pty;
        QScopedPointer<QProcess> cli(startCli("read --address 7", pty.slavePath()));
        QTRY_COMPARE(pty.received(), fromHex("07 03 00 00 00 03 05 AD"));
        pty.write(withCrc(fromHex("08 03 06 00 01 00 02 00 03")) + withCrc(fromHex("07 83 02")));
        QVERIFY(cli->waitForFinished(10000));
        QCOMPARE(cli->exitCode(), 1);
        QCOMPARE(cli->readAllStandardOutput(), QByteArray("address 7: illegal data address\n"));
    }
};

QTEST_MAIN(CliTest)
#include "tst_cli.moc"
