// morvane-cli as a whole: against morvane-sim end to end, and what only a
// process shows: signals, output errors, a port that vanishes and comes back.
#include "testsupport.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

#include <csignal>

// One run of the CLI: its arguments (--port added), exit code, and a pattern
// its standard output and error together must match.
struct Run
{
    QString arguments;
    int exitCode;
    QString pattern;
};
Q_DECLARE_METATYPE(QList<Run>)

// With SIGPIPE ignored, as under systemd: a closed pipe is a write error.
// Leading NAME=VALUE words go to the environment; %port is the port, which
// is given as --port when no port is named.
static void startCli(QProcess &cli, const QString &arguments, const QString &port,
                     const QString &how = "exec \"$0\" \"$@\"")
{
    QStringList args = arguments.split(' ', Qt::SkipEmptyParts);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    while (!args.isEmpty() && args.first().contains('=')) {
        const QString word = args.takeFirst();
        environment.insert(word.section('=', 0, 0), word.section('=', 1));
    }
    if (!arguments.contains("%port") && !args.contains("--port") && !args.contains("-p") && args.value(0) != "ports")
        args << "--port" << port;
    args.replaceInStrings("%port", port);
    environment.insert("MORVANE_PORT", environment.value("MORVANE_PORT").replace("%port", port));
    cli.setProcessEnvironment(environment);
    cli.start("bash", QStringList{"-c", "trap '' PIPE; " + how, MORVANE_CLI} + args);
}

// socat serving one connection on 127.0.0.1, passing the bytes to and from
// this terminal at 9600 bit/s; its tcp:// address. Given one, it listens
// there again. Empty when it did not start.
static QString startSocat(QProcess &socat, const QString &terminal, QString url = QString())
{
    if (url.isEmpty()) {
        QTcpServer free;
        free.listen(QHostAddress::LocalHost);
        url = QString("tcp://127.0.0.1:%1").arg(free.serverPort());
    }
    socat.start("socat", {"-d", "-d", "TCP-LISTEN:" + url.section(':', -1) + ",bind=127.0.0.1,reuseaddr",
                          "FILE:" + terminal + ",raw,echo=0,b9600"});
    socat.setReadChannel(QProcess::StandardError);
    QByteArray said;
    while (!said.contains("listening on") && socat.waitForReadyRead(5000))
        said += socat.readAllStandardError();
    return said.contains("listening on") ? url : QString();
}

class CliTest : public QObject
{
    Q_OBJECT

private slots:
    void endToEnd_data()
    {
        QTest::addColumn<QString>("sim");
        QTest::addColumn<QList<Run>>("runs");
        for (const char *baud : {"1200", "2400", "4800", "9600", "19200"})
            QTest::addRow("find at %s", baud) << QString("--address 7 --baud %1").arg(baud)
                << QList<Run>{{"find --timeout 100", 0, QString("^address 7 at %1 bit/s\n$").arg(baud)}};
        QTest::newRow("find --scan") << "--address 200 --baud 19200"
            << QList<Run>{{"find --scan --baud 19200 --timeout 30", 0, "^address 200 at 19200 bit/s\n$"}};
        QTest::newRow("read, three formats") << "--address 3 --temperature -12.3 --humidity 87.6 --dew-point -13.9"
            << QList<Run>{{"read --address 3", 0, "^temperature -12.3 °C, humidity 87.6 %RH, dew point -13.9 °C\n$"},
                          {"read --address 3 --format csv --watch 0.2 --count 3", 0,
                           "^time,address,temperature_c,humidity_rh,dew_point_c,status\n"
                           "(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d),3,-12.3,87.6,-13.9,ok\n){3}$"},
                          {"read --address 3 --watch 0.2 --count 2", 0,
                           "^(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\S*  temperature -12.3 °C, humidity 87.6 %RH, dew point -13.9 °C\n){2}$"},
                          {"read --address 3 --format json", 0, "^\\{.*\"temperature\":-12.3.*\"time\":\"[^\"]+\\.\\d{3}"},
                          {"read --address 4 --timeout 100", 1, "^address 4: no answer\nmorvane-cli: no reading from address 4; to see why: "
                                                              "morvane-cli doctor --port /dev/pts/\\d+ --address 4\n$"}};
        QTest::newRow("large values") << "--temperature 3276.7 --humidity 6553.5 --dew-point -3276.8"
            << QList<Run>{{"read --address 1", 0, "temperature 3276.7 °C, humidity 6553.5 %RH, dew point -3276.8 °C"}};
        QTest::newRow("set-address, echo from its own address") << "--address 5 --echo-address own"
            << QList<Run>{{"set-address 12", 0, "^address 5 → 12\n$"}};
        QTest::newRow("set-baud, then find") << "--address 5"
            << QList<Run>{{"set-baud 19200", 0, "^address 5: 9600 → 19200 bit/s\n$"},
                          {"find --timeout 100", 0, "^address 5 at 19200 bit/s"}};
        QTest::newRow("a stray byte before every reply") << "--noise 1 --address 3"
            << QList<Run>{{"read --address 3 --format csv --watch 0.05 --count 5 --retries 0", 0, "^time.*\n(.*,ok\n){5}$"}};
        QTest::newRow("late answers are nobody's") << "--address 7 --delay-ms 300"
            << QList<Run>{{"find --timeout 250 --retries 0", 1, "^morvane-cli: no module answered at 9600, 19200, 4800, 2400, 1200 bit/s; to see why: morvane-cli doctor --port \\S+\n$"}};
        // Nothing goes on the line for a value the module cannot take, nor for help.
        QTest::newRow("refused before sending") << "--address 5 --verbose"
            << QList<Run>{{"set-address 0", 2, "address is 1 to 247, not 0\n"},
                          {"set-baud -9600", 2, "set-baud: the module runs at 1200, .* or 19200 bit/s, not -9600\n"},
                          {"read --address 1 --baud 12345", 2, "--baud: the module runs at .*, not 12345\n"},
                          {"read --address 1 --timeout 600001", 2, "--timeout takes 1 to 600000 ms, not 600001\n"},
                          {"read --address 1 --watch nan", 2, "--watch takes seconds, more than 0 and at most 86400"},
                          {"read --address 1 --count 99999999999", 2, "--count takes 1 to 2147483647, not 99999999999"},
                          {"set-address 9 --help", 0, "^Usage: morvane-cli set-address NEW \\[options\\]\n"},
                          {"set-address 9 --help-all", 2, "Unknown option 'help-all'"},
                          {"ports extra", 2, "ports takes no values, not extra"},
                          {"ports --format csv", 2, "^morvane-cli: ports prints text or json, not csv\n"},
                          {"ports --format json", 0, "^(\\{\"by_id\":[^\n]*\"path\":\"/dev/[^\n]*\\}\n)*(morvane-cli: the system lists no serial ports\n)?$"},
                          {"MORVANE_BAUD=12345 read -a 5", 2, "^morvane-cli: MORVANE_BAUD: the module runs at .*, not 12345\n"},
                          {"MORVANE_LOCAL_ECHO=on read -a 5", 2, "^morvane-cli: MORVANE_LOCAL_ECHO is 1 .* or 0, not on\n"},
                          {"read --port /nonexistent/tty --address 1", 3, "^morvane-cli: cannot open /nonexistent/tty: \\S"}};
        // What the environment gives, an option given overrides; short options as mbpoll's.
        QTest::newRow("defaults from the environment") << "--address 5 --baud 19200"
            << QList<Run>{{"MORVANE_PORT=%port MORVANE_BAUD=19200 read -a 5", 0, "^temperature"},
                          {"MORVANE_PORT=/nonexistent/tty MORVANE_BAUD=1200 read -p %port -a 5 -b 19200 -t 200", 0, "^temperature"},
                          {"MORVANE_BAUD=19200 MORVANE_LOCAL_ECHO=1 read -a 5 -t 100 --retries 0", 1, "^address 5: no answer\n"}};
        QTest::newRow("a bus, one module silent") << "--address 2,5,9"
            << QList<Run>{{"read --address 2-5 --format csv --timeout 50 --retries 0", 1,
                           "^time,.*\n\\S+,2,23.5,45.0,10.9,ok\n\\S+,3,,,,no answer\n\\S+,4,,,,no answer\n\\S+,5,23.7,45.5,11.2,ok\n"
                           "morvane-cli: no reading from address 3, 4; to see why: morvane-cli doctor --port \\S+ --address 3\n$"},
                          {"read --address 9,2 --format influx --count 2 --watch 0.1", 0,
                           "^(morvane,address=2 temperature=23.5,humidity=45.0,dew_point=10.9 \\d{19}\n"
                           "morvane,address=9 temperature=23.9,humidity=46.0,dew_point=11.6 \\d{19}\n){2}$"}};
        // One module changed where it sits: the others keep answering.
        QTest::newRow("a bus, one module changed") << "--address 1-3"
            << QList<Run>{{"set-address 9 --address 2", 0, "^address 2 → 9\n$"},
                          {"set-address 3 --address 1", 1, "^morvane-cli: address 3 is taken .*its address register reading 3. Nothing was written"},
                          {"set-baud 19200 --address 9", 0, "^address 9: 9600 → 19200 bit/s\nAddress 9 now answers at 19200 bit/s only.*"
                                                         "set-baud 9600 --port \\S+ --baud 19200 --address 9\n$"},
                          {"read --address 1,3,9 --format csv --retries 0 --timeout 100", 1,
                           "^time,.*\n\\S+,1,23.5,.*,ok\n\\S+,3,23.9,.*,ok\n\\S+,9,,,,no answer\n"},
                          {"read --address 9 --baud 19200", 0, "^temperature 23.7 °C"}};
        // Every value shown is the one sent, however many tries it takes.
        QTest::newRow("bad line") << "--drop 0.3 --corrupt 0.2 --seed 5 --temperature 21.5 --humidity 40 --dew-point 7.3"
            << QList<Run>{{"read --address 1 --format csv --watch 0.05 --count 20 --retries 5 --timeout 100", 0,
                           "^time,.*\n(\\S+,1,(21.5,40.0,7.3,ok|,,,no answer)\n){20}$"}};
    }

    void endToEnd()
    {
        QFETCH(QString, sim);
        QFETCH(QList<Run>, runs);
        SimProcess module(sim.split(' ', Qt::SkipEmptyParts));
        for (const Run &run : runs) {
            QProcess cli;
            cli.setProcessChannelMode(QProcess::MergedChannels);
            startCli(cli, run.arguments, module.path());
            QVERIFY(cli.waitForFinished(60000));
            const QString out = QString::fromUtf8(cli.readAll());
            const QString why = run.arguments + ":\n" + out;
            QVERIFY2(cli.exitCode() == run.exitCode, qPrintable(why));
            QVERIFY2(QRegularExpression(run.pattern).match(out).hasMatch(), qPrintable(why));
        }
        if (QTest::currentDataTag() == QString("refused before sending"))
            QVERIFY(module.output().filter("->RX").isEmpty());
    }

    // The modules behind a serial device server: the simulator's own
    // listener, and socat passing its terminal through. Split replies with
    // 60 ms between the pieces are still one reply over TCP.
    void tcp_data()
    {
        QTest::addColumn<bool>("socat");
        QTest::addColumn<QString>("sim");
        QTest::newRow("morvane-sim --listen") << false << "--address 1-3 --listen 127.0.0.1:0 --noise 0.5";
        QTest::newRow("socat") << true << "--address 1-3 --split 1 --gap-ms 60";
    }

    void tcp()
    {
        QFETCH(bool, socat);
        QFETCH(QString, sim);
        SimProcess modules(sim.split(' '));
        QProcess server;
        QString url = modules.path();
        if (socat)
            url = startSocat(server, modules.path());
        QVERIFY(!url.isEmpty());
        QProcess cli;
        cli.setProcessChannelMode(QProcess::MergedChannels);
        startCli(cli, "read --address 1-3 --format csv --count 2 --watch 0.1 --retries 0", url);
        QVERIFY(cli.waitForFinished(20000));
        const QString out = cli.readAll();
        QVERIFY2(cli.exitCode() == 0 && out.count(",ok\n") == 6, qPrintable(out));
        server.terminate();
        server.waitForFinished(5000);
    }

    // The server goes away in --watch and comes back on the same port.
    void tcpDropped()
    {
        SimProcess module({"--address", "7"});
        QProcess server, cli;
        const QString url = startSocat(server, module.path());
        QVERIFY(!url.isEmpty());
        startCli(cli, "read --address 7 --watch 0.2 --format csv --timeout 100 --retries 0", url);
        QString out;
        QTRY_VERIFY_WITH_TIMEOUT((out += cli.readAllStandardOutput()).contains(",ok\n"), 20000);
        server.terminate();
        QVERIFY(server.waitForFinished(5000));
        QTRY_VERIFY_WITH_TIMEOUT((out += cli.readAllStandardOutput()).contains(",port lost: the server closed the connection\n"), 20000);
        QVERIFY(!startSocat(server, module.path(), url).isEmpty());
        const QRegularExpression resumed(",,,port lost: [^\n]+\n.*,7,23.5,45.0,10.9,ok\n", QRegularExpression::DotMatchesEverythingOption);
        QTRY_VERIFY_WITH_TIMEOUT(resumed.match(out += cli.readAllStandardOutput()).hasMatch(), 20000);
        cli.terminate();
        QVERIFY(cli.waitForFinished(10000));
        server.terminate();
        server.waitForFinished(5000);
    }

    // doctor against the simulator: the probes' own reading of the line (a
    // collision, turnaround on the wire) through to the report; an echo is
    // the README's example, each rule on its own tst_doctor's.
    void doctor_data()
    {
        QTest::addColumn<QString>("sim");
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("pattern");
        const QString works = "Works now, 5 runs of 5: morvane-cli read --port \\S+ --baud %1 --address 7 --timeout \\d+%2\n$";
        QTest::newRow("clean line") << "--address 7" << "" << 0
            << "^(  [^!][^\n]*\n)+" + works.arg(9600).arg("");
        QTest::newRow("collision") << "--address 1-3" << "" << 1
            << "\n! several modules .*more than one module answers address 0.\n(?!.*! speed).*"
               "Most likely cause: more than one module answers address 0; use morvane-cli find --scan --port \\S+\n$";
        QTest::newRow("slow turnaround") << "--address 7 --baud 2400 --turnaround-ms 520 --wire-time" << "--baud 2400" << 0
            << "\n! timing .*median 5[1-4]\\d ms.*\n.*default timeout of 500 ms: give --timeout \\d+.*" + works.arg(2400).arg("");
    }

    void doctor()
    {
        QFETCH(QString, sim);
        QFETCH(QString, arguments);
        SimProcess module(sim.split(' '));
        QProcess cli;
        startCli(cli, "doctor " + arguments, module.path());
        QVERIFY(cli.waitForFinished(40000));
        const QString out = QString::fromUtf8(cli.readAll());
        QTEST(cli.exitCode(), "exitCode");
        QFETCH(QString, pattern);
        QVERIFY2(QRegularExpression(pattern, QRegularExpression::DotMatchesEverythingOption).match(out).hasMatch(), qPrintable(out));
    }

    // doctor behind a fake device server on 127.0.0.1 that answers every
    // request to address 7 the same way: in Modbus TCP, or with a refusal.
    void doctorBehindFakeServer_data()
    {
        QTest::addColumn<bool>("mbap");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("a Modbus TCP gateway") << true
            << "\n! Modbus TCP +What came back \\(07 03 00 00 00 03 05 ad 01\\) begins with a Modbus TCP header: .*\n"
               "Most likely cause: the server speaks Modbus TCP \\(MBAP\\), not RTU over TCP";
        QTest::newRow("a refusing module") << false
            << "\n! refused +Through the server, the device at address 7 refused the measurement read \\(registers 0x0000 to "
               "0x0002\\) \\d+ times: exception 02, illegal data address: .*\nMost likely cause: the device at address 7 refused";
    }

    void doctorBehindFakeServer()
    {
        QFETCH(bool, mbap);
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        connect(&server, &QTcpServer::newConnection, [&] {
            QTcpSocket *module = server.nextPendingConnection();
            connect(module, &QTcpSocket::readyRead, module, [module, mbap] {
                for (QByteArray request; (request = module->read(8)).size() == 8 && request.at(0) == 7;) {
                    const char function = char(request.at(1) | 0x80);
                    module->write(mbap ? request.left(2) + fromHex("00000003") + request.at(6) + char(request.at(7) | 0x80) + '\x01'
                                       : withCrc(QByteArray{"\x07"} + function + '\x02'));
                }
            });
        });
        QProcess cli;
        cli.setProcessChannelMode(QProcess::MergedChannels);
        startCli(cli, "doctor --address 7", QString("tcp://127.0.0.1:%1").arg(server.serverPort()));
        QTRY_VERIFY_WITH_TIMEOUT(cli.state() == QProcess::NotRunning, 40000);
        const QString out = QString::fromUtf8(cli.readAll());
        QVERIFY2(cli.exitCode() == 1, qPrintable(out));
        QFETCH(QString, pattern);
        QVERIFY2(QRegularExpression(pattern, QRegularExpression::DotMatchesEverythingOption).match(out).hasMatch(), qPrintable(out));
    }

    // A signal in the middle of a wait ends the CLI at once with 128 + the
    // signal, what it printed complete. requests: to see before the signal.
    void signalEndsIt_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("requests");
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT awaiting a reply") << "read --address 4 --timeout 60000" << 1 << SIGINT;
        QTest::newRow("SIGTERM awaiting a reply") << "read --address 4 --timeout 60000" << 1 << SIGTERM;
        QTest::newRow("SIGINT in find's speed loop") << "find --baud 1200 --timeout 60000" << 1 << SIGINT;
        QTest::newRow("SIGTERM in --watch") << "read --address 7 --watch 0.1 --format csv" << 3 << SIGTERM;
    }

    void signalEndsIt()
    {
        QFETCH(QString, arguments);
        QFETCH(int, requests);
        QFETCH(int, signal);
        SimProcess module({"--address", "7", "--verbose"});
        QProcess cli;
        startCli(cli, arguments, module.path());
        QTRY_VERIFY_WITH_TIMEOUT(module.output().filter("->RX").size() >= requests, 20000);
        QVERIFY(cli.processId() > 0);   // kill(0) would signal the whole group
        ::kill(pid_t(cli.processId()), signal);
        QVERIFY(cli.waitForFinished(10000));
        QCOMPARE(cli.exitCode(), 128 + signal);
        const QByteArray out = cli.readAllStandardOutput();
        QVERIFY2(out.count('\n') >= requests - 1 && (out.isEmpty() || out.endsWith('\n')), out.constData());
    }

    // A name whose lookup stalls, behind a name server that never answers
    // (put in place for the CLI alone, in a mount namespace): Ctrl-C ends
    // the wait at once, where the resolver would hold it for seconds.
    void lookupEndsOnSignal()
    {
        QUdpSocket nameServer;
        if (!nameServer.bind(QHostAddress("127.0.0.2"), 53))
            QSKIP("no name server can listen on 127.0.0.2:53 here");
        QTemporaryFile resolver;
        QVERIFY(resolver.open() && resolver.write("nameserver 127.0.0.2\n") > 0 && resolver.flush());
        QProcess cli;
        cli.start("unshare", {"-m", "sh", "-c", "mount --bind \"$0\" /etc/resolv.conf && exec \"$1\" read --address 7 "
                  "--port tcp://module.stalls.test:502", resolver.fileName(), MORVANE_CLI});
        QTRY_VERIFY_WITH_TIMEOUT(nameServer.hasPendingDatagrams() || cli.state() == QProcess::NotRunning, 20000);
        if (!nameServer.hasPendingDatagrams())
            QSKIP(qPrintable("no mount namespace for the test's name server: " + cli.readAllStandardError()));
        QElapsedTimer sinceSignal;
        sinceSignal.start();
        ::kill(pid_t(cli.processId()), SIGINT);
        QVERIFY(cli.waitForFinished(20000));
        QCOMPARE(cli.exitCode(), 130);
        // 200 ms on an idle machine; the resolver alone would take 5 s.
        QVERIFY2(sinceSignal.elapsed() < 1000, qPrintable(QString::number(sinceSignal.elapsed())));
    }

    // A closed pipe ends it quietly by SIGPIPE, as any filter; with SIGPIPE
    // ignored it is a write error, as a full disk is.
    void outputErrors_data()
    {
        QTest::addColumn<bool>("full");
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("error");
        const QString cannot = "morvane-cli: cannot write to standard output: ";
        QTest::newRow("/dev/full") << true << "exec \"$0\" \"$@\"" << 4 << cannot;
        QTest::newRow("a pipe closed early, SIGPIPE ignored") << false << "\"$0\" \"$@\" | head -1; exit ${PIPESTATUS[0]}" << 4 << cannot;
        QTest::newRow("a pipe closed early") << false
            << "env --default-signal=PIPE \"$0\" \"$@\" | head -1; exit ${PIPESTATUS[0]}" << 128 + SIGPIPE << "";
    }

    void outputErrors()
    {
        QFETCH(bool, full);
        QFETCH(QString, how);
        SimProcess module({"--address", "7"});
        QProcess cli;
        if (full)
            cli.setStandardOutputFile("/dev/full");
        startCli(cli, "read --address 7 --watch 0.1", module.path(), how);
        QVERIFY(cli.waitForFinished(20000));
        QTEST(cli.exitCode(), "exitCode");
        QFETCH(QString, error);
        const QString said = cli.readAllStandardError();
        QVERIFY2(error.isEmpty() ? said.isEmpty() : said.startsWith(error), qPrintable(said));
    }

    // On a terminal, standard error says what is being asked once nothing has
    // been printed for two seconds, and the row that follows clears it.
    void progress_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("shown");
        QTest::newRow("read, a module silent") << "read -a 7,8" << "\r\033\\[Kasking address 8 at 1200 bit/s, 2 of 2\r\033\\[Kmorvane-cli: no reading";
        QTest::newRow("find, a silent line") << "find --retries 0 --timeout 300" << "\r\033\\[Kasking address 0 at (2400|1200) bit/s.*\r\033\\[K$";
    }

    void progress()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, shown);
        SimProcess module({"--address", "7", "--baud", "1200"});
        Pty terminal;
        QProcess cli;
        startCli(cli, arguments + (arguments.startsWith("read") ? " -b 1200" : ""), module.path(),
                 "exec \"$0\" \"$@\" 2>" + terminal.slavePath());
        QVERIFY(cli.waitForFinished(20000));
        const QString said = QString::fromUtf8(terminal.received());
        QVERIFY2(said.contains(QRegularExpression(shown)), qPrintable(said.toUtf8().toPercentEncoding(" ")));
    }

    // The module's terminal reached through a relative symbolic link: it
    // vanishes, then a new one appears at the same path, and rows resume.
    void lostPort()
    {
        QTemporaryDir folder;
        const auto relink = [&](const QString &target) {
            QVERIFY(QFile::link(target, folder.filePath("new")));
            QVERIFY(::rename(qPrintable(folder.filePath("new")), qPrintable(folder.filePath("line"))) == 0);
        };
        auto module = std::make_unique<SimProcess>(QStringList{"--address", "7"});
        relink(module->path());
        QProcess cli;
        cli.setWorkingDirectory(folder.path());
        startCli(cli, "read --port line --address 7 --watch 0.2 --format csv --timeout 100 --retries 0", QString());
        QString out;
        QTRY_VERIFY_WITH_TIMEOUT((out += cli.readAllStandardOutput()).contains(",ok\n"), 20000);
        module.reset();
        QTRY_VERIFY_WITH_TIMEOUT((out += cli.readAllStandardOutput()).contains(",port lost: "), 20000);
        module = std::make_unique<SimProcess>(QStringList{"--address", "7", "--temperature", "30"});
        relink(module->path());
        const QRegularExpression resumed(",,,port lost: [^\n]+\n.*,7,30.0,45.0,16.8,ok\n", QRegularExpression::DotMatchesEverythingOption);
        QTRY_VERIFY_WITH_TIMEOUT(resumed.match(out += cli.readAllStandardOutput()).hasMatch(), 20000);
        QVERIFY2(!out.contains("no answer"), qPrintable(out));
        cli.terminate();
        QVERIFY(cli.waitForFinished(10000));
        QCOMPARE(cli.exitCode(), 143);
    }
};

QTEST_MAIN(CliTest)
#include "tst_cli.moc"
