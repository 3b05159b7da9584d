#ifndef UARTPARAM_H
#define UARTPARAM_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The state shared by the main window and the settings dialog. There is one
// instance, UartParam, and it is only ever touched from the GUI thread.
struct UartParamRecord
{
    QString PortName;             // port confirmed in the settings dialog
    QByteArray RxData;            // bytes received and not yet consumed
    quint8 DeviceAddress = 0;     // module address used for polling
    qint32 BaudRate = 0;          // line speed confirmed in the settings dialog
    bool ReplyReceived = false;   // a recognised reply came since the last request
    qint16 Temperature = 0;       // raw register, tenths of a degree Celsius
    quint16 Humidity = 0;         // raw register, tenths of a percent
    qint16 DewTemp = 0;           // raw register, tenths of a degree Celsius
};

extern UartParamRecord UartParam;

#endif // UARTPARAM_H
