// A generic plugin that plays a part inside the real program: the operator
// for the start-up tests, the README pictures and the session without a
// display, or just the simulated module's place in the port list. Load it
// with QT_QPA_GENERIC_PLUGINS=morvaneoperator and QT_PLUGIN_PATH;
// MORVANE_OPERATOR says what to do:
//   add-port                   add MORVANE_OPERATOR_PORT as the last entry
//                              of the port list each time the settings
//                              dialog opens
//   close-button, close-frame  print what the window shows, then close it
//                              with the Close button or like the window frame
//   session                    Link to MORVANE_OPERATOR_PORT, read the
//                              address, poll until MORVANE_OPERATOR_POLLS
//                              (default 5) values came in, print what the
//                              window shows, save it as the PNG named by
//                              MORVANE_OPERATOR_WINDOW_PNG (and the dialog as
//                              MORVANE_OPERATOR_DIALOG_PNG) if given, close
// The plugin touches the window only through its widgets.
#include <QtWidgets>
#include <QGenericPlugin>

#include <cstdio>

namespace {

QString setting(const char *name)
{
    return qEnvironmentVariable(name);
}

void save(QWidget *w, const QString &file)
{
    if (!file.isEmpty() && !w->grab().save(file))
        fprintf(stderr, "morvaneoperator: cannot save %s\n", qPrintable(file));
}

} // namespace

// Offers a port the system does not list (a pseudo-terminal) after the ones
// it does, every time the settings dialog is shown.
class PortAdder : public QObject
{
public:
    explicit PortAdder(const QString &port, QObject *parent = nullptr)
        : QObject(parent)
        , m_port(port)
    {
        if (!QFileInfo::exists(port)) {
            fprintf(stderr, "morvaneoperator: the simulated module's terminal '%s' does not exist; "
                            "the port list stays as the system gives it\n", qPrintable(port));
            return;
        }
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->objectName() == "SerialportSettingDialog") {
            auto *names = watched->findChild<QComboBox *>("comboBoxName");
            if (names && names->findText(m_port) < 0)
                names->addItem(m_port);
        }
        return false;
    }

private:
    QString m_port;
};

class Operator : public QObject
{
public:
    Operator()
    {
        if (setting("MORVANE_OPERATOR") == "session")
            new PortAdder(setting("MORVANE_OPERATOR_PORT"), this);
        connect(&m_timer, &QTimer::timeout, this, &Operator::step);
        m_timer.start(100);
    }

private:
    QPushButton *button(const char *name) { return m_window->findChild<QPushButton *>(name); }
    QString text(const char *name) { return m_window->findChild<QWidget *>(name)->property("text").toString(); }
    QString log() { return m_window->findChild<QTextBrowser *>("textBrowser")->toPlainText(); }

    void step()
    {
        ++m_ticks;
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            fprintf(stderr, "morvaneoperator: the window says \"%s\"\n", qUtf8Printable(box->text()));
            box->done(QMessageBox::Ok);
            if (setting("MORVANE_OPERATOR") == "session")
                giveUp("the simulated module did not answer");
            return;
        }
        if (auto *dialog = qobject_cast<QDialog *>(modal)) {
            chooseLastPort(dialog);
            return;
        }
        if (!m_window) {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (w->objectName() == "Widget" && w->isVisible())
                    m_window = w;
            }
            m_ticks = 0;
            return;
        }
        const QString mode = setting("MORVANE_OPERATOR");
        if (mode.startsWith("close")) {
            if (m_ticks < 10)
                return;
            m_timer.stop();
            report();
            if (mode == "close-button")
                button("pushButtonClose")->click();
            else
                m_window->close();
        } else if (mode == "session") {
            session();
        }
    }

    void report()
    {
        printf("title=%s\n", qUtf8Printable(m_window->windowTitle()));
        for (QAbstractButton *b : m_window->findChildren<QAbstractButton *>())
            printf("%s=%s\n", qUtf8Printable(b->objectName()), qUtf8Printable(b->text()));
        for (QLabel *l : m_window->findChildren<QLabel *>())
            printf("%s=%s\n", qUtf8Printable(l->objectName()), qUtf8Printable(l->text()));
        fflush(stdout);
    }

    // Advances on what the window shows, so a slow machine only takes longer.
    void session()
    {
        const bool addressKnown = !text("lineEditAddress").isEmpty();
        const int values = log().count(QRegularExpression("->RX  ..0306"));
        if (m_phase == 0) {
            m_phase = 1;
            // From outside this timer's slot, so that the timer keeps firing
            // in the dialog's own event loop.
            QTimer::singleShot(0, button("pushButtonLink"), &QPushButton::click);
        } else if (m_phase == 1 && addressKnown) {
            m_phase = 2;
            button("pushButtonRead")->click();
        } else if (m_phase == 2 && values >= polls()) {
            m_phase = 3;
            printf("Address: %s\n%s  %s  %s\nMessage:\n%s\n", qUtf8Printable(text("lineEditAddress")),
                   qUtf8Printable(text("labelTemperature")), qUtf8Printable(text("labelHumidity")),
                   qUtf8Printable(text("labelDewTemp")), qUtf8Printable(log()));
            fflush(stdout);
            save(m_window, setting("MORVANE_OPERATOR_WINDOW_PNG"));
            button("pushButtonRead")->click();
            button("pushButtonClose")->click();
        } else if (m_ticks > 300) {
            giveUp("no values within 30 s");
        }
    }

    static int polls()
    {
        bool ok = false;
        const int n = setting("MORVANE_OPERATOR_POLLS").toInt(&ok);
        return ok && n > 0 ? n : 5;
    }

    void giveUp(const char *why)
    {
        m_timer.stop();
        fprintf(stderr, "morvaneoperator: %s\n", why);
        QCoreApplication::exit(1);
    }

    // Picks the port the session was given, last in the list.
    void chooseLastPort(QDialog *dialog)
    {
        auto *names = dialog->findChild<QComboBox *>("comboBoxName");
        const QString picture = setting("MORVANE_OPERATOR_DIALOG_PNG");
        if (!picture.isEmpty()) {
            // The picture shows what an operator with two adapters would see,
            // sized as if these had been listed before the dialog was shown.
            names->clear();
            names->addItem("ttyUSB0");
            names->addItem("ttyUSB1");
            names->setSizeAdjustPolicy(QComboBox::AdjustToContents);
            dialog->adjustSize();
            save(dialog, picture);
            names->addItem(setting("MORVANE_OPERATOR_PORT"));
        }
        names->setCurrentIndex(names->count() - 1);
        dialog->findChild<QPushButton *>("pushButtonOK")->click();
    }

    QTimer m_timer;
    QPointer<QWidget> m_window;
    int m_phase = 0;   // session: 1 linking, 2 polling, 3 done
    int m_ticks = 0;
};

class OperatorPlugin : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "operator.json")

public:
    QObject *create(const QString &key, const QString &) override
    {
        if (key != "morvaneoperator")
            return nullptr;
        if (setting("MORVANE_OPERATOR") == "add-port")
            return new PortAdder(setting("MORVANE_OPERATOR_PORT"));
        return new Operator;
    }
};

#include "operator.moc"
