#include "modbusframe.h"

#include <QStringList>

#include <array>

namespace ModbusFrame {

namespace {
const int speeds[] = {1200, 2400, 4800, 9600, 19200};
}

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

QByteArray measurementRequest(quint8 address)
{
    return request(address, ReadHoldingRegisters, TemperatureRegister, MeasurementRegisters);
}

QByteArray addressRequest(quint8 to)
{
    return request(to, ReadHoldingRegisters, AddressRegister, 1);
}

QByteArray addressWrite(quint16 newAddress, quint8 to)
{
    return request(to, WriteSingleRegister, AddressRegister, newAddress);
}

QByteArray baudWrite(quint16 code, quint8 to)
{
    return request(to, WriteSingleRegister, BaudRegister, code);
}

QByteArray readReply(quint8 slave, const QVector<quint16> &values)
{
    QByteArray reply;
    reply.append(char(slave)).append(char(ReadHoldingRegisters)).append(char(2 * values.size()));
    for (quint16 value : values)
        reply.append(char(value >> 8)).append(char(value & 0xFF));
    return withCrc(reply);
}

QByteArray exception(quint8 slave, quint8 function, quint8 code)
{
    QByteArray reply;
    reply.append(char(slave)).append(char(function | ExceptionFlag)).append(char(code));
    return withCrc(reply);
}

QString exceptionName(int code)
{
    switch (code) {
    case IllegalFunction: return "illegal function";
    case IllegalDataAddress: return "illegal data address";
    case IllegalDataValue: return "illegal data value";
    case ServerDeviceFailure: return "server device failure";
    case Acknowledge: return "acknowledge (busy with a long command)";
    case ServerDeviceBusy: return "server device busy";
    case MemoryParityError: return "memory parity error";
    case GatewayPathUnavailable: return "gateway path unavailable";
    case GatewayTargetFailedToRespond: return "gateway target failed to respond";
    default: return QString("exception %1 (not a Modbus code)").arg(code);
    }
}

int requestLength(const QByteArray &start)
{
    if (start.size() < 2)
        return 0;
    switch (quint8(start.at(1))) {
    case 0x01: case 0x02: case ReadHoldingRegisters: case 0x04: case 0x05: case WriteSingleRegister:
        return RequestLength;
    case 0x0F: case WriteMultipleRegisters: {
        if (start.size() < 7)
            return 0;
        const int length = 9 + quint8(start.at(6));
        return length <= MaxFrameLength ? length : -1;
    }
    default:
        return 0;   // only silence can tell
    }
}

int replyLength(const QByteArray &start)
{
    if (start.isEmpty())
        return 0;
    if (quint8(start.at(0)) > MaxAddress)
        return -1;
    if (start.size() < 2)
        return 0;
    const quint8 function = quint8(start.at(1));
    if (function & ExceptionFlag)
        return ExceptionLength;
    if (function == WriteSingleRegister || function == WriteMultipleRegisters)
        return RequestLength;
    if (function != ReadHoldingRegisters)
        return -1;
    if (start.size() < 3)
        return 0;
    const int length = 5 + quint8(start.at(2));
    return length <= MaxFrameLength ? length : -1;
}

int baudForCode(int code)
{
    return code >= 1 && code <= 5 ? speeds[code - 1] : 0;
}

int codeForBaud(int baud)
{
    for (int code = 1; code <= 5; ++code) {
        if (baudForCode(code) == baud)
            return code;
    }
    return 0;
}

QString moduleSpeeds()
{
    return "1200, 2400, 4800, 9600 or 19200";
}

QList<int> searchOrder()
{
    return {9600, 19200, 4800, 2400, 1200};
}

QString speedList(const QList<int> &speeds)
{
    QStringList rates;
    for (int baud : speeds)
        rates << QString::number(baud);
    return rates.join(", ") + " bit/s";
}

} // namespace ModbusFrame
