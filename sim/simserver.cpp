#include "simserver.h"

#include "linetime.h"
#include "modbusframe.h"
#include "trafficline.h"

#include <QSerialPort>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {
// Replies held back by --delay-ms or a split, at most: a master that floods
// the line does not pile them up.
const int MaxWaitingReplies = 16;
// What a serial device may hold unsent before replies count as lost.
const int MaxUnsentBytes = 4 * ModbusFrame::MaxFrameLength;
// After a reply has left the line, before the device changes speed.
const int SpeedSwitchMarginMs = 20;
const int HangUpCheckMs = 500;
}

SimServer::SimServer(const SensorModule &module, const Faults &faults, quint32 seed, QObject *parent)
    : QObject(parent)
    , m_module(module)
    , m_faults(faults)
    , m_random(seed)
    , m_baud(ModbusFrame::baudForCode(module.baudCode))
    , m_out(STDOUT_FILENO)
    , m_err(STDERR_FILENO)
{
    m_silence.setSingleShot(true);
    connect(&m_silence, &QTimer::timeout, this, &SimServer::lineSilent);
    m_speedSwitch.setSingleShot(true);
    connect(&m_speedSwitch, &QTimer::timeout, this, &SimServer::switchSpeed);
    connect(&m_drift, &QTimer::timeout, this, &SimServer::drift);
    m_temperature = m_module.temperature / 10.0;
    m_humidity = m_module.humidity / 10.0;
}

SimServer::~SimServer()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

QString SimServer::attach(const QString &path)
{
    if (!path.isEmpty()) {
        m_port = new QSerialPort(path, this);
        if (!m_port->open(QIODevice::ReadWrite) || !m_port->setBaudRate(m_baud)
            || !m_port->setDataBits(QSerialPort::Data8) || !m_port->setParity(QSerialPort::NoParity)
            || !m_port->setStopBits(QSerialPort::OneStop) || !m_port->setFlowControl(QSerialPort::NoFlowControl)) {
            m_error = m_port->errorString();
            return QString();
        }
        connect(m_port, &QSerialPort::readyRead, this, [this] { receive(m_port->readAll()); });
        connect(m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
            if (error == QSerialPort::ResourceError)
                failLine(m_port->errorString());
        });
        connect(&m_hangUpCheck, &QTimer::timeout, this, &SimServer::checkHangUp);
        m_hangUpCheck.start(HangUpCheckMs);
        return path;
    }

    char name[128] = {};
    struct termios raw;
    ::memset(&raw, 0, sizeof raw);
    ::cfmakeraw(&raw);
    if (::openpty(&m_master, &m_slave, name, &raw, nullptr) != 0) {
        m_error = QString::fromLocal8Bit(strerror(errno));
        return QString();
    }
    // Our own slave descriptor stays open, so the terminal is not hung up
    // each time the master closes it.
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char chunk[512];
        ssize_t n;
        while ((n = ::read(m_master, chunk, sizeof chunk)) > 0)
            receive(QByteArray(chunk, int(n)));
    });
    return QString::fromLocal8Bit(name);
}

void SimServer::setDrift(bool drift)
{
    if (drift)
        m_drift.start(1000);
    else
        m_drift.stop();
}

void SimServer::receive(const QByteArray &bytes)
{
    m_requests.feed(bytes);
    answerRequests();
    if (m_requests.held() > 0)
        m_silence.start(LineTime::silenceMs(m_baud));
    else
        m_silence.stop();
}

void SimServer::lineSilent()
{
    m_silence.stop();
    m_requests.silence();
    answerRequests();
    if (m_verbose && m_requests.dropped() != m_droppedShown) {
        log(QString("morvane-sim: %1 bytes skipped, no request").arg(m_requests.dropped() - m_droppedShown));
        m_droppedShown = m_requests.dropped();
    }
}

void SimServer::answerRequests()
{
    while (m_requests.hasFrame())
        answer(m_requests.takeFrame());
}

// On a pseudo-terminal of our own the master's line speed can be read: a
// request at another speed than ours would be garbage on a real line.
bool SimServer::masterAtOurSpeed()
{
    struct termios line;
    if (m_slave < 0 || ::tcgetattr(m_slave, &line) != 0)
        return true;
    static const QList<QPair<speed_t, int>> speeds = {
        {B1200, 1200}, {B2400, 2400}, {B4800, 4800}, {B9600, 9600}, {B19200, 19200},
        {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
    int theirs = 0;
    for (const auto &s : speeds) {
        if (s.first == cfgetospeed(&line))
            theirs = s.second;
    }
    if (theirs == m_baud)
        return true;
    if (m_verbose)
        log(QString("morvane-sim: no answer, the line runs at %1 bit/s, the module at %2").arg(theirs).arg(m_baud));
    return false;
}

void SimServer::answer(const QByteArray &request)
{
    if (m_verbose)
        log(trafficLine(request, true));
    if (!masterAtOurSpeed())
        return;
    const int oldBaud = m_baud;
    const QByteArray reply = m_module.handle(request);
    if (reply.isEmpty())
        return;
    if (!chance(m_faults.drop)) {
        QByteArray out = reply;
        if (chance(m_faults.corrupt)) {
            // One bit of the body flips; the check value stays as it was.
            const int at = int(m_random.bounded(quint32(out.size() - 2)));
            out[at] = char(out.at(at) ^ (1 << m_random.bounded(8)));
        }
        if (chance(m_faults.noise))
            out.prepend(char(m_random.bounded(256)));
        if (m_faults.delayMs > 0)
            sendLater(m_faults.delayMs, out, true);
        else
            send(out);
    }
    // The reply is on its way at the old speed (with a stray byte, perhaps);
    // the device follows the module's new speed once it has left.
    m_baud = ModbusFrame::baudForCode(m_module.baudCode);
    if (m_baud != oldBaud) {
        const int gapMs = m_faults.split > 0 ? m_faults.gapMs : 0;
        m_speedSwitch.start(m_faults.delayMs + gapMs + LineTime::wireMs(reply.size() + 1, oldBaud) + SpeedSwitchMarginMs);
    }
}

void SimServer::sendLater(int ms, const QByteArray &bytes, bool whole)
{
    if (m_later >= MaxWaitingReplies) {
        if (m_verbose)
            log(QString("morvane-sim: reply dropped, %1 already wait to go out").arg(m_later));
        return;
    }
    ++m_later;
    QTimer::singleShot(ms, this, [this, bytes, whole] {
        --m_later;
        if (whole)
            send(bytes);
        else
            transmit(bytes);
    });
}

void SimServer::send(const QByteArray &bytes)
{
    if (m_verbose)
        log(trafficLine(bytes, false));
    if (bytes.size() > 1 && chance(m_faults.split)) {
        const int cut = 1 + int(m_random.bounded(quint32(bytes.size() - 1)));
        transmit(bytes.left(cut));
        sendLater(m_faults.gapMs, bytes.mid(cut), false);
    } else {
        transmit(bytes);
    }
}

// A line that takes no more is told once, when it starts and when it ends.
void SimServer::transmit(const QByteArray &bytes)
{
    emit transmitted(bytes);
    const QString refusal = lineRefusal(bytes);
    if (refusal.isEmpty()) {
        if (m_lost > 0)
            m_err.print(QString("morvane-sim: replies go out again, %1 lost").arg(m_lost));
        m_lost = 0;
    } else if (m_lost++ == 0) {
        m_err.print("morvane-sim: write failed (" + refusal + "), the master reads nothing? "
                    "Replies are lost until one goes out.");
    }
}

// Writes to the line; why it did not take it all, or nothing.
QString SimServer::lineRefusal(const QByteArray &bytes)
{
    if (m_port) {
        if (m_port->bytesToWrite() > MaxUnsentBytes)
            return QString("%1 bytes wait to go out").arg(m_port->bytesToWrite());
        return m_port->write(bytes) == bytes.size() ? QString() : m_port->errorString();
    }
    if (m_master < 0)
        return QString();   // no line attached
    const ssize_t n = ::write(m_master, bytes.constData(), size_t(bytes.size()));
    if (n == bytes.size())
        return QString();
    return n < 0 ? QString::fromLocal8Bit(strerror(errno)) : QString("%1 of %2 bytes written").arg(n).arg(bytes.size());
}

// A device that goes away may hang up without an error Qt reports: a
// pseudo-terminal whose other end closed reads end-of-file, again and again.
void SimServer::checkHangUp()
{
    struct pollfd line = {int(m_port->handle()), 0, 0};
    if (::poll(&line, 1, 0) == 1 && (line.revents & (POLLHUP | POLLERR | POLLNVAL)))
        failLine("the line hung up");
}

void SimServer::failLine(const QString &reason)
{
    m_hangUpCheck.stop();
    m_port->close();
    emit lineFailed(reason);
}

void SimServer::switchSpeed()
{
    if (m_port)
        m_port->setBaudRate(m_baud);
}

void SimServer::drift()
{
    m_temperature = qBound(-20.0, m_temperature + (m_random.generateDouble() - 0.5) * 0.2, 60.0);
    m_humidity = qBound(5.0, m_humidity + (m_random.generateDouble() - 0.5) * 0.6, 95.0);
    m_module.temperature = qint16(qRound(m_temperature * 10));
    m_module.humidity = quint16(qRound(m_humidity * 10));
    if (!m_fixedDewPoint)
        m_module.dewPoint = qint16(qRound(SensorModule::magnusDewPoint(m_temperature, m_humidity) * 10));
}

void SimServer::log(const QString &line)
{
    m_out.print(line);
}
