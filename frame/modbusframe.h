#ifndef MODBUSFRAME_H
#define MODBUSFRAME_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVector>
#include <QtGlobal>

// Modbus RTU frames of the sensor module: function codes, registers, check
// value, the module's four requests, exception replies, frame lengths and the
// module's line-speed codes.
namespace ModbusFrame {

enum Function : quint8 {
    ReadHoldingRegisters = 0x03,
    WriteSingleRegister = 0x06,
    WriteMultipleRegisters = 0x10,
    ExceptionFlag = 0x80,
};

// Every exception code of the Modbus application protocol.
enum Exception : quint8 {
    IllegalFunction = 1,
    IllegalDataAddress = 2,
    IllegalDataValue = 3,
    ServerDeviceFailure = 4,
    Acknowledge = 5,
    ServerDeviceBusy = 6,
    MemoryParityError = 8,
    GatewayPathUnavailable = 10,
    GatewayTargetFailedToRespond = 11,
};

enum Register : quint16 {
    TemperatureRegister = 0x0000,   // signed, tenths of a degree Celsius
    HumidityRegister = 0x0001,      // unsigned, tenths of a percent
    DewPointRegister = 0x0002,      // signed, tenths of a degree Celsius
    AddressRegister = 0x0100,
    BaudRegister = 0x0101,          // speed code 1..5
};

const quint8 BroadcastAddress = 0;   // the module answers it too
const int MinAddress = 1;
const int MaxAddress = 247;
const int MeasurementRegisters = 3;
const int MaxFrameLength = 256;      // the longest RTU frame there can be
const int RequestLength = 8;         // 0x03 and 0x06 requests, 0x06 echo
const int ExceptionLength = 5;

quint16 crc(const QByteArray &data);
QByteArray withCrc(QByteArray frame);
bool crcMatches(const QByteArray &frame);
// The big-endian 16-bit value at this position; the frame must reach it.
quint16 word(const QByteArray &frame, int at);

// Address, function, register and count or value, with the check value.
QByteArray request(quint8 slave, quint8 function, quint16 reg, quint16 value);
// The module's four requests.
QByteArray measurementRequest(quint8 address);
// The address and speed requests go through address 0, which the module
// answers whatever its own address, unless sent to one module's own.
QByteArray addressRequest(quint8 to = BroadcastAddress);
QByteArray addressWrite(quint16 newAddress, quint8 to = BroadcastAddress);
QByteArray baudWrite(quint16 code, quint8 to = BroadcastAddress);

// The answer to a read (0x03): the registers' values, high byte first.
QByteArray readReply(quint8 slave, const QVector<quint16> &values);
QByteArray exception(quint8 slave, quint8 function, quint8 code);
QString exceptionName(int code);

// How long a frame that starts with these bytes is; 0 while that cannot be
// told yet, -1 when no frame can start like this (a function a request or
// reply never has, or a length no RTU frame can have). Requests with a
// function of unknown length are told by silence alone: 0.
int requestLength(const QByteArray &start);
int replyLength(const QByteArray &start);

// The module's speed codes 1..5; 0 for anything else.
int baudForCode(int code);
int codeForBaud(int baud);
QString moduleSpeeds();   // "1200, 2400, 4800, 9600 or 19200"
// The order a module of unknown speed is looked for in: the usual speed
// first, then the others from the most to the least likely.
QList<int> searchOrder();
QString speedList(const QList<int> &speeds);   // "9600, 19200 bit/s"

} // namespace ModbusFrame

#endif // MODBUSFRAME_H
