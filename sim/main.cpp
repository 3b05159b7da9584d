// morvane-sim: plays the temperature and humidity module on a serial line.
#include "modbusframe.h"
#include "sensormodule.h"
#include "simserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalPipe[2];

void onSignal(int)
{
    const char byte = 1;
    (void)!::write(signalPipe[1], &byte, 1);
}

// Ends the event loop on SIGINT and SIGTERM, outside the signal handler.
void quitOnSignals()
{
    ::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe);
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, &QCoreApplication::quit);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// Ends the simulator as SIGTERM does once the process that started it is
// gone, however it ended. The check after prctl() covers a parent that was
// gone before the request was made.
void exitWithParent(pid_t parent)
{
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent)
        ::raise(SIGTERM);
}

[[noreturn]] void fail(const QString &message)
{
    fprintf(stderr, "morvane-sim: %s\n", qPrintable(message));
    exit(2);
}

double number(const QCommandLineParser &parser, const char *name, double low, double high)
{
    bool ok = false;
    const double value = parser.value(name).toDouble(&ok);
    if (!ok || value < low || value > high)
        fail(QString("--%1 takes a number from %2 to %3").arg(name).arg(low).arg(high));
    return value;
}
}

int main(int argc, char *argv[])
{
    const pid_t parent = ::getppid();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("morvane-sim");

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Plays a temperature and humidity sensor module (Modbus RTU) on a serial line.\n"
        "Without --port it creates a pseudo-terminal and prints its path as the first line.");
    parser.addHelpOption();
    const QList<QCommandLineOption> options = {
        {"port", "Serve on this existing serial device.", "path"},
        {"baud", "Line speed (default 9600). On its own pseudo-terminal the simulator\nanswers only a master that set the same speed.", "rate", "9600"},
        {"address", "Bus address, 1-247 (default 1).", "n", "1"},
        {"temperature", "Temperature in degrees Celsius (default 23.5).", "celsius", "23.5"},
        {"humidity", "Relative humidity in percent (default 45.0).", "percent", "45.0"},
        {"dew-point", "Dew point in degrees Celsius (default: from the two above).", "celsius"},
        {"drift", "Let the values wander slowly."},
        {"drop", "Probability of not answering.", "p", "0"},
        {"corrupt", "Probability of a flipped bit in a reply (check value left stale).", "p", "0"},
        {"split", "Probability of sending a reply in two pieces.", "p", "0"},
        {"gap-ms", "Pause between the two pieces of a split reply (default 20).", "ms", "20"},
        {"noise", "Probability of a stray byte before a reply.", "p", "0"},
        {"delay-ms", "Delay before each reply (default 0).", "ms", "0"},
        {"seed", "Seed for the fault choices (default: random).", "n"},
        {"verbose", "Print each request and reply, time-stamped."},
        {"exit-with-parent", "End (exit code 0, as on SIGTERM) when the process that started the simulator is gone, even if it was killed."},
    };
    parser.addOptions(options);
    if (!parser.parse(app.arguments()))
        fail(parser.errorText());
    if (parser.isSet("help")) {
        // Named as typed, not with the path it was started by.
        printf("%s", qPrintable(parser.helpText().replace(QRegularExpression("^Usage: \\S+"), "Usage: morvane-sim")));
        return 0;
    }

    SensorModule module;
    module.address = int(number(parser, "address", 1, 247));
    const double temperature = number(parser, "temperature", -3276.8, 3276.7);
    const double humidity = number(parser, "humidity", 0, 6553.5);
    module.temperature = qint16(qRound(temperature * 10));
    module.humidity = quint16(qRound(humidity * 10));
    const bool fixedDewPoint = parser.isSet("dew-point");
    const double dewPoint = fixedDewPoint ? number(parser, "dew-point", -3276.8, 3276.7)
                                          : SensorModule::magnusDewPoint(temperature, humidity);
    module.dewPoint = qint16(qRound(dewPoint * 10));

    const int baud = int(number(parser, "baud", 50, 4000000));
    module.baudCode = ModbusFrame::codeForBaud(baud) ? ModbusFrame::codeForBaud(baud) : 4;

    SimServer::Faults faults;
    faults.drop = number(parser, "drop", 0, 1);
    faults.corrupt = number(parser, "corrupt", 0, 1);
    faults.split = number(parser, "split", 0, 1);
    faults.noise = number(parser, "noise", 0, 1);
    faults.gapMs = int(number(parser, "gap-ms", 0, 60000));
    faults.delayMs = int(number(parser, "delay-ms", 0, 60000));
    const quint32 seed = parser.isSet("seed") ? quint32(number(parser, "seed", 0, 4294967295.0))
                                              : QRandomGenerator::system()->generate();

    // Signals are caught from here on; one that comes before the event loop
    // runs ends it as soon as it starts.
    quitOnSignals();
    if (parser.isSet("exit-with-parent"))
        exitWithParent(parent);

    SimServer server(module, faults, seed);
    server.setVerbose(parser.isSet("verbose"));
    server.setFixedDewPoint(fixedDewPoint);
    server.setDrift(parser.isSet("drift"));
    const QString path = server.attach(parser.value("port"), baud);
    if (path.isEmpty())
        fail("cannot open the line: " + server.errorString());
    printf("%s\n", qPrintable(path));
    fflush(stdout);
    return app.exec();
}
