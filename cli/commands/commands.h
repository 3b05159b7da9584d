#ifndef COMMANDS_H
#define COMMANDS_H

#include "modbusmaster.h"
#include "portinventory.h"
#include "settings.h"

#include <functional>
#include <optional>

class Console;
struct ReadingRow;

// The commands, each on the master's line (ports on none): each prints its
// own messages and returns its exit code.
class Commands
{
public:
    Commands(ModbusMaster *master, Console &console) : m_master(master), m_console(console) {}

    int ports(const Settings &settings);
    int find(const Settings &settings);
    int read(const Settings &settings);
    int setAddress(const Settings &settings);
    int setBaud(const Settings &settings);
    int doctor(const Settings &settings);

    static constexpr int SpeedChangeMs = 100;   // the module switches once its echo has left

private:
    int scan(const Settings &settings, const QList<int> &speeds);
    int scanAt(int baud, const ModbusMaster::Asking &how, const std::function<int(int, const ModbusMaster::Outcome &)> &found);
    int ownAddress(const Settings &settings, int *address);
    int addressFree(const Settings &settings);
    int end(const Settings &settings, const ModbusMaster::Outcome &outcome);
    int stopped(ModbusMaster::Status status);
    int fail(const QString &message);
    int print(const QString &line);
    QString failure(const Settings &settings, const ModbusMaster::Outcome &outcome) const;
    QString noAnswer(const Settings &settings, const QList<int> &speeds, bool echoed, const QString &ignored = QString()) const;
    QString collision(const Settings &settings, int baud) const;
    QString doctorCommand(const Settings &settings, int address) const;
    QString notThroughServer(const Settings &settings, int address, bool echoed) const;
    QString impossible(int address) const;
    QString asked(int address, const QString &which = QString()) const;
    QString speedText(const Settings &settings, int baud) const;
    QString status(const ModbusMaster::Outcome &outcome) const;
    ReadingRow row(int address, const ModbusMaster::Outcome &outcome) const;
    int report(const Settings &settings, int address, bool several, const ModbusMaster::Outcome &outcome);
    static QString portText(const PortInventory::Port &port, const std::optional<QString> &free);
    static QString portJson(const PortInventory::Port &port, const std::optional<QString> &free);
    QString scanRow(const Settings &settings, int address, int baud, const ModbusMaster::Outcome &read) const;

    ModbusMaster *m_master;
    Console &m_console;
};

#endif // COMMANDS_H
