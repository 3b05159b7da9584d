#include "commandline.h"

#include "addresslist.h"
#include "commands.h"
#include "interrupt.h"
#include "lineopener.h"
#include "modbusframe.h"
#include "modbusmaster.h"
#include "progressline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
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

const QCommandLineOption helpOption({"h", "help"}, "Show this help.");

// The options whose default the environment may give, and the variable that does.
const struct
{
    const char *option;
    const char *variable;
} environmentDefaults[] = {{"port", "MORVANE_PORT"}, {"baud", "MORVANE_BAUD"}, {"local-echo", "MORVANE_LOCAL_ECHO"}};

// The variable that gives this option's default, or empty; empty too when it is not set.
QString defaultVariable(const QString &option)
{
    for (const auto &given : environmentDefaults) {
        if (option == given.option && !qEnvironmentVariableIsEmpty(given.variable))
            return given.variable;
    }
    return QString();
}

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

QString range(const QString &what, qlonglong low, qlonglong high, const QString &value)
{
    return QString("%1 takes %2 to %3, not %4").arg(what).arg(low).arg(high).arg(value);
}

} // namespace

bool CommandLine::integer(const QString &text, qlonglong low, qlonglong high, int *value)
{
    bool ok = false;
    const qlonglong number = text.toLongLong(&ok);
    if (!ok || number < low || number > high)
        return false;
    *value = int(number);
    return true;
}

QString CommandLine::moduleSpeed(const QString &what, const QString &value, int *baud)
{
    if (integer(value, 0, INT_MAX, baud) && ModbusFrame::codeForBaud(*baud))
        return QString();
    return QString("%1: the module runs at %2 bit/s, not %3").arg(what, ModbusFrame::moduleSpeeds(), value);
}

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

    return runCommand(*chosen, arguments);
}

int CommandLine::runCommand(const Command &command, const QStringList &arguments)
{
    QCommandLineParser parser;
    // -9600 is a value, not the options -9 -6 -0 -0.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(command.help.options);
    parser.addOption(helpOption);
    if (!parser.parse(arguments.mid(1)))
        return usage(parseError(command, parser));
    if (parser.isSet(helpOption))
        return print(help(command));
    Settings settings;
    const QString error = take(command, parser, &settings);
    if (!error.isEmpty())
        return usage(error);
    if (command.tool)
        return finish(command.tool(settings, m_console));
    if (settings.port.isEmpty()) {
        Commands commands(nullptr, m_console);
        return finish((commands.*command.run)(settings));
    }
    return finish(openAndRun(command, settings));
}

int CommandLine::openAndRun(const Command &command, const Settings &settings)
{
    PortName port;
    PortName::parse(settings.port, &port);
    const LineOpener::Opened opened = LineOpener::open(port, settings.baud);
    if (!opened.line) {
        m_console.complain(QString("cannot open %1: %2").arg(settings.port, opened.error));
        if (!opened.hint.isEmpty())
            m_console.hint(opened.hint);
        return PortError;
    }
    ModbusMaster::LineOptions options;
    options.verbose = settings.verbose;
    options.localEcho = settings.localEcho;
    ProgressLine line(*opened.line, m_console);
    ModbusMaster master(line, options);
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
        if (number && command.takeValues)
            return command.takeValues({'-' + name}, &ignored);
        if (number)
            return command.name + " takes no values, not -" + name;
    }
    return parser.errorText();
}

QString CommandLine::take(const Command &command, const QCommandLineParser &parser, Settings *settings) const
{
    const QStringList values = parser.positionalArguments();
    QString error;
    if (command.takeValues)
        error = command.takeValues(values, settings);
    else if (!values.isEmpty())
        error = command.name + " takes no values, not " + values.join(' ');
    for (int i = 0; error.isEmpty() && i < command.help.options.size(); ++i)
        error = takeOption(command, command.help.options[i], parser, settings);
    if (error.isEmpty() && command.check)
        error = command.check(parser, settings);
    return error;
}

QString CommandLine::takeOption(const Command &command, const QCommandLineOption &option,
                                const QCommandLineParser &parser, Settings *settings) const
{
    const QString name = option.names().constLast();
    if (parser.isSet(name))
        return takeValue(name, parser.value(name), settings);
    const QString variable = defaultVariable(name);
    if (!variable.isEmpty())
        return takeDefault(name, variable, settings);
    if (name == "port")
        return command.name + " needs --port (or MORVANE_PORT): a path, or a name such as ttyUSB0";
    if (name == "address" && option.defaultValues().isEmpty())
        return QString("%1 needs --address: %2 to %3, a list such as 1,3,5-9, all-found or a file of addresses")
            .arg(command.name).arg(ModbusFrame::MinAddress).arg(ModbusFrame::MaxAddress);
    return QString();
}

// An option's default from the environment: as the option would take it,
// but a speed is only the first asked by find.
QString CommandLine::takeDefault(const QString &name, const QString &variable, Settings *settings) const
{
    const QString value = qEnvironmentVariable(qPrintable(variable));
    if (name == "local-echo") {
        if (value != "0" && value != "1")
            return QString("%1 is 1 (the adapter echoes each request) or 0, not %2").arg(variable, value);
        settings->localEcho = value == "1";
        return QString();
    }
    if (name == "baud")
        return moduleSpeed(variable, value, &settings->baud);
    const QString error = takeValue(name, value, settings);
    return error.isEmpty() ? error : variable + ": " + error;
}

// The options several commands take; a command's own are its check's.
QString CommandLine::takeValue(const QString &name, const QString &value, Settings *settings) const
{
    const QString option = "--" + name;
    if (name == "port") {
        PortName port;
        const QString error = PortName::parse(value, &port);
        settings->port = port.text();
        return error;
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
        const QString error = AddressList::take(value, &settings->addresses);
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
    settings->verbose = settings->verbose || name == "verbose";
    settings->localEcho = settings->localEcho || name == "local-echo";
    settings->scan = settings->scan || name == "scan";
    settings->probe = settings->probe || name == "probe";
    return QString();
}

QString CommandLine::help(const Command &command) const
{
    QString text = "Usage: " + synopsis(command) + '\n' + wrapped(command.help.summary, 0).join('\n') + "\n\nOptions:\n";
    for (const QCommandLineOption &option : command.help.options)
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
        for (const QCommandLineOption &option : c.help.options)
            takers[optionHelp(option)] << c.name;
    }
    QString text = HelpTexts::overview() + "\nCommands:\n";
    for (const Command &c : m_commands)
        text += entry(synopsis(c), c.help.summary);
    QList<QStringList> groups;
    QMap<QStringList, QString> shared;
    for (const Command &c : m_commands) {
        QString own;
        for (const QCommandLineOption &option : c.help.options) {
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
    return text + HelpTexts::exitStatus() + '\n' + HelpTexts::environment();
}
