#ifndef SENSORMODULE_H
#define SENSORMODULE_H

#include <QByteArray>
#include <QtGlobal>

// The sensor module's side of the protocol: its registers and its answers to
// complete request frames. Knows nothing about the line.
class SensorModule
{
public:
    struct Answer
    {
        QByteArray reply;        // empty: stay silent
        int newAddress = 0;      // applies once the reply has gone out
        int newBaudCode = 0;     // likewise; 1..5
    };

    int address = 1;
    int baudCode = 4;            // 9600
    qint16 temperature = 235;    // tenths of a degree Celsius
    quint16 humidity = 450;      // tenths of a percent
    qint16 dewPoint = 0;

    // How many bytes a frame that starts with these bytes has, or 0 while
    // that cannot be told yet (or never: unknown function).
    static int expectedLength(const QByteArray &start);
    Answer handle(const QByteArray &frame) const;

    static quint16 crc(const QByteArray &data);
    static QByteArray withCrc(QByteArray frame);
    static int baudForCode(int code);
    static double magnusDewPoint(double celsius, double relativeHumidity);

private:
    QByteArray exception(quint8 function, quint8 code) const;
    bool readRegister(int reg, quint16 *value) const;
};

#endif // SENSORMODULE_H
