#ifndef LINEWRITER_H
#define LINEWRITER_H

#include <QString>

// Standard output or standard error for lines that must never hold the
// simulator up. A line the reader has no room for (a pipe nobody reads) is
// dropped and counted; the count goes out before the next line that fits.
class LineWriter
{
public:
    explicit LineWriter(int fd) : m_fd(fd) {}
    void print(const QString &line);

private:
    int m_fd;
    int m_dropped = 0;
};

#endif // LINEWRITER_H
