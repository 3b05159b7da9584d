#ifndef LINEFILE_H
#define LINEFILE_H

#include <QByteArray>
#include <QString>

#include <functional>

// A file of rows, or "-" for standard input, read a line at a time whatever
// its length, in bounded memory: a line longer than MaxLineBytes is handed
// on as TooLong without its text, and the lines after it keep their numbers.
// UTF-16 text, with or without a byte-order mark, is refused whole rather
// than read as something else; a UTF-8 byte-order mark is skipped.
class LineFile
{
public:
    static constexpr int MaxLineBytes = 4096;
    enum Trouble { None, TooLong, NulBytes };
    // A line without its end (\n or \r\n); false stops the reading.
    using Visit = std::function<bool(int number, const QByteArray &line, Trouble trouble)>;

    // stopped: asked after each wait for input; true ends the reading.
    explicit LineFile(std::function<bool()> stopped = {}) : m_stopped(std::move(stopped)) {}

    // False when the file cannot be opened or read, is UTF-16, or the
    // reading was stopped; errorString() says why (empty when stopped).
    bool read(const QString &path, const Visit &visit);
    QString errorString() const { return m_error; }

    static QString reason(Trouble trouble);
    // Control characters as \xHH, so echoed text cannot steer a terminal.
    static QString printable(const QString &text);

private:
    bool readFrom(int fd, const Visit &visit);
    bool firstBytes(const char **data, qint64 *size);
    bool deliver(const QByteArray &line, bool tooLong, const Visit &visit);

    std::function<bool()> m_stopped;
    QString m_name;
    QString m_error;
    int m_number = 0;
};

#endif // LINEFILE_H
