#include "safefile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const mode_t NewFileMode = 0666;   // less the umask, as any new file
const mode_t PermissionBits = 07777;

QString kind(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISFIFO(mode))
        return "a pipe";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a regular file";
}

QString failure(const char *step)
{
    return QString("%1 (%2)").arg(QString::fromLocal8Bit(strerror(errno)), QLatin1String(step));
}

// A link is followed to the file it names, so the picture replaces that
// file, not the link.
QByteArray resolved(const QString &target)
{
    const QByteArray path = QFile::encodeName(target);
    struct stat link;
    if (lstat(path.constData(), &link) != 0 || !S_ISLNK(link.st_mode))
        return path;
    char *real = realpath(path.constData(), nullptr);
    const QByteArray result = real ? QByteArray(real) : path;
    free(real);
    return result;
}

mode_t modeFor(const QByteArray &path)
{
    struct stat existing;
    if (stat(path.constData(), &existing) == 0)
        return existing.st_mode & PermissionBits;
    const mode_t mask = umask(0);
    umask(mask);
    return NewFileMode & ~mask;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            errno = n == 0 ? ENOSPC : errno;
            return false;
        }
        done += n;
    }
    return true;
}

} // namespace

namespace SafeFile {

QString refusal(const QString &target, const QStringList &inputs)
{
    struct stat out;
    if (stat(QFile::encodeName(target).constData(), &out) != 0)
        return QString();   // a new file, or one the write will name the trouble of
    if (!S_ISREG(out.st_mode))
        return QString("%1 is %2, not a picture file; give -o a file's path").arg(target, kind(out.st_mode));
    for (const QString &input : inputs) {
        struct stat in;
        const int got = input == "-" ? fstat(STDIN_FILENO, &in) : stat(QFile::encodeName(input).constData(), &in);
        if (got == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino)
            return QString("-o %1 is the log %2 itself, which the picture would replace; give -o another name")
                .arg(target, input == "-" ? QString("on standard input") : input);
    }
    return QString();
}

QString write(const QString &target, const QByteArray &bytes)
{
    const QByteArray path = resolved(target);
    const QFileInfo info(QFile::decodeName(path));
    QByteArray temporary = QFile::encodeName(info.absolutePath() + "/." + info.fileName() + ".XXXXXX");
    const mode_t mode = modeFor(path);
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return failure("creating a temporary file beside it");
    QString reason;
    if (!writeAll(fd, bytes))
        reason = failure("writing");
    else if (fchmod(fd, mode) != 0)
        reason = failure("setting its permissions");
    else if (fsync(fd) != 0)
        reason = failure("flushing it to disk");
    if (::close(fd) != 0 && reason.isEmpty())
        reason = failure("closing it");
    if (reason.isEmpty() && rename(temporary.constData(), path.constData()) != 0)
        reason = failure("renaming the temporary file over it");
    if (!reason.isEmpty())
        unlink(temporary.constData());
    return reason;
}

} // namespace SafeFile
