// morvane-sim: plays the temperature and humidity module on a serial line.
#include "modbusframe.h"
#include "sensormodule.h"
#include "simserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The same codes as morvane-cli's.
enum ExitCode { Done = 0, Failure = 1, UsageError = 2, PortError = 3 };

// What a register of tenths can hold.
const double MinSignedTenths = -3276.8, MaxSignedTenths = 3276.7, MaxUnsignedTenths = 6553.5;
const int MaxMs = 60000;

const char exitCodes[] =
    "\nExit codes: 0 done (ended by SIGINT, SIGTERM or --exit-with-parent), 1 failure\n"
    "(the terminal's path cannot be printed, or the port fails while serving),\n"
    "2 usage error, 3 the port cannot be opened.\n";

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

[[noreturn]] void fail(ExitCode code, const QString &message)
{
    fprintf(stderr, "morvane-sim: %s\n", qPrintable(message));
    if (code == UsageError)
        fprintf(stderr, "See morvane-sim --help.\n");
    exit(code);
}

double decimal(const QCommandLineParser &parser, const char *name, double low, double high)
{
    bool ok = false;
    const double value = parser.value(name).toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < low || value > high)
        fail(UsageError, QString("--%1 takes a number from %2 to %3").arg(name).arg(low).arg(high));
    return value;
}

qint64 whole(const QCommandLineParser &parser, const char *name, qint64 low, qint64 high)
{
    bool ok = false;
    const qint64 value = parser.value(name).toLongLong(&ok);
    if (!ok || value < low || value > high)
        fail(UsageError, QString("--%1 takes a whole number from %2 to %3").arg(name).arg(low).arg(high));
    return value;
}

void addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        "Plays a temperature and humidity sensor module (Modbus RTU) on a serial line.\n"
        "Without --port it creates a pseudo-terminal and prints its path as the first line.");
    parser.addHelpOption();
    parser.addOptions({
        {"port", "Serve on this existing serial device.", "path"},
        {"baud", "Line speed: " + ModbusFrame::moduleSpeeds() + " (default 9600). On its own "
                 "pseudo-terminal the simulator answers only a master that set the same speed.", "rate", "9600"},
        {"address", "Bus address, 1-247 (default 1).", "n", "1"},
        {"echo-address", "The address on replies to requests through address 0: own (the module's) "
                         "or zero. Default: a successful 0x06 write is echoed from 0, everything "
                         "else answered from the module's own address.", "own|zero"},
        {"temperature", "Temperature in degrees Celsius, -3276.8 to 3276.7 (default 23.5).", "celsius", "23.5"},
        {"humidity", "Relative humidity in percent, 0 to 6553.5 (default 45.0).", "percent", "45.0"},
        {"dew-point", "Dew point in degrees Celsius, -3276.8 to 3276.7 (default: from the two above).", "celsius"},
        {"drift", "Let the values wander slowly."},
        {"drop", "Probability (0 to 1) of not answering.", "p", "0"},
        {"corrupt", "Probability of a flipped bit in a reply (check value left stale).", "p", "0"},
        {"split", "Probability of sending a reply in two pieces.", "p", "0"},
        {"gap-ms", "Pause between the two pieces of a split reply, 0-60000 (default 20).", "ms", "20"},
        {"noise", "Probability of a stray byte before a reply.", "p", "0"},
        {"delay-ms", "Delay before each reply, 0-60000 (default 0).", "ms", "0"},
        {"seed", "Seed for the fault choices, 0-4294967295 (default: random).", "n"},
        {"verbose", "Print each request and reply, time-stamped."},
        {"exit-with-parent", "End (exit code 0, as on SIGTERM) when the process that started the simulator is gone, even if it was killed."},
    });
}

SensorModule moduleFrom(const QCommandLineParser &parser)
{
    SensorModule module;
    module.address = int(whole(parser, "address", ModbusFrame::MinAddress, ModbusFrame::MaxAddress));
    module.baudCode = ModbusFrame::codeForBaud(parser.value("baud").toInt());
    if (!module.baudCode)
        fail(UsageError, "--baud takes " + ModbusFrame::moduleSpeeds());
    const QString echo = parser.value("echo-address");
    if (echo == "own")
        module.echoAddress = SensorModule::Own;
    else if (echo == "zero")
        module.echoAddress = SensorModule::Zero;
    else if (parser.isSet("echo-address"))
        fail(UsageError, "--echo-address takes own or zero");

    const double temperature = decimal(parser, "temperature", MinSignedTenths, MaxSignedTenths);
    const double humidity = decimal(parser, "humidity", 0, MaxUnsignedTenths);
    module.temperature = qint16(qRound(temperature * 10));
    module.humidity = quint16(qRound(humidity * 10));
    const double dewPoint = parser.isSet("dew-point") ? decimal(parser, "dew-point", MinSignedTenths, MaxSignedTenths)
                                                      : SensorModule::magnusDewPoint(temperature, humidity);
    module.dewPoint = qint16(qRound(qBound(MinSignedTenths, dewPoint, MaxSignedTenths) * 10));
    return module;
}

SimServer::Faults faultsFrom(const QCommandLineParser &parser)
{
    SimServer::Faults faults;
    faults.drop = decimal(parser, "drop", 0, 1);
    faults.corrupt = decimal(parser, "corrupt", 0, 1);
    faults.split = decimal(parser, "split", 0, 1);
    faults.noise = decimal(parser, "noise", 0, 1);
    faults.gapMs = int(whole(parser, "gap-ms", 0, MaxMs));
    faults.delayMs = int(whole(parser, "delay-ms", 0, MaxMs));
    return faults;
}

} // namespace

int main(int argc, char *argv[])
{
    const pid_t parent = ::getppid();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("morvane-sim");

    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(app.arguments()))
        fail(UsageError, parser.errorText());
    if (parser.isSet("help") || parser.isSet("help-all")) {
        // Named as typed, not with the path it was started by.
        printf("%s%s", qPrintable(parser.helpText().replace(QRegularExpression("^Usage: \\S+"), "Usage: morvane-sim")),
               exitCodes);
        return fflush(stdout) == 0 ? Done : Failure;
    }
    if (!parser.positionalArguments().isEmpty())
        fail(UsageError, "takes no arguments, only options: " + parser.positionalArguments().join(' '));

    const SensorModule module = moduleFrom(parser);
    const SimServer::Faults faults = faultsFrom(parser);
    const quint32 seed = parser.isSet("seed") ? quint32(whole(parser, "seed", 0, 4294967295LL))
                                              : QRandomGenerator::system()->generate();

    // Signals are caught from here on; one that comes before the event loop
    // runs ends it as soon as it starts.
    quitOnSignals();
    if (parser.isSet("exit-with-parent"))
        exitWithParent(parent);

    SimServer server(module, faults, seed);
    server.setVerbose(parser.isSet("verbose"));
    server.setFixedDewPoint(parser.isSet("dew-point"));
    server.setDrift(parser.isSet("drift"));
    const QString port = parser.value("port");
    const QString path = server.attach(port);
    if (path.isEmpty())
        fail(PortError, (port.isEmpty() ? "cannot create a pseudo-terminal: " : "cannot open " + port + ": ")
                            + server.errorString());
    QObject::connect(&server, &SimServer::lineFailed, &app, [&](const QString &reason) {
        fprintf(stderr, "morvane-sim: the port failed: %s\n", qPrintable(reason));
        app.exit(Failure);
    });
    if (printf("%s\n", qPrintable(path)) < 0 || fflush(stdout) != 0)
        fail(Failure, QString("cannot print the terminal's path: ") + strerror(errno));
    return app.exec();
}
