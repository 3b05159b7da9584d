#include "portholder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>

namespace {

const QStringList LockFolders = {"/var/lock", "/run/lock"};

bool alive(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

QString firstLine(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readLine()).trimmed() : QString();
}

// The lock file's name for a port, as Qt makes it: LCK.. and the path
// without /dev/, its slashes turned into underscores.
QString lockName(QString path)
{
    if (path.startsWith("/dev/"))
        path.remove(0, 5);
    return "LCK.." + path.replace('/', '_');
}

PortHolder fromLockFile(const QString &path)
{
    for (const QString &name : {lockName(path), lockName(QFileInfo(path).canonicalFilePath())}) {
        for (const QString &folder : LockFolders) {
            QFile lock(folder + '/' + name);
            if (!lock.open(QIODevice::ReadOnly))
                continue;
            PortHolder holder;
            holder.pid = QString::fromLocal8Bit(lock.readLine()).trimmed().toLongLong();
            holder.program = QString::fromLocal8Bit(lock.readLine()).trimmed();
            if (alive(holder.pid))
                return holder;
        }
    }
    return PortHolder();
}

// A process with the device among its open files (as root: any process).
PortHolder fromProcesses(const QString &path)
{
    const QString device = QFileInfo(path).canonicalFilePath();
    if (device.isEmpty())
        return PortHolder();
    const QStringList pids = QDir("/proc").entryList({"[0-9]*"}, QDir::Dirs);
    for (const QString &pid : pids) {
        const QFileInfoList files = QDir("/proc/" + pid + "/fd").entryInfoList(QDir::System | QDir::NoDotAndDotDot);
        for (const QFileInfo &file : files) {
            if (file.symLinkTarget() == device)
                return PortHolder{pid.toLongLong(), firstLine("/proc/" + pid + "/comm")};
        }
    }
    return PortHolder();
}

} // namespace

PortHolder PortHolder::of(const QString &path)
{
    const PortHolder locked = fromLockFile(path);
    return locked.pid ? locked : fromProcesses(path);
}

QString PortHolder::text() const
{
    return QString("process %1").arg(pid) + (program.isEmpty() ? QString() : ", " + program);
}
