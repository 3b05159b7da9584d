// Morvane polling morvane-sim on a bad line for a while, and losing the line
// altogether. MORVANE_SOAK_POLLS (default 60) and MORVANE_SOAK_SEED set the
// length and the faults of the soak.
#include "testsupport.h"
#include "uartparam.h"
#include "widget.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>
#include <sys/resource.h>

static QString shownFor(const QByteArray &reply)
{
    auto value = [&](int at) { return (quint8(reply[at]) << 8) | quint8(reply[at + 1]); };
    return QString("Temperature:%1℃ Humidity:%2% DewTemp:%3℃")
        .arg(qint16(value(3)) / 10.0, 0, 'f', 1)
        .arg(quint16(value(5)) / 10.0, 0, 'f', 1)
        .arg(qint16(value(7)) / 10.0, 0, 'f', 1);
}

static double cpuSeconds()
{
    struct rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

class SoakTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { resetUartParam(); }

    void badLine()
    {
        const int polls = qEnvironmentVariableIsSet("MORVANE_SOAK_POLLS") ? qEnvironmentVariableIntValue("MORVANE_SOAK_POLLS") : 60;
        SimProcess sim({"--drift", "--verbose", "--seed", qEnvironmentVariable("MORVANE_SOAK_SEED", "11"), "--drop", "0.1",
                        "--corrupt", "0.1", "--split", "0.3", "--gap-ms", "30", "--noise", "0.05"});
        Bench bench;
        auto *browser = bench.window->findChild<QTextBrowser *>("textBrowser");
        QStringList shown;
        int sent = 0;
        connect(browser, &QTextBrowser::textChanged, this, [&] {
            const QString last = browser->document()->lastBlock().text();
            sent += last.contains("->TX  01030000");
            if (last.contains("->RX  010306"))
                shown << bench.label("labelTemperature")->text() + ' ' + bench.label("labelHumidity")->text() + ' '
                             + bench.label("labelDewTemp")->text();
        });
        bench.link("9600", "NO", sim.path());
        bench.address()->setText("1");
        bench.button("pushButtonRead")->click();
        QTRY_VERIFY_WITH_TIMEOUT(sent >= polls, polls * 1000 + 20000);
        bench.button("pushButtonRead")->click();
        QTest::qWait(600);
        QCOMPARE(sim.stop(), 0);

        // What the simulator really sent: the replies whose check value is
        // right, with or without a stray byte in front.
        QSet<QString> genuine;
        int transmitted = 0;
        for (const QString &line : sim.output().filter("->TX  ")) {
            ++transmitted;
            const QByteArray bytes = QByteArray::fromHex(line.section("->TX  ", 1).toLatin1());
            for (const QByteArray &reply : {bytes, bytes.mid(1)}) {
                if (reply.size() == 11 && reply[1] == 0x03 && reply == withCrc(reply.left(9)))
                    genuine.insert(shownFor(reply));
            }
        }
        qInfo("polls %d, replies sent %d, accepted and shown %d, buffers dropped %d", sent, transmitted,
              int(shown.size()), transmitted - int(shown.size()));
        QVERIFY(shown.size() > polls / 3);
        for (const QString &values : shown)
            QVERIFY2(genuine.contains(values), qPrintable("never sent: " + values));
    }

    // The simulator exits while Morvane polls: its terminal goes away under
    // the open port. Morvane must carry on, and a new Link must work.
    void lineVanishes()
    {
        auto first = std::make_unique<SimProcess>(QStringList{"--temperature", "18.0"});
        Bench bench;
        bench.link("9600", "NO", first->path());
        QTRY_COMPARE(bench.address()->text(), QString("1"));
        bench.button("pushButtonRead")->click();
        QTRY_COMPARE_WITH_TIMEOUT(bench.label("labelTemperature")->text(), QString("Temperature:18.0℃"), 5000);

        QCOMPARE(first->stop(), 0);
        const int before = bench.log().size();
        const double cpuBefore = cpuSeconds();
        QTRY_VERIFY_WITH_TIMEOUT(bench.log().size() >= before + 3, 8000);
        QCOMPARE(bench.log().mid(before).filter("->TX  01030000000305cb").size(), bench.log().size() - before);
        // Carrying on means waiting, not spinning on the dead terminal.
        const double cpu = cpuSeconds() - cpuBefore;
        QVERIFY2(cpu < 1.5, qPrintable(QString("%1 s of CPU in 3 s").arg(cpu)));

        SimProcess second({"--address", "4", "--temperature", "-3.5"});
        bench.link("9600", "NO", second.path());
        QTRY_COMPARE(bench.address()->text(), QString("4"));
        QTRY_COMPARE_WITH_TIMEOUT(bench.label("labelTemperature")->text(), QString("Temperature:-3.5℃"), 5000);
        bench.button("pushButtonRead")->click();
    }
};

QTEST_MAIN(SoakTest)
#include "tst_soak.moc"
