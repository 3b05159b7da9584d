#ifndef CONSOLE_H
#define CONSOLE_H

#include <QElapsedTimer>
#include <QString>

#include <cstdio>

// Standard output and standard error of morvane-cli. A line that cannot be
// written is noticed at once: print() says so on standard error (once) and
// returns false, so the command can end with OutputError.
//
// Progress says what is being asked now. It shows on standard error, when
// that is a terminal, once nothing has been printed for ProgressDelayMs, and
// from then on follows each new text until the next line printed.
class Console
{
public:
    static constexpr int ProgressDelayMs = 2000;

    explicit Console(FILE *out = stdout, FILE *err = stderr);
    ~Console();

    bool print(const QString &text);          // a line, flushed
    void complain(const QString &message);    // "morvane-cli: message"
    void hint(const QString &text);           // a line on standard error as it is
    void progress(const QString &text);       // empty: nothing is being asked
    // Milliseconds until the progress held back is due, -1 when there is none.
    int progressDueMs() const;
    void showDueProgress();
    bool failed() const { return m_failed; }

private:
    void endProgress();
    void drawProgress();

    FILE *m_out;
    FILE *m_err;
    bool m_failed = false;
    bool m_terminal = false;   // standard error is one
    QString m_progress;
    bool m_progressShown = false;
    QElapsedTimer m_quiet;     // since the last line printed
};

#endif // CONSOLE_H
