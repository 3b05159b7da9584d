#include "lineopener.h"

#include "portname.h"
#include "serialline.h"
#include "tcpline.h"

LineOpener::Opened LineOpener::open(const PortName &port, int baud)
{
    Opened opened;
    if (port.isTcp()) {
        auto line = std::make_unique<TcpLine>();
        if (line->open(port, baud))
            opened.line = std::move(line);
        else
            opened.error = line->errorString();
        return opened;
    }
    auto line = std::make_unique<SerialLine>();
    if (line->open(port.text(), baud)) {
        opened.line = std::move(line);
        return opened;
    }
    opened.error = line->errorString();
    if (line->openError() == QSerialPort::PermissionError)
        opened.hint = "Serial ports belong to the dialout group: sudo adduser $USER dialout, then log in again.";
    return opened;
}
