#include "portinventory.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

QString PortInventory::driver(const QString &ttyName)
{
    const QString root = qEnvironmentVariableIsEmpty("MORVANE_SYSFS_ROOT") ? QString("/sys")
                                                                           : qEnvironmentVariable("MORVANE_SYSFS_ROOT");
    return QFileInfo(QFileInfo(root + "/class/tty/" + ttyName + "/device/driver").symLinkTarget()).fileName();
}

QList<PortInventory::Port> PortInventory::ports(const QString &byIdFolder)
{
    const QFileInfoList links = QDir(byIdFolder).entryInfoList(QDir::System | QDir::Files, QDir::Name);
    QList<Port> all;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        Port port;
        port.path = info.systemLocation();
        for (const QFileInfo &link : links) {
            if (link.canonicalFilePath() == QFileInfo(port.path).canonicalFilePath())
                port.byId << link.absoluteFilePath();
        }
        port.description = info.description();
        port.manufacturer = info.manufacturer();
        port.serialNumber = info.serialNumber();
        port.driver = driver(info.portName());
        if (info.hasVendorIdentifier())
            port.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            port.productId = info.productIdentifier();
        all << port;
    }
    return all;
}
