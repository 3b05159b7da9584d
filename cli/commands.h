#ifndef COMMANDS_H
#define COMMANDS_H

#include <QStringList>

class ModbusMaster;
class QCommandLineParser;

// Exit codes of morvane-cli.
enum ExitCode { Done = 0, Failed = 1, UsageError = 2, PortError = 3 };

// The sub-commands, each on an open line (but ports); each returns its
// exit code and prints its own messages.
namespace Commands {
int ports();
int find(ModbusMaster &line, const QList<int> &speeds);
int scan(ModbusMaster &line, const QList<int> &speeds);
int read(ModbusMaster &line, int address, double watchSeconds, int count, const QString &format);
int setAddress(ModbusMaster &line, int address);
int setBaud(ModbusMaster &line, int baud);
}

#endif // COMMANDS_H
