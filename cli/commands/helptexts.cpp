#include "helptexts.h"

namespace {

// The options of every command on a line.
const QList<QCommandLineOption> lineOptions = {
    {{"p", "port"}, "The serial port: a path (relative ones too), or a short name such as ttyUSB0 under /dev; or "
             "tcp://HOST:PORT, a serial device server passing the line's bytes through TCP as they are "
             "(RTU over TCP, not Modbus TCP with its MBAP header). Over TCP a pause of 100 ms, not 30, "
             "ends a frame, as the network and the server pass bytes on in batches; a dropped connection "
             "is a port lost. Default: $MORVANE_PORT.", "path"},
    {{"b", "baud"}, "Line speed: 1200, 2400, 4800, 9600 or 19200 (default $MORVANE_BAUD, else 9600; find without it asks at each, "
                    "that one first; doctor asks at every speed, this one first). "
             "Over TCP it is sent nowhere and only times the frames: the line's speed is set on the server.", "rate"},
    {{"t", "timeout"}, "Milliseconds the module has to start answering once the request has left the line, "
                "1 to 600000 (default 500; 30 for a scan, where a module slower than that may be missed). A reply that has begun is given its time on the wire at the line's "
                "speed and 3.5 characters of silence. After a request with no answer in time the line must "
                "stay silent this long once more, a late answer thrown away, before the next request.", "ms"},
    {"retries", "Tries again after a lost or damaged reply, 0 to 100 (default 2; none with --scan).", "n"},
    {"verbose", "Print every frame sent and taken on standard error, in the window's log form."},
    {"local-echo", "The adapter brings back each request before the reply (two-wire RS-485 without echo "
                   "suppression; doctor tells): take that echo off the line first. An echo that differs "
                   "from the request sent is a damaged line, and that try gets no answer. Default: on when "
                   "$MORVANE_LOCAL_ECHO is 1."},
};

QList<QCommandLineOption> withLine(const QList<QCommandLineOption> &own)
{
    return lineOptions + own;
}

// doctor finds out for itself what the timing and echo options would say.
QList<QCommandLineOption> doctorOptions()
{
    QList<QCommandLineOption> options;
    for (const QCommandLineOption &option : lineOptions) {
        const QString name = option.names().constLast();
        if (name == "port" || name == "baud" || name == "verbose")
            options << option;
    }
    QCommandLineOption address({"a", "address"}, "The module's address, 1-247, asked by turns with address 0, which "
                                                  "every module answers (several at once: a collision); without it, "
                                                  "address 0 alone.", "n");
    address.setDefaultValue("0");   // may be left out
    return options + QList<QCommandLineOption>{
        address,
        {"wait", "How long each probe waits for a reply to begin, 50 to 2000 ms (default 1000, twice the other "
                 "commands' timeout, so that a slow module is seen).", "ms"},
        {"format", "text or json (one object); default text.", "format"},
    };
}

// set-address and set-baud: to the module at --address, else through
// address 0.
QList<QCommandLineOption> settingOptions()
{
    QCommandLineOption address({"a", "address"},
                               "The module's address now, 1-247: the write goes to that module alone, so the others "
                               "on the line are untouched. Without it, through address 0, which every module "
                               "answers: one module alone on the line.", "n");
    address.setDefaultValue("0");   // may be left out
    return withLine({address});
}

} // namespace

CommandHelp HelpTexts::ports()
{
    return {"List the serial ports the system knows, without opening them: each path, its name under "
            "/dev/serial/by-id (the same whichever USB socket the adapter is in), and where the system knows "
            "them the description, manufacturer, USB vendor and product ids, serial number and driver, "
            "which tell two adapters apart.",
            {{"probe", "Also open each port to tell whether it is free now. Opening a port raises its DTR and RTS "
                       "lines, which resets some boards and can key an RS-485 driver."},
             {"format", "text, or json: one object a line, with path, by_id, description, manufacturer, "
                        "vendor_id, product_id (four hex digits), serial_number, driver and state (with --probe), "
                        "null where the system says nothing.", "format"}},
    };
}

CommandHelp HelpTexts::find()
{
    return {"Find the module: its address read at each of its five speeds, 9600 first (--retries more "
            "passes), or with --scan the measurement asked of addresses 1-247, for a line with several modules.",
            withLine({{"scan", "Poll addresses 1-247 instead, at --baud or at every speed in turn."},
                      {"format", "With --scan: text, csv or json (one object a line); CSV and JSON give each module's "
                                 "address, speed and first reading, and read --address takes the file.", "format"}}),
    };
}

CommandHelp HelpTexts::read()
{
    return {"Read temperature, humidity and dew point from the modules at --address, once or with "
            "--watch: each round asks every module in address order, one row each, and a module that "
            "misses goes on to the next.",
            withLine({
                {{"a", "address"}, "The modules: one address, 1-247, or a list such as 1,3,5-9; all-found for those a "
                            "scan at --baud finds first; or a file: what find --scan --format csv or json printed, or "
                            "one address a line.", "list"},
                {"watch", "Read again every this many seconds, more than 0 and at most 86400, until interrupted or "
                          "--count rounds. A round that overruns its slot skips the slots it took. When the port "
                          "fails, rows say \"port lost: REASON\" and it is opened again every 2 s until it is back.", "seconds"},
                {"count", "Stop after this many rounds, 1 to 2147483647 (default 1, or no end with --watch); each "
                          "round asks every module at --address once, so 2 rounds of 8 modules are 16 rows.", "n"},
                {"format", "text, csv, json (one object a line) or influx (InfluxDB line protocol: measurement "
                           "morvane, tag address, nanoseconds; a miss goes to standard error only); default text. "
                           "CSV, JSON and InfluxDB rows carry the address and the time their request went out, to "
                           "the millisecond; text rows carry that time under --watch, and begin \"address N: \" "
                           "for several modules.", "format"},
            }),
    };
}

CommandHelp HelpTexts::setAddress()
{
    return {"Write a new bus address (1-247) and read it back there: to the module at --address, once nothing "
            "answers at the new address, or through address 0 to the one module on the line.",
            settingOptions()};
}

CommandHelp HelpTexts::setBaud()
{
    return {"Write a new line speed (1200 2400 4800 9600 19200), to the module at --address or through "
            "address 0, and confirm it at that speed; with the echo lost, the module is looked for at the new "
            "speed. A module moved off the line's speed no longer answers with the others: the command that "
            "brings it back is printed.",
            settingOptions()};
}

CommandHelp HelpTexts::plot()
{
    return {"Draw logs of read --format csv or json (files, - for standard input, formats mixed) "
            "to a PNG or SVG picture: temperature and dew point (dotted), and humidity, on one time axis in "
            "local time with its zone named, a colour per address (then a dash); a missed reading or a pause of more than 3 reading "
            "intervals is a gap; each pixel column shows the lowest to highest of its readings, so "
            "no peak is lost. Title: the span, readings and misses; under the panels each module's "
            "minimum, mean and maximum and its share missed. A row that cannot be read is skipped "
            "and counted, the first 5 named as FILE:LINE; a file with no readable row fails (1). A CSV header "
            "line names the columns (others are ignored). Readings far from the rest (a reset clock) are named "
            "and left off the axis; --from cuts them out. The picture grows for many modules unless --size is given.",
            {
                {{"o", "output"}, "The picture to write, FILE.png or FILE.svg: written whole or not at all, never over one of the logs.", "file"},
                {"from", "Leave out readings before this time: 2026-12-08T14:30, 2026-12-08 14:30:05.250, a date "
                         "alone (its midnight); local time, or with Z or +01:00 at the end.", "time"},
                {"to", "Leave out readings after this time, in the forms --from takes.", "time"},
                {"size", "The picture's size in pixels, 640x480 to 4000x4000 (default 1200x800).", "WxH"},
                {"title", "The title line (default: the addresses drawn).", "text"},
            },
    };
}

CommandHelp HelpTexts::doctor()
{
    return {"When nothing answers, say why: a short run of probes (under 30 s) on the adapter, its echo, "
            "the speed, the module's address, several modules on address 0, refusals, a server that speaks "
            "Modbus TCP, the module's turnaround, late replies and the line's quality. Each finding says what "
            "was seen and what to do; the last line is a read command that worked each of the five times it "
            "was run, or the most likely cause. Exit 0 when a module answered, 1 when none did (or it only "
            "refused).",
            doctorOptions()};
}

QString HelpTexts::overview()
{
    return "Usage: morvane-cli COMMAND [options]\n"
           "Finds, reads and sets up a temperature and humidity sensor module (Modbus RTU)\n"
           "on a serial line or through a serial device server (RTU over TCP), and draws\n"
           "the logs it reads. morvane-cli COMMAND --help shows one command.\n";
}

QString HelpTexts::environment()
{
    return "\nEnvironment:\n"
           "  MORVANE_PORT        the --port of every command on a line that is not given one\n"
           "  MORVANE_BAUD        the --baud of those commands; find asks at it first\n"
           "  MORVANE_LOCAL_ECHO  1: --local-echo for every command that takes it; 0: none\n"
           "  An option given overrides them; a value they cannot take is a usage error\n"
           "  (2). doctor prints the export line that fits the line it examined.";
}

QString HelpTexts::exitStatus()
{
    return "\nExit status:\n"
           "  0    done\n"
           "  1    the module did not answer, refused (the exception is named), or\n"
           "       reported an address no module can have; read: a module never\n"
           "       gave a reading (its address on standard error); plot: a log with\n"
           "       no readable row; doctor: no module answered, or it only refused\n"
           "  2    usage error; nothing went on the line\n"
           "  3    the port cannot be opened (with the system's reason), or it failed\n"
           "  4    standard output, or plot's file, cannot be written (with the reason);\n"
           "       a pipe closed by its reader (read --watch 1 | head -2) ends the\n"
           "       program quietly instead, by SIGPIPE as any filter (status 141 in a\n"
           "       shell), unless SIGPIPE is ignored\n"
           "  130  ended by SIGINT (Ctrl-C); 143 ended by SIGTERM";
}
