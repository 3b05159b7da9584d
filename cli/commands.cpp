#include "commands.h"

#include "modbusframe.h"
#include "modbusmaster.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPortInfo>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace ModbusFrame;

namespace {

volatile sig_atomic_t interrupted = 0;

void say(const QString &line)
{
    printf("%s\n", qUtf8Printable(line));
    fflush(stdout);
}

void complain(const QString &line)
{
    fprintf(stderr, "morvane-cli: %s\n", qUtf8Printable(line));
}

QString refusal(const ModbusMaster &line)
{
    return "the module refused: " + exceptionName(line.exceptionCode());
}

// The address read through address 0: the module's own address, or 0.
int readAddress(ModbusMaster &line, QString *why)
{
    QByteArray reply;
    switch (line.exchange(request(0, 0x03, AddressRegister, 1), &reply)) {
    case ModbusMaster::Answered:
        if (reply.size() == 7)
            return quint8(reply.at(4));
        *why = "the address reply has " + QString::number(quint8(reply.at(2))) + " data bytes, not 2";
        return 0;
    case ModbusMaster::Refused:
        *why = refusal(line);
        return 0;
    case ModbusMaster::NoAnswer:
        break;
    }
    *why = QString("no module answered at %1 bit/s").arg(line.baudRate());
    return 0;
}

// The write through address 0, which the module echoes.
bool write(ModbusMaster &line, quint16 reg, quint16 value, QString *why)
{
    const QByteArray frame = request(0, 0x06, reg, value);
    QByteArray reply;
    switch (line.exchange(frame, &reply)) {
    case ModbusMaster::Answered:
        if (reply == frame)
            return true;
        *why = "the module answered the write with " + reply.toHex() + ", not its echo";
        return false;
    case ModbusMaster::Refused:
        *why = refusal(line);
        return false;
    case ModbusMaster::NoAnswer:
        break;
    }
    *why = "the module did not echo the write";
    return false;
}

int nobodyAt(const QList<int> &speeds)
{
    QStringList rates;
    for (int baud : speeds)
        rates << QString::number(baud);
    complain("no module answered at " + rates.join(", ") + " bit/s");
    return Failed;
}

QString isoNow()
{
    QDateTime now = QDateTime::currentDateTime();
    now.setOffsetFromUtc(now.offsetFromUtc());
    return now.toString(Qt::ISODate);
}

QString tenths(int value)
{
    return QString::number(value / 10.0, 'f', 1);
}

// One reading as a line of the format; values empty when status is not "ok".
QString reading(const QString &format, int address, const QByteArray &reply, const QString &status)
{
    const bool ok = status == "ok";
    const QString t = ok ? tenths(qint16(word(reply, 3))) : QString();
    const QString h = ok ? tenths(word(reply, 5)) : QString();
    const QString d = ok ? tenths(qint16(word(reply, 7))) : QString();
    if (format == "csv")
        return QStringList{isoNow(), QString::number(address), t, h, d, status}.join(',');
    if (format == "json") {
        auto number = [ok](const QString &v) { return ok ? QJsonValue(v.toDouble()) : QJsonValue(); };
        const QJsonObject o{{"time", isoNow()}, {"address", address}, {"temperature", number(t)},
                            {"humidity", number(h)}, {"dew_point", number(d)}, {"status", status}};
        return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
    }
    if (!ok)
        return QString("address %1: %2").arg(address).arg(status);
    return QString("temperature %1 °C, humidity %2 %RH, dew point %3 °C").arg(t, h, d);
}

// Sleeps until the given time on the clock; false when interrupted.
bool sleepUntil(const QElapsedTimer &clock, qint64 ms)
{
    while (!interrupted && clock.elapsed() < ms)
        QThread::msleep(ulong(qMin<qint64>(100, ms - clock.elapsed())));
    return !interrupted;
}

void onInterrupt(int)
{
    interrupted = 1;
}

} // namespace

int Commands::ports()
{
    const auto all = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : all) {
        QStringList about;
        for (const QString &text : {info.description(), info.manufacturer()}) {
            if (!text.isEmpty())
                about << text;
        }
        if (info.hasVendorIdentifier() && info.hasProductIdentifier())
            about << QString::asprintf("%04x:%04x", info.vendorIdentifier(), info.productIdentifier());
        if (!info.serialNumber().isEmpty())
            about << "serial " + info.serialNumber();
        QSerialPort port(info);
        const bool free = port.open(QIODevice::ReadWrite);
        about << (free ? QString("free") : "cannot be opened: " + port.errorString());
        say(info.systemLocation() + "  " + about.join(", "));
    }
    if (all.isEmpty())
        complain("the system lists no serial ports");
    return Done;
}

int Commands::find(ModbusMaster &line, const QList<int> &speeds)
{
    // Every speed once before any again: a module at the last speed is
    // found after one timeout for each of the others.
    const int passes = line.retries + 1;
    line.retries = 0;
    for (int pass = 0; pass < passes; ++pass) {
        for (int baud : speeds) {
            line.setBaudRate(baud);
            QString why;
            if (const int address = readAddress(line, &why)) {
                say(QString("address %1 at %2 bit/s").arg(address).arg(baud));
                return Done;
            }
        }
    }
    return nobodyAt(speeds);
}

int Commands::scan(ModbusMaster &line, const QList<int> &speeds)
{
    const bool progress = isatty(STDOUT_FILENO) && isatty(STDERR_FILENO);
    int found = 0;
    for (int baud : speeds) {
        line.setBaudRate(baud);
        for (int address = 1; address <= MaxAddress; ++address) {
            if (progress)
                fprintf(stderr, "\r%d bit/s: address %d of %d ", baud, address, MaxAddress);
            QByteArray reply;
            if (line.exchange(request(quint8(address), 0x03, 0x0000, 3), &reply) != ModbusMaster::NoAnswer) {
                if (progress)
                    fprintf(stderr, "\r\033[K");
                say(QString("address %1 at %2 bit/s").arg(address).arg(baud));
                ++found;
            }
        }
    }
    if (progress)
        fprintf(stderr, "\r\033[K");
    return found ? Done : nobodyAt(speeds);
}

int Commands::read(ModbusMaster &line, int address, double watchSeconds, int count, const QString &format)
{
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    if (format == "csv")
        say("time,address,temperature_c,humidity_rh,dew_point_c,status");
    QElapsedTimer clock;
    clock.start();
    int answered = 0;
    for (int n = 0; n < count; ++n) {
        if (n > 0 && !sleepUntil(clock, qint64(n * watchSeconds * 1000)))
            break;
        QByteArray reply;
        QString status = "ok";
        switch (line.exchange(request(quint8(address), 0x03, 0x0000, 3), &reply)) {
        case ModbusMaster::Answered:
            if (reply.size() != 11)
                status = "unexpected reply";
            break;
        case ModbusMaster::Refused:
            status = exceptionName(line.exceptionCode());
            break;
        case ModbusMaster::NoAnswer:
            status = "no answer";
            break;
        }
        answered += status == "ok";
        say(reading(format, address, reply, status));
    }
    return answered ? Done : Failed;
}

int Commands::setAddress(ModbusMaster &line, int address)
{
    QString why;
    const int old = readAddress(line, &why);
    if (!old || !write(line, AddressRegister, quint16(address), &why)) {
        complain(why);
        return Failed;
    }
    const int now = readAddress(line, &why);
    if (now != address) {
        complain(now ? QString("the module reads back address %1").arg(now) : why);
        return Failed;
    }
    say(QString("address %1 → %2").arg(old).arg(now));
    return Done;
}

int Commands::setBaud(ModbusMaster &line, int baud)
{
    const int old = line.baudRate();
    QString why;
    const int address = readAddress(line, &why);
    if (!address || !write(line, BaudRegister, quint16(codeForBaud(baud)), &why)) {
        complain(why);
        return Failed;
    }
    // The module changes speed once its echo has left.
    QThread::msleep(100);
    line.setBaudRate(baud);
    if (readAddress(line, &why) != address) {
        complain("the module did not answer at the new speed: " + why);
        return Failed;
    }
    say(QString("address %1: %2 → %3 bit/s").arg(address).arg(old).arg(baud));
    return Done;
}
