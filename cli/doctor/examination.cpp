#include "examination.h"

#include "adapterinfo.h"
#include "byteline.h"
#include "console.h"
#include "modbusframe.h"
#include "modbusmaster.h"

using namespace ModbusFrame;
using Probe = Observations::Probe;

namespace {
// A late reply's own successor may come this much after a whole wait.
const int LateMarginMs = 100;
}

Examination::Examination(ByteLine &line, Console &console, const DoctorOptions &options)
    : m_line(line), m_console(console), m_options(options), m_probe(line)
{
    m_probe.verbose = options.verbose;
    m_probe.tcp = options.tcp;
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

// The probe's request sent at the line's speed, its result kept. A reply
// after an unanswered request may be that request's, late: the line is
// listened to past it for as long again as the requests were apart, and a
// reply that comes then makes this probe's late. So is a series probe met
// by silence.
bool Examination::ask(Probe *probe, bool afterSilence)
{
    probe->result = m_probe.send(probe->request, m_options.waitMs);
    if (stopped(probe->result.verdict))
        return false;
    const LineProbe::Verdict verdict = probe->result.verdict;
    const bool answered = verdict == LineProbe::Answer || verdict == LineProbe::Refused;
    if ((answered && afterSilence) || (probe->stage == Probe::Series && verdict == LineProbe::Silent)) {
        LineProbe::Result late = probe->result;
        const int apart = answered ? qRound(probe->result.turnaroundMs) + LateMarginMs : 0;
        if (stopped(m_probe.lateReply(m_options.waitMs + apart, &late)))
            return false;
        if (late.verdict == LineProbe::Late)
            probe->result = late;
    }
    m_seen.probes << *probe;
    return true;
}

bool Examination::stopped(LineProbe::Verdict verdict)
{
    if (verdict == LineProbe::Interrupted)
        m_stop = Interrupted;
    if (verdict == LineProbe::PortLost)
        m_stop = PortLost;
    return m_stop != None;
}

bool Examination::outOfTime() const
{
    return m_line.now() >= m_deadline;
}

// Over TCP the server sets the line's speed: one is asked, for the timing.
QList<int> Examination::speeds() const
{
    if (m_options.tcp)
        return {m_options.baud};
    QList<int> all = searchOrder();
    if (m_options.baudGiven)
        all.move(all.indexOf(m_options.baud), 0);
    return all;
}

// Every speed until something answers, several modules are heard answering
// at once, or what answers speaks Modbus TCP.
bool Examination::sweep()
{
    for (int baud : speeds()) {
        if (outOfTime()) {
            m_seen.outOfTime = true;
            break;
        }
        m_console.progress(m_options.tcp ? QString("asking through the server") : QString("asking at %1 bit/s").arg(baud));
        if (!m_line.setBaudRate(baud)) {
            m_stop = PortLost;
            return false;
        }
        Diagnosis::SpeedOutcome outcome = Diagnosis::Open;
        if (!trySpeed(baud, &outcome))
            return false;
        if (outcome == Diagnosis::Answered || outcome == Diagnosis::Collision || outcome == Diagnosis::ModbusTcp)
            break;
    }
    return true;
}

bool Examination::trySpeed(int baud, Diagnosis::SpeedOutcome *outcome)
{
    QList<Probe> here;
    while (*outcome == Diagnosis::Open) {
        const int address = Diagnosis::askedAt(here.size(), m_options.address);
        Probe probe{Probe::Sweep, baud, address, address ? measurementRequest(quint8(address)) : addressRequest(), {}};
        if (!ask(&probe, !here.isEmpty() && here.last().result.verdict == LineProbe::Silent))
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
        m_console.progress(QString("timing and quality: request %1 of %2").arg(asked + 1).arg(SeriesLength));
        Probe probe{Probe::Series, baud, address, request, {}};
        if (!ask(&probe, false))
            return false;
    }
    if (asked < SeriesLength)
        m_seen.outOfTime = true;
    return true;
}

// The read command offered, run as it stands until it fails, VerifyTries
// times at most.
void Examination::verify(const Diagnosis &sofar)
{
    ModbusMaster::LineOptions options;
    options.localEcho = sofar.echo();
    options.verbose = m_options.verbose;
    ModbusMaster master(m_line, options);
    ModbusMaster::Asking asking;
    asking.timeoutMs = sofar.safeTimeout();
    asking.retries = sofar.retries();
    const QByteArray request = measurementRequest(quint8(sofar.address()));
    for (int i = 0; i < VerifyTries; ++i) {
        m_console.progress(QString("trying the read command: %1 of %2").arg(i + 1).arg(VerifyTries));
        const ModbusMaster::Status status = master.exchange(request, asking).status;
        if (status == ModbusMaster::Interrupted || status == ModbusMaster::PortLost) {
            m_stop = status == ModbusMaster::Interrupted ? Interrupted : PortLost;
            return;
        }
        ++m_seen.tried;
        if (status != ModbusMaster::Ok)
            return;
        ++m_seen.worked;
    }
}
