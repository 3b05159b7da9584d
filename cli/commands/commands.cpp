#include "commands.h"

#include "byteline.h"
#include "console.h"
#include "doctor.h"
#include "interrupt.h"
#include "modbusframe.h"
#include "portinventory.h"
#include "readingrow.h"
#include "rowfields.h"
#include "shellwords.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPort>

using namespace ModbusFrame;
using Outcome = ModbusMaster::Outcome;

namespace {

bool isAddress(int value)
{
    return value >= MinAddress && value <= MaxAddress;
}

// How the commands ask: a scan's timeout for find --scan.
ModbusMaster::Asking asking(const Settings &settings)
{
    ModbusMaster::Asking how;
    how.timeoutMs = settings.scan ? settings.scanTimeoutMs : settings.timeoutMs;
    how.retries = settings.retries;
    return how;
}

ModbusMaster::Asking scanning(const Settings &settings, int retries)
{
    ModbusMaster::Asking how;
    how.timeoutMs = settings.scanTimeoutMs;
    how.retries = retries;
    how.scanning = true;
    return how;
}

bool isStop(ModbusMaster::Status status)
{
    return status == ModbusMaster::PortLost || status == ModbusMaster::Interrupted;
}

} // namespace

int Commands::ports(const Settings &settings)
{
    const QList<PortInventory::Port> all = PortInventory::ports();
    if (all.isEmpty())
        m_console.complain("the system lists no serial ports");
    for (const PortInventory::Port &port : all) {
        if (Interrupt::signal())
            return Interrupt::exitCode();
        std::optional<QString> free;   // with --probe, "free" or why not
        if (settings.probe) {
            QSerialPort opened(port.path);
            free = opened.open(QIODevice::ReadWrite) ? QString("free") : "cannot be opened: " + opened.errorString();
        }
        if (print(settings.format == Settings::Json ? portJson(port, free) : portText(port, free)) != Done)
            return OutputError;
    }
    return Done;
}

int Commands::find(const Settings &settings)
{
    // Behind a device server the server sets the line's speed: one is asked
    // at. Otherwise the default speed (9600, or $MORVANE_BAUD) comes first.
    QList<int> speeds = searchOrder();
    speeds.move(speeds.indexOf(settings.baud), 0);
    if (settings.baudGiven || settings.tcp())
        speeds = {settings.baud};
    if (settings.scan)
        return scan(settings, speeds);
    // Every speed once before any again: a module at the last speed is
    // found after one timeout for each of the others. Once replies collide
    // at a speed, only that speed is asked again.
    const int passes = settings.retries + 1;
    ModbusMaster::Asking once = asking(settings);
    once.retries = 0;
    int collidedAt = 0;
    bool echoed = false;
    for (int pass = 0; pass < passes; ++pass) {
        for (int baud : speeds) {
            if (collidedAt && baud != collidedAt)
                continue;
            const ModbusMaster::Status set = m_master->setBaudRate(baud);
            if (set != ModbusMaster::Ok)
                return stopped(set);
            m_console.progress(asked(0, passes > 1 ? QString(", pass %1 of %2").arg(pass + 1).arg(passes) : QString()));
            const Outcome read = m_master->exchange(addressRequest(), once);
            if (read.status == ModbusMaster::NoAnswer) {
                echoed = echoed || read.echoed;
                if (read.garbled)
                    collidedAt = baud;
                continue;
            }
            if (read.status != ModbusMaster::Ok)
                return end(settings, read);
            const int address = read.reply.addressRegister();
            if (!isAddress(address))
                return fail(impossible(address));
            return print(QString("address %1 %2").arg(address).arg(speedText(settings, baud)));
        }
    }
    if (collidedAt) {
        const QStringList scan{"find", "--scan", "--port", settings.port, "--baud", QString::number(collidedAt)};
        return fail(collision(settings, collidedAt) + ' ' + ShellWords::command(scan) + " asks each address in turn");
    }
    return fail(noAnswer(settings, speeds, echoed));
}

int Commands::scan(const Settings &settings, const QList<int> &speeds)
{
    if (settings.format == Settings::Csv && print(ReadingRow::ScanCsvHeader) != Done)
        return OutputError;
    int found = 0;
    for (int baud : speeds) {
        const int code = scanAt(baud, scanning(settings, settings.retries), [&](int address, const Outcome &read) {
            ++found;
            return print(scanRow(settings, address, baud, read));
        });
        if (code != Done)
            return code;
    }
    return found ? Done : fail(noAnswer(settings, speeds, false));
}

// Asks the measurement of every address at this speed, once each; found
// is called for each that answered or refused, and a code other than Done
// ends the scan with it.
int Commands::scanAt(int baud, const ModbusMaster::Asking &how, const std::function<int(int, const Outcome &)> &found)
{
    const ModbusMaster::Status set = m_master->setBaudRate(baud);
    if (set != ModbusMaster::Ok)
        return stopped(set);
    for (int address = MinAddress; address <= MaxAddress; ++address) {
        m_console.progress(QString("%1 bit/s: address %2 of %3").arg(baud).arg(address).arg(MaxAddress));
        const Outcome read = m_master->exchange(measurementRequest(quint8(address)), how);
        if (read.status == ModbusMaster::NoAnswer)
            continue;
        m_console.progress(QString());
        if (isStop(read.status))
            return stopped(read.status);
        const int code = found(address, read);
        if (code != Done)
            return code;
    }
    m_console.progress(QString());
    return Done;
}

int Commands::read(const Settings &settings)
{
    QVector<int> addresses = settings.addresses;
    if (settings.allFound) {
        const int code = scanAt(settings.baud, scanning(settings, 0), [&](int address, const Outcome &) {
            addresses << address;
            return int(Done);
        });
        if (code != Done)
            return code;
        if (addresses.isEmpty())
            return fail(noAnswer(settings, {settings.baud}, false));
    }
    if (settings.format == Settings::Csv && print(ReadingRow::CsvHeader) != Done)
        return OutputError;
    const qint64 periodMs = qMax<qint64>(1, qRound64(settings.watchSeconds * 1000));
    const qint64 start = m_master->now();
    qint64 slot = 0;
    QVector<int> silent = addresses;   // never answered yet
    for (int n = 0; n < settings.count; ++n) {
        if (n > 0) {
            // The next slot that has not begun: a round that overran its
            // slot skips the slots it took, it never bunches rows.
            slot = qMax(slot + 1, (m_master->now() - start + periodMs - 1) / periodMs);
            const ModbusMaster::Status waited = m_master->waitUntil(start + slot * periodMs);
            if (waited != ModbusMaster::Ok)
                return stopped(waited);
        }
        for (int i = 0; i < addresses.size(); ++i) {
            const int address = addresses[i];
            m_console.progress(asked(address, addresses.size() > 1 ? QString(", %1 of %2").arg(i + 1).arg(addresses.size()) : QString()));
            const Outcome reading = m_master->exchange(measurementRequest(quint8(address)), asking(settings));
            if (reading.status == ModbusMaster::Interrupted)
                return stopped(reading.status);
            if (report(settings, address, addresses.size() > 1, reading) != Done)
                return OutputError;
            if (reading.status == ModbusMaster::Ok)
                silent.removeOne(address);
            if (reading.status == ModbusMaster::PortLost && settings.watchSeconds == 0)
                return PortError;
        }
    }
    if (silent.isEmpty())
        return Done;
    if (silent.size() == addresses.size() && m_master->lost())
        return PortError;
    QStringList numbers;
    for (int address : silent)
        numbers << QString::number(address);
    return fail(QString("no reading from address %1; to see why: %2").arg(numbers.join(", "), doctorCommand(settings, silent.first())));
}

int Commands::setAddress(const Settings &settings)
{
    // Through address 0 unless --address names the module: then the rest of
    // the bus is untouched.
    const quint8 to = quint8(settings.address);
    int old = 0;
    if (const int code = ownAddress(settings, &old))
        return code;
    if (to) {
        if (const int code = addressFree(settings))
            return code;
    }
    const Outcome written = m_master->exchange(addressWrite(quint16(settings.value), to), asking(settings), old);
    if (written.status != ModbusMaster::Ok && written.status != ModbusMaster::NoAnswer)
        return end(settings, written);
    // A write whose echo was lost may still have been taken: the read-back tells.
    const Outcome back = m_master->exchange(addressRequest(to ? quint8(settings.value) : to), asking(settings));
    if (isStop(back.status))
        return stopped(back.status);
    const bool echoed = written.status == ModbusMaster::Ok;
    const QString unechoed = echoed ? QString() : "the module did not echo the write; ";
    if (back.status != ModbusMaster::Ok)
        return fail(unechoed + (to ? QString("at its new address %1: ").arg(settings.value) : QString()) + failure(settings, back));
    const int now = back.reply.addressRegister();
    if (now != settings.value)
        return fail(unechoed + QString("the module reads back address %1").arg(now));
    if (!echoed)
        m_console.complain(QString("the module did not echo the write, but reads back address %1").arg(now));
    return print(QString("address %1 → %2").arg(old).arg(now));
}

// Nothing may answer at the address a module is to move to: two modules
// there would answer as one.
int Commands::addressFree(const Settings &settings)
{
    m_console.progress(asked(settings.value, ", which must be free"));
    const Outcome taken = m_master->exchange(addressRequest(quint8(settings.value)), asking(settings));
    if (isStop(taken.status))
        return end(settings, taken);
    if (taken.status == ModbusMaster::NoAnswer && !taken.garbled)
        return Done;
    QString what = "bytes came in time but no clean reply";
    if (taken.status == ModbusMaster::Ok)
        what = QString("a module answers there, its address register reading %1").arg(taken.reply.addressRegister());
    else if (taken.status == ModbusMaster::Refused)
        what = "a module answers there and refused the read: " + exceptionName(taken.reply.exceptionCode);
    return fail(QString("address %1 is taken at %2 bit/s: %3. Nothing was written; %4 lists the addresses in use")
                    .arg(settings.value).arg(m_master->baudRate()).arg(what)
                    .arg(ShellWords::command({"find", "--scan", "--port", settings.port})));
}

int Commands::setBaud(const Settings &settings)
{
    const int old = m_master->baudRate();
    const quint8 to = quint8(settings.address);
    int address = 0;
    if (const int code = ownAddress(settings, &address))
        return code;
    const Outcome written = m_master->exchange(baudWrite(quint16(codeForBaud(settings.value)), to), asking(settings), address);
    if (written.status != ModbusMaster::Ok && written.status != ModbusMaster::NoAnswer)
        return end(settings, written);
    // With its echo lost or damaged the module may have switched all the
    // same: it is looked for at the new speed either way.
    ModbusMaster::Status status = m_master->waitUntil(m_master->now() + SpeedChangeMs);
    if (status == ModbusMaster::Ok)
        status = m_master->setBaudRate(settings.value);
    if (status != ModbusMaster::Ok)
        return stopped(status);
    const Outcome back = m_master->exchange(addressRequest(to), asking(settings));
    if (isStop(back.status))
        return stopped(back.status);
    const bool echoed = written.status == ModbusMaster::Ok;
    if (back.status == ModbusMaster::Ok && back.reply.addressRegister() == address) {
        if (!echoed)
            m_console.complain(QString("the module did not echo the write, but answers at %1 bit/s").arg(settings.value));
        const int code = print(QString("address %1: %2 → %3 bit/s").arg(address).arg(old).arg(settings.value));
        if (to && settings.value != old)
            m_console.hint(QString("Address %1 now answers at %2 bit/s only; at %3 bit/s, where the rest of the line "
                                   "runs, it is silent. To bring it back: morvane-cli set-baud %3 --port %4 --baud %2 "
                                   "--address %1")
                               .arg(address).arg(settings.value).arg(old).arg(settings.port));
        return code;
    }
    if (settings.tcp())
        return fail(notThroughServer(settings, address, echoed));
    const QString there = back.status == ModbusMaster::Ok
                              ? QString("answers at %1 bit/s as address %2").arg(settings.value).arg(back.reply.addressRegister())
                              : QString("does not answer at %1 bit/s").arg(settings.value);
    return fail(QString("the module %1 %2; it was last seen as address %3 at %4 bit/s (%5 looks at every speed)")
                    .arg(echoed ? "echoed the write but" : "did not echo the write and", there)
                    .arg(address)
                    .arg(old)
                    .arg(ShellWords::command({"find", "--port", settings.port})));
}

// Behind a device server the module's new speed is not the server's: the
// read-back goes through the server at its own speed.
QString Commands::notThroughServer(const Settings &settings, int address, bool echoed) const
{
    const QString speed = QString::number(settings.value);
    const QString check = ShellWords::command({"read", "--port", settings.port, "--address", QString::number(address)});
    if (echoed) {
        return QString("the module echoed the write for %1 bit/s, but nothing answers through the server now: the "
                       "server's serial speed must be changed to %1 bit/s too (set-baud changes only the module's); "
                       "then %2 checks it").arg(speed, check);
    }
    return QString("the module did not echo the write, and nothing answers through the server now: if the module took "
                   "the write, it runs at %1 bit/s and the server's serial speed must be changed to %1 bit/s too; "
                   "then %2 checks it").arg(speed, check);
}

int Commands::doctor(const Settings &settings)
{
    DoctorOptions options;
    options.port = settings.port;
    options.baud = settings.baud;
    options.baudGiven = settings.baudGiven;
    options.address = settings.address;
    options.waitMs = settings.waitMs;
    options.defaultTimeoutMs = Settings().timeoutMs;
    options.defaultRetries = Settings().retries;
    options.verbose = settings.verbose;
    options.json = settings.format == Settings::Json;
    options.tcp = settings.tcp();
    Doctor doctor(m_master->line(), m_console, options);
    const int code = doctor.run();
    if (doctor.stop() == Examination::Interrupted)
        return Interrupt::exitCode();
    if (doctor.stop() == Examination::PortLost) {
        m_console.complain("the port failed: " + m_master->line().errorString());
        return PortError;
    }
    return print(doctor.report()) == Done ? code : OutputError;
}

// The module's own address, read at --address or through address 0; a
// failure's exit code (its message printed) when there is none to be had.
int Commands::ownAddress(const Settings &settings, int *address)
{
    m_console.progress(asked(settings.address));
    const Outcome read = m_master->exchange(addressRequest(quint8(settings.address)), asking(settings));
    if (read.status == ModbusMaster::NoAnswer && read.garbled && !settings.address) {
        const QStringList scan{"find", "--scan", "--port", settings.port};
        return fail(collision(settings, m_master->baudRate()) + " Through address 0 a module is changed only when it "
                    "is alone on the line: give --address and its address to change one where it sits ("
                    + ShellWords::command(scan) + " lists them), or leave only it on the line.");
    }
    if (read.status != ModbusMaster::Ok)
        return end(settings, read);
    *address = read.reply.addressRegister();
    return isAddress(*address) ? Done : fail(impossible(*address));
}

int Commands::end(const Settings &settings, const Outcome &outcome)
{
    return isStop(outcome.status) ? stopped(outcome.status) : fail(failure(settings, outcome));
}

int Commands::stopped(ModbusMaster::Status status)
{
    if (status == ModbusMaster::Interrupted)
        return Interrupt::exitCode();
    m_console.complain("the port failed: " + m_master->lostReason());
    return PortError;
}

int Commands::fail(const QString &message)
{
    m_console.complain(message);
    return Failed;
}

int Commands::print(const QString &line)
{
    return m_console.print(line) ? Done : OutputError;
}

QString Commands::failure(const Settings &settings, const Outcome &outcome) const
{
    const int baud = m_master->baudRate();
    if (outcome.status == ModbusMaster::Refused)
        return QString("the module at %1 bit/s refused: %2").arg(baud).arg(exceptionName(outcome.reply.exceptionCode));
    return noAnswer(settings, {baud}, outcome.echoed, outcome.ignored);
}

// No module answered: what came back instead, and the doctor to run.
QString Commands::noAnswer(const Settings &settings, const QList<int> &speeds, bool echoed, const QString &ignored) const
{
    QString text = "no module answered " + (settings.tcp() ? QString("through the server") : "at " + speedList(speeds));
    if (!ignored.isEmpty())
        text += " (a frame came that was not the answer: " + ignored + ")";
    if (echoed)
        text += ", only the request's own bytes came back (the adapter echoes what it sends: --local-echo takes that off)";
    return text + "; to see why: " + doctorCommand(settings, 0);
}

QString Commands::collision(const Settings &settings, int baud) const
{
    return QString("several modules answered address 0 at once %1: their replies collided.").arg(speedText(settings, baud));
}

// doctor on this line, asked about this module (0 for none).
QString Commands::doctorCommand(const Settings &settings, int address) const
{
    QStringList words{"doctor", "--port", settings.port};
    if (settings.baudGiven)
        words << "--baud" << QString::number(settings.baud);
    if (address)
        words << "--address" << QString::number(address);
    return ShellWords::command(words);
}

QString Commands::impossible(int address) const
{
    return QString("the module at %1 bit/s reports address %2, which no module can have (1 to %3)")
        .arg(m_master->baudRate())
        .arg(address)
        .arg(MaxAddress);
}

// What progress says while an address is asked.
QString Commands::asked(int address, const QString &which) const
{
    return QString("asking address %1 at %2 bit/s%3").arg(address).arg(m_master->baudRate()).arg(which);
}

QString Commands::speedText(const Settings &settings, int baud) const
{
    return settings.tcp() ? QString("at the server's line speed") : QString("at %1 bit/s").arg(baud);
}

QString Commands::status(const Outcome &outcome) const
{
    switch (outcome.status) {
    case ModbusMaster::Ok:
        return "ok";
    case ModbusMaster::Refused:
        return exceptionName(outcome.reply.exceptionCode);
    case ModbusMaster::PortLost:
        return "port lost: " + m_master->lostReason();
    case ModbusMaster::NoAnswer:
    case ModbusMaster::Interrupted:
        break;
    }
    return "no answer";
}

// The row of a reading (its values when the module gave them).
ReadingRow Commands::row(int address, const Outcome &outcome) const
{
    ReadingRow row;
    row.setTime(outcome.sentAt);
    row.address = address;
    row.status = status(outcome);
    if (outcome.status == ModbusMaster::Ok) {
        row.tenths[ReadingRow::Temperature] = outcome.reply.temperature();
        row.tenths[ReadingRow::Humidity] = outcome.reply.humidity();
        row.tenths[ReadingRow::DewPoint] = outcome.reply.dewPoint();
    }
    return row;
}

// One reading on standard output; in the InfluxDB form a miss goes to
// standard error instead, as collectors take only measurements.
int Commands::report(const Settings &settings, int address, bool several, const Outcome &outcome)
{
    const ReadingRow reading = row(address, outcome);
    switch (settings.format) {
    case Settings::Csv:
        return print(reading.csvLine());
    case Settings::Json:
        return print(reading.jsonLine());
    case Settings::Influx:
        if (!reading.ok()) {
            m_console.complain(reading.textLine(true));
            return Done;
        }
        return print(reading.influxLine());
    case Settings::Text:
        break;
    }
    // Under --watch a text row begins with its time, as the other forms carry it.
    if (settings.watchSeconds > 0)
        return print(RowFields::formatIsoTime(reading.time, reading.utcOffset) + "  " + reading.textLine(several));
    return print(reading.textLine(several));
}

// A port on one line: its path, its name by id, then what the system says of it.
QString Commands::portText(const PortInventory::Port &port, const std::optional<QString> &free)
{
    QStringList about;
    for (const QString &text : {port.description, port.manufacturer}) {
        if (!text.isEmpty())
            about << text;
    }
    if (port.vendorId && port.productId)
        about << QString::asprintf("USB %04x:%04x", *port.vendorId, *port.productId);
    if (!port.serialNumber.isEmpty())
        about << "serial " + port.serialNumber;
    if (!port.driver.isEmpty())
        about << "driver " + port.driver;
    if (free)
        about << *free;
    return (QStringList{port.path} + port.byId.mid(0, 1) + QStringList{about.join(", ")}).join("  ").trimmed();
}

// The same as one JSON object; what the system does not say is null.
QString Commands::portJson(const PortInventory::Port &port, const std::optional<QString> &free)
{
    const auto text = [](const QString &value) { return value.isEmpty() ? QJsonValue() : QJsonValue(value); };
    const auto hex = [](const std::optional<quint16> &id) { return id ? QJsonValue(QString::asprintf("%04x", *id)) : QJsonValue(); };
    const QJsonObject object{{"path", port.path},
                             {"by_id", text(port.byId.value(0))},
                             {"description", text(port.description)},
                             {"manufacturer", text(port.manufacturer)},
                             {"vendor_id", hex(port.vendorId)},
                             {"product_id", hex(port.productId)},
                             {"serial_number", text(port.serialNumber)},
                             {"driver", text(port.driver)},
                             {"state", free ? QJsonValue(*free) : QJsonValue()}};
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// A module find --scan found: CSV and JSON carry its first reading.
QString Commands::scanRow(const Settings &settings, int address, int baud, const Outcome &read) const
{
    // Over TCP the speed is the server's, not known here.
    const std::optional<int> speed = settings.tcp() ? std::nullopt : std::optional<int>(baud);
    switch (settings.format) {
    case Settings::Csv:
        return row(address, read).scanCsvLine(speed);
    case Settings::Json:
        return row(address, read).scanJsonLine(speed);
    case Settings::Text:
    case Settings::Influx:
        break;
    }
    QString line = QString("address %1 %2").arg(address).arg(speedText(settings, baud));
    if (read.status == ModbusMaster::Refused)
        line += ", which refused: " + exceptionName(read.reply.exceptionCode);
    return line;
}
