#include "simline.h"

#include "modbusframe.h"

#include <QIODevice>

namespace {
// What a device may hold unsent before replies count as lost.
const int MaxUnsentBytes = 4 * ModbusFrame::MaxFrameLength;
}

QString SimLine::writeQueued(QIODevice *device, const QByteArray &bytes)
{
    if (device->bytesToWrite() > MaxUnsentBytes)
        return QString("%1 bytes wait to go out").arg(device->bytesToWrite());
    return device->write(bytes) == bytes.size() ? QString() : device->errorString();
}
