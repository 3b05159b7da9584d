#include "lineopener.h"

#include "portholder.h"
#include "portname.h"
#include "serialline.h"
#include "tcpline.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What the path is when it cannot be a serial port; empty when it may be one.
QString notSerial(const QString &path, const QString &error)
{
    struct stat about = {};
    if (::stat(qPrintable(path), &about) != 0)
        return QString();
    if (S_ISDIR(about.st_mode))
        return "it is a folder, not a serial port";
    if (!S_ISCHR(about.st_mode))
        return "it is a file, not a serial port";
    // A device that refuses a terminal's settings.
    return error == strerror(ENOTTY) ? "it is a device but not a serial port (" + error + ")" : QString();
}

QString groupOf(const QString &path)
{
    struct stat about = {};
    const struct group *owner = ::stat(qPrintable(path), &about) == 0 ? ::getgrgid(about.st_gid) : nullptr;
    return owner ? QString::fromLocal8Bit(owner->gr_name) : QString();
}

// A port the system refuses: held by another program, or not ours to open.
void refused(const QString &path, LineOpener::Opened *opened)
{
    const PortHolder holder = PortHolder::of(path);
    if (holder.pid) {
        opened->error = "it is in use by another program (" + holder.text() + ")";
        opened->hint = "Stop that program, or wait until it has let go of the port.";
        return;
    }
    if (::access(qPrintable(path), R_OK | W_OK) == 0 || ::geteuid() == 0)
        return;
    const QString group = groupOf(path);
    if (!group.isEmpty() && group != "root")
        opened->hint = QString("%1 belongs to the group %2: sudo adduser \"$USER\" %2, then log in again.").arg(path, group);
}

} // namespace

LineOpener::Opened LineOpener::open(const PortName &port, int baud)
{
    Opened opened;
    if (port.isTcp()) {
        auto line = std::make_unique<TcpLine>();
        if (line->open(port, baud))
            opened.line = std::move(line);
        else
            opened.error = line->errorString();
        return opened;
    }
    auto line = std::make_unique<SerialLine>();
    if (line->open(port.text(), baud)) {
        opened.line = std::move(line);
        return opened;
    }
    opened.error = line->errorString();
    const QString what = notSerial(port.text(), opened.error);
    if (!what.isEmpty()) {
        opened.error = what;
        opened.hint = "morvane-cli ports lists the serial ports the system knows.";
    } else if (line->openError() == QSerialPort::PermissionError) {
        refused(port.text(), &opened);
    }
    return opened;
}
