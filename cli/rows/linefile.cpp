#include "linefile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

const int ChunkBytes = 1 << 16;
const int Utf16Sample = 512;   // bytes looked at for the pattern of UTF-16
const char Utf8Mark[] = "\xEF\xBB\xBF";
const int Utf8MarkBytes = 3;
const int HexDigitsPerByte = 2;

QString systemError()
{
    return QString::fromLocal8Bit(strerror(errno));
}

// ASCII in UTF-16 without a mark: a NUL in every second byte and in no other.
bool looksUtf16(const char *data, qint64 size)
{
    const qint64 sample = std::min<qint64>(size, Utf16Sample) & ~qint64(1);
    int nul[2] = {0, 0};
    for (qint64 i = 0; i < sample; ++i)
        nul[i % 2] += data[i] == '\0';
    const qint64 half = sample / 2;
    return half > 0 && ((nul[0] == half && nul[1] == 0) || (nul[1] == half && nul[0] == 0));
}

} // namespace

QString LineFile::reason(Trouble trouble)
{
    switch (trouble) {
    case TooLong:
        return QString("longer than %1 bytes, so no row; skipped whole").arg(MaxLineBytes);
    case NulBytes:
        return "holds NUL bytes: binary data, not text";
    case None:
        break;
    }
    return QString();
}

QString LineFile::printable(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            shown += QString("\\x%1").arg(c.unicode(), HexDigitsPerByte, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

bool LineFile::read(const QString &path, const Visit &visit)
{
    m_name = path == "-" ? QStringLiteral("standard input") : path;
    m_number = 0;
    m_error.clear();
    if (path == "-")
        return readFrom(STDIN_FILENO, visit);
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        m_error = QString("cannot open %1: %2").arg(path, systemError());
        return false;
    }
    const bool ok = readFrom(fd, visit);
    ::close(fd);
    return ok;
}

// Plain read(2): a signal ends the wait on a pipe at once.
bool LineFile::readFrom(int fd, const Visit &visit)
{
    QByteArray pending;      // the start of a line not yet ended
    bool tooLong = false;    // the line under way is past the limit: its bytes are dropped
    bool first = true;
    std::vector<char> chunk(ChunkBytes);
    for (;;) {
        const ssize_t n = ::read(fd, chunk.data(), ChunkBytes);
        if (m_stopped && m_stopped())
            return false;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            m_error = QString("cannot read %1: %2").arg(m_name, systemError());
            return false;
        }
        if (n == 0)
            break;
        const char *p = chunk.data();
        qint64 size = n;
        if (first && !firstBytes(&p, &size))
            return false;
        first = false;
        const char *const end = p + size;
        while (p < end) {
            const char *newline = static_cast<const char *>(memchr(p, '\n', size_t(end - p)));
            const char *const stop = newline ? newline : end;
            tooLong = tooLong || pending.size() + (stop - p) > MaxLineBytes;
            if (tooLong)
                pending.clear();
            else if (!newline || !pending.isEmpty())
                pending.append(p, int(stop - p));
            if (!newline)
                break;
            const QByteArray line = pending.isEmpty() ? QByteArray::fromRawData(p, int(stop - p)) : pending;
            if (!deliver(line, tooLong, visit))
                return false;
            pending.clear();
            tooLong = false;
            p = newline + 1;
        }
    }
    return (pending.isEmpty() && !tooLong) || deliver(pending, tooLong, visit);
}

bool LineFile::firstBytes(const char **data, qint64 *size)
{
    const QByteArray start = QByteArray::fromRawData(*data, int(std::min<qint64>(*size, Utf8MarkBytes)));
    if (start.startsWith("\xFF\xFE") || start.startsWith("\xFE\xFF") || looksUtf16(*data, *size)) {
        m_error = QString("%1 is UTF-16 text%2, not UTF-8; save it as UTF-8 (in Notepad: Save as, Encoding UTF-8)")
                      .arg(m_name, looksUtf16(*data, *size) ? QString() : QString(" (it starts with a byte-order mark)"));
        return false;
    }
    if (start == Utf8Mark) {
        *data += Utf8MarkBytes;
        *size -= Utf8MarkBytes;
    }
    return true;
}

bool LineFile::deliver(const QByteArray &line, bool tooLong, const Visit &visit)
{
    ++m_number;
    const QByteArray text = line.endsWith('\r') ? QByteArray::fromRawData(line.constData(), line.size() - 1) : line;
    const Trouble trouble = tooLong ? TooLong : text.contains('\0') ? NulBytes : None;
    return visit(m_number, text, trouble);
}
