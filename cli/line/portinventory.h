#ifndef PORTINVENTORY_H
#define PORTINVENTORY_H

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The serial ports the system knows, each with what tells two adapters
// apart: its names under /dev/serial/by-id, the USB vendor and product ids,
// the serial number and the kernel's driver, where the system knows them.
// The sysfs tree is read under $MORVANE_SYSFS_ROOT when that is set (for
// tests), else under /sys. Nothing is opened.
class PortInventory
{
public:
    struct Port
    {
        QString path;
        QStringList byId;   // links in /dev/serial/by-id to this port
        QString description, manufacturer, serialNumber, driver;
        std::optional<quint16> vendorId, productId;
    };

    static QList<Port> ports(const QString &byIdFolder = "/dev/serial/by-id");
    static QString driver(const QString &ttyName);   // "ftdi_sio", or empty
};

#endif // PORTINVENTORY_H
