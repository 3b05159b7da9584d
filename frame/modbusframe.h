#ifndef MODBUSFRAME_H
#define MODBUSFRAME_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Modbus RTU frames of the sensor module: check value, requests, lengths,
// exception replies and the module's line-speed codes.
namespace ModbusFrame {

enum Exception : quint8 { IllegalFunction = 1, IllegalDataAddress = 2, IllegalDataValue = 3 };

const int AddressRegister = 0x0100;
const int BaudRegister = 0x0101;
const int MaxAddress = 247;

quint16 crc(const QByteArray &data);
QByteArray withCrc(QByteArray frame);
bool crcMatches(const QByteArray &frame);
quint16 word(const QByteArray &frame, int at);

// Address, function, register and count or value, with the check value.
QByteArray request(quint8 slave, quint8 function, quint16 reg, quint16 value);
QByteArray exception(quint8 slave, quint8 function, quint8 code);
QString exceptionName(int code);

// How long a frame that starts with these bytes is, or 0 while that cannot
// be told yet (or never: unknown function).
int requestLength(const QByteArray &start);
int replyLength(const QByteArray &start);

// The module's speed codes 1..5; 0 for anything else.
int baudForCode(int code);
int codeForBaud(int baud);

} // namespace ModbusFrame

#endif // MODBUSFRAME_H
