// morvane-sim against an independent Modbus master (mbpoll); Morvane
// polling morvane-sim on a bad line for a while, and losing the line
// altogether. MORVANE_SOAK_POLLS (default 30) and MORVANE_SOAK_SEED set the
// length and the faults of the soak; a long soak may take a day.
#include "testsupport.h"

#include <QtTest>

#include <memory>

static int soakPolls()
{
    return qEnvironmentVariableIsSet("MORVANE_SOAK_POLLS") ? qEnvironmentVariableIntValue("MORVANE_SOAK_POLLS") : 30;
}

// QtTest ends any test function after five minutes unless told otherwise.
static void allowLongSoak()
{
    if (qEnvironmentVariableIsEmpty("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number(qMax(300000, soakPolls() * 2000 + 60000)));
}
Q_CONSTRUCTOR_FUNCTION(allowLongSoak)

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
        QTest::newRow("reads") << QStringList{"-a 3 -r 0 -c 3", "-a 3 -r 256 -c 2", "-a 4 -r 0 -o 0.3"}
                               << QStringList{"[0]: \t65481 (-55)\n[1]: \t805\n[2]: \t65456 (-80)",
                                              "[256]: \t3\n[257]: \t4", "timed out"};
        QTest::newRow("both written at once, moved") << QStringList{"-a 3 -r 256 @ 17 2", "-a 17 -r 256 -c 2", "-a 3 -r 256 -o 0.3"}
                                                     << QStringList{"Written 2 references", "[256]: \t17\n[257]: \t2", "timed out"};
        QTest::newRow("exceptions") << QStringList{"-a 3 -r 5", "-a 3 -r 0 @ 1", "-a 3 -r 256 @ 248", "-a 3 -t 0 -r 0"}
                                    << QStringList{"Illegal data address", "Illegal data address",
                                                   "Illegal data value", "Illegal function"};
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

    // Every reply accepted (and shown) was sent whole by the simulator.
    void badLine()
    {
        const int polls = soakPolls();
        SimProcess sim({"--drift", "--verbose", "--seed", qEnvironmentVariable("MORVANE_SOAK_SEED", "11"), "--drop", "0.1",
                        "--corrupt", "0.1", "--split", "0.3", "--gap-ms", "30", "--noise", "0.05"});
        Fixture f;
        auto *browser = f.find<QTextBrowser>("textBrowser");
        QStringList accepted;
        int sent = 0;
        connect(browser, &QTextBrowser::textChanged, this, [&] {
            const QString last = browser->document()->lastBlock().text();
            sent += last.contains("->TX  01030000");
            if (last.contains("->RX  "))
                accepted << last.section("->RX  ", 1);
        });
        f.link("9600", "NO", sim.path());
        f.address()->setText("1");
        f.button("pushButtonRead")->click();
        QTRY_VERIFY_WITH_TIMEOUT(sent >= polls, polls * 1500 + 20000);
        f.button("pushButtonRead")->click();
        QTest::qWait(600);
        QCOMPARE(sim.stop(), 0);
        const QString transmitted = sim.output().filter("->TX  ").join('\n');
        qInfo("polls %d, replies sent %d, accepted %d", sent, int(transmitted.count('\n')) + 1, int(accepted.size()));
        QVERIFY(accepted.size() > polls / 3);
        for (const QString &reply : accepted)
            QVERIFY2(transmitted.contains(reply), qPrintable("never sent: " + reply));
    }

    // Morvane reads the address through address 0 and polls; then the
    // simulator exits and its terminal goes away under the open port.
    // Morvane must carry on, and a new Link must work.
    void lineVanishes()
    {
        auto first = std::make_unique<SimProcess>(QStringList{"--temperature", "18.0"});
        Fixture f;
        f.link("9600", "NO", first->path());
        QTRY_COMPARE(f.address()->text(), QString("1"));
        f.button("pushButtonRead")->click();
        QTRY_VERIFY_WITH_TIMEOUT(f.values().startsWith("Temperature:18.0℃"), 5000);

        QCOMPARE(first->stop(), 0);
        const int before = f.log().size();
        const double cpuBefore = cpuSeconds();
        QTRY_VERIFY_WITH_TIMEOUT(f.log().size() >= before + 3, 8000);
        QCOMPARE(f.log().mid(before).filter("->TX  01030000000305cb").size(), f.log().size() - before);
        // Carrying on means waiting, not spinning on the dead terminal.
        const double cpu = cpuSeconds() - cpuBefore;
        QVERIFY2(cpu < 1.5, qPrintable(QString("%1 s of CPU in 3 s").arg(cpu)));

        SimProcess second({"--address", "4", "--temperature", "-3.5"});
        f.link("9600", "NO", second.path());
        QTRY_COMPARE(f.address()->text(), QString("4"));
        QTRY_VERIFY_WITH_TIMEOUT(f.values().startsWith("Temperature:-3.5℃"), 5000);
        f.button("pushButtonRead")->click();
    }
};

QTEST_MAIN(SimTest)
#include "tst_sim.moc"
