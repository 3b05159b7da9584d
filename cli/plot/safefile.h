#ifndef SAFEFILE_H
#define SAFEFILE_H

#include <QByteArray>
#include <QString>
#include <QStringList>

// A file written whole or not at all. The bytes go to a temporary file in
// the target's folder (the folder of the file a link names), and only when
// every write, the flush to disk and the close succeeded is it renamed over
// the target; on any failure it is removed, and an existing target is left
// as it was.
namespace SafeFile {

// Why target may not be written, or an empty string: it is one of inputs
// ("-" for standard input), the same file by any path or link, or it exists
// and is not a regular file (a device, a folder, a pipe).
QString refusal(const QString &target, const QStringList &inputs);
// The system's reason the write failed, or an empty string.
QString write(const QString &target, const QByteArray &bytes);

} // namespace SafeFile

#endif // SAFEFILE_H
