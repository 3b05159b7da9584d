#ifndef SCRIPTEDLINE_H
#define SCRIPTEDLINE_H

// A line that lies on purpose, played on a virtual clock: bytes, an
// interrupt or a port failure at given times after given requests.
#include "byteline.h"

#include <QList>
#include <QMetaType>
#include <QMultiMap>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>

// Bytes, an interrupt or a port failure, this long after the n-th request.
struct Arrival
{
    enum Kind { Bytes, Interrupt, Failure };
    int request;
    double afterMs;
    QByteArray bytes;
    Kind kind = Bytes;
};
Q_DECLARE_METATYPE(QList<Arrival>)

class ScriptedLine : public ByteLine
{
public:
    explicit ScriptedLine(const QList<Arrival> &script) : m_script(script) {}

    QList<qint64> writtenAt;
    // Arrivals for each request as it goes out, besides the script's.
    std::function<QList<Arrival>(int n, const QByteArray &request, int baud)> module;

    bool write(const QByteArray &request) override
    {
        const QList<Arrival> due = m_script + (module ? module(writtenAt.size(), request, m_baud) : QList<Arrival>());
        for (const Arrival &a : due) {
            if (a.request == writtenAt.size())
                m_due.insert(m_clock + qint64(std::ceil(a.afterMs)), a);
        }
        writtenAt << m_clock;
        return m_state != Failed;
    }
    Wait read(int ms, QByteArray *bytes) override
    {
        if (m_state != Bytes || m_due.isEmpty() || m_due.firstKey() > m_clock + ms) {
            m_clock += ms;   // once interrupted or failed, every wait says so at its end
            return m_state == Bytes ? Quiet : m_state;
        }
        m_clock = qMax(m_clock, m_due.firstKey());
        const Arrival next = m_due.first();
        m_due.erase(m_due.begin());
        m_state = next.kind == Arrival::Interrupt ? Interrupted : next.kind == Arrival::Failure ? Failed : Bytes;
        *bytes = next.bytes;
        return m_state;
    }
    bool setBaudRate(int baud) override { m_baud = baud; return true; }
    int baudRate() const override { return m_baud; }
    bool reopen() override { return false; }
    QString errorString() const override { return "unplugged"; }
    qint64 now() const override { return m_clock; }
    int silenceFloorMs() const override { return floorMs; }

    int floorMs = LineTime::AdapterFloorMs;

private:
    QList<Arrival> m_script;
    QMultiMap<qint64, Arrival> m_due;
    qint64 m_clock = 0;
    int m_baud = 9600;
    Wait m_state = Bytes;
};

// A stream in memory standing in for standard output or error.
struct Captured
{
    char *data = nullptr;
    size_t size = 0;
    FILE *file = open_memstream(&data, &size);
    ~Captured() { fclose(file); free(data); }
    QString text() { fflush(file); return QString::fromUtf8(data, int(size)); }
};

#endif // SCRIPTEDLINE_H
