#ifndef SIMLINE_H
#define SIMLINE_H

#include <QObject>

class QIODevice;

// The line the simulator serves its modules on: bytes in as they come,
// bytes out, and the end of the line when the device goes away.
class SimLine : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // The line's speed is the device's: the master's own cannot be seen.
    static constexpr int SpeedUnseen = -1;

    // Opens the line, a serial device at this speed. Returns the name to
    // give the master, or an empty string (errorString() says why).
    virtual QString open(int baud) = 0;
    // Why the line did not take all the bytes, or an empty string.
    virtual QString write(const QByteArray &bytes) = 0;
    // The device follows a module that changes speed.
    virtual void setBaudRate(int) {}
    // False where the line's speed is another device's to set.
    virtual bool followsModuleSpeed() const { return true; }
    // The speed the master's end runs at, 0 for one no module has.
    virtual int seenBaud() const { return SpeedUnseen; }
    QString errorString() const { return m_error; }

signals:
    void received(const QByteArray &bytes);
    void failed(const QString &reason);   // the device went away
    // A master behind a network connection comes and goes.
    void connectionOpened(const QString &peer);
    void connectionRefused(const QString &peer);
    void connectionClosed();

protected:
    void setErrorString(const QString &error) { m_error = error; }
    // Writes to a device that queues what it cannot send yet, up to a
    // bound beyond which replies count as lost.
    static QString writeQueued(QIODevice *device, const QByteArray &bytes);

private:
    QString m_error;
};

#endif // SIMLINE_H
