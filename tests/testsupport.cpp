#include "testsupport.h"

#include <QTest>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
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
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        titles << box->windowTitle();
        texts << box->text();
        if (onMessage)
            onMessage();
        box->done(QMessageBox::Ok);
    } else if (modal && onModal) {
        onModal(modal);
    }
}

Fixture::Fixture()
    : window(new Widget)
{
    resetUartParam();
    window->show();
}

QString Fixture::values() const
{
    return find<QLabel>("labelTemperature")->text() + ' ' + find<QLabel>("labelHumidity")->text() + ' '
           + find<QLabel>("labelDewTemp")->text();
}

QStringList Fixture::log() const
{
    const QString text = find<QTextBrowser>("textBrowser")->toPlainText();
    return text.isEmpty() ? QStringList() : text.split('\n');
}

void Fixture::link(const QString &rate, const QString &parity, const QString &path)
{
    const QString port = path.isEmpty() ? pty.slavePath() : path;
    const auto previous = watcher.onModal;
    watcher.onModal = [=](QWidget *dialog) {
        // Pseudo-terminals are not enumerated, so the test offers its own.
        // A decoy first, so taking the first entry instead of the chosen one shows.
        auto *names = dialog->findChild<QComboBox *>("comboBoxName");
        names->addItem("ttyDecoy");
        names->addItem(port);
        names->setCurrentIndex(names->count() - 1);
        dialog->findChild<QComboBox *>("comboBoxBaud")->setCurrentText(rate);
        dialog->findChild<QComboBox *>("comboBoxParity")->setCurrentText(parity);
        dialog->findChild<QPushButton *>("pushButtonOK")->click();
    };
    button("pushButtonLink")->click();
    watcher.onModal = previous;
}

bool Fixture::linkAndAnswer(int address)
{
    link();
    if (!QTest::qWaitFor([this] { return pty.received().size() == 8; }, 5000))
        return false;
    // The answer comes in two arrivals.
    pty.clear();
    const QByteArray reply = withCrc(QByteArray::fromHex("010302") + char(0) + char(address));
    pty.write(reply.left(3));
    if (!QTest::qWaitFor([&] { return UartParam.RxData == reply.left(3); }, 5000))
        return false;
    pty.write(reply.mid(3));
    return QTest::qWaitFor([&] { return this->address()->text() == QString::number(address); }, 5000);
}

SimProcess::SimProcess(const QStringList &arguments)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Gone with the test even when the test is killed.
    m_process.start(MORVANE_SIM, QStringList{"--exit-with-parent"} + arguments);
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

double cpuSeconds()
{
    struct rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Every test runs headless, also when started by hand, and in a time zone
// where it is three in the morning, so a time stamp missing the hour's
// leading zero shows.
static void setUpProcess()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const time_t now = time(nullptr);
    struct tm utc;
    gmtime_r(&now, &utc);
    const int ahead = (3 - utc.tm_hour + 36) % 24 - 12;   // local = UTC + ahead, -12..11
    qputenv("TZ", "MRV" + QByteArray::number(-ahead));
    tzset();
}
Q_CONSTRUCTOR_FUNCTION(setUpProcess)
