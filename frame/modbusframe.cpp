#include "modbusframe.h"

#include <array>

namespace ModbusFrame {

quint16 crc(const QByteArray &data)
{
    // Table-driven, unlike the window program's bitwise routine, so each
    // checks the other.
    static const auto table = [] {
        std::array<quint16, 256> t{};
        for (int n = 0; n < 256; ++n) {
            quint16 c = quint16(n);
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? quint16((c >> 1) ^ 0xA001) : quint16(c >> 1);
            t[size_t(n)] = c;
        }
        return t;
    }();
    quint16 c = 0xFFFF;
    for (char byte : data)
        c = quint16((c >> 8) ^ table[(c ^ quint8(byte)) & 0xFF]);
    return c;
}

QByteArray withCrc(QByteArray frame)
{
    const quint16 c = crc(frame);
    return frame.append(char(c & 0xFF)).append(char(c >> 8));
}

bool crcMatches(const QByteArray &frame)
{
    return frame.size() >= 4 && withCrc(frame.left(frame.size() - 2)) == frame;
}

quint16 word(const QByteArray &frame, int at)
{
    return quint16((quint8(frame.at(at)) << 8) | quint8(frame.at(at + 1)));
}

QByteArray request(quint8 slave, quint8 function, quint16 reg, quint16 value)
{
    QByteArray frame;
    frame.append(char(slave)).append(char(function));
    frame.append(char(reg >> 8)).append(char(reg & 0xFF));
    frame.append(char(value >> 8)).append(char(value & 0xFF));
    return withCrc(frame);
}

QByteArray exception(quint8 slave, quint8 function, quint8 code)
{
    QByteArray reply;
    reply.append(char(slave)).append(char(function | 0x80)).append(char(code));
    return withCrc(reply);
}

QString exceptionName(int code)
{
    switch (code) {
    case IllegalFunction: return "illegal function";
    case IllegalDataAddress: return "illegal data address";
    case IllegalDataValue: return "illegal data value";
    default: return QString("exception %1").arg(code);
    }
}

int requestLength(const QByteArray &start)
{
    if (start.size() < 2)
        return 0;
    switch (quint8(start.at(1))) {
    case 0x03:
    case 0x06:
        return 8;
    case 0x10:
        return start.size() < 7 ? 0 : 9 + quint8(start.at(6));
    default:
        return 0;
    }
}

int replyLength(const QByteArray &start)
{
    if (start.size() < 2)
        return 0;
    const quint8 function = quint8(start.at(1));
    if (function & 0x80)
        return 5;
    if (function == 0x06 || function == 0x10)
        return 8;
    if (function == 0x03)
        return start.size() < 3 ? 0 : 5 + quint8(start.at(2));
    return 0;
}

int baudForCode(int code)
{
    static const int rates[] = {1200, 2400, 4800, 9600, 19200};
    return code >= 1 && code <= 5 ? rates[code - 1] : 0;
}

int codeForBaud(int baud)
{
    for (int code = 1; code <= 5; ++code) {
        if (baudForCode(code) == baud)
            return code;
    }
    return 0;
}

} // namespace ModbusFrame
