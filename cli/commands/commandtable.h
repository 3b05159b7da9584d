#ifndef COMMANDTABLE_H
#define COMMANDTABLE_H

#include "commandline.h"

// morvane-cli's commands: each with its help, its values, its own checks
// and what runs it.
namespace CommandTable {

QList<CommandLine::Command> commands();

} // namespace CommandTable

#endif // COMMANDTABLE_H
