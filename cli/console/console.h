#ifndef CONSOLE_H
#define CONSOLE_H

#include <QString>

#include <cstdio>

// Standard output and standard error of morvane-cli. A line that cannot be
// written is noticed at once: print() says so on standard error (once) and
// returns false, so the command can end with OutputError.
class Console
{
public:
    explicit Console(FILE *out = stdout, FILE *err = stderr) : m_out(out), m_err(err) {}

    bool print(const QString &text);          // a line, flushed
    void complain(const QString &message);    // "morvane-cli: message"
    void hint(const QString &text);           // a line on standard error as it is
    // Progress on a terminal, overwritten by the next; nothing elsewhere.
    void progress(const QString &text);
    bool failed() const { return m_failed; }

private:
    FILE *m_out;
    FILE *m_err;
    bool m_failed = false;
};

#endif // CONSOLE_H
