#include "commandline.h"

#include "addresslist.h"
#include "commands.h"
#include "interrupt.h"
#include "modbusframe.h"
#include "modbusmaster.h"
#include "serialline.h"
#include "tcpline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMap>

#include <climits>
#include <cmath>

namespace {

const int MaxTimeoutMs = 600000;
const int MaxRetries = 100;
const double MaxWatchSeconds = 86400;
const int MinWaitMs = 50;
const int MaxWaitMs = 2000;   // keeps doctor under 30 s at 1200 bit/s
const int DescriptionColumn = 26;
const int TextWidth = 79;
// Over TCP the shortest pause that ends a frame: the network and the device
// server pass bytes on in batches.
const int TcpSilenceFloorMs = 100;
const int MinPlotWidth = 640, MinPlotHeight = 480, MaxPlotSide = 4000;

const QCommandLineOption helpOption({"h", "help"}, "Show this help.");

QString synopsis(const CommandLine::Command &command)
{
    return "morvane-cli " + command.name + (command.argument.isEmpty() ? "" : " " + command.argument) + " [options]";
}

// The words of a text in lines that fit, each indented.
QStringList wrapped(const QString &text, int indent)
{
    QStringList lines;
    for (const QString &paragraph : text.split('\n')) {
        QString line;
        for (const QString &word : paragraph.split(' ', Qt::SkipEmptyParts)) {
            if (!line.isEmpty() && indent + line.size() + 1 + word.size() > TextWidth) {
                lines << line;
                line.clear();
            }
            line += (line.isEmpty() ? "" : " ") + word;
        }
        lines << line;
    }
    for (QString &line : lines)
        line.prepend(QString(indent, ' '));
    return lines;
}

// A name and its description in two columns, as help2man reads them.
QString entry(const QString &name, const QString &description)
{
    QStringList lines = wrapped(description, DescriptionColumn);
    const QString left = "  " + name;
    if (left.size() < DescriptionColumn - 1)
        lines[0].replace(0, left.size(), left);
    else
        lines.prepend(left);
    return lines.join('\n') + '\n';
}

QString optionHelp(const QCommandLineOption &option)
{
    QStringList names;
    for (const QString &name : option.names())
        names << (name.size() == 1 ? "-" : "--") + name;
    return entry(names.join(", ") + (option.valueName().isEmpty() ? "" : " <" + option.valueName() + ">"),
                 option.description());
}

bool integer(const QString &text, qlonglong low, qlonglong high, int *value)
{
    bool ok = false;
    const qlonglong number = text.toLongLong(&ok);
    if (!ok || number < low || number > high)
        return false;
    *value = int(number);
    return true;
}

QString range(const QString &what, qlonglong low, qlonglong high, const QString &value)
{
    return QString("%1 takes %2 to %3, not %4").arg(what).arg(low).arg(high).arg(value);
}

QString moduleSpeed(const QString &what, const QString &value, int *baud)
{
    if (integer(value, 0, INT_MAX, baud) && ModbusFrame::codeForBaud(*baud))
        return QString();
    return QString("%1: the module runs at %2 bit/s, not %3").arg(what, ModbusFrame::moduleSpeeds(), value);
}

// A path that exists is taken as given, relative ones too; a short name such
// as ttyUSB0 is looked for under /dev/.
QString portPath(const QString &given)
{
    const QFileInfo file(given);
    if (file.exists() || file.isAbsolute() || given.contains('/'))
        return file.absoluteFilePath();
    return "/dev/" + given;
}

// plot --from and --to: an ISO 8601 time, local unless it names a zone.
bool isoTime(const QString &text, QDateTime *time)
{
    QString iso = text;
    if (iso.size() > 10 && iso[10] == ' ')
        iso[10] = 'T';
    *time = QDateTime::fromString(iso, Qt::ISODateWithMs);
    if (!time->isValid() && iso.size() == 10)
        *time = QDateTime(QDate::fromString(iso, Qt::ISODate), QTime(0, 0));
    return time->isValid();
}

} // namespace

int CommandLine::run(const QStringList &arguments)
{
    Interrupt::install();
    const QString first = arguments.value(1);
    if (first == "--help" || first == "-h" || (first == "help" && arguments.size() == 2))
        return print(overview());
    if (first == "--version")
        return print(QCoreApplication::applicationName() + ' ' + QCoreApplication::applicationVersion());
    if (first == "help" && command(arguments.value(2)))
        return print(help(*command(arguments.value(2))));
    const QString name = first == "help" ? arguments.value(2) : first;
    const Command *chosen = command(name);
    if (!chosen)
        return usage(name.isEmpty() ? "a command is needed: " + names() : "unknown command '" + name + "'; the commands are " + names());

    QCommandLineParser parser;
    // -9600 is a value, not the options -9 -6 -0 -0.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(chosen->options);
    parser.addOption(helpOption);
    if (!parser.parse(arguments.mid(1)))
        return usage(parseError(*chosen, parser));
    if (parser.isSet(helpOption))
        return print(help(*chosen));
    Settings settings;
    const QString error = take(*chosen, parser, &settings);
    if (!error.isEmpty())
        return usage(error);
    if (chosen->tool)
        return finish(chosen->tool(settings, m_console));
    if (settings.port.isEmpty()) {
        Commands commands(nullptr, m_console);
        return finish((commands.*chosen->run)(settings));
    }
    return finish(openAndRun(*chosen, settings));
}

int CommandLine::openAndRun(const Command &command, const Settings &settings)
{
    if (settings.tcp()) {
        TcpLine line;
        if (!line.open(settings.port, settings.baud)) {
            m_console.complain(QString("cannot open %1: %2").arg(settings.port, line.errorString()));
            return PortError;
        }
        return runOn(line, command, settings);
    }
    SerialLine line;
    if (!line.open(settings.port, settings.baud)) {
        m_console.complain(QString("cannot open %1: %2").arg(settings.port, line.errorString()));
        if (line.openError() == QSerialPort::PermissionError)
            m_console.hint("Serial ports belong to the dialout group: sudo adduser $USER dialout, then log in again.");
        return PortError;
    }
    return runOn(line, command, settings);
}

int CommandLine::runOn(ByteLine &line, const Command &command, const Settings &settings)
{
    ModbusMaster master(line);
    master.timeoutMs = settings.scan ? settings.scanTimeoutMs : settings.timeoutMs;
    master.retries = settings.retries;
    master.verbose = settings.verbose;
    if (settings.tcp())
        master.silenceFloorMs = TcpSilenceFloorMs;
    master.localEcho = settings.localEcho;
    Commands commands(&master, m_console);
    return (commands.*command.run)(settings);
}

const CommandLine::Command *CommandLine::command(const QString &name) const
{
    for (const Command &c : m_commands) {
        if (c.name == name)
            return &c;
    }
    return nullptr;
}

QString CommandLine::names() const
{
    QStringList all;
    for (const Command &c : m_commands)
        all << c.name;
    return all.join(", ");
}

int CommandLine::usage(const QString &message)
{
    m_console.complain(message);
    m_console.hint("See morvane-cli --help.");
    return UsageError;
}

int CommandLine::print(const QString &text)
{
    return finish(m_console.print(text) ? Done : OutputError);
}

// A signal that came ends the run with its own code, whatever the command did.
int CommandLine::finish(int exitCode) const
{
    return Interrupt::signal() ? Interrupt::exitCode() : exitCode;
}

QString CommandLine::parseError(const Command &command, const QCommandLineParser &parser) const
{
    for (const QString &name : parser.unknownOptionNames()) {
        bool number = false;
        name.toDouble(&number);
        Settings ignored;
        if (number)
            return takeArgument(command, '-' + name, &ignored);
    }
    return parser.errorText();
}

QString CommandLine::take(const Command &command, const QCommandLineParser &parser, Settings *settings) const
{
    const QStringList values = parser.positionalArguments();
    if (command.name == "ports" && values.value(0).startsWith("tcp://"))
        return "ports lists this computer's serial ports; a device server's are set up on the server";
    const bool files = command.argument.endsWith("...");
    if (files && values.isEmpty())
        return command.name + " takes one or more files, - for standard input";
    if (files)
        settings->logs = values;
    else if (command.argument.isEmpty() && !values.isEmpty())
        return command.name + " takes no values, not " + values.join(' ');
    else if (!command.argument.isEmpty() && values.size() != 1)
        return QString("%1 takes one value, %2").arg(command.name, command.argument);
    if (!files && !command.argument.isEmpty()) {
        const QString error = takeArgument(command, values[0], settings);
        if (!error.isEmpty())
            return error;
    }
    for (const QCommandLineOption &option : command.options) {
        const QString name = option.names().constLast();
        if (parser.isSet(name)) {
            const QString error = takeOption(name, parser.value(name), settings);
            if (!error.isEmpty())
                return error;
        } else if (name == "port") {
            return command.name + " needs --port: a path, or a name such as ttyUSB0";
        } else if (name == "output") {
            return command.name + " needs -o FILE.png or FILE.svg";
        } else if (name == "address" && option.defaultValues().isEmpty()) {
            return QString("%1 needs --address: %2 to %3, a list such as 1,3,5-9, all-found or a file of addresses").arg(command.name).arg(ModbusFrame::MinAddress).arg(ModbusFrame::MaxAddress);
        }
    }
    if (command.name == "doctor" && (settings->format == Settings::Csv || settings->format == Settings::Influx))
        return "doctor prints text or json, not " + parser.value("format");
    if (command.name == "doctor" && parser.isSet("address") && (settings->allFound || settings->addresses.size() != 1))
        return QString("doctor --address takes one address, %1 to %2, not %3").arg(ModbusFrame::MinAddress).arg(ModbusFrame::MaxAddress).arg(parser.value("address"));
    if (settings->format == Settings::Influx && command.name != "read")
        return command.name + " --format is text, csv or json, not influx";
    if (settings->format != Settings::Text && command.name == "find" && !settings->scan)
        return "find --format needs --scan";
    if (settings->scan && !settings->retriesGiven)
        settings->retries = 0;
    if (settings->watchSeconds > 0 && !parser.isSet("count"))
        settings->count = INT_MAX;
    return QString();
}

QString CommandLine::takeArgument(const Command &command, const QString &value, Settings *settings) const
{
    if (command.argument == "NEW" && !integer(value, ModbusFrame::MinAddress, ModbusFrame::MaxAddress, &settings->value))
        return QString("the module's address is %1 to %2, not %3").arg(ModbusFrame::MinAddress).arg(ModbusFrame::MaxAddress).arg(value);
    if (command.argument == "RATE")
        return moduleSpeed(command.name, value, &settings->value);
    if (command.argument.isEmpty())
        return command.name + " takes no values, not " + value;
    return QString();
}

QString CommandLine::takeOption(const QString &name, const QString &value, Settings *settings) const
{
    const QString option = "--" + name;
    if (name == "port" && value.startsWith("tcp://")) {
        settings->port = value;
        QString host;
        int port = 0;
        return TcpLine::parseUrl(value, &host, &port);
    }
    if (name == "port") {
        settings->port = portPath(value);
        return value.isEmpty() ? "--port takes a path, or a name such as ttyUSB0; it is empty" : QString();
    }
    if (name == "baud") {
        settings->baudGiven = true;
        return moduleSpeed(option, value, &settings->baud);
    }
    if (name == "timeout" && !integer(value, 1, MaxTimeoutMs, &settings->timeoutMs))
        return QString("--timeout takes 1 to %1 ms, not %2").arg(MaxTimeoutMs).arg(value);
    if (name == "timeout")
        settings->scanTimeoutMs = settings->timeoutMs;
    if (name == "retries") {
        settings->retriesGiven = true;
        if (!integer(value, 0, MaxRetries, &settings->retries))
            return range(option, 0, MaxRetries, value);
    }
    if (name == "address") {
        settings->allFound = value == "all-found";
        if (settings->allFound)
            return QString();
        const QString error = QFileInfo(value).isFile() ? AddressList::parseFile(value, &settings->addresses)
                                                        : AddressList::parse(value, &settings->addresses);
        settings->address = settings->addresses.value(0);
        return error;
    }
    if (name == "wait" && !integer(value, MinWaitMs, MaxWaitMs, &settings->waitMs))
        return QString("--wait takes %1 to %2 ms, not %3").arg(MinWaitMs).arg(MaxWaitMs).arg(value);
    if (name == "count" && !integer(value, 1, INT_MAX, &settings->count))
        return range(option, 1, INT_MAX, value);
    if (name == "watch") {
        bool ok = false;
        settings->watchSeconds = value.toDouble(&ok);
        if (!ok || !std::isfinite(settings->watchSeconds) || settings->watchSeconds <= 0
            || settings->watchSeconds > MaxWatchSeconds)
            return QString("--watch takes seconds, more than 0 and at most %1 (a day), not %2").arg(MaxWatchSeconds).arg(value);
    }
    if (name == "format") {
        const QStringList formats = {"text", "csv", "json", "influx"};
        if (!formats.contains(value))
            return "--format is text, csv, json or influx, not " + value;
        settings->format = Settings::Format(formats.indexOf(value));
    }
    if (name == "output") {
        settings->output = value;
        if (!value.endsWith(".png", Qt::CaseInsensitive) && !value.endsWith(".svg", Qt::CaseInsensitive))
            return "-o takes FILE.png or FILE.svg, not " + value;
    }
    if ((name == "from" || name == "to") && !isoTime(value, name == "from" ? &settings->from : &settings->to))
        return option + " takes an ISO 8601 time such as 2026-12-08T14:30, 2026-12-08 14:30:05, "
                        "2026-12-08T14:30Z or 2026-12-08, not " + value;
    if (name == "to" && settings->from.isValid() && settings->to <= settings->from)
        return "--to must come after --from";
    if (name == "title")
        settings->title = value;
    if (name == "size") {
        const QStringList sides = value.split('x');
        int width = 0, height = 0;
        if (sides.size() != 2 || !integer(sides[0], MinPlotWidth, MaxPlotSide, &width)
            || !integer(sides[1], MinPlotHeight, MaxPlotSide, &height))
            return QString("--size takes WIDTHxHEIGHT in pixels, %1x%2 to %3x%3, not %4")
                .arg(MinPlotWidth).arg(MinPlotHeight).arg(MaxPlotSide).arg(value);
        settings->plotSize = QSize(width, height);
    }
    if (name == "verbose")
        settings->verbose = true;
    if (name == "local-echo")
        settings->localEcho = true;
    if (name == "scan")
        settings->scan = true;
    if (name == "probe")
        settings->probe = true;
    return QString();
}

QString CommandLine::help(const Command &command) const
{
    QString text = "Usage: " + synopsis(command) + '\n' + wrapped(command.summary, 0).join('\n') + "\n\nOptions:\n";
    for (const QCommandLineOption &option : command.options)
        text += optionHelp(option);
    return text + optionHelp(helpOption);
}

// Every command, the options only it takes, then the options several take,
// grouped by the commands that take them. An option is the same option
// where its help is the same.
QString CommandLine::overview() const
{
    QMap<QString, QStringList> takers;
    for (const Command &c : m_commands) {
        for (const QCommandLineOption &option : c.options)
            takers[optionHelp(option)] << c.name;
    }
    QString text = "Usage: morvane-cli COMMAND [options]\n"
                   "Finds, reads and sets up a temperature and humidity sensor module (Modbus RTU)\n"
                   "on a serial line or through a serial device server (RTU over TCP), and draws\n"
                   "the logs it reads. morvane-cli COMMAND --help shows one command.\n\nCommands:\n";
    for (const Command &c : m_commands)
        text += entry(synopsis(c), c.summary);
    QList<QStringList> groups;
    QMap<QStringList, QString> shared;
    for (const Command &c : m_commands) {
        QString own;
        for (const QCommandLineOption &option : c.options) {
            const QString help = optionHelp(option);
            const QStringList &who = takers[help];
            if (who.size() == 1) {
                own += help;
            } else if (who.constFirst() == c.name) {
                if (!groups.contains(who))
                    groups << who;
                shared[who] += help;
            }
        }
        if (!own.isEmpty())
            text += "\nOptions of " + c.name + ":\n" + own;
    }
    for (const QStringList &who : groups)
        text += "\nOptions of " + who.mid(0, who.size() - 1).join(", ") + " and " + who.last() + ":\n" + shared[who];
    text += "\nOptions:\n" + optionHelp(helpOption) + optionHelp(QCommandLineOption("version", "Show the version."));
    return text + "\nExit status:\n"
                  "  0    done\n"
                  "  1    the module did not answer, refused (the exception is named), or\n"
                  "       reported an address no module can have; read: a module never\n"
                  "       gave a reading (its address on standard error); plot: a log with\n"
                  "       no readable row; doctor: no module answered\n"
                  "  2    usage error; nothing went on the line\n"
                  "  3    the port cannot be opened (with the system's reason), or it failed\n"
                  "  4    standard output, or plot's file, cannot be written (with the reason)\n"
                  "  130  ended by SIGINT (Ctrl-C); 143 ended by SIGTERM";
}
