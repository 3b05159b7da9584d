#include "sensormodule.h"

#include "modbusframe.h"

#include <QList>
#include <QPair>

#include <cmath>

using namespace ModbusFrame;

namespace {
void appendWord(QByteArray &frame, quint16 value)
{
    frame.append(char(value >> 8)).append(char(value & 0xFF));
}
}

double SensorModule::magnusDewPoint(double celsius, double relativeHumidity)
{
    const double a = 17.62, b = 243.12;
    const double gamma = std::log(qMax(relativeHumidity, 0.1) / 100.0) + a * celsius / (b + celsius);
    return b * gamma / (a - gamma);
}

bool SensorModule::readRegister(int reg, quint16 *value) const
{
    switch (reg) {
    case 0x0000: *value = quint16(temperature); return true;
    case 0x0001: *value = humidity; return true;
    case 0x0002: *value = quint16(dewPoint); return true;
    case AddressRegister: *value = quint16(address); return true;
    case BaudRegister: *value = quint16(baudCode); return true;
    default: return false;
    }
}

QByteArray SensorModule::exception(quint8 function, quint8 code) const
{
    return ModbusFrame::exception(quint8(address), function, code);
}

SensorModule::Answer SensorModule::handle(const QByteArray &frame) const
{
    Answer answer;
    if (!crcMatches(frame))
        return answer;   // a real slave ignores what it cannot trust
    const int slave = quint8(frame.at(0));
    if (slave != address && slave != 0)
        return answer;

    const quint8 function = quint8(frame.at(1));
    const int pduLength = frame.size() - 4;   // without address, function and check value
    if (function == 0x03) {
        if (pduLength != 4)
            return answer;
        const int start = word(frame, 2), count = word(frame, 4);
        if (count < 1 || count > 125) {
            answer.reply = exception(function, IllegalDataValue);
            return answer;
        }
        QByteArray reply;
        reply.append(char(address)).append(char(function)).append(char(count * 2));
        for (int reg = start; reg < start + count; ++reg) {
            quint16 value;
            // Reads stay within one block: 0x0000-0x0002 or 0x0100-0x0101.
            if (!readRegister(reg, &value) || (reg >> 8) != (start >> 8)) {
                answer.reply = exception(function, IllegalDataAddress);
                return answer;
            }
            appendWord(reply, value);
        }
        answer.reply = withCrc(reply);
        return answer;
    }

    QList<QPair<int, int>> writes;   // register, value
    if (function == 0x06) {
        if (pduLength != 4)
            return answer;
        writes.append({word(frame, 2), word(frame, 4)});
    } else if (function == 0x10) {
        const int start = word(frame, 2), count = word(frame, 4), bytes = quint8(frame.at(6));
        if (count < 1 || count > 123 || bytes != 2 * count || pduLength != 5 + bytes) {
            answer.reply = exception(function, IllegalDataValue);
            return answer;
        }
        for (int i = 0; i < count; ++i)
            writes.append({start + i, word(frame, 7 + 2 * i)});
    } else {
        answer.reply = exception(function, IllegalFunction);
        return answer;
    }

    for (const auto &w : writes) {
        if (w.first != AddressRegister && w.first != BaudRegister) {
            answer.reply = exception(function, IllegalDataAddress);
            return answer;
        }
    }
    for (const auto &w : writes) {
        const bool valid = w.first == AddressRegister ? (w.second >= 1 && w.second <= 247)
                                                      : baudForCode(w.second) != 0;
        if (!valid) {
            answer.reply = exception(function, IllegalDataValue);
            return answer;
        }
        if (w.first == AddressRegister)
            answer.newAddress = w.second;
        else
            answer.newBaudCode = w.second;
    }
    // A single write is echoed; a multiple write answers start and count.
    if (function == 0x06) {
        answer.reply = frame;
    } else {
        QByteArray reply = frame.left(6);
        reply[0] = char(address);
        answer.reply = withCrc(reply);
    }
    return answer;
}
