#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include <QtWidgets>

#include <functional>

#include "widget.h"

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
    QByteArray received();   // all the program has written since the last clear()
    void clear() { received(); m_received.clear(); }

private:
    int m_master = -1, m_slave = -1;
    QString m_path;
    QByteArray m_received;
};

// Watches for modal windows the way Qt's own tests do: a message box is
// recorded and closed (after holdMs), any other modal window goes to onModal.
class ModalWatcher : public QObject
{
public:
    ModalWatcher();
    QStringList titles, texts;
    int holdMs = 0;
    std::function<void(QWidget *)> onModal;
    std::function<void()> onMessage;

private:
    void poll();
    QTimer m_timer;
    QWidget *m_current = nullptr;
    QElapsedTimer m_shown;
};

// The main window shown, with a modal watcher and a pseudo-terminal playing
// the module.
struct Bench
{
    Bench();
    ~Bench();
    template<typename T = QWidget> T *find(const char *name) const { return window->findChild<T *>(name); }
    QPushButton *button(const char *name) const { return find<QPushButton>(name); }
    QLabel *label(const char *name) const { return find<QLabel>(name); }
    QTimer *timer(const char *name) const { return find<QTimer>(name); }
    QLineEdit *address() const { return find<QLineEdit>("lineEditAddress"); }
    QComboBox *baudRates() const { return find<QComboBox>("comboBoxBaudRate"); }
    QStringList log() const;
    // Clicks Link and accepts the settings dialog with this terminal (or the
    // path given), the speed and the parity given.
    void link(const QString &rate = "9600", const QString &parity = "NO", const QString &path = QString());
    void invoke(const char *slot);

    Widget *window;
    ModalWatcher *watcher;
    Pty pty;
};

// morvane-sim in a process of its own, on a pseudo-terminal it creates (or
// on --port); stopped with SIGTERM at the latest when the test is done.
class SimProcess
{
public:
    explicit SimProcess(const QStringList &arguments);
    ~SimProcess() { stop(); }
    QString path() const { return m_path; }
    int stop();   // returns its exit code
    QStringList output();

private:
    QProcess m_process;
    QString m_path;
    QStringList m_lines;
};

QByteArray fromHex(const char *spaced);
// Appends the Modbus check value, low byte first (computed here, independently
// of the program).
QByteArray withCrc(const QByteArray &frame);
void resetUartParam();

#endif // TESTSUPPORT_H
