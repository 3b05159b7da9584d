#include "trafficline.h"

QString trafficLine(const QByteArray &frame, bool received, const QDateTime &when)
{
    return when.toString("yyyy-MM-dd hh:mm:ss") + (received ? "->RX  " : "->TX  ") + QString::fromLatin1(frame.toHex());
}
