// make-log: a reading log as morvane-cli read --format csv writes it, for
// modules 1 to N of the simulator (its module model and its drift), one
// reading a second each, a share of them missed. For the plot benchmark.
// Usage: make-log MODULES SECONDS [MISSED_SHARE] > log.csv
#include "simserver.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QRandomGenerator>

#include <clocale>
#include <cstdio>

namespace {
const qint64 Start = 1796083200000;   // 2026-12-01T00:00:00Z
const quint32 Seed = 20;
const char Header[] = "time,address,temperature_c,humidity_rh,dew_point_c,status\n";
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");   // 21.5, as the CLI writes it
    const QStringList args = app.arguments();
    const int modules = args.value(1).toInt();
    const int seconds = args.value(2).toInt();
    const double missed = args.value(3, "0.01").toDouble();
    if (modules < 1 || modules > 247 || seconds < 1) {
        std::fprintf(stderr, "Usage: make-log MODULES(1-247) SECONDS [MISSED_SHARE] > log.csv\n");
        return 2;
    }
    QVector<SensorModule> bus(modules);
    for (int i = 0; i < modules; ++i) {
        bus[i].address = i + 1;
        bus[i].temperature = qint16(180 + 10 * (i % 10));
        bus[i].humidity = quint16(350 + 25 * (i % 15));
    }
    SimServer server(bus, SimServer::Faults(), Seed);
    QRandomGenerator misses(Seed);
    std::fputs(Header, stdout);
    for (int s = 0; s < seconds; ++s) {
        server.drift();
        const QByteArray time = QDateTime::fromMSecsSinceEpoch(Start + s * 1000LL, Qt::UTC)
                                    .toString(Qt::ISODateWithMs).toLatin1();
        for (const SensorModule &m : server.bus().modules()) {
            if (misses.generateDouble() < missed)
                std::printf("%s,%d,,,,no answer\n", time.constData(), m.address);
            else
                std::printf("%s,%d,%.1f,%.1f,%.1f,ok\n", time.constData(), m.address, m.temperature / 10.0,
                            m.humidity / 10.0, m.dewPoint / 10.0);
        }
    }
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}
