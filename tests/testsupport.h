#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>

#include <functional>

class QWidget;

// A pseudo-terminal whose slave side the program opens by path; the test plays
// the module on the master side.
class Pty
{
public:
    Pty();
    ~Pty();
    QString slavePath() const { return m_path; }
    int slaveFd() const { return m_slave; }
    void write(const QByteArray &bytes);
    // Everything the program has written so far (drains the master side).
    QByteArray received();
    void clear();

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
    QByteArray m_received;
};

// Watches for modal windows the way Qt's own tests do: a message box is
// recorded and closed (after holdMs), any other modal window is handed to
// onModal.
class ModalWatcher : public QObject
{
public:
    explicit ModalWatcher(QObject *parent = nullptr);
    QStringList titles;
    QStringList texts;
    int holdMs = 0;
    std::function<void(QWidget *)> onModal;
    std::function<void()> onMessage;

private:
    void poll();
    QTimer m_timer;
    QWidget *m_current = nullptr;
    qint64 m_seenAt = 0;
};

class Widget;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTextBrowser;

// The main window with its controls at hand, a modal watcher, and a
// pseudo-terminal playing the module.
struct Bench
{
    Bench();
    ~Bench();
    QPushButton *button(const char *name) const;
    QLabel *label(const char *name) const;
    QLineEdit *address() const;
    QComboBox *baudRates() const;
    QTimer *timer(const char *name) const;
    QStringList log() const;
    // Clicks Link and accepts the settings dialog with the terminal's path
    // and the given speed; the dialog's other choices are set as given too.
    void link(const QString &rate = "9600", const QString &parity = "NO", const QString &path = QString());
    void invoke(const char *slot);

    Widget *window;
    ModalWatcher *watcher;
    Pty pty;
};

// morvane-sim in a process of its own, on a pseudo-terminal it creates
// (or on --port), stopped with SIGTERM when the test is done with it.
class SimProcess
{
public:
    explicit SimProcess(const QStringList &arguments);
    ~SimProcess();
    QString path() const { return m_path; }
    // Stops it and returns its exit code.
    int stop();
    QStringList output();

private:
    QProcess *m_process;
    QString m_path;
    QStringList m_lines;
};

QByteArray fromHex(const char *spaced);
// Appends the Modbus check value, low byte first (computed here, independently
// of the program).
QByteArray withCrc(const QByteArray &frame);
void resetUartParam();

#endif // TESTSUPPORT_H
