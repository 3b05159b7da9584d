// morvane-sim: plays the temperature and humidity module on a serial line.
#include "addressrange.h"
#include "exitcode.h"
#include "modbusframe.h"
#include "ptysimline.h"
#include "sensormodule.h"
#include "serialsimline.h"
#include "simserver.h"
#include "tcpsimline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHostAddress>
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


// What a register of tenths can hold.
const double MinSignedTenths = -3276.8, MaxSignedTenths = 3276.7, MaxUnsignedTenths = 6553.5;
const int MaxMs = 60000;
// Modules after the first start this much warmer and damper each.
const double TemperatureStep = 0.2, HumidityStep = 0.5;
const int MaxGarbleBaud = 19200;
const int MaxTcpPort = 65535;

const char exitCodes[] =
    "\nExit codes: 0 done (ended by SIGINT, SIGTERM or --exit-with-parent), 1 failure\n"
    "(the terminal's path cannot be printed, or the port fails while serving),\n"
    "2 usage error, 3 the port cannot be opened or the address not listened on.\n";

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
        "Plays temperature and humidity sensor modules (Modbus RTU) on a serial line.\n"
        "Without --port it creates a pseudo-terminal and prints its path as the first line;\n"
        "with --listen it prints tcp://HOST:PORT, the address it listens on.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {"port", "Serve on this existing serial device: a path (relative ones too), or a short name such as "
                 "ttyUSB1 under /dev, as morvane-cli takes it.", "path"},
        {"listen", "Serve the line behind a TCP listener instead, as a serial device server does: the same "
                   "RTU frames, check values and all (RTU over TCP, not Modbus TCP's MBAP header). One "
                   "connection is served at a time; another is closed at once. Port 0 takes a free one. "
                   "There is no line speed over TCP: the line stays at --baud, and a module set to "
                   "another speed goes silent, as behind a real server.", "host:port"},
        {"baud", "Line speed: " + ModbusFrame::moduleSpeeds() + " (default 9600). On its own "
                 "pseudo-terminal the simulator answers only a master that set the same speed.", "rate", "9600"},
        {"address", "Bus address, 1-247 (default 1), or a list of them, as 1-20 or 1,3,5-9: one module "
                    "at each, each 0.2 degrees warmer and 0.5 % damper than the one before. A request "
                    "through address 0 is answered by every module at once, which several turn into "
                    "one garbled frame (a collision); a write through 0 is applied by every module.", "list", "1"},
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
        {"delay-ms", "Delay before each reply, 0-60000 (default 0): the same as --turnaround-ms, "
                     "kept for scripts; given both, they add.", "ms", "0"},
        {"turnaround-ms", "Time from the request's last byte on the line to the reply's first, "
                          "0-60000 (default 0).", "ms", "0"},
        {"local-echo", "Send each request's bytes straight back, before any reply, as a two-wire "
                       "RS-485 adapter without echo suppression does."},
        {"garble-above", "While the line runs faster than this, 0-19200 bit/s, damage each byte of a "
                         "reply with probability 0.1, as a long unterminated line does.", "baud"},
        {"wire-time", "Send each reply at the line's pace, 11 bits a byte, starting no earlier than "
                      "the request took to arrive, so that a pseudo-terminal costs what a real line does."},
        {"seed", "Seed for the fault choices, 0-4294967295 (default: random).", "n"},
        {"verbose", "Print each request and reply, time-stamped."},
        {"exit-with-parent", "End (exit code 0, as on SIGTERM) when the process that started the simulator is gone, even if it was killed."},
    });
}

QVector<int> addressList(const QString &text)
{
    QVector<int> addresses;
    if (!AddressRange::parse(text, &addresses))
        fail(UsageError, QString("--address takes a whole number from %1 to %2, or a list of them, as 1-20 or 1,3,5-9")
                             .arg(ModbusFrame::MinAddress).arg(ModbusFrame::MaxAddress));
    return addresses;
}

QVector<SensorModule> modulesFrom(const QCommandLineParser &parser)
{
    SensorModule module;
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
    const bool fixedDewPoint = parser.isSet("dew-point");
    const double dewPoint = fixedDewPoint ? decimal(parser, "dew-point", MinSignedTenths, MaxSignedTenths) : 0;
    QVector<SensorModule> modules;
    for (int address : addressList(parser.value("address"))) {
        const double t = qBound(MinSignedTenths, temperature + modules.size() * TemperatureStep, MaxSignedTenths);
        const double h = qBound(0.0, humidity + modules.size() * HumidityStep, MaxUnsignedTenths);
        const double d = fixedDewPoint ? dewPoint : SensorModule::magnusDewPoint(t, h);
        module.address = address;
        module.temperature = qint16(qRound(t * 10));
        module.humidity = quint16(qRound(h * 10));
        module.dewPoint = qint16(qRound(qBound(MinSignedTenths, d, MaxSignedTenths) * 10));
        modules << module;
    }
    return modules;
}

// HOST:PORT, the host a numeric address ([...] for IPv6) or localhost.
bool listenAddress(const QString &text, QHostAddress *host, quint16 *port)
{
    const int colon = text.lastIndexOf(':');
    QString name = text.left(colon);
    if (name.startsWith('[') && name.endsWith(']'))
        name = name.mid(1, name.size() - 2);
    bool ok = false;
    const int number = text.mid(colon + 1).toInt(&ok);
    if (colon < 0 || !ok || number < 0 || number > MaxTcpPort)
        return false;
    *port = quint16(number);
    *host = name == "localhost" ? QHostAddress(QHostAddress::LocalHost) : QHostAddress(name);
    return !host->isNull();
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
    faults.turnaroundMs = int(whole(parser, "turnaround-ms", 0, MaxMs));
    faults.localEcho = parser.isSet("local-echo");
    if (parser.isSet("garble-above"))
        faults.garbleAbove = int(whole(parser, "garble-above", 0, MaxGarbleBaud));
    return faults;
}

// A path that exists is taken as given, relative ones too; a short name is
// looked for under /dev, as morvane-cli's --port does.
QString devicePath(const QString &given)
{
    const QFileInfo file(given);
    return file.exists() || file.isAbsolute() || given.contains('/') ? file.absoluteFilePath() : "/dev/" + given;
}

// The line the options name: a TCP listener, a serial device, or a
// pseudo-terminal of our own. cannot: how to tell that it did not open.
SimLine *lineFrom(const QCommandLineParser &parser, QString *cannot)
{
    const QString port = parser.value("port").isEmpty() ? QString() : devicePath(parser.value("port"));
    if (parser.isSet("listen")) {
        if (parser.isSet("port"))
            fail(UsageError, "takes --port or --listen, not both");
        QHostAddress host;
        quint16 tcpPort = 0;
        if (!listenAddress(parser.value("listen"), &host, &tcpPort))
            fail(UsageError, "--listen takes HOST:PORT, a numeric address or localhost and a port from 0 to 65535");
        *cannot = "cannot listen on " + parser.value("listen");
        return new TcpSimLine(host, tcpPort);
    }
    if (!port.isEmpty()) {
        *cannot = "cannot open " + port;
        return new SerialSimLine(port);
    }
    *cannot = "cannot create a pseudo-terminal";
    return new PtySimLine;
}

} // namespace

int main(int argc, char *argv[])
{
    const pid_t parent = ::getppid();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("morvane-sim");
    QCoreApplication::setApplicationVersion(MORVANE_VERSION);

    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(app.arguments()))
        fail(UsageError, parser.errorText());
    if (parser.isSet("help") || parser.isSet("help-all")) {
        // Named as typed, not with the path it was started by.
        printf("%s%s", qPrintable(parser.helpText().replace(QRegularExpression("^Usage: \\S+"), "Usage: morvane-sim")),
               exitCodes);
        return fflush(stdout) == 0 ? Done : Failed;
    }
    if (parser.isSet("version"))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        fail(UsageError, "takes no arguments, only options: " + parser.positionalArguments().join(' '));

    const QVector<SensorModule> modules = modulesFrom(parser);
    const SimServer::Faults faults = faultsFrom(parser);
    const quint32 seed = parser.isSet("seed") ? quint32(whole(parser, "seed", 0, 4294967295LL))
                                              : QRandomGenerator::system()->generate();
    QString cannot;
    SimLine *line = lineFrom(parser, &cannot);

    // Signals are caught from here on; one that comes before the event loop
    // runs ends it as soon as it starts.
    quitOnSignals();
    if (parser.isSet("exit-with-parent"))
        exitWithParent(parent);

    SimServer server(modules, faults, seed);
    server.setVerbose(parser.isSet("verbose"));
    server.setFixedDewPoint(parser.isSet("dew-point"));
    server.setDrift(parser.isSet("drift"));
    server.setWireTime(parser.isSet("wire-time"));
    const QString path = server.serve(line);
    if (path.isEmpty())
        fail(PortError, cannot + ": " + line->errorString());
    QObject::connect(&server, &SimServer::lineFailed, &app, [&](const QString &reason) {
        fprintf(stderr, "morvane-sim: the port failed: %s\n", qPrintable(reason));
        app.exit(Failed);
    });
    if (printf("%s\n", qPrintable(path)) < 0 || fflush(stdout) != 0)
        fail(Failed, QString("cannot print the terminal's path: ") + strerror(errno));
    return app.exec();
}
