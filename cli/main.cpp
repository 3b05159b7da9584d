// morvane-cli: finds, reads and sets up the temperature and humidity module
// from a shell, and draws the logs it reads.
#include "commandtable.h"

#include <QGuiApplication>

#include <cstring>
#include <memory>
#ifdef Q_OS_WIN
#include <windows.h>
#endif

QtMessageHandler qtMessages = nullptr;

// Qt's platform asks for a runtime folder that a root shell or a cron job
// may not have; a picture written to a file does not need one.
void withoutRuntimeNotice(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (!message.startsWith("QStandardPaths: XDG_RUNTIME_DIR"))
        qtMessages(type, context, message);
}

// Only plot draws text, so only plot pays for a QGuiApplication; with no
// display it draws offscreen.
QCoreApplication *application(int &argc, char *argv[])
{
    if (argc < 2 || std::strcmp(argv[1], "plot") != 0)
        return new QCoreApplication(argc, argv);
    bool platformGiven = qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
    for (int i = 1; i < argc; ++i)
        platformGiven = platformGiven || std::strcmp(argv[i], "-platform") == 0;
#ifndef Q_OS_WIN   // Windows' own platform draws without a window
    if (!platformGiven && !qEnvironmentVariableIsSet("DISPLAY") && !qEnvironmentVariableIsSet("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    qtMessages = qInstallMessageHandler(withoutRuntimeNotice);
    return new QGuiApplication(argc, argv);
}

int main(int argc, char *argv[])
{
#ifdef Q_OS_WIN
    // The lines are UTF-8 (°C); the console's own code page comes back after.
    const UINT codePage = ::GetConsoleOutputCP();
    ::SetConsoleOutputCP(CP_UTF8);
#endif
    const std::unique_ptr<QCoreApplication> app(application(argc, argv));
    QCoreApplication::setApplicationName("morvane-cli");
    QCoreApplication::setApplicationVersion(MORVANE_VERSION);
    const int status = CommandLine(CommandTable::commands()).run(app->arguments());
#ifdef Q_OS_WIN
    ::SetConsoleOutputCP(codePage);
#endif
    return status;
}
