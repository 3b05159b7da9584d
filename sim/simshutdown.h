#ifndef SIMSHUTDOWN_H
#define SIMSHUTDOWN_H

#include <QtGlobal>

// How the simulator ends besides its line failing: its event loop quits on
// SIGINT and SIGTERM (on Windows: Ctrl-C, Ctrl-Break or closing the
// console), and, if asked, once the process that started it is gone.
class SimShutdown
{
public:
    // Notes the process that started this one: make it first thing in main.
    SimShutdown();

    // From here on the event loop quits on those signals; one that comes
    // before the loop runs ends it as soon as it starts. Needs the
    // application object.
    void quitOnSignals();
    // Ends the simulator as SIGTERM does once its parent is gone, however
    // it ended.
    void exitWithParent();

private:
    qint64 m_parent;
};

#endif // SIMSHUTDOWN_H
