// A generic plugin that the start-up tests load into the real program: once
// the main window has been shown for a while it prints what the window shows
// and closes it, either through the Close button or like the window frame;
// "shot=FILE" saves a picture of it first.
#include <QtWidgets>
#include <QGenericPlugin>

#include <cstdio>

class Closer : public QObject
{
public:
    explicit Closer(const QString &how) : m_how(how)
    {
        connect(&m_timer, &QTimer::timeout, this, &Closer::poll);
        m_timer.start(100);
    }

private:
    void poll()
    {
        QWidget *window = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->objectName() == "Widget" && w->isVisible())
                window = w;
        }
        if (!window || ++m_ticks < 10)
            return;
        m_timer.stop();
        report(window);
        if (m_how.startsWith("shot="))
            window->grab().save(m_how.mid(5));
        if (m_how == "button")
            window->findChild<QPushButton *>("pushButtonClose")->click();
        else
            window->close();
    }

    static void report(QWidget *window)
    {
        printf("title=%s\n", qUtf8Printable(window->windowTitle()));
        for (QAbstractButton *b : window->findChildren<QAbstractButton *>())
            printf("%s=%s\n", qUtf8Printable(b->objectName()), qUtf8Printable(b->text()));
        for (QLabel *l : window->findChildren<QLabel *>())
            printf("%s=%s\n", qUtf8Printable(l->objectName()), qUtf8Printable(l->text()));
        fflush(stdout);
    }

    QString m_how;
    QTimer m_timer;
    int m_ticks = 0;
};

class CloserPlugin : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "closer.json")

public:
    QObject *create(const QString &key, const QString &specification) override
    {
        return key == "morvanecloser" ? new Closer(specification) : nullptr;
    }
};

#include "closer.moc"
