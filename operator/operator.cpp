// A generic plugin that plays the operator inside the real program, for the
// start-up tests and the README pictures. Load it with
// QT_QPA_GENERIC_PLUGINS=morvaneoperator and QT_PLUGIN_PATH; MORVANE_OPERATOR
// says what to do once the main window is up:
//   close-button, close-frame  print what the window shows, then close it
//                              with the Close button or like the window frame
//   session                    Link to MORVANE_OPERATOR_PORT, poll until
//                              five replies are logged, save the settings dialog and the window
//                              as PNGs in MORVANE_OPERATOR_SHOTS (names
//                              prefixed with MORVANE_OPERATOR_PREFIX), close
#include <QtWidgets>
#include <QGenericPlugin>

#include <cstdio>

class Operator : public QObject
{
public:
    Operator()
    {
        connect(&m_timer, &QTimer::timeout, this, &Operator::step);
        m_timer.start(100);
    }

private:
    static QString setting(const char *name) { return qEnvironmentVariable(name); }
    QPushButton *button(const char *name) { return m_window->findChild<QPushButton *>(name); }

    void step()
    {
        ++m_ticks;
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            box->done(QMessageBox::Ok);
            return;
        }
        if (auto *dialog = qobject_cast<QDialog *>(modal)) {
            fillDialog(dialog);
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
        const bool addressKnown = !m_window->findChild<QLineEdit *>("lineEditAddress")->text().isEmpty();
        const int replies = m_window->findChild<QTextBrowser *>("textBrowser")->toPlainText().count("->RX  ");
        if (m_phase == 0) {
            m_phase = 1;
            // From outside this timer's slot, so that the timer keeps firing
            // in the dialog's own event loop.
            QTimer::singleShot(0, button("pushButtonLink"), &QPushButton::click);
        } else if (m_phase == 1 && addressKnown) {
            m_phase = 2;
            button("pushButtonRead")->click();
        } else if (m_phase == 2 && replies >= 5) {
            m_phase = 3;
            save(m_window, "main-window.png");
            button("pushButtonClose")->click();
        } else if (m_ticks > 600) {
            qWarning("the module did not answer within a minute");
            QCoreApplication::exit(1);
        }
    }

    void save(QWidget *w, const QString &name)
    {
        const QString file = setting("MORVANE_OPERATOR_SHOTS") + '/' + setting("MORVANE_OPERATOR_PREFIX") + name;
        if (!w->grab().save(file))
            qWarning("cannot save %s", qPrintable(file));
    }

    void fillDialog(QDialog *dialog)
    {
        auto *names = dialog->findChild<QComboBox *>("comboBoxName");
        // The picture shows what an operator with two adapters would see,
        // sized as if these had been listed before the dialog was shown.
        names->clear();
        names->addItem("ttyUSB0");
        names->addItem("ttyUSB1");
        names->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        dialog->adjustSize();
        save(dialog, "settings-dialog.png");
        names->addItem(setting("MORVANE_OPERATOR_PORT"));
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
        return key == "morvaneoperator" ? new Operator : nullptr;
    }
};

#include "operator.moc"
