#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include "console.h"
#include "helptexts.h"
#include "settings.h"

#include <QCommandLineOption>
#include <QList>

class ByteLine;
class Commands;
class QCommandLineParser;

// What every command shares: the arguments parsed once into Settings, the
// help texts made from the command table, the line opened for the commands
// that take --port. A request for help never opens the port. The options
// several commands take are taken here; each command's values and its own
// checks come with it in the table.
class CommandLine
{
public:
    struct Command
    {
        QString name;
        QString argument;   // in the synopsis: "NEW", "LOG..." or none
        CommandHelp help;
        // Each an error naming what is allowed, or an empty string. Without
        // takeValues the command takes no values; check comes once the
        // shared options are taken.
        QString (*takeValues)(const QStringList &values, Settings *settings) = nullptr;
        QString (*check)(const QCommandLineParser &parser, Settings *settings) = nullptr;
        int (Commands::*run)(const Settings &) = nullptr;
        int (*tool)(const Settings &, Console &) = nullptr;   // a command on files, not on a line
    };

    explicit CommandLine(const QList<Command> &commands) : m_commands(commands) {}

    int run(const QStringList &arguments);

    // The numbers options take: an error naming the range, or empty.
    static bool integer(const QString &text, qlonglong low, qlonglong high, int *value);
    static QString moduleSpeed(const QString &what, const QString &value, int *baud);

private:
    const Command *command(const QString &name) const;
    QString names() const;
    int usage(const QString &message);
    int print(const QString &text);
    int finish(int exitCode) const;
    int runCommand(const Command &command, const QStringList &arguments);
    int openAndRun(const Command &command, const Settings &settings);

    QString overview() const;
    QString help(const Command &command) const;
    QString parseError(const Command &command, const QCommandLineParser &parser) const;
    QString take(const Command &command, const QCommandLineParser &parser, Settings *settings) const;
    QString takeOption(const Command &command, const QCommandLineOption &option, const QCommandLineParser &parser,
                       Settings *settings) const;
    QString takeValue(const QString &name, const QString &value, Settings *settings) const;
    QString takeDefault(const QString &name, const QString &variable, Settings *settings) const;

    QList<Command> m_commands;
    Console m_console;
};

#endif // COMMANDLINE_H
