#ifndef SIMSERVER_H
#define SIMSERVER_H

#include "frameassembler.h"
#include "linepacer.h"
#include "linewriter.h"
#include "modulebus.h"

#include <QObject>
#include <QRandomGenerator>
#include <QTimer>

class SimLine;

// Serves the modules of a bus on a line: cuts the requests out of what
// arrives, answers them, and misbehaves on purpose when asked to.
class SimServer : public QObject
{
    Q_OBJECT

public:
    struct Faults
    {
        double drop = 0, corrupt = 0, split = 0, noise = 0;
        int gapMs = 20;
        int delayMs = 0;
        int turnaroundMs = 0;     // from the request's last byte to the reply's first
        bool localEcho = false;   // the request's bytes come straight back
        int garbleAbove = -1;     // above this line speed replies are damaged; -1: never
    };
    // The share of a reply's bytes damaged above the garbling speed.
    static constexpr double GarbleShare = 0.1;

    SimServer(const QVector<SensorModule> &modules, const Faults &faults, quint32 seed, QObject *parent = nullptr);
    SimServer(const SensorModule &module, const Faults &faults, quint32 seed, QObject *parent = nullptr)
        : SimServer(QVector<SensorModule>{module}, faults, seed, parent) {}

    // Takes the line and opens it at the first module's speed. Returns the
    // name to give the master, or an empty string (the line's errorString()
    // says why).
    QString serve(SimLine *line);
    void setVerbose(bool verbose) { m_verbose = verbose; }
    void setDrift(bool drift);
    // One step of the wandering --drift makes every second; bench/make-log
    // takes a day of them at once.
    void drift();
    void setFixedDewPoint(bool fixed) { m_fixedDewPoint = fixed; }
    // Replies go out one character time per byte, and no earlier than the
    // request could have arrived on a real line.
    void setWireTime(bool wireTime) { m_wireTime = wireTime; }

    // What the line brings, and the end of a pause on it; the line served
    // calls these, and so may a test. Every byte sent is also told by
    // transmitted().
    void receive(const QByteArray &bytes);
    void lineSilent();
    int held() const { return m_requests.held(); }   // bytes that may yet become a request
    const SensorModule &module() const { return m_bus.modules().first(); }
    const ModuleBus &bus() const { return m_bus; }

signals:
    void transmitted(const QByteArray &bytes);
    void lineFailed(const QString &reason);   // the device went away

private:
    void answerRequests();
    int lineBaud() const;
    void answer(const QByteArray &request, double requestEnd);
    void garble(QByteArray *bytes, int baud);
    void schedule(const QByteArray &bytes, double startMs, int baud);
    void transmit(const QByteArray &bytes);
    void connectionClosed();
    void switchSpeed();
    bool chance(double p) { return p > 0 && m_random.generateDouble() < p; }
    void log(const QString &line);

    struct Walk
    {
        double temperature, humidity;
    };

    ModuleBus m_bus;
    QVector<Walk> m_walks;
    Faults m_faults;
    QRandomGenerator m_random;
    FrameAssembler m_requests{FrameAssembler::Requests};
    LinePacer m_pacer;
    QTimer m_silence;
    QTimer m_speedSwitch;
    QTimer m_drift;
    SimLine *m_line = nullptr;
    int m_baud;
    int m_lost = 0;              // replies the line did not take, this episode
    qint64 m_droppedShown = 0;   // junk bytes the log has told of
    double m_heldSince = 0;      // when the bytes held began to arrive (pacer's clock)
    double m_lastByteAt = 0;
    double m_requestEnd = 0;     // when the last request was over on the line
    bool m_verbose = false;
    bool m_fixedDewPoint = false;
    bool m_wireTime = false;
    LineWriter m_out;
    LineWriter m_err;
};

#endif // SIMSERVER_H
