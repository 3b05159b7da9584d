#include "commandtable.h"

#include "commands.h"
#include "modbusframe.h"
#include "plotcommand.h"

#include <QCommandLineParser>

#include <climits>

namespace {

QString portsValues(const QStringList &values, Settings *)
{
    if (PortName::isTcp(values.value(0)))
        return "ports lists this computer's serial ports; a device server's are set up on the server";
    return values.isEmpty() ? QString() : "ports takes no values, not " + values.join(' ');
}

QString portsCheck(const QCommandLineParser &parser, Settings *settings)
{
    if (settings->format != Settings::Text && settings->format != Settings::Json)
        return "ports prints text or json, not " + parser.value("format");
    return QString();
}

QString findCheck(const QCommandLineParser &, Settings *settings)
{
    if (settings->format == Settings::Influx)
        return "find --format is text, csv or json, not influx";
    if (settings->format != Settings::Text && !settings->scan)
        return "find --format needs --scan";
    if (settings->scan && !settings->retriesGiven)
        settings->retries = 0;
    return QString();
}

QString readCheck(const QCommandLineParser &parser, Settings *settings)
{
    if (settings->watchSeconds > 0 && !parser.isSet("count"))
        settings->count = INT_MAX;
    return QString();
}

QString newAddress(const QStringList &values, Settings *settings)
{
    if (values.size() != 1)
        return "set-address takes one value, NEW";
    if (!CommandLine::integer(values[0], ModbusFrame::MinAddress, ModbusFrame::MaxAddress, &settings->value))
        return QString("the module's address is %1 to %2, not %3").arg(ModbusFrame::MinAddress).arg(ModbusFrame::MaxAddress).arg(values[0]);
    return QString();
}

QString newSpeed(const QStringList &values, Settings *settings)
{
    if (values.size() != 1)
        return "set-baud takes one value, RATE";
    return CommandLine::moduleSpeed("set-baud", values[0], &settings->value);
}

// set-address and set-baud: one module, or none for address 0.
QString settingCheck(const QCommandLineParser &parser, Settings *settings)
{
    if (parser.isSet("address") && (settings->allFound || settings->addresses.size() != 1))
        return QString("--address takes the one module's address, %1 to %2, not %3")
            .arg(ModbusFrame::MinAddress).arg(ModbusFrame::MaxAddress).arg(parser.value("address"));
    return QString();
}

QString newAddressCheck(const QCommandLineParser &parser, Settings *settings)
{
    const QString error = settingCheck(parser, settings);
    if (error.isEmpty() && settings->address == settings->value)
        return QString("the module at address %1 has that address already").arg(settings->value);
    return error;
}

QString doctorCheck(const QCommandLineParser &parser, Settings *settings)
{
    if (settings->format == Settings::Csv || settings->format == Settings::Influx)
        return "doctor prints text or json, not " + parser.value("format");
    if (parser.isSet("address") && (settings->allFound || settings->addresses.size() != 1))
        return QString("doctor --address takes one address, %1 to %2, not %3")
            .arg(ModbusFrame::MinAddress).arg(ModbusFrame::MaxAddress).arg(parser.value("address"));
    return QString();
}

QString plotLogs(const QStringList &values, Settings *settings)
{
    return PlotOptions::takeLogs(values, &settings->plot);
}

QString plotCheck(const QCommandLineParser &parser, Settings *settings)
{
    return PlotOptions::take(parser, &settings->plot);
}

int plot(const Settings &settings, Console &console)
{
    return PlotCommand(console).run(settings.plot);
}

} // namespace

QList<CommandLine::Command> CommandTable::commands()
{
    return {
        {"ports", "", HelpTexts::ports(), &portsValues, &portsCheck, &Commands::ports},
        {"find", "", HelpTexts::find(), nullptr, &findCheck, &Commands::find},
        {"read", "", HelpTexts::read(), nullptr, &readCheck, &Commands::read},
        {"set-address", "NEW", HelpTexts::setAddress(), &newAddress, &newAddressCheck, &Commands::setAddress},
        {"set-baud", "RATE", HelpTexts::setBaud(), &newSpeed, &settingCheck, &Commands::setBaud},
        {"plot", "LOG...", HelpTexts::plot(), &plotLogs, &plotCheck, nullptr, &plot},
        {"doctor", "", HelpTexts::doctor(), nullptr, &doctorCheck, &Commands::doctor},
    };
}
