#include "simserver.h"

#include "modbusframe.h"

#include <QDateTime>
#include <QSerialPort>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

SimServer::SimServer(const SensorModule &module, const Faults &faults, quint32 seed, QObject *parent)
    : QObject(parent)
    , m_module(module)
    , m_faults(faults)
    , m_random(seed)
{
    m_silence.setSingleShot(true);
    connect(&m_silence, &QTimer::timeout, this, &SimServer::endOfFrame);
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

QString SimServer::attach(const QString &path, int baud)
{
    m_baud = baud;
    if (!path.isEmpty()) {
        m_port = new QSerialPort(path, this);
        if (!m_port->open(QIODevice::ReadWrite)) {
            m_error = m_port->errorString();
            return QString();
        }
        m_port->setBaudRate(baud);
        m_port->setDataBits(QSerialPort::Data8);
        m_port->setParity(QSerialPort::NoParity);
        m_port->setStopBits(QSerialPort::OneStop);
        m_port->setFlowControl(QSerialPort::NoFlowControl);
        connect(m_port, &QSerialPort::readyRead, this, [this] { onBytes(m_port->readAll()); });
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
            onBytes(QByteArray(chunk, int(n)));
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

void SimServer::onBytes(const QByteArray &bytes)
{
    m_frame += bytes;
    const int length = ModbusFrame::requestLength(m_frame);
    if (length > 0 && m_frame.size() >= length) {
        endOfFrame();
        return;
    }
    // 3.5 characters of 11 bits; never below what a timer can resolve.
    m_silence.start(qMax(2, 38500 / m_baud));
}

void SimServer::endOfFrame()
{
    m_silence.stop();
    const QByteArray request = m_frame;
    m_frame.clear();
    if (request.isEmpty())
        return;
    log("RX", request);
    answer(request);
}

// On a pseudo-terminal of our own the master's line speed can be read: a
// request at another speed than ours would be garbage on a real line.
bool SimServer::masterAtOurSpeed() const
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
    if (m_verbose) {
        printf("%s  no answer: the line runs at %d bit/s, the module at %d\n",
               qPrintable(QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss")), theirs, m_baud);
        fflush(stdout);
    }
    return false;
}

void SimServer::answer(const QByteArray &request)
{
    if (!masterAtOurSpeed())
        return;
    const SensorModule::Answer answer = m_module.handle(request);
    if (answer.reply.isEmpty())
        return;
    if (!chance(m_faults.drop)) {
        QByteArray reply = answer.reply;
        if (chance(m_faults.corrupt)) {
            // One bit of the body flips; the check value stays as it was.
            const int at = int(m_random.bounded(quint32(reply.size() - 2)));
            reply[at] = char(reply.at(at) ^ (1 << m_random.bounded(8)));
        }
        if (chance(m_faults.noise))
            reply.prepend(char(m_random.bounded(256)));
        if (m_faults.delayMs > 0)
            QTimer::singleShot(m_faults.delayMs, this, [this, reply] { send(reply); });
        else
            send(reply);
    }
    // The echo is on its way at the old address and speed; now the change.
    if (answer.newAddress)
        m_module.address = answer.newAddress;
    if (answer.newBaudCode) {
        m_module.baudCode = answer.newBaudCode;
        const int oldBaud = m_baud;
        m_baud = ModbusFrame::baudForCode(answer.newBaudCode);
        if (m_port) {
            // Switch once the echo has left the line at the old speed.
            const int onLineMs = answer.reply.size() * 11 * 1000 / oldBaud + m_faults.delayMs + 20;
            const int newBaud = m_baud;
            QTimer::singleShot(onLineMs, this, [this, newBaud] { m_port->setBaudRate(newBaud); });
        }
    }
}

void SimServer::send(const QByteArray &bytes)
{
    log("TX", bytes);
    if (bytes.size() > 1 && chance(m_faults.split)) {
        const int cut = 1 + int(m_random.bounded(quint32(bytes.size() - 1)));
        transmit(bytes.left(cut));
        const QByteArray rest = bytes.mid(cut);
        QTimer::singleShot(m_faults.gapMs, this, [this, rest] { transmit(rest); });
    } else {
        transmit(bytes);
    }
}

void SimServer::transmit(const QByteArray &bytes)
{
    if (m_port) {
        m_port->write(bytes);
    } else if (::write(m_master, bytes.constData(), size_t(bytes.size())) != bytes.size()) {
        fprintf(stderr, "morvane-sim: write failed: %s\n", strerror(errno));
    }
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

void SimServer::log(const char *direction, const QByteArray &bytes) const
{
    if (!m_verbose)
        return;
    // The same form as Morvane's own traffic log.
    const QString stamp = QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss");
    printf("%s->%s  %s\n", qPrintable(stamp), direction, bytes.toHex().constData());
    fflush(stdout);
}
