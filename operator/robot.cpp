#include "robot.h"

#include <QtWidgets>

#include <cstdio>

namespace {

const int TickMs = 100;
const int ShowTicks = 10;          // the close modes let the window be drawn for a second
const int PhaseLimitTicks = 300;   // 30 s for any phase, on a slow machine too
const int SessionReplies = 5;

struct ModeName
{
    const char *name;
    Robot::Mode mode;
};
const ModeName Modes[] = {
    {"close-button", Robot::Mode::CloseButton},
    {"close-frame", Robot::Mode::CloseFrame},
    {"session", Robot::Mode::Session},
};

QString setting(const char *name)
{
    return qEnvironmentVariable(name);
}

void save(QWidget *w, const QString &file)
{
    if (!file.isEmpty() && !w->grab().save(file))
        fprintf(stderr, "morvanerobot: cannot save %s\n", qPrintable(file));
}

} // namespace

Robot *Robot::fromEnvironment()
{
    const QString name = setting("MORVANE_OPERATOR");
    QStringList known;
    for (const ModeName &mode : Modes) {
        if (name == mode.name)
            return new Robot(mode.mode);
        known << mode.name;
    }
    fprintf(stderr, "morvanerobot: MORVANE_OPERATOR is '%s'; it must be one of %s\n", qUtf8Printable(name),
            qUtf8Printable(known.join(", ")));
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(2); });
    return nullptr;
}

Robot::Robot(Mode mode, QObject *parent)
    : QObject(parent)
    , m_mode(mode)
{
    connect(&m_timer, &QTimer::timeout, this, &Robot::step);
    m_timer.start(TickMs);
}

const char *Robot::phaseName(Phase phase)
{
    switch (phase) {
    case Phase::FindingWindow: return "looking for the window";
    case Phase::Showing: return "showing the window";
    case Phase::Linking: return "linking";
    case Phase::Polling: return "polling";
    case Phase::Done: break;
    }
    return "done";
}

// Advances on what the window shows, so a slow machine only takes longer.
void Robot::step()
{
    if (++m_ticks > PhaseLimitTicks) {
        giveUp(QString("still %1 after %2 s").arg(phaseName(m_phase)).arg(PhaseLimitTicks * TickMs / 1000));
        return;
    }
    if (QWidget *modal = QApplication::activeModalWidget()) {
        answerModal(modal);
        return;
    }
    switch (m_phase) {
    case Phase::FindingWindow:
        if (findWindow())
            enter(m_mode == Mode::Session ? Phase::Linking : Phase::Showing);
        break;
    case Phase::Showing: show(); break;
    case Phase::Linking: link(); break;
    case Phase::Polling: poll(); break;
    case Phase::Done: break;
    }
}

bool Robot::findWindow()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() == "Widget" && w->isVisible())
            m_window = w;
    }
    if (!m_window)
        return false;
    m_link = find<QPushButton>(m_window, "pushButtonLink");
    m_read = find<QPushButton>(m_window, "pushButtonRead");
    m_close = find<QPushButton>(m_window, "pushButtonClose");
    m_address = find<QLineEdit>(m_window, "lineEditAddress");
    m_temperature = find<QLabel>(m_window, "labelTemperature");
    m_humidity = find<QLabel>(m_window, "labelHumidity");
    m_dewPoint = find<QLabel>(m_window, "labelDewTemp");
    m_log = find<QTextBrowser>(m_window, "textBrowser");
    return m_link && m_read && m_close && m_address && m_temperature && m_humidity && m_dewPoint && m_log;
}

template<typename T>
T *Robot::find(QWidget *parent, const char *name)
{
    T *widget = parent->findChild<T *>(name);
    if (!widget)
        giveUp(QString("%1 has no %2 named %3").arg(parent->objectName(), T::staticMetaObject.className(), name));
    return widget;
}

void Robot::answerModal(QWidget *modal)
{
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        fprintf(stderr, "morvanerobot: the window says \"%s\"\n", qUtf8Printable(box->text()));
        box->done(QMessageBox::Ok);
        if (m_mode == Mode::Session)
            giveUp("the simulated module did not answer");
    } else if (auto *dialog = qobject_cast<QDialog *>(modal)) {
        choosePort(dialog);
    }
}

// Picks the port the session was given; the port adder put it last.
void Robot::choosePort(QDialog *dialog)
{
    auto *names = find<QComboBox>(dialog, "comboBoxName");
    auto *ok = find<QPushButton>(dialog, "pushButtonOK");
    const QString port = setting("MORVANE_OPERATOR_PORT");
    if (names && !setting("MORVANE_OPERATOR_DIALOG_PNG").isEmpty()) {
        // The picture shows what an operator with two adapters would see,
        // sized as if these had been listed before the dialog was shown.
        names->clear();
        names->addItem("ttyUSB0");
        names->addItem("ttyUSB1");
        names->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        dialog->adjustSize();
        save(dialog, setting("MORVANE_OPERATOR_DIALOG_PNG"));
        names->addItem(port);
    }
    const int index = names ? names->findText(port) : -1;
    if (!ok || port.isEmpty() || index < 0) {
        dialog->reject();
        if (names)
            giveUp(QString("Link's port list has no '%1' (the port adder adds it)").arg(port));
        return;
    }
    names->setCurrentIndex(index);
    ok->click();
}

void Robot::enter(Phase phase)
{
    m_phase = phase;
    m_ticks = 0;
    if (phase == Phase::Linking) {
        // From outside this timer's slot, so that the timer keeps firing in
        // the dialog's own event loop.
        QTimer::singleShot(0, m_link, &QPushButton::click);
    } else if (phase == Phase::Polling) {
        m_repliesAtRead = replies();
        m_read->click();
    } else if (phase == Phase::Done) {
        m_timer.stop();
    }
}

void Robot::show()
{
    if (m_ticks < ShowTicks)
        return;
    report();
    enter(Phase::Done);
    if (m_mode == Mode::CloseButton)
        m_close->click();
    else
        m_window->close();
}

void Robot::link()
{
    if (m_address->text().isEmpty())
        return;
    printf("Address: %s\n", qUtf8Printable(m_address->text()));
    fflush(stdout);
    enter(Phase::Polling);
}

void Robot::poll()
{
    if (!valuesShown() || replies() - m_repliesAtRead < SessionReplies)
        return;
    printf("%s  %s  %s\nMessage:\n%s\n", qUtf8Printable(m_temperature->text()), qUtf8Printable(m_humidity->text()),
           qUtf8Printable(m_dewPoint->text()), qUtf8Printable(m_log->toPlainText()));
    fflush(stdout);
    save(m_window, setting("MORVANE_OPERATOR_WINDOW_PNG"));
    enter(Phase::Done);
    m_read->click();
    m_close->click();
}

// Each of the three labels shows a number.
bool Robot::valuesShown() const
{
    static const QRegularExpression number("-?\\d+\\.\\d");
    for (const QLabel *label : {m_temperature, m_humidity, m_dewPoint}) {
        if (!number.match(label->text()).hasMatch())
            return false;
    }
    return true;
}

// Replies the window accepted: each is a received line in its log.
int Robot::replies() const
{
    return m_log->toPlainText().count("->RX");
}

void Robot::report()
{
    printf("title=%s\n", qUtf8Printable(m_window->windowTitle()));
    for (QAbstractButton *b : m_window->findChildren<QAbstractButton *>())
        printf("%s=%s\n", qUtf8Printable(b->objectName()), qUtf8Printable(b->text()));
    for (QLabel *l : m_window->findChildren<QLabel *>())
        printf("%s=%s\n", qUtf8Printable(l->objectName()), qUtf8Printable(l->text()));
    fflush(stdout);
}

void Robot::giveUp(const QString &why)
{
    m_timer.stop();
    m_phase = Phase::Done;
    fprintf(stderr, "morvanerobot: %s\n", qUtf8Printable(why));
    QCoreApplication::exit(1);
}
