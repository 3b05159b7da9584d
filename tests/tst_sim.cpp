// morvane-sim against an independent Modbus master (mbpoll), and Morvane
// against morvane-sim, clean and with one fault on every reply.
#include "testsupport.h"
#include "uartparam.h"
#include "widget.h"

#include <QtTest>
#include <QtWidgets>

class SimTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { resetUartParam(); }

    // Each row is a run of mbpoll calls against one fresh simulator at
    // address 3, each with the text its output must hold; @ is the device,
    // and values to write follow it.
    void mbpoll_data()
    {
        QTest::addColumn<QStringList>("runs");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("measurements") << QStringList{"-a 3 -r 0 -c 3"}
                                      << QStringList{"[0]: \t65481 (-55)\n[1]: \t805\n[2]: \t65456 (-80)"};
        QTest::newRow("address and baud code") << QStringList{"-a 3 -r 256 -c 2"} << QStringList{"[256]: \t3\n[257]: \t4"};
        QTest::newRow("address write moves it") << QStringList{"-a 3 -r 256 @ 9", "-a 9 -r 256", "-a 3 -r 256 -o 0.3"}
                                                << QStringList{"Written 1 references", "[256]: \t9", "timed out"};
        QTest::newRow("both written at once") << QStringList{"-a 3 -r 256 @ 17 2", "-a 17 -r 256 -c 2"}
                                              << QStringList{"Written 2 references", "[256]: \t17\n[257]: \t2"};
        QTest::newRow("across the blocks") << QStringList{"-a 3 -r 2 -c 2"} << QStringList{"Illegal data address"};
        QTest::newRow("unknown register") << QStringList{"-a 3 -r 5"} << QStringList{"Illegal data address"};
        QTest::newRow("measurement read-only") << QStringList{"-a 3 -r 0 @ 1"} << QStringList{"Illegal data address"};
        QTest::newRow("address 248") << QStringList{"-a 3 -r 256 @ 248"} << QStringList{"Illegal data value"};
        QTest::newRow("baud code 6") << QStringList{"-a 3 -r 257 @ 6"} << QStringList{"Illegal data value"};
        QTest::newRow("coils") << QStringList{"-a 3 -t 0 -r 0"} << QStringList{"Illegal function"};
        QTest::newRow("other address") << QStringList{"-a 4 -r 0 -o 0.3"} << QStringList{"timed out"};
    }

    void mbpoll()
    {
        QFETCH(QStringList, runs);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        const QString moduleEnd = dir.filePath("module"), masterEnd = dir.filePath("master");
        QProcess socat;
        socat.start("socat", {"pty,raw,echo=0,link=" + moduleEnd, "pty,raw,echo=0,link=" + masterEnd});
        QVERIFY2(socat.waitForStarted(), "socat is missing");
        QTRY_VERIFY(QFile::exists(moduleEnd) && QFile::exists(masterEnd));

        SimProcess sim({"--port", moduleEnd, "--address", "3", "--temperature", "-5.5", "--humidity", "80.5",
                        "--dew-point", "-8"});
        QCOMPARE(sim.path(), moduleEnd);
        for (int i = 0; i < runs.size(); ++i) {
            QStringList arguments = QStringList{"-m", "rtu", "-b", "9600", "-P", "none", "-0", "-1"}
                                    + (runs[i].contains('@') ? runs[i] : runs[i] + " @").split(' ');
            arguments.replaceInStrings("@", masterEnd);
            QProcess master;
            master.setProcessChannelMode(QProcess::MergedChannels);
            master.start("mbpoll", arguments);
            QVERIFY(master.waitForFinished(20000));
            const QString out = QString::fromLocal8Bit(master.readAll());
            QVERIFY2(out.contains(expected[i]), qPrintable(runs[i] + ":\n" + out));
        }
        QCOMPARE(sim.stop(), 0);
        socat.terminate();
        socat.waitForFinished();
    }

    void morvaneEndToEnd()
    {
        SimProcess sim({"--address", "7", "--temperature", "21.5", "--humidity", "40"});
        Bench bench;
        bench.link("9600", "NO", sim.path());
        QTRY_COMPARE(bench.address()->text(), QString("7"));
        bench.button("pushButtonRead")->click();
        QTRY_COMPARE_WITH_TIMEOUT(bench.label("labelTemperature")->text(), QString("Temperature:21.5℃"), 5000);
        QCOMPARE(bench.label("labelHumidity")->text(), QString("Humidity:40.0%"));
        QCOMPARE(bench.label("labelDewTemp")->text(), QString("DewTemp:7.3℃"));

        // The module takes the new address and polling follows the field.
        bench.address()->setText("9");
        bench.button("pushButtonAddress")->click();
        QTRY_COMPARE(bench.log().filter("->RX  " + withCrc(fromHex("00 06 01 00 00 09")).toHex()).size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(bench.log().last().contains("->RX  090306"), 5000);
        bench.button("pushButtonRead")->click();
        QTest::qWait(700);
        QVERIFY(bench.watcher->texts.isEmpty());
        QCOMPARE(sim.stop(), 0);
    }

    void badLine_data()
    {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<bool>("shown");
        QTest::newRow("every reply corrupted") << QStringList{"--corrupt", "1"} << false;
        QTest::newRow("every reply split") << QStringList{"--split", "1", "--gap-ms", "60"} << true;
    }

    void badLine()
    {
        QFETCH(QStringList, faults);
        QFETCH(bool, shown);
        SimProcess sim(QStringList{"--seed", "7", "--temperature", "30.2"} + faults);
        Bench bench;
        bench.link("9600", "NO", sim.path());
        bench.address()->setText("1");
        bench.button("pushButtonRead")->click();
        if (shown) {
            QTRY_COMPARE_WITH_TIMEOUT(bench.label("labelTemperature")->text(), QString("Temperature:30.2℃"), 5000);
        } else {
            QTest::qWait(3500);
            QCOMPARE(bench.label("labelTemperature")->text(), QString("Temperature:"));
            QVERIFY(bench.log().filter("->RX").isEmpty());
        }
    }
};

QTEST_MAIN(SimTest)
#include "tst_sim.moc"
