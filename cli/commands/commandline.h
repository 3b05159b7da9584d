#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include "console.h"
#include "settings.h"

#include <QCommandLineOption>
#include <QList>

class ByteLine;
class Commands;
class QCommandLineParser;

// What every command shares: the arguments parsed once into Settings, the
// help texts made from the command table, the line opened for the commands
// that take --port. A request for help never opens the port.
class CommandLine
{
public:
    struct Command
    {
        QString name;
        QString argument;   // "NEW" (an address), "RATE" (a module speed), "LOG..." (files) or none
        QString summary;
        QList<QCommandLineOption> options;
        int (Commands::*run)(const Settings &);
        int (*tool)(const Settings &, Console &) = nullptr;   // a command on files, not on a line
    };

    explicit CommandLine(const QList<Command> &commands) : m_commands(commands) {}

    int run(const QStringList &arguments);

private:
    const Command *command(const QString &name) const;
    QString names() const;
    int usage(const QString &message);
    int print(const QString &text);
    int finish(int exitCode) const;
    int openAndRun(const Command &command, const Settings &settings);
    int runOn(ByteLine &line, const Command &command, const Settings &settings);

    QString overview() const;
    QString help(const Command &command) const;
    QString parseError(const Command &command, const QCommandLineParser &parser) const;
    QString take(const Command &command, const QCommandLineParser &parser, Settings *settings) const;
    QString takeArgument(const Command &command, const QString &value, Settings *settings) const;
    QString takeOption(const QString &name, const QString &value, Settings *settings) const;

    QList<Command> m_commands;
    Console m_console;
};

#endif // COMMANDLINE_H
