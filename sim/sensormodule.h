#ifndef SENSORMODULE_H
#define SENSORMODULE_H

#include <QByteArray>
#include <QtGlobal>

// The sensor module's side of the protocol: its registers and its answers to
// complete request frames. Knows nothing about the line.
class SensorModule
{
public:
    // The address on replies to requests sent through address 0. Modules of
    // this kind differ: most echo a successful single write from 0 and
    // answer everything else from their own address.
    enum EchoAddress { Mixed, Own, Zero };

    int address = 1;
    int baudCode = 4;            // 9600
    qint16 temperature = 235;    // tenths of a degree Celsius
    quint16 humidity = 450;      // tenths of a percent
    qint16 dewPoint = 0;
    EchoAddress echoAddress = Mixed;

    // The reply to a request (empty: stay silent). A write that is answered
    // has been applied; one that is refused has changed nothing. The reply
    // goes out at the address and speed the request came with.
    QByteArray handle(const QByteArray &request);

    static double magnusDewPoint(double celsius, double relativeHumidity);

private:
    struct Write
    {
        int reg;
        quint16 value;
    };

    QByteArray read(const QByteArray &request) const;
    QByteArray write(const QByteArray &request);
    bool readRegister(int reg, quint16 *value) const;
    static bool valueAllowed(const Write &w);
    void apply(const Write &w);
    quint8 replyAddress(const QByteArray &request, bool successfulSingleWrite) const;
    QByteArray refusal(const QByteArray &request, quint8 code) const;
};

#endif // SENSORMODULE_H
