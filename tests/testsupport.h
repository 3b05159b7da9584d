#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include "modbusframe.h"
#include "uartparam.h"
#include "widget.h"

#include <QtWidgets>

#include <functional>
#include <memory>

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
// recorded and closed, any other modal window goes to onModal.
class ModalWatcher : public QObject
{
public:
    ModalWatcher();
    QStringList titles, texts;
    std::function<void(QWidget *)> onModal;
    std::function<void()> onMessage;

private:
    void poll();
    QTimer m_timer;
};

// The main window shown, with a modal watcher and a pseudo-terminal playing
// the module.
struct Fixture
{
    Fixture();
    template<typename T = QWidget> T *find(const char *name) const { return window->findChild<T *>(name); }
    QPushButton *button(const char *name) const { return find<QPushButton>(name); }
    QLineEdit *address() const { return find<QLineEdit>("lineEditAddress"); }
    QString values() const;   // the three value labels, as one line
    QStringList log() const;
    // Clicks Link and accepts the settings dialog with this terminal (or the
    // path given), the speed and the parity given.
    void link(const QString &rate = "9600", const QString &parity = "NO", const QString &path = QString());
    // Links and answers the address read with this address, in two arrivals.
    bool linkAndAnswer(int address);

    ModalWatcher watcher;
    Pty pty;
    std::unique_ptr<Widget> window;
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

inline QByteArray fromHex(const char *spaced) { return QByteArray::fromHex(QByteArray(spaced).replace(' ', "")); }
// The check value comes from the frame library shared with the simulator, independent of the program's.
inline QByteArray withCrc(const QByteArray &frame) { return ModbusFrame::withCrc(frame); }
inline void resetUartParam() { UartParam = UartParamRecord(); }
double cpuSeconds();

#endif // TESTSUPPORT_H
