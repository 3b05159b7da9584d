#include "sensormodule.h"

#include "modbusframe.h"

#include <QVector>

#include <cmath>

using namespace ModbusFrame;

namespace {
const int MaxReadCount = 125;             // registers in one read, as Modbus allows
const int MaxWriteCount = 123;            // likewise in one multiple write
const int MultipleWriteOverhead = 9;      // address to byte count, and the check value
const int ByteCountAt = 6;                // in a multiple write
}

double SensorModule::magnusDewPoint(double celsius, double relativeHumidity)
{
    const double a = 17.62, b = 243.12;
    const double gamma = std::log(qMax(relativeHumidity, 0.1) / 100.0) + a * celsius / (b + celsius);
    return b * gamma / (a - gamma);
}

QByteArray SensorModule::handle(const QByteArray &request)
{
    if (!crcMatches(request))
        return QByteArray();   // a real module ignores what it cannot trust
    const int to = quint8(request.at(0));
    if (to != address && to != BroadcastAddress)
        return QByteArray();
    switch (quint8(request.at(1))) {
    case ReadHoldingRegisters:
        return read(request);
    case WriteSingleRegister:
    case WriteMultipleRegisters:
        return write(request);
    default:
        return refusal(request, IllegalFunction);
    }
}

QByteArray SensorModule::read(const QByteArray &request) const
{
    if (request.size() != RequestLength)
        return QByteArray();
    const int start = word(request, 2), count = word(request, 4);
    if (count < 1 || count > MaxReadCount)
        return refusal(request, IllegalDataValue);
    QVector<quint16> values;
    for (int reg = start; reg < start + count; ++reg) {
        quint16 value;
        if (!readRegister(reg, &value))
            return refusal(request, IllegalDataAddress);
        values << value;
    }
    return readReply(replyAddress(request, false), values);
}

QByteArray SensorModule::write(const QByteArray &request)
{
    const quint8 function = quint8(request.at(1));
    QVector<Write> writes;
    if (function == WriteSingleRegister) {
        if (request.size() != RequestLength)
            return QByteArray();
        writes.append({word(request, 2), word(request, 4)});
    } else {
        // The length is checked before any field beyond the function is read.
        if (request.size() < MultipleWriteOverhead + 2)
            return refusal(request, IllegalDataValue);
        const int start = word(request, 2), count = word(request, 4), bytes = quint8(request.at(ByteCountAt));
        if (count < 1 || count > MaxWriteCount || bytes != 2 * count || request.size() != MultipleWriteOverhead + bytes)
            return refusal(request, IllegalDataValue);
        for (int i = 0; i < count; ++i)
            writes.append({start + i, word(request, ByteCountAt + 1 + 2 * i)});
    }

    // The whole write is checked before any of it is applied: a refusal
    // means nothing was written.
    for (const Write &w : writes) {
        if (w.reg != AddressRegister && w.reg != BaudRegister)
            return refusal(request, IllegalDataAddress);
    }
    for (const Write &w : writes) {
        if (!valueAllowed(w))
            return refusal(request, IllegalDataValue);
    }
    const quint8 from = replyAddress(request, function == WriteSingleRegister);
    for (const Write &w : writes)
        apply(w);
    // A single write is echoed; a multiple write answers start and count.
    return function == WriteSingleRegister ? ModbusFrame::request(from, function, writes[0].reg, writes[0].value)
                                           : ModbusFrame::request(from, function, word(request, 2), word(request, 4));
}

bool SensorModule::readRegister(int reg, quint16 *value) const
{
    switch (reg) {
    case TemperatureRegister: *value = quint16(temperature); return true;
    case HumidityRegister: *value = humidity; return true;
    case DewPointRegister: *value = quint16(dewPoint); return true;
    case AddressRegister: *value = quint16(address); return true;
    case BaudRegister: *value = quint16(baudCode); return true;
    default: return false;
    }
}

bool SensorModule::valueAllowed(const Write &w)
{
    if (w.reg == AddressRegister)
        return w.value >= MinAddress && w.value <= MaxAddress;
    return baudForCode(w.value) != 0;
}

void SensorModule::apply(const Write &w)
{
    if (w.reg == AddressRegister)
        address = w.value;
    else
        baudCode = w.value;
}

quint8 SensorModule::replyAddress(const QByteArray &request, bool successfulSingleWrite) const
{
    if (quint8(request.at(0)) != BroadcastAddress)
        return quint8(address);
    switch (echoAddress) {
    case Own: return quint8(address);
    case Zero: return BroadcastAddress;
    case Mixed: break;
    }
    return successfulSingleWrite ? BroadcastAddress : quint8(address);
}

QByteArray SensorModule::refusal(const QByteArray &request, quint8 code) const
{
    return exception(replyAddress(request, false), quint8(request.at(1)), code);
}
