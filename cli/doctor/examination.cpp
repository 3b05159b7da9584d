#include "examination.h"

#include "adapterinfo.h"
#include "byteline.h"
#include "console.h"
#include "modbusframe.h"
#include "modbusmaster.h"
#include "quietline.h"

using namespace ModbusFrame;
using Probe = Observations::Probe;

Examination::Examination(ByteLine &line, Console &console, const DoctorOptions &options)
    : m_line(line), m_console(console), m_options(options), m_probe(line)
{
    m_probe.verbose = options.verbose;
}

Observations Examination::run()
{
    m_deadline = m_line.now() + BudgetMs;
    m_stop = None;
    m_seen = Observations();
    m_seen.tcp = m_options.tcp;
    m_seen.adapter = AdapterInfo::describe(m_options.port);
    if (sweep()) {
        const Diagnosis found(m_seen, m_options);
        if (found.baud() && found.address() && series(found.baud(), found.address()))
            verify(Diagnosis(m_seen, m_options));
    }
    m_console.progress(QString());
    return m_seen;
}

// The probe's request sent at the line's speed, its result kept.
bool Examination::send(Probe *probe)
{
    probe->result = m_probe.send(probe->request, m_options.waitMs);
    if (probe->result.verdict == LineProbe::Interrupted)
        m_stop = Interrupted;
    if (probe->result.verdict == LineProbe::PortLost)
        m_stop = PortLost;
    m_seen.probes << *probe;
    return m_stop == None;
}

bool Examination::outOfTime() const
{
    return m_line.now() >= m_deadline;
}

QList<int> Examination::speeds() const
{
    QList<int> all = searchOrder();
    if (m_options.baudGiven)
        all.move(all.indexOf(m_options.baud), 0);
    return all;
}

// The address (or address 0) at every speed until something answers or
// several modules are heard answering at once.
bool Examination::sweep()
{
    const QByteArray request = m_options.address ? measurementRequest(quint8(m_options.address)) : addressRequest();
    for (int baud : speeds()) {
        if (outOfTime()) {
            m_seen.outOfTime = true;
            break;
        }
        m_console.progress(QString("asking at %1 bit/s").arg(baud));
        if (!m_line.setBaudRate(baud)) {
            m_stop = PortLost;
            return false;
        }
        Diagnosis::SpeedOutcome outcome = Diagnosis::Open;
        if (!trySpeed(request, baud, &outcome))
            return false;
        if (outcome == Diagnosis::Answered || outcome == Diagnosis::Collision)
            break;
    }
    return true;
}

bool Examination::trySpeed(const QByteArray &request, int baud, Diagnosis::SpeedOutcome *outcome)
{
    QList<Probe> here;
    while (*outcome == Diagnosis::Open) {
        Probe probe{Probe::Sweep, baud, m_options.address, request, {}};
        if (!send(&probe))
            return false;
        here << probe;
        *outcome = Diagnosis::atSpeed(here);
    }
    return true;
}

// The measurement asked SeriesLength times: turnaround and quality.
bool Examination::series(int baud, int address)
{
    const QByteArray request = measurementRequest(quint8(address));
    const qint64 stopAt = qMin(m_deadline, m_line.now() + SeriesBudgetMs);
    int asked = 0;
    for (; asked < SeriesLength && m_line.now() < stopAt; ++asked) {
        m_console.progress(QString("timing and quality at %1 bit/s: request %2 of %3").arg(baud).arg(asked + 1).arg(SeriesLength));
        Probe probe{Probe::Series, baud, address, request, {}};
        if (!send(&probe))
            return false;
        // A late reply must not be taken for the next request's.
        if (probe.result.verdict == LineProbe::Silent && !quiet(m_options.waitMs))
            return false;
    }
    if (asked < SeriesLength)
        m_seen.outOfTime = true;
    return true;
}

// Until the line has been quiet this long, or for four times that at most.
bool Examination::quiet(int ms)
{
    const qint64 now = m_line.now();
    switch (QuietLine::waitFor(m_line, now, ms, now + 4 * qint64(ms))) {
    case ByteLine::Interrupted:
        m_stop = Interrupted;
        return false;
    case ByteLine::Failed:
        m_stop = PortLost;
        return false;
    case ByteLine::Bytes:
    case ByteLine::Quiet:
        break;
    }
    return true;
}

// The read command offered, tried once as it stands.
void Examination::verify(const Diagnosis &sofar)
{
    m_console.progress("trying the read command");
    ModbusMaster::LineOptions options;
    options.localEcho = sofar.echo();
    options.verbose = m_options.verbose;
    ModbusMaster master(m_line, options);
    ModbusMaster::Asking once;
    once.timeoutMs = sofar.safeTimeout();
    once.retries = 0;
    const ModbusMaster::Outcome outcome = master.exchange(measurementRequest(quint8(sofar.address())), once);
    if (outcome.status == ModbusMaster::Interrupted)
        m_stop = Interrupted;
    m_seen.verification = outcome.status;
}
