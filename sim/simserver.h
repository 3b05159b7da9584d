#ifndef SIMSERVER_H
#define SIMSERVER_H

#include "linewriter.h"
#include "frameassembler.h"
#include "sensormodule.h"

#include <QObject>
#include <QRandomGenerator>
#include <QTimer>

class QSerialPort;
class QSocketNotifier;

// Serves a SensorModule on a line: cuts the requests out of what arrives,
// answers them, and misbehaves on purpose when asked to.
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

    // Opens an existing serial device at the module's speed, or creates a
    // pseudo-terminal when the path is empty. Returns the path to give the
    // master, or an empty string.
    QString attach(const QString &path);
    QString errorString() const { return m_error; }
    void setVerbose(bool verbose) { m_verbose = verbose; }
    void setDrift(bool drift);
    void setFixedDewPoint(bool fixed) { m_fixedDewPoint = fixed; }

    // What the line brings, and the end of a pause on it; the attached line
    // calls these, and so may a test. Every reply is also told by
    // transmitted().
    void receive(const QByteArray &bytes);
    void lineSilent();
    int held() const { return m_requests.held(); }   // bytes that may yet become a request
    const SensorModule &module() const { return m_module; }

signals:
    void transmitted(const QByteArray &bytes);
    void lineFailed(const QString &reason);   // the device went away

private:
    void answerRequests();
    bool masterAtOurSpeed();
    void answer(const QByteArray &request);
    void sendLater(int ms, const QByteArray &bytes, bool whole);
    void send(const QByteArray &bytes);
    void transmit(const QByteArray &bytes);
    QString lineRefusal(const QByteArray &bytes);
    void switchSpeed();
    void checkHangUp();
    void failLine(const QString &reason);
    void drift();
    bool chance(double p) { return p > 0 && m_random.generateDouble() < p; }
    void log(const QString &line);

    SensorModule m_module;
    Faults m_faults;
    QRandomGenerator m_random;
    FrameAssembler m_requests{FrameAssembler::Requests};
    QTimer m_silence;
    QTimer m_speedSwitch;
    QTimer m_hangUpCheck;
    QTimer m_drift;
    QSerialPort *m_port = nullptr;
    QSocketNotifier *m_notifier = nullptr;
    int m_master = -1;
    int m_slave = -1;
    int m_baud;
    int m_later = 0;          // replies and pieces waiting for their time
    int m_lost = 0;           // replies the line did not take, this episode
    qint64 m_droppedShown = 0;   // junk bytes the log has told of
    bool m_verbose = false;
    bool m_fixedDewPoint = false;
    double m_temperature = 0;
    double m_humidity = 0;
    QString m_error;
    LineWriter m_out;
    LineWriter m_err;
};

#endif // SIMSERVER_H
