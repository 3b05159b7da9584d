#ifndef EXITCODE_H
#define EXITCODE_H

// Exit codes of morvane-cli and morvane-sim; a signal gives 128 + its
// number (130, 143).
enum ExitCode { Done = 0, Failed = 1, UsageError = 2, PortError = 3, OutputError = 4 };

#endif // EXITCODE_H
