#include "testsupport.h"

#include "serialportsettingdialog.h"
#include "uartparam.h"
#include "widget.h"

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

Pty::Pty()
{
    char name[128] = {};
    struct termios raw = {};
    ::cfmakeraw(&raw);
    if (::openpty(&m_master, &m_slave, name, &raw, nullptr) != 0)
        qFatal("openpty failed: %s", strerror(errno));
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_path = QString::fromLocal8Bit(name);
}

Pty::~Pty()
{
    ::close(m_slave);
    ::close(m_master);
}

void Pty::write(const QByteArray &bytes)
{
    if (::write(m_master, bytes.constData(), size_t(bytes.size())) != bytes.size())
        qFatal("short write to the pseudo-terminal");
}

QByteArray Pty::received()
{
    char chunk[512];
    ssize_t n;
    while ((n = ::read(m_master, chunk, sizeof chunk)) > 0)
        m_received.append(chunk, int(n));
    return m_received;
}

ModalWatcher::ModalWatcher()
{
    connect(&m_timer, &QTimer::timeout, this, &ModalWatcher::poll);
    m_timer.start(20);
}

void ModalWatcher::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    auto *box = qobject_cast<QMessageBox *>(modal);
    if (!box) {
        if (modal && onModal)
            onModal(modal);
        return;
    }
    if (modal != m_current) {
        m_current = modal;
        m_shown.start();
        titles << box->windowTitle();
        texts << box->text();
        if (onMessage)
            onMessage();
    }
    if (m_shown.elapsed() >= holdMs) {
        m_current = nullptr;
        box->done(QMessageBox::Ok);
    }
}

Bench::Bench()
    : window(new Widget)
    , watcher(new ModalWatcher)
{
    resetUartParam();
    window->show();
}

Bench::~Bench()
{
    delete watcher;
    delete window;
}

QStringList Bench::log() const
{
    const QString text = find<QTextBrowser>("textBrowser")->toPlainText();
    return text.isEmpty() ? QStringList() : text.split('\n');
}

void Bench::link(const QString &rate, const QString &parity, const QString &path)
{
    const QString port = path.isEmpty() ? pty.slavePath() : path;
    const auto previous = watcher->onModal;
    watcher->onModal = [=](QWidget *dialog) {
        // Pseudo-terminals are not enumerated, so the test offers its own.
        auto *names = dialog->findChild<QComboBox *>("comboBoxName");
        names->addItem(port);
        names->setCurrentIndex(names->count() - 1);
        dialog->findChild<QComboBox *>("comboBoxBaud")->setCurrentText(rate);
        dialog->findChild<QComboBox *>("comboBoxParity")->setCurrentText(parity);
        dialog->findChild<QPushButton *>("pushButtonOK")->click();
    };
    button("pushButtonLink")->click();
    watcher->onModal = previous;
}

void Bench::invoke(const char *slot)
{
    QMetaObject::invokeMethod(window, slot);
}

SimProcess::SimProcess(const QStringList &arguments)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(MORVANE_SIM, arguments);
    while (!m_process.canReadLine() && m_process.waitForReadyRead(10000)) { }
    if (!m_process.canReadLine())
        qFatal("morvane-sim did not start: %s", qPrintable(m_process.errorString()));
    m_path = QString::fromLocal8Bit(m_process.readLine()).trimmed();
}

int SimProcess::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        m_process.waitForFinished(10000);
    }
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

QStringList SimProcess::output()
{
    while (m_process.canReadLine())
        m_lines << QString::fromLocal8Bit(m_process.readLine()).trimmed();
    return m_lines;
}

QByteArray fromHex(const char *spaced)
{
    return QByteArray::fromHex(QByteArray(spaced).replace(' ', ""));
}

QByteArray withCrc(const QByteArray &frame)
{
    quint16 crc = 0xFFFF;
    for (char c : frame) {
        crc ^= quint8(c);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return frame + char(crc & 0xFF) + char(crc >> 8);
}

void resetUartParam()
{
    UartParam = UartParamRecord();
}

// Every test runs headless, also when started by hand.
static void useOffscreenPlatform()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}
Q_CONSTRUCTOR_FUNCTION(useOffscreenPlatform)
