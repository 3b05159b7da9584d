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

    Answer handle(const QByteArray &frame) const;

    static double magnusDewPoint(double celsius, double relativeHumidity);

private:
    QByteArray exception(quint8 function, quint8 code) const;
    bool readRegister(int reg, quint16 *value) const;
};

#endif // SENSORMODULE_H
