#include "safefile.h"

#include <QFileInfo>
#include <QSaveFile>

#include <windows.h>

// Windows: QSaveFile writes the temporary file beside the target, flushes it
// to disk and moves it over the target; files are told apart by their
// volume and file index, as inodes are elsewhere.
namespace {

struct FileId
{
    DWORD volume = 0, high = 0, low = 0;
    bool known = false;
    bool operator==(const FileId &o) const { return known && o.known && volume == o.volume && high == o.high && low == o.low; }
};

FileId idOf(HANDLE handle)
{
    FileId id;
    BY_HANDLE_FILE_INFORMATION info;
    if (handle != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(handle, &info)) {
        id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow, true};
    }
    return id;
}

FileId idOf(const QString &path)
{
    const HANDLE handle = ::CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), 0,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const FileId id = idOf(handle);
    if (handle != INVALID_HANDLE_VALUE)
        ::CloseHandle(handle);
    return id;
}

QString failure(const QSaveFile &file, const char *step)
{
    return QString("%1 (%2)").arg(file.errorString(), QLatin1String(step));
}

} // namespace

namespace SafeFile {

QString refusal(const QString &target, const QStringList &inputs)
{
    const QFileInfo out(target);
    if (!out.exists())
        return QString();   // a new file, or one the write will name the trouble of
    if (!out.isFile())
        return QString("%1 is %2, not a picture file; give -o a file's path")
            .arg(target, out.isDir() ? "a folder" : "not a regular file");
    const FileId outId = idOf(target);
    for (const QString &input : inputs) {
        const FileId in = input == "-" ? idOf(::GetStdHandle(STD_INPUT_HANDLE)) : idOf(input);
        if (in == outId)
            return QString("-o %1 is the log %2 itself, which the picture would replace; give -o another name")
                .arg(target, input == "-" ? QString("on standard input") : input);
    }
    return QString();
}

QString write(const QString &target, const QByteArray &bytes)
{
    // A link is followed to the file it names, so the picture replaces that
    // file, not the link.
    const QString linked = QFileInfo(target).symLinkTarget();
    QSaveFile file(linked.isEmpty() ? target : linked);
    if (!file.open(QIODevice::WriteOnly))
        return failure(file, "creating a temporary file beside it");
    if (file.write(bytes) != bytes.size()) {
        const QString reason = failure(file, "writing");
        file.cancelWriting();
        file.commit();   // removes the temporary file
        return reason;
    }
    return file.commit() ? QString() : failure(file, "flushing it to disk and renaming it over the target");
}

} // namespace SafeFile
