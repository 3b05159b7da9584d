// In-process figures for Morvane: reply-to-screen latency over a
// pseudo-terminal against a bare poll() wake-up, memory growth of the traffic
// log, and CPU time while polling morvane-sim.
//   morvane-bench latency [runs]
//   morvane-bench log [lines]
//   morvane-bench cpu SIM_BINARY [seconds]
#include "uartparam.h"
#include "widget.h"

#include <QtWidgets>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct Stats
{
    double median, p99;
};

Stats stats(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, size_t(v.size() * 0.99))]};
}

void rawPty(int *master, int *slave, char *name)
{
    struct termios raw = {};
    cfmakeraw(&raw);
    if (openpty(master, slave, name, &raw, nullptr) != 0)
        qFatal("openpty failed");
}

QByteArray withCrc(QByteArray frame)
{
    quint16 crc = 0xFFFF;
    for (char c : frame) {
        crc ^= quint8(c);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return frame.append(char(crc & 0xFF)).append(char(crc >> 8));
}

long rssKiB()
{
    QFile status("/proc/self/status");
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return 0;
}

double cpuSeconds()
{
    struct rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Plays the operator at modal windows: accepts the settings dialog with the
// given path and closes any message box.
class Operator : public QObject
{
public:
    explicit Operator(const QString &path) : m_path(path)
    {
        connect(&m_timer, &QTimer::timeout, this, &Operator::poll);
        m_timer.start(10);
    }

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            box->done(0);
        } else if (auto *dialog = qobject_cast<QDialog *>(modal)) {
            auto *names = dialog->findChild<QComboBox *>("comboBoxName");
            names->addItem(m_path);
            names->setCurrentIndex(names->count() - 1);
            dialog->findChild<QPushButton *>("pushButtonOK")->click();
        }
    }
    QString m_path;
    QTimer m_timer;
};

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

int latency(int runs)
{
    // Floor: the kernel and poll() alone, on a terminal pair like the one
    // Morvane reads.
    std::vector<double> floor;
    {
        int master, slave;
        char name[128];
        rawPty(&master, &slave, name);
        const QByteArray reply = withCrc(QByteArray::fromHex("010306010f025800c8"));
        char buffer[64];
        for (int i = 0; i < runs; ++i) {
            QElapsedTimer t;
            t.start();
            (void)!write(master, reply.constData(), size_t(reply.size()));
            struct pollfd p = {slave, POLLIN, 0};
            poll(&p, 1, 1000);
            floor.push_back(t.nsecsElapsed() / 1000.0);
            (void)!read(slave, buffer, sizeof buffer);
        }
        close(slave);
        close(master);
    }

    int master, slave;
    char name[128];
    rawPty(&master, &slave, name);
    Widget window;
    window.show();
    Operator op(QString::fromLocal8Bit(name));
    window.findChild<QPushButton *>("pushButtonLink")->click();
    wait(700);   // the address read at Link goes unanswered; its message is closed
    char drain[256];
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    while (read(master, drain, sizeof drain) > 0) { }

    auto *label = window.findChild<QLabel *>("labelTemperature");
    std::vector<double> screen;
    for (int i = 0; i < runs; ++i) {
        const int tenths = 200 + i % 100;
        const QByteArray reply = withCrc(QByteArray::fromHex("010306") + char(tenths >> 8) + char(tenths & 0xFF)
                                         + QByteArray::fromHex("02580064"));
        const QString expected = QString("Temperature:%1℃").arg(tenths / 10.0, 0, 'f', 1);
        QElapsedTimer t;
        t.start();
        (void)!write(master, reply.constData(), size_t(reply.size()));
        while (label->text() != expected && t.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        screen.push_back(t.nsecsElapsed() / 1000.0);
        wait(1);   // a gap between replies, as on a real line
    }
    close(slave);
    close(master);

    const Stats f = stats(floor), s = stats(screen);
    printf("latency_runs %d\n", runs);
    printf("poll_floor_us median %.1f p99 %.1f\n", f.median, f.p99);
    printf("reply_to_screen_us median %.1f p99 %.1f\n", s.median, s.p99);
    printf("latency_ratio median %.1f p99 %.1f\n", s.median / f.median, s.p99 / f.p99);
    return 0;
}

int logGrowth(int lines)
{
    Widget window;
    window.show();
    QCoreApplication::processEvents();
    const long before = rssKiB();
    for (int i = 0; i < lines; ++i)
        window.AppendTrafficLog(i % 2 ? "010306010f025800c8f558" : "01030000000305cb", i % 2);
    QCoreApplication::processEvents();
    const long after = rssKiB();
    printf("log_lines %d rss_before_kib %ld rss_after_kib %ld growth_per_10000_lines_kib %.0f\n",
           lines, before, after, (after - before) * 10000.0 / lines);
    return 0;
}

int cpu(const QString &sim, int seconds)
{
    QProcess simulator;
    simulator.start(sim, {"--drift"});
    if (!simulator.waitForReadyRead(5000))
        qFatal("morvane-sim did not start");
    const QString path = QString::fromLocal8Bit(simulator.readLine()).trimmed();

    Widget window;
    window.show();
    Operator op(path);
    window.findChild<QPushButton *>("pushButtonLink")->click();
    wait(700);
    window.findChild<QPushButton *>("pushButtonRead")->click();
    const double start = cpuSeconds();
    wait(seconds * 1000);
    const double used = cpuSeconds() - start;
    window.findChild<QPushButton *>("pushButtonRead")->click();
    simulator.terminate();
    simulator.waitForFinished();
    printf("polling_seconds %d cpu_user_plus_system_s %.3f (%.2f%% of one core)\n", seconds, used,
           100.0 * used / seconds);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const QStringList args = app.arguments();
    const QString what = args.value(1);
    if (what == "latency")
        return latency(args.value(2, "500").toInt());
    if (what == "log")
        return logGrowth(args.value(2, "30000").toInt());
    if (what == "cpu")
        return cpu(args.value(2), args.value(3, "60").toInt());
    fprintf(stderr, "usage: morvane-bench latency [runs] | log [lines] | cpu SIM [seconds]\n");
    return 2;
}
