#ifndef INTERRUPT_H
#define INTERRUPT_H

// SIGINT and SIGTERM as something a wait can watch: once either has come,
// the descriptor stays readable, so every wait from then on ends at once.
namespace Interrupt {

void install();
int fd();         // -1 before install()
int signal();     // the signal that came, or 0
int exitCode();   // 128 + the signal: 130 for SIGINT, 143 for SIGTERM

} // namespace Interrupt

#endif // INTERRUPT_H
