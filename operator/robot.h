#ifndef ROBOT_H
#define ROBOT_H

#include <QObject>
#include <QPointer>
#include <QTimer>

class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QTextBrowser;
class QWidget;

// Plays the operator inside the real program, for the start-up tests, the
// README pictures and morvane-try's session without a display. It touches
// the window only through its widgets, found by name; one that is missing,
// a message box in the session or a phase that does not end in time stops
// the program with exit code 1 and says why. MORVANE_OPERATOR says what to do:
//   close-button, close-frame  print what the window shows, then close it with
//                              the Close button or like the window frame
//   session                    Link to MORVANE_OPERATOR_PORT (which the port
//                              adder put in the list) and print the address
//                              read, poll until five replies came in, print
//                              what the window shows, save it as the PNG named
//                              by MORVANE_OPERATOR_WINDOW_PNG (and the dialog as
//                              MORVANE_OPERATOR_DIALOG_PNG) if given, and close
class Robot : public QObject
{
public:
    enum class Mode { CloseButton, CloseFrame, Session };

    // The robot MORVANE_OPERATOR asks for; for an unknown mode none, and the
    // program ends with exit code 2 as soon as it runs.
    static Robot *fromEnvironment();

    explicit Robot(Mode mode, QObject *parent = nullptr);

private:
    enum class Phase { FindingWindow, Showing, Linking, Polling, Done };
    static const char *phaseName(Phase phase);

    void step();
    bool findWindow();
    template<typename T> T *find(QWidget *parent, const char *name);
    void answerModal(QWidget *modal);
    void choosePort(QDialog *dialog);
    void enter(Phase phase);
    void show();
    void link();
    void poll();
    bool valuesShown() const;
    int replies() const;
    void report();
    void giveUp(const QString &why);

    Mode m_mode;
    Phase m_phase = Phase::FindingWindow;
    int m_ticks = 0;       // in this phase
    int m_repliesAtRead = 0;
    QTimer m_timer;
    QPointer<QWidget> m_window;
    QPushButton *m_link = nullptr, *m_read = nullptr, *m_close = nullptr;
    QLineEdit *m_address = nullptr;
    QLabel *m_temperature = nullptr, *m_humidity = nullptr, *m_dewPoint = nullptr;
    QTextBrowser *m_log = nullptr;
};

#endif // ROBOT_H
