#include "lineopener.h"

#include "portname.h"
#include "winserialline.h"
#include "wintcpline.h"

#include <QFileInfo>

// LineOpener's Windows side: a COM port through WinSerialLine, a device
// server through WinTcpLine. Windows lends a COM port to one program at a
// time: another that holds it makes the open fail with "access denied".
LineOpener::Opened LineOpener::open(const PortName &port, int baud)
{
    Opened opened;
    if (port.isTcp()) {
        auto line = std::make_unique<WinTcpLine>();
        if (line->open(port, baud))
            opened.line = std::move(line);
        else
            opened.error = line->errorString();
        return opened;
    }
    auto line = std::make_unique<WinSerialLine>();
    if (line->open(port.text(), baud)) {
        opened.line = std::move(line);
        return opened;
    }
    opened.error = line->errorString();
    const QFileInfo file(port.text());
    if (file.exists()) {
        opened.error = file.isDir() ? "it is a folder, not a serial port" : "it is a file, not a serial port";
        opened.hint = "morvane-cli ports lists the serial ports the system knows.";
    } else if (line->openError() == QSerialPort::PermissionError) {
        opened.error = "it is in use by another program";
        opened.hint = "Stop that program, or wait until it has let go of the port.";
    }
    return opened;
}
