#include "interrupt.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int pipeEnds[2] = {-1, -1};
volatile sig_atomic_t received = 0;

void onSignal(int number)
{
    received = number;
    const char byte = 1;
    (void)!::write(pipeEnds[1], &byte, 1);
}

} // namespace

void Interrupt::install()
{
    if (pipeEnds[0] >= 0 || ::pipe2(pipeEnds, O_NONBLOCK | O_CLOEXEC) != 0)
        return;
    // No SA_RESTART: a write to a stalled standard output ends too.
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int Interrupt::fd()
{
    return pipeEnds[0];
}

int Interrupt::signal()
{
    return received;
}

int Interrupt::exitCode()
{
    return 128 + received;
}
