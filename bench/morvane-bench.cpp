// In-process figures for Morvane: reply-to-screen latency over a
// pseudo-terminal against a bare poll() wake-up, memory growth of the traffic
// log, and CPU time while polling morvane-sim. Uses the tests' fixture (window,
// modal watcher, pseudo-terminal, simulator process).
//   morvane-bench latency [runs]
//   morvane-bench log [lines]
//   morvane-bench cpu [seconds]
#include "testsupport.h"
#include "widget.h"

#include <algorithm>
#include <cstdio>
#include <poll.h>
#include <unistd.h>

namespace {

void printStats(const char *name, std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    printf("%s median %.1f p99 %.1f\n", name, v[v.size() / 2], v[std::min(v.size() - 1, size_t(v.size() * 0.99))]);
}

long rssKiB()
{
    QFile status("/proc/self/status");
    status.open(QIODevice::ReadOnly);
    const QByteArray text = status.readAll();
    return text.mid(text.indexOf("VmRSS:") + 6).trimmed().split(' ').first().toLong();
}

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QByteArray measurement(int tenths)
{
    return withCrc(fromHex("01 03 06") + char(tenths >> 8) + char(tenths & 0xFF) + fromHex("02 58 00 64"));
}

int latency(int runs)
{
    // Floor: the kernel and poll() alone, on a terminal pair like the one
    // Morvane reads.
    std::vector<double> floor, screen;
    {
        Pty pty;
        const QByteArray reply = measurement(200);
        char buffer[64];
        for (int i = 0; i < runs; ++i) {
            QElapsedTimer t;
            t.start();
            pty.write(reply);
            struct pollfd p = {pty.slaveFd(), POLLIN, 0};
            poll(&p, 1, 1000);
            floor.push_back(t.nsecsElapsed() / 1000.0);
            (void)!read(pty.slaveFd(), buffer, sizeof buffer);
        }
    }

    Fixture fixture;
    fixture.link();
    wait(700);   // the address read at Link goes unanswered; the watcher closes its message
    for (int i = 0; i < runs; ++i) {
        const int tenths = 200 + i % 100;
        const QString expected = QString("Temperature:%1℃").arg(tenths / 10.0, 0, 'f', 1);
        QElapsedTimer t;
        t.start();
        fixture.pty.write(measurement(tenths));
        while (fixture.find<QLabel>("labelTemperature")->text() != expected && t.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        screen.push_back(t.nsecsElapsed() / 1000.0);
        wait(1);   // a gap between replies, as on a real line
    }
    printf("latency_runs %d\n", runs);
    printStats("poll_floor_us", floor);
    printStats("reply_to_screen_us", screen);
    std::sort(floor.begin(), floor.end());
    std::sort(screen.begin(), screen.end());
    printf("latency_ratio median %.1f\n", screen[screen.size() / 2] / floor[floor.size() / 2]);
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

int cpu(int seconds)
{
    SimProcess sim({"--drift"});
    Fixture fixture;
    fixture.link("9600", "NO", sim.path());
    wait(700);
    fixture.button("pushButtonRead")->click();
    const double start = cpuSeconds();
    wait(seconds * 1000);
    const double used = cpuSeconds() - start;
    fixture.button("pushButtonRead")->click();
    printf("polling_seconds %d cpu_user_plus_system_s %.3f (%.2f%% of one core)\n", seconds, used,
           100.0 * used / seconds);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const QStringList args = app.arguments();
    if (args.value(1) == "latency")
        return latency(args.value(2, "500").toInt());
    if (args.value(1) == "log")
        return logGrowth(args.value(2, "30000").toInt());
    if (args.value(1) == "cpu")
        return cpu(args.value(2, "60").toInt());
    fprintf(stderr, "usage: morvane-bench latency [runs] | log [lines] | cpu [seconds]\n");
    return 2;
}
