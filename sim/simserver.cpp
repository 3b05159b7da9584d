#include "simserver.h"

#include "linetime.h"
#include "modbusframe.h"
#include "trafficline.h"

#include <QSerialPort>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>

#include <cmath>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {
// Pieces of replies waiting for their time, at most: a master that floods
// the line does not pile them up.
const int MaxWaitingReplies = 16;
// What a serial device may hold unsent before replies count as lost.
const int MaxUnsentBytes = 4 * ModbusFrame::MaxFrameLength;
// After a reply has left the line, before the device changes speed.
const int SpeedSwitchMarginMs = 20;
const int HangUpCheckMs = 500;
}

SimServer::SimServer(const QVector<SensorModule> &modules, const Faults &faults, quint32 seed, QObject *parent)
    : QObject(parent)
    , m_bus(modules)
    , m_faults(faults)
    , m_random(seed)
    , m_baud(ModbusFrame::baudForCode(modules.first().baudCode))
    , m_out(STDOUT_FILENO)
    , m_err(STDERR_FILENO)
{
    m_silence.setSingleShot(true);
    connect(&m_silence, &QTimer::timeout, this, &SimServer::lineSilent);
    m_speedSwitch.setSingleShot(true);
    connect(&m_speedSwitch, &QTimer::timeout, this, &SimServer::switchSpeed);
    connect(&m_drift, &QTimer::timeout, this, &SimServer::drift);
    connect(&m_pacer, &LinePacer::due, this, &SimServer::transmit);
    for (const SensorModule &module : modules)
        m_walks.append({module.temperature / 10.0, module.humidity / 10.0});
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

QString SimServer::listen(const QHostAddress &host, quint16 port)
{
    m_listener = new QTcpServer(this);
    if (!m_listener->listen(host, port)) {
        m_error = m_listener->errorString();
        return QString();
    }
    connect(m_listener, &QTcpServer::newConnection, this, &SimServer::acceptConnection);
    const QHostAddress bound = m_listener->serverAddress();
    const QString name = bound.protocol() == QAbstractSocket::IPv6Protocol ? "[" + bound.toString() + "]" : bound.toString();
    return QString("tcp://%1:%2").arg(name).arg(m_listener->serverPort());
}

// One master at a time, as a serial device server set to one connection:
// another is closed at once rather than left waiting for its turn.
void SimServer::acceptConnection()
{
    while (QTcpSocket *socket = m_listener->nextPendingConnection()) {
        const QString peer = QString("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
        if (m_connection && connectionGone())
            connectionClosed();
        if (m_connection) {
            m_err.print("morvane-sim: connection from " + peer + " closed, one is served at a time");
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_connection = socket;
        // Bytes go on as the line gives them, as a device server passes
        // them: never held back waiting for the master's acknowledgement.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        if (m_verbose)
            log("morvane-sim: connection from " + peer);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { receive(socket->readAll()); });
        connect(socket, &QTcpSocket::disconnected, this, &SimServer::connectionClosed);
    }
}

// A master that closed and came straight back may be here before its close
// has been seen.
bool SimServer::connectionGone() const
{
    struct pollfd peer = {int(m_connection->socketDescriptor()), POLLRDHUP, 0};
    return ::poll(&peer, 1, 0) == 1 && (peer.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

// What was on its way is lost with the connection; the next one starts on
// a quiet line.
void SimServer::connectionClosed()
{
    m_connection->disconnect(this);
    m_connection->deleteLater();
    m_connection = nullptr;
    m_pacer.clear();
    m_requests.clear();
    m_silence.stop();
    if (m_verbose)
        log("morvane-sim: connection closed, listening");
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
    // A two-wire adapter hears its own request first, as it goes out.
    if (m_faults.localEcho)
        transmit(bytes);
    const double now = m_pacer.now();
    if (m_requests.held() == 0)
        m_heldSince = now;
    m_lastByteAt = now;
    m_requests.feed(bytes);
    answerRequests();
    // A master at a speed no module has still gets its silence timed.
    const int baud = lineBaud();
    if (m_requests.held() > 0)
        m_silence.start(LineTime::silenceMs(baud > 0 ? baud : m_baud));
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

// A request is over on the line when its last byte came, and with wire
// time no earlier than its bytes take from the first one (or from the end of
// the one before: a line carries one thing at a time).
void SimServer::answerRequests()
{
    while (m_requests.hasFrame()) {
        const QByteArray request = m_requests.takeFrame();
        double end = m_lastByteAt;
        const int baud = lineBaud();
        if (m_wireTime)
            end = qMax(end, qMax(m_heldSince, m_requestEnd) + request.size() * LineTime::characterMs(baud > 0 ? baud : m_baud));
        m_requestEnd = end;
        m_heldSince = m_lastByteAt;
        answer(request, end);
    }
}

// On a pseudo-terminal of our own the master's line speed can be read: a
// request at another speed than a module's is garbage to it, as on a real
// line. Elsewhere the line runs at the device's speed.
int SimServer::lineBaud() const
{
    struct termios line;
    if (m_slave < 0 || ::tcgetattr(m_slave, &line) != 0)
        return m_baud;
    static const QList<QPair<speed_t, int>> speeds = {
        {B1200, 1200}, {B2400, 2400}, {B4800, 4800}, {B9600, 9600}, {B19200, 19200},
        {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
    for (const auto &s : speeds) {
        if (s.first == cfgetospeed(&line))
            return s.second;
    }
    return 0;
}

void SimServer::answer(const QByteArray &request, double requestEnd)
{
    if (m_verbose)
        log(trafficLine(request, true));
    const int baud = lineBaud();
    const int oldBaud = m_baud;
    const ModuleBus::Answer answer = m_bus.handle(request, baud);
    if (answer.replies == 0) {
        if (m_verbose && answer.deaf) {
            for (const SensorModule &module : m_bus.modules()) {
                if (module.address == answer.deaf) {
                    log(QString("morvane-sim: no answer, the line runs at %1 bit/s, the module at %2")
                            .arg(baud).arg(ModbusFrame::baudForCode(module.baudCode)));
                    break;
                }
            }
        }
        return;
    }
    if (m_verbose && answer.replies > 1)
        log(QString("morvane-sim: %1 modules answer at once, the replies collide").arg(answer.replies));
    const QByteArray &reply = answer.reply;
    if (!chance(m_faults.drop)) {
        QByteArray out = reply;
        if (chance(m_faults.corrupt)) {
            // One bit of the body flips; the check value stays as it was.
            const int at = int(m_random.bounded(quint32(out.size() - 2)));
            out[at] = char(out.at(at) ^ (1 << m_random.bounded(8)));
        }
        if (chance(m_faults.noise))
            out.prepend(char(m_random.bounded(256)));
        garble(&out, baud);
        schedule(out, requestEnd + m_faults.turnaroundMs + m_faults.delayMs, baud);
    }
    // Behind a device server the line keeps the server's speed; a serial
    // device follows the module's new speed once the reply has left.
    if (m_listener)
        return;
    m_baud = answer.baudAfter;
    if (m_baud != oldBaud) {
        const double left = qMax(0.0, m_pacer.idleAt() - m_pacer.now());
        m_speedSwitch.start(int(std::ceil(left)) + LineTime::wireMs(reply.size() + 1, oldBaud) + SpeedSwitchMarginMs);
    }
}

// A long line without its terminating resistor, above some speed.
void SimServer::garble(QByteArray *bytes, int baud)
{
    if (m_faults.garbleAbove < 0 || baud <= m_faults.garbleAbove)
        return;
    for (int i = 0; i < bytes->size(); ++i) {
        if (chance(GarbleShare))
            (*bytes)[i] = char(bytes->at(i) ^ (1 + m_random.bounded(255)));
    }
}

void SimServer::schedule(const QByteArray &bytes, double startMs, int baud)
{
    if (m_pacer.waiting() >= MaxWaitingReplies) {
        if (m_verbose)
            log(QString("morvane-sim: reply dropped, %1 pieces already wait to go out").arg(m_pacer.waiting()));
        return;
    }
    if (m_verbose)
        log(trafficLine(bytes, false));
    const double characterMs = m_wireTime ? LineTime::characterMs(baud) : 0;
    if (bytes.size() > 1 && chance(m_faults.split)) {
        const int cut = 1 + int(m_random.bounded(quint32(bytes.size() - 1)));
        const double firstGone = m_pacer.queue(startMs, bytes.left(cut), characterMs);
        m_pacer.queue(firstGone + m_faults.gapMs, bytes.mid(cut), characterMs);
    } else {
        m_pacer.queue(startMs, bytes, characterMs);
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
    if (m_listener) {
        if (!m_connection)
            return QString();   // nobody to hear it
        if (m_connection->bytesToWrite() > MaxUnsentBytes)
            return QString("%1 bytes wait to go out").arg(m_connection->bytesToWrite());
        return m_connection->write(bytes) == bytes.size() ? QString() : m_connection->errorString();
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

// Each module its own random walk.
void SimServer::drift()
{
    for (int i = 0; i < m_walks.size(); ++i) {
        Walk &walk = m_walks[i];
        SensorModule &module = m_bus.modules()[i];
        walk.temperature = qBound(-20.0, walk.temperature + (m_random.generateDouble() - 0.5) * 0.2, 60.0);
        walk.humidity = qBound(5.0, walk.humidity + (m_random.generateDouble() - 0.5) * 0.6, 95.0);
        module.temperature = qint16(qRound(walk.temperature * 10));
        module.humidity = quint16(qRound(walk.humidity * 10));
        if (!m_fixedDewPoint)
            module.dewPoint = qint16(qRound(SensorModule::magnusDewPoint(walk.temperature, walk.humidity) * 10));
    }
}

void SimServer::log(const QString &line)
{
    m_out.print(line);
}
