// A generic plugin that plays an operator in the real program for the README
// pictures: Link to MORVANE_SHOTS_PORT, read the address, poll a few times,
// and save the settings dialog and the main window as PNGs in
// MORVANE_SHOTS_DIR (names prefixed with MORVANE_SHOTS_PREFIX).
#include <QtWidgets>
#include <QGenericPlugin>

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

    void save(QWidget *w, const QString &name)
    {
        const QString file = setting("MORVANE_SHOTS_DIR") + '/' + setting("MORVANE_SHOTS_PREFIX") + name;
        if (!w->grab().save(file))
            qWarning("cannot save %s", qPrintable(file));
    }

    void step()
    {
        ++m_ticks;
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
            fillDialog(dialog);
            return;
        }
        if (!m_window) {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (w->objectName() == "Widget" && w->isVisible())
                    m_window = w;
            }
            if (m_window)
                QTimer::singleShot(300, this, [this] { button("pushButtonLink")->click(); });
            m_ticks = 0;
            return;
        }
        auto *address = m_window->findChild<QLineEdit *>("lineEditAddress");
        if (m_phase == 0 && !address->text().isEmpty()) {
            m_phase = 1;
            button("pushButtonRead")->click();
            m_ticks = 0;
        } else if (m_phase == 1 && m_ticks > 45) {
            m_phase = 2;
            save(m_window, "main-window.png");
            button("pushButtonClose")->click();
        } else if (m_ticks > 200) {
            qWarning("the module did not answer");
            QCoreApplication::exit(1);
        }
    }

    void fillDialog(QDialog *dialog)
    {
        auto *names = dialog->findChild<QComboBox *>("comboBoxName");
        // The picture shows what an operator with an adapter would see.
        names->clear();
        names->addItem("ttyUSB0");
        names->addItem("ttyUSB1");
        // Sized as if these had been listed before the dialog was shown.
        names->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        dialog->adjustSize();
        save(dialog, "settings-dialog.png");
        names->addItem(setting("MORVANE_SHOTS_PORT"));
        names->setCurrentIndex(names->count() - 1);
        dialog->findChild<QPushButton *>("pushButtonOK")->click();
    }

    QPushButton *button(const char *name) { return m_window->findChild<QPushButton *>(name); }

    QTimer m_timer;
    QPointer<QWidget> m_window;
    int m_phase = 0;
    int m_ticks = 0;
};

class ShotsPlugin : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "shots.json")

public:
    QObject *create(const QString &key, const QString &) override
    {
        return key == "morvaneshots" ? new Operator : nullptr;
    }
};

#include "shots.moc"
