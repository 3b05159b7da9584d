#ifndef SIMSERVER_H
#define SIMSERVER_H

#include "sensormodule.h"

#include <QObject>
#include <QRandomGenerator>
#include <QTimer>

class QSerialPort;
class QSocketNotifier;

// Serves a SensorModule on a line: frames the requests, answers them, and
// misbehaves on purpose when asked to.
class SimServer : public QObject
{
    Q_OBJECT

public:
    struct Faults
    {
        double drop = 0, corrupt = 0, split = 0, noise = 0;
        int gapMs = 20;
        int delayMs = 0;
    };

    SimServer(const SensorModule &module, const Faults &faults, quint32 seed, QObject *parent = nullptr);
    ~SimServer();

    // Opens an existing serial device, or creates a pseudo-terminal when the
    // path is empty. Returns the path to give the master, or an empty string.
    QString attach(const QString &path, int baud);
    QString errorString() const { return m_error; }
    void setVerbose(bool verbose) { m_verbose = verbose; }
    void setDrift(bool drift);
    void setFixedDewPoint(bool fixed) { m_fixedDewPoint = fixed; }

private:
    void onBytes(const QByteArray &bytes);
    void endOfFrame();
    bool masterAtOurSpeed() const;
    void answer(const QByteArray &request);
    void send(const QByteArray &bytes);
    void transmit(const QByteArray &bytes);
    void drift();
    bool chance(double p) { return p > 0 && m_random.generateDouble() < p; }
    void log(const char *direction, const QByteArray &bytes) const;

    SensorModule m_module;
    Faults m_faults;
    QRandomGenerator m_random;
    QByteArray m_frame;
    QTimer m_silence;
    QTimer m_drift;
    QSerialPort *m_port = nullptr;
    QSocketNotifier *m_notifier = nullptr;
    int m_master = -1;
    int m_slave = -1;
    int m_baud = 9600;
    bool m_verbose = false;
    bool m_fixedDewPoint = false;
    double m_temperature = 0;
    double m_humidity = 0;
    QString m_error;
};

#endif // SIMSERVER_H
