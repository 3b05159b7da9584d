// morvane-cli: finds, reads and sets up the temperature and humidity module
// from a shell.
#include "commands.h"
#include "modbusframe.h"
#include "modbusmaster.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>

#include <cstdio>

namespace {

struct Command
{
    const char *name, *arguments, *summary;
};

const Command commands[] = {
    {"ports", "", "List the serial ports the system knows, and whether each can be opened now."},
    {"find", "", "Find the module: the address read at each of its five speeds (9600 first;\n"
                 "--retries more passes), or with --scan the measurement request to\n"
                 "addresses 1-247, for a line with several modules."},
    {"read", "", "Read temperature, humidity and dew point from --address, once or with --watch."},
    {"set-address", "NEW", "Write a new bus address (1-247) through address 0 and read it back."},
    {"set-baud", "RATE", "Write a new line speed (1200 2400 4800 9600 19200) and confirm it at that speed."},
};

int usage(const QString &message)
{
    fprintf(stderr, "morvane-cli: %s\nSee morvane-cli --help.\n", qUtf8Printable(message));
    return UsageError;
}

// The options of one command.
void addOptions(QCommandLineParser &parser, const Command &command)
{
    const QString name = command.name;
    parser.setApplicationDescription(command.summary);
    parser.addHelpOption();
    if (*command.arguments)
        parser.addPositionalArgument(command.arguments, command.summary);
    if (name != "ports") {
        parser.addOptions({
            {"port", "The serial port: a path, or a short name such as ttyUSB0.", "path"},
            {"baud", "Line speed (default 9600; find: each of the module's speeds).", "rate"},
            {"timeout", "Milliseconds to wait for an answer (default 500).", "ms", "500"},
            {"retries", "Tries again after a lost or damaged reply (default 2, none with --scan).", "n", "2"},
            {"verbose", "Print every frame sent and accepted on standard error."},
        });
    }
    if (name == "find")
        parser.addOption({"scan", "Poll addresses 1-247 instead, for a line with several modules."});
    if (name == "read") {
        parser.addOptions({
            {"address", "The module's address, 1-247.", "n"},
            {"watch", "Read again every this many seconds, until interrupted.", "seconds"},
            {"count", "Stop after this many readings.", "n"},
            {"format", "text, csv or json (one object a line); default text.", "format", "text"},
        });
    }
}

// Every command with its options, for --help and the manual page.
void printOverview()
{
    printf("Usage: morvane-cli COMMAND [options]\n\n"
           "Finds, reads and sets up a temperature and humidity sensor module (Modbus RTU)\n"
           "on a serial line. Commands:\n");
    for (const Command &c : commands)
        printf("  %-12s %s\n", c.name, qUtf8Printable(QString(c.summary).replace("\n", "\n               ")));
    for (const Command &c : commands) {
        QCommandLineParser parser;
        addOptions(parser, c);
        const QString help = parser.helpText();
        QStringList options = help.mid(help.indexOf("Options:")).split('\n').mid(1);
        options = options.filter(QRegularExpression("^(?!.*--help)"));
        printf("\nmorvane-cli %s%s%s [options]\n%s", c.name, *c.arguments ? " " : "", c.arguments,
               qUtf8Printable(options.join('\n')));
    }
    printf("\nExamples:\n"
           "  morvane-cli find --port ttyUSB0\n"
           "  morvane-cli read --port ttyUSB0 --address 7 --watch 60 --format csv > day.csv\n"
           "  for a in $(seq 1 20); do read -rp \"Module $a alone on the line, then Enter \";\n"
           "      morvane-cli set-address $a --port ttyUSB0 || break; done\n"
           "\n"
           "Exit codes: 0 done, 1 the module did not answer or refused, 2 usage error,\n"
           "3 the port cannot be opened.\n");
}

// An option's whole-number value within bounds, or false.
bool number(const QCommandLineParser &parser, const QString &name, int low, int high, int *value)
{
    bool ok = false;
    *value = parser.value(name).toInt(&ok);
    return ok && *value >= low && *value <= high;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("morvane-cli");
    const QStringList args = app.arguments();
    const QString name = args.value(1);
    if (name == "--help" || name == "-h" || name == "help") {
        printOverview();
        return Done;
    }
    const Command *command = nullptr;
    for (const Command &c : commands) {
        if (name == c.name)
            command = &c;
    }
    if (!command)
        return usage(name.isEmpty() ? "a command is needed" : "unknown command '" + name + "'");

    QCommandLineParser parser;
    addOptions(parser, *command);
    if (!parser.parse(args.mid(1)))
        return usage(parser.errorText());
    if (parser.isSet("help")) {
        QString help = parser.helpText();
        help.replace(QRegularExpression("^Usage: \\S+"), "Usage: morvane-cli " + name);
        printf("%s", qUtf8Printable(help));
        return Done;
    }
    if (name == "ports")
        return Commands::ports();

    // Everything is checked before anything goes on the line.
    const QStringList values = parser.positionalArguments();
    if (values.size() != (*command->arguments ? 1 : 0))
        return usage(*command->arguments ? QString("%1 takes one value, %2").arg(name, command->arguments)
                                         : name + " takes no values");
    int baud = 9600, timeout = 0, retries = 0, target = 0;
    if (parser.isSet("baud") && !number(parser, "baud", 50, 4000000, &baud))
        return usage("--baud takes a line speed in bit/s");
    if (!number(parser, "timeout", 1, 600000, &timeout))
        return usage("--timeout takes milliseconds, 1 or more");
    if (!number(parser, "retries", 0, 100, &retries))
        return usage("--retries takes a number from 0 to 100");
    if (!parser.isSet("port"))
        return usage("--port is needed");
    if (name == "set-address") {
        bool ok = false;
        target = values[0].toInt(&ok);
        if (!ok || target < 1 || target > ModbusFrame::MaxAddress)
            return usage("the module's address is 1 to 247, not " + values[0]);
    }
    if (name == "set-baud") {
        target = values[0].toInt();
        if (!ModbusFrame::codeForBaud(target))
            return usage("the module runs at 1200, 2400, 4800, 9600 or 19200 bit/s, not " + values[0]);
    }
    int address = 0, count = 1;
    double watch = 0;
    if (name == "read") {
        if (!number(parser, "address", 1, ModbusFrame::MaxAddress, &address))
            return usage("read needs --address, 1 to 247");
        const QString format = parser.value("format");
        if (format != "text" && format != "csv" && format != "json")
            return usage("--format is text, csv or json");
        if (parser.isSet("watch")) {
            bool ok = false;
            watch = parser.value("watch").toDouble(&ok);
            if (!ok || watch <= 0)
                return usage("--watch takes seconds, more than 0");
            count = INT_MAX;
        }
        if (parser.isSet("count") && !number(parser, "count", 1, INT_MAX, &count))
            return usage("--count takes a number, 1 or more");
    }

    ModbusMaster line;
    line.timeoutMs = timeout;
    line.retries = name == "find" && parser.isSet("scan") && !parser.isSet("retries") ? 0 : retries;
    line.verbose = parser.isSet("verbose");
    QString error;
    if (!line.open(parser.value("port"), baud, &error)) {
        fprintf(stderr, "morvane-cli: cannot open %s: %s\n", qUtf8Printable(parser.value("port")), qUtf8Printable(error));
        if (error.contains("ermission"))
            fprintf(stderr, "Serial ports belong to the dialout group: sudo adduser $USER dialout, then log in again.\n");
        return PortError;
    }

    if (name == "find") {
        const QList<int> speeds = parser.isSet("baud") ? QList<int>{baud} : QList<int>{9600, 19200, 4800, 2400, 1200};
        return parser.isSet("scan") ? Commands::scan(line, speeds) : Commands::find(line, speeds);
    }
    if (name == "read")
        return Commands::read(line, address, watch, count, parser.value("format"));
    if (name == "set-address")
        return Commands::setAddress(line, target);
    return Commands::setBaud(line, target);
}
