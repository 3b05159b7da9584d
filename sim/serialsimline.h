#ifndef SERIALSIMLINE_H
#define SERIALSIMLINE_H

#include "simline.h"

#include <QTimer>

class QSerialPort;

// An existing serial device, at the modules' speed.
class SerialSimLine : public SimLine
{
    Q_OBJECT

public:
    explicit SerialSimLine(const QString &path, QObject *parent = nullptr);

    QString open(int baud) override;
    QString write(const QByteArray &bytes) override;
    void setBaudRate(int baud) override;

private:
    void checkHangUp();
    void fail(const QString &reason);

    QString m_path;
    QSerialPort *m_port;
    QTimer m_hangUpCheck;
};

#endif // SERIALSIMLINE_H
