// morvane-sim against an independent Modbus master (mbpoll); Morvane
// polling morvane-sim on a bad line for a while, and losing the line
// altogether; the simulator as a process: its exit codes and a master that
// does not read (check_try.sh kills the simulator's parent).
// MORVANE_SOAK_POLLS (default 30) and MORVANE_SOAK_SEED set the length and
// the faults of the soak; a long soak may take a day.
#include "oracle.h"
#include "testsupport.h"

#include <QTcpSocket>
#include <QtTest>

#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

// The master's end of the simulator's terminal, raw at 9600 bit/s.
static int openAsMaster(const QString &path)
{
    const int fd = ::open(qPrintable(path), O_RDWR | O_NOCTTY | O_NONBLOCK);
    struct termios line = {};
    ::tcgetattr(fd, &line);
    ::cfmakeraw(&line);
    ::cfsetspeed(&line, B9600);
    ::tcsetattr(fd, TCSANOW, &line);
    return fd;
}

static QByteArray readAvailable(int fd)
{
    QByteArray bytes;
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(fd, chunk, sizeof chunk)) > 0)
        bytes.append(chunk, int(n));
    return bytes;
}

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

    void usage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("output");   // a file for standard output, or a pipe
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("address 1.9") << QStringList{"--address", "1.9"} << "" << 2 << "a whole number from 1 to 247";
        QTest::newRow("temperature nan") << QStringList{"--temperature", "nan"} << "" << 2 << "from -3276.8 to 3276.7";
        QTest::newRow("no module speed") << QStringList{"--baud", "12345"} << "" << 2 << "1200, 2400, 4800, 9600 or 19200";
        QTest::newRow("stray argument") << QStringList{"9600"} << "" << 2 << "arguments";
        QTest::newRow("garble above 38400") << QStringList{"--garble-above", "38400"} << "" << 2 << "from 0 to 19200";
        QTest::newRow("listen without port") << QStringList{"--listen", "127.0.0.1"} << "" << 2 << "HOST:PORT";
        QTest::newRow("listen and port") << QStringList{"--listen", "127.0.0.1:0", "--port", "/dev/null"} << "" << 2 << "not both";
        QTest::newRow("no such port") << QStringList{"--port", "/nonexistent/tty"} << "" << 3 << "No such file or directory";
        QTest::newRow("a short name, under /dev") << QStringList{"--port", "null"} << "" << 3 << "cannot open /dev/null: ";
        QTest::newRow("version") << QStringList{"--version"} << "" << 0 << "";
        QTest::newRow("path not printed") << QStringList() << "/dev/full" << 1 << "No space left on device";
    }

    void usage()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, output);
        QProcess sim;
        if (!output.isEmpty())
            sim.setStandardOutputFile(output);
        sim.start(MORVANE_SIM, arguments);
        QVERIFY(sim.waitForFinished(10000));
        QTEST(sim.exitCode(), "code");
        const QString said = QString::fromLocal8Bit(sim.readAllStandardError());
        QFETCH(QString, message);
        QVERIFY2(said.contains(message), qPrintable(said));
    }

    // A master that floods the terminal and reads nothing, while nobody
    // reads the simulator's standard error either: the simulator says so
    // once, answers when the master reads again, and ends on SIGTERM.
    void masterNotReading()
    {
        QTemporaryDir dir;
        const QString pipe = dir.filePath("stderr");
        QVERIFY(::mkfifo(qPrintable(pipe), 0600) == 0);
        const int unread = ::open(qPrintable(pipe), O_RDWR | O_NONBLOCK);
        QProcess sim;
        sim.setStandardErrorFile(pipe);
        sim.start(MORVANE_SIM, QStringList());
        while (!sim.canReadLine() && sim.waitForReadyRead(10000)) { }
        const int master = openAsMaster(QString::fromLocal8Bit(sim.readLine()).trimmed());
        QVERIFY(master >= 0);

        const QByteArray poll = Oracle::framed("01 03 00 00 00 03");
        QElapsedTimer clock;
        clock.start();
        int sent = 0;
        while (sent < 50000 && clock.elapsed() < 20000)
            sent += ::write(master, poll.constData(), size_t(poll.size())) == poll.size();
        const QByteArray ask = Oracle::framed("01 03 01 00 00 02"), answer = Oracle::framed("01 03 04 00 01 00 04");
        bool answered = false;
        const auto askAgain = [&] {
            answered = readAvailable(master).endsWith(answer);
            (void)!::write(master, ask.constData(), size_t(ask.size()));
            return answered;
        };
        QTRY_VERIFY_WITH_TIMEOUT(answered || askAgain(), 20000);

        sim.terminate();
        QVERIFY(sim.waitForFinished(10000));
        QCOMPARE(sim.exitCode(), 0);
        const QString said = QString::fromLocal8Bit(readAvailable(unread));
        qInfo("%d requests sent unread; the simulator said:\n%s", sent, qPrintable(said.left(2000)));
        QVERIFY(said.count("write failed") >= 1 && said.count("write failed") <= 3);
        ::close(master);
        ::close(unread);
    }

    // Three modules behind a TCP listener on 127.0.0.1 (2 named twice is
    // one module, answering alone): one connection served at a time,
    // another closed at once, the next served once the first has gone; the
    // port taken is refused to a second simulator.
    void listening()
    {
        SimProcess sim({"--listen", "127.0.0.1:0", "--address", "1-3,2"});
        QVERIFY2(sim.path().startsWith("tcp://127.0.0.1:"), qPrintable(sim.path()));
        const quint16 port = sim.path().section(':', -1).toUShort();
        const auto ask = [](QTcpSocket &socket, const QByteArray &request) {
            socket.write(request);
            QByteArray got;
            while ((got += socket.readAll()).size() < 9 && socket.waitForReadyRead(5000)) { }
            return got;
        };
        const QByteArray second = Oracle::framed("02 03 00 00 00 02"), answer = Oracle::framed("02 03 04 00 ED 01 C7");
        QTcpSocket first, other;
        first.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(first.waitForConnected(5000));
        QCOMPARE(ask(first, second).toHex(' '), answer.toHex(' '));
        other.connectToHost(QHostAddress::LocalHost, port);
        QTRY_COMPARE_WITH_TIMEOUT(other.state(), QAbstractSocket::UnconnectedState, 5000);
        const QByteArray collision = ask(first, Oracle::framed("00 03 00 00 00 02"));
        QVERIFY2(collision.size() == 9 && !Oracle::intact(collision), collision.toHex(' ').constData());

        first.disconnectFromHost();
        other.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(other.waitForConnected(5000));
        QCOMPARE(ask(other, second).toHex(' '), answer.toHex(' '));

        QProcess taken;
        taken.start(MORVANE_SIM, {"--exit-with-parent", "--listen", QString("127.0.0.1:%1").arg(port)});
        QVERIFY(taken.waitForFinished(10000));
        QCOMPARE(taken.exitCode(), 3);
        QCOMPARE(sim.stop(), 0);
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

        SimProcess second({"--address", "4", "--temperature", "-3.5", "--echo-address", "zero"});
        f.link("9600", "NO", second.path());
        QTRY_COMPARE(f.address()->text(), QString("4"));
        QTRY_VERIFY_WITH_TIMEOUT(f.values().startsWith("Temperature:-3.5℃"), 5000);
        f.button("pushButtonRead")->click();
    }
};

QTEST_MAIN(SimTest)
#include "tst_sim.moc"
