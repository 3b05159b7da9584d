#include "adapterinfo.h"

#include "portinventory.h"
#include "portname.h"
#include "shellwords.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>

namespace {

QString sysfsRoot()
{
    const QString root = qEnvironmentVariable("MORVANE_SYSFS_ROOT");
    return root.isEmpty() ? QString("/sys") : root;
}

QString firstLine(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(file.readLine()).trimmed();
}

// The tty's name (ttyUSB0), through any links such as /dev/serial/by-id/.
QString ttyName(const QString &port)
{
    const QString real = QFileInfo(port).canonicalFilePath();
    return QFileInfo(real.isEmpty() ? port : real).fileName();
}

QString latencyAdvice(const QString &timerPath, const QString &driver)
{
    return QString("Lower it to 1 ms: echo 1 | sudo tee %1\n"
                   "To keep it, put this line in /etc/udev/rules.d/99-usb-serial-latency.rules:\n"
                   "ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\"%2\", ATTR{latency_timer}=\"1\"")
        .arg(ShellWords::quoted(timerPath), driver);
}

} // namespace

Finding AdapterInfo::describe(const QString &port)
{
    Finding finding;
    finding.key = "adapter";
    finding.topic = "adapter";
    if (PortName::isTcp(port)) {
        finding.seen = port + " is a TCP connection: adapter settings and the latency timer do not apply.";
        return finding;
    }
    const QString tty = ttyName(port);
    const QString root = sysfsRoot();
    const QString timerPath = root + "/bus/usb-serial/devices/" + tty + "/latency_timer";
    const QString driver = PortInventory::driver(tty);
    const QString latency = firstLine(timerPath);
    if (driver.isEmpty() && latency.isEmpty() && QFileInfo(port).canonicalFilePath().startsWith("/dev/pts/")) {
        finding.seen = port + " is a pseudo-terminal: adapter settings and the latency timer do not apply.";
        return finding;
    }
    QStringList about;
    if (!driver.isEmpty())
        about << "driver " + driver;
    const QSerialPortInfo info(tty);
    for (const QString &text : {info.description(), info.manufacturer()}) {
        if (!text.isEmpty() && !about.contains(text))
            about << text;
    }
    if (info.hasVendorIdentifier() && info.hasProductIdentifier())
        about << QString::asprintf("USB %04x:%04x", info.vendorIdentifier(), info.productIdentifier());
    if (!info.serialNumber().isEmpty())
        about << "serial " + info.serialNumber();
    finding.seen = port + (about.isEmpty() ? QString(": the system says nothing more of it.") : ": " + about.join(", ") + '.');
    if (latency.isEmpty())
        return finding;
    const int ms = latency.toInt();
    finding.seen += QString(" Latency timer %1 ms").arg(ms);
    if (ms <= MaxLatencyMs) {
        finding.seen += '.';
        return finding;
    }
    finding.seen += QString(": the adapter holds received bytes back up to %1 ms, which slows every reply and can cut one in two.").arg(ms);
    finding.todo = latencyAdvice(timerPath, driver.isEmpty() ? QString("ftdi_sio") : driver);
    finding.problem = true;
    return finding;
}
