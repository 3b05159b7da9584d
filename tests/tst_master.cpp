// ModbusMaster and the commands against a line that lies on purpose, played
// on a virtual clock: frames in at given times, verdicts out.
#include "addresslist.h"
#include "adapterinfo.h"
#include "commands.h"
#include "console.h"
#include "lineopener.h"
#include "linetime.h"
#include "modbusframe.h"
#include "portname.h"
#include "scriptedline.h"

#include <QSerialPort>
#include <QtTest>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using Status = ModbusMaster::Status;

Q_DECLARE_METATYPE(ModbusMaster::Status)

static QByteArray frame(const char *hex) { return ModbusFrame::withCrc(QByteArray::fromHex(hex)); }
static QByteArray addressReply(int from, int value) { return frame(QString::asprintf("%02x0302%04x", from, value).toLatin1()); }
static const QByteArray answer = frame("070306 00d7 0190 0049");   // 21.5 °C, 40.0 %RH, 7.3 °C
static const QByteArray other = frame("070306 00c8 0258 0032");    // 20.0, 60.0, 5.0
static const QVector<quint16> answerValues = {215, 400, 73};

// The frame a byte at a time at the line's speed, the first after ms.
static QList<Arrival> dribbled(double ms, const QByteArray &bytes, int baud)
{
    QList<Arrival> all;
    for (int i = 0; i < bytes.size(); ++i)
        all << Arrival{0, ms + i * LineTime::characterMs(baud), bytes.mid(i, 1)};
    return all;
}

class MasterTest : public QObject
{
    Q_OBJECT

private slots:
    // What is taken for the answer to the measurement request to address 7,
    // the pieces coming 1 ms apart. values: the registers, or the exception.
    void replies_data()
    {
        QTest::addColumn<QList<QByteArray>>("pieces");
        QTest::addColumn<Status>("status");
        QTest::addColumn<QVector<quint16>>("values");
        QTest::addColumn<bool>("localEcho");
        QTest::newRow("the answer") << QList<QByteArray>{answer} << ModbusMaster::Ok << answerValues << false;
        QTest::newRow("split in three") << QList<QByteArray>{answer.left(2), answer.mid(2, 6), answer.mid(8)}
                                        << ModbusMaster::Ok << answerValues << false;
        QTest::newRow("another address, then the answer") << QList<QByteArray>{frame("080306 0001 0002 0003"), answer}
                                                          << ModbusMaster::Ok << answerValues << false;
        QTest::newRow("damaged, then the answer") << QList<QByteArray>{QByteArray(answer).replace(4, 1, "\x01"), answer}
                                                  << ModbusMaster::Ok << answerValues << false;
        QTest::newRow("exception") << QList<QByteArray>{frame("078302")} << ModbusMaster::Refused << QVector<quint16>{2} << false;
        const QByteArray request = ModbusFrame::measurementRequest(7);
        QTest::newRow("local echo, then the answer") << QList<QByteArray>{request.left(3), request.mid(3) + answer}
                                                     << ModbusMaster::Ok << answerValues << true;
        QTest::newRow("local echo damaged") << QList<QByteArray>{QByteArray(request).replace(5, 1, "\x04"), answer}
                                            << ModbusMaster::NoAnswer << QVector<quint16>{} << true;
        QTest::newRow("no echo where one is due") << QList<QByteArray>{answer} << ModbusMaster::NoAnswer << QVector<quint16>{} << true;
    }

    void replies()
    {
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(Status, status);
        QFETCH(QVector<quint16>, values);
        QFETCH(bool, localEcho);
        QList<Arrival> script;
        for (const QByteArray &piece : pieces)
            script << Arrival{0, 10.0 + script.size(), piece};
        ScriptedLine line(script);
        ModbusMaster::LineOptions options;
        options.localEcho = localEcho;
        ModbusMaster master(line, options);
        ModbusMaster::Asking once;
        once.retries = 0;
        const ModbusMaster::Outcome outcome = master.exchange(ModbusFrame::measurementRequest(7), once);
        QCOMPARE(outcome.status, status);
        QCOMPARE(status == ModbusMaster::Refused ? QVector<quint16>{quint16(outcome.reply.exceptionCode)}
                                                 : outcome.reply.registers, values);
    }

    // The last of these exchanges; endsAt: its end on the line's clock (-1: any).
    void timing_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("floorMs");   // 100: a device server's line
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<int>("retries");
        QTest::addColumn<int>("exchanges");
        QTest::addColumn<QList<Arrival>>("script");
        QTest::addColumn<Status>("status");
        QTest::addColumn<QVector<quint16>>("values");
        QTest::addColumn<int>("endsAt");
        QTest::newRow("late answer thrown away, the next taken") << 9600 << 30 << 500 << 0 << 2
            << QList<Arrival>{{0, 700, answer}, {1, 10, other}} << ModbusMaster::Ok << QVector<quint16>{200, 600, 50} << -1;
        QTest::newRow("retry after a damaged reply") << 9600 << 30 << 500 << 1 << 1
            << QList<Arrival>{{0, 10, answer.left(10) + 'x'}, {1, 10, answer}} << ModbusMaster::Ok << answerValues << -1;
        // The request takes 74 ms on the wire, then the module has 100 ms to begin.
        QTest::newRow("reply begun just before the timeout, 1200 bit/s") << 1200 << 30 << 100 << 0 << 1
            << dribbled(172, answer, 1200) << ModbusMaster::Ok << answerValues << -1;
        QTest::newRow("reply begun just after it") << 1200 << 30 << 100 << 0 << 1 << dribbled(176, answer, 1200)
                                                   << ModbusMaster::NoAnswer << QVector<quint16>{} << 174;
        QTest::newRow("interrupt in the wait") << 9600 << 30 << 5000 << 2 << 1 << QList<Arrival>{{0, 300, {}, Arrival::Interrupt}}
                                               << ModbusMaster::Interrupted << QVector<quint16>{} << 300;
        QTest::newRow("interrupt in the drain") << 9600 << 30 << 1000 << 2 << 1 << QList<Arrival>{{0, 1500, {}, Arrival::Interrupt}}
                                                << ModbusMaster::Interrupted << QVector<quint16>{} << 1500;
        QTest::newRow("port fails in the wait") << 9600 << 30 << 5000 << 2 << 1 << QList<Arrival>{{0, 50, {}, Arrival::Failure}}
                                                << ModbusMaster::PortLost << QVector<quint16>{} << 50;
        QList<Arrival> pieces;
        for (int i = 0; i < answer.size(); ++i)
            pieces << Arrival{0, 20.0 + 45 * i, answer.mid(i, 1)};
        QTest::newRow("over TCP, a byte every 45 ms") << 9600 << 100 << 100 << 0 << 1 << pieces << ModbusMaster::Ok << answerValues << -1;
    }

    void timing()
    {
        QFETCH(int, baud);
        QFETCH(int, floorMs);
        QFETCH(int, timeoutMs);
        QFETCH(int, retries);
        QFETCH(int, exchanges);
        QFETCH(QList<Arrival>, script);
        ScriptedLine line(script);
        line.setBaudRate(baud);
        line.floorMs = floorMs;
        ModbusMaster master(line);
        const ModbusMaster::Asking asking{timeoutMs, retries, false};
        ModbusMaster::Outcome outcome;
        for (int i = 0; i < exchanges; ++i)
            outcome = master.exchange(ModbusFrame::measurementRequest(7), asking);
        QTEST(outcome.status, "status");
        QTEST(outcome.reply.registers, "values");
        QFETCH(int, endsAt);
        QVERIFY2(endsAt < 0 || line.now() == endsAt, qPrintable(QString::number(line.now())));
    }

    // A command against the line, timeout 100 ms and no retries: its exit
    // code, its standard output, and a piece of its standard error. The
    // command may name its --port.
    void commands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("value");
        QTest::addColumn<QList<Arrival>>("script");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        const Arrival at5{0, 5, addressReply(5, 5)};
        QTest::newRow("set-address, echo from another address") << "set-address" << 12
            << QList<Arrival>{at5, {1, 5, frame("09060100000c")}, {2, 5, at5.bytes}} << 1 << ""
            << "did not echo the write; the module reads back address 5";
        QTest::newRow("set-address, register 0x0107") << "set-address" << 12 << QList<Arrival>{{0, 5, addressReply(7, 0x0107)}}
                                                      << 1 << "" << "reports address 263,";
        QTest::newRow("set-address, register 0") << "set-address" << 12 << QList<Arrival>{{0, 5, addressReply(0, 0)}} << 1 << ""
                                                 << "reports address 0,";
        QTest::newRow("find, register 250") << "find" << 0 << QList<Arrival>{{0, 5, addressReply(0, 250)}} << 1 << ""
                                            << "the module at 9600 bit/s reports address 250,";
        QTest::newRow("find, a refusal") << "find" << 0 << QList<Arrival>{{0, 5, frame("008302")}} << 1 << ""
                                         << "the module at 9600 bit/s refused: illegal data address";
        QTest::newRow("set-baud, echo lost, there at the new speed") << "set-baud" << 19200
            << QList<Arrival>{at5, {2, 5, at5.bytes}} << 0 << "address 5: 9600 → 19200 bit/s\n"
            << "did not echo the write, but answers at 19200 bit/s";
        QTest::newRow("set-baud, echo lost, gone") << "set-baud" << 19200 << QList<Arrival>{at5} << 1 << ""
            << "did not echo the write and does not answer at 19200 bit/s; it was last seen as address 5 at "
               "9600 bit/s (morvane-cli find --port '' looks at every speed)";
        const QByteArray collided = QByteArray(addressReply(3, 3)).replace(4, 1, "\x01");
        QTest::newRow("find, replies collide") << "find --port /dev/ttyUSB0" << 0 << QList<Arrival>{{0, 5, collided}} << 1 << ""
            << "several modules answered address 0 at once at 9600 bit/s: their replies collided. "
               "morvane-cli find --scan --port /dev/ttyUSB0 --baud 9600 asks each address in turn\n";
        QList<Arrival> echoes;
        for (int i = 0; i < ModbusFrame::searchOrder().size(); ++i)
            echoes << Arrival{i, 1, ModbusFrame::addressRequest()};
        QTest::newRow("find, only the echo") << "find --port /dev/my adapter" << 0 << echoes << 1 << ""
            << "no module answered at 9600, 19200, 4800, 2400, 1200 bit/s, only the request's own bytes came back (the adapter "
               "echoes what it sends: --local-echo takes that off); to see why: morvane-cli doctor --port '/dev/my adapter'\n";
        QTest::newRow("set-address, replies collide") << "set-address" << 12 << QList<Arrival>{{0, 5, collided}} << 1 << ""
            << "several modules answered address 0 at once at 9600 bit/s: their replies collided. Through address 0 a module "
               "is changed only when it is alone on the line: give --address and its address to change one where it sits";
        QTest::newRow("set-baud over TCP") << "set-baud --port tcp://127.0.0.1:5020" << 19200
            << QList<Arrival>{at5, {1, 5, ModbusFrame::baudWrite(5)}} << 1 << ""
            << "the module echoed the write for 19200 bit/s, but nothing answers through the server now: the server's serial "
               "speed must be changed to 19200 bit/s too (set-baud changes only the module's); then morvane-cli read --port "
               "tcp://127.0.0.1:5020 --address 5 checks it\n";
        QTest::newRow("read, port lost") << "read" << 0 << QList<Arrival>{{0, 5, {}, Arrival::Failure}} << 3
                                         << "address 7: port lost: unplugged\n" << "";
    }

    void commands()
    {
        QFETCH(QString, command);
        QFETCH(QList<Arrival>, script);
        Settings settings;
        settings.port = command.section(" --port ", 1);
        command = command.section(' ', 0, 0);
        const QMap<QString, int (Commands::*)(const Settings &)> run = {
            {"find", &Commands::find}, {"read", &Commands::read},
            {"set-address", &Commands::setAddress}, {"set-baud", &Commands::setBaud}};
        QFETCH(int, value);
        settings.value = value;
        settings.addresses = {7};
        settings.timeoutMs = 100;
        settings.retries = 0;
        ScriptedLine line(script);
        ModbusMaster master(line);
        Captured out, errors;
        Console console(out.file, errors.file);
        Commands commands(&master, console);
        QTEST((commands.*run[command])(settings), "exitCode");
        QTEST(out.text(), "out");
        QFETCH(QString, err);
        QVERIFY2(err.isEmpty() ? errors.text().isEmpty() : errors.text().contains(err), qPrintable(errors.text()));
    }

    // Modules 3, 4 and 5 read twice: 4 never answers, 5 refuses, and 3 and 5
    // are asked every round all the same.
    void bus_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("outPattern");
        QTest::addColumn<QString>("errPattern");
        const QString round = "address 3: temperature 21.5 °C, humidity 40.0 %RH, dew point 7.3 °C\n"
                              "address 4: no answer\naddress 5: illegal data address\n";
        QTest::newRow("text") << int(Settings::Text) << "^" + QRegularExpression::escape(round + round) + "$"
                              << "^morvane-cli: no reading from address 4, 5; to see why: morvane-cli doctor --port '' --address 4\n$";
        const QString influx = "morvane,address=3 temperature=21.5,humidity=40.0,dew_point=7.3 \\d{19}\n";
        QTest::newRow("influx") << int(Settings::Influx) << "^(" + influx + "){2}$"
                                << "^(morvane-cli: address 4: no answer\nmorvane-cli: address 5: illegal data address\n){2}"
                                   "morvane-cli: no reading from address 4, 5; to see why: .*\n$";
    }

    void bus()
    {
        QFETCH(int, format);
        const QByteArray from3 = frame("030306 00d7 0190 0049"), refusal = frame("058302");
        ScriptedLine line({{0, 5, from3}, {2, 5, refusal}, {3, 5, from3}, {5, 5, refusal}});
        ModbusMaster master(line);
        Settings settings;
        settings.timeoutMs = 100;
        settings.retries = 0;
        settings.addresses = {3, 4, 5};
        settings.count = 2;
        settings.format = Settings::Format(format);
        Captured out, errors;
        Console console(out.file, errors.file);
        QCOMPARE(Commands(&master, console).read(settings), 1);
        QFETCH(QString, outPattern);
        QFETCH(QString, errPattern);
        QVERIFY2(QRegularExpression(outPattern).match(out.text()).hasMatch(), qPrintable(out.text()));
        QVERIFY2(QRegularExpression(errPattern).match(errors.text()).hasMatch(), qPrintable(errors.text()));
    }

    // --address as given, or a file of this text; "!" and a piece of the error.
    void addressList_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("result");
        QTest::newRow("list") << "9,1,3,5-7,3" << "" << "1 3 5 6 7 9";
        QTest::newRow("0") << "0" << "" << "!--address takes 1 to 247, a list";
        QTest::newRow("248") << "1-248" << "" << "!--address takes 1 to 247";
        QTest::newRow("backwards") << "7-5" << "" << "!--address takes 1 to 247";
        QTest::newRow("scan CSV") << "" << "address,baud,temperature_c,humidity_rh,dew_point_c,status\n"
                                            "12,9600,21.5,40.0,7.3,ok\n3,9600,,,,illegal data address\n" << "3 12";
        QTest::newRow("scan JSON") << "" << "{\"address\":200,\"baud\":19200}\n\n{\"address\":4}\n" << "4 200";
        QTest::newRow("plain, a bad line") << "" << "5\n6\nsix\n" << "!:3: no address 1 to 247 in \"six\"";
        QTest::newRow("JSON without an address") << "" << "{\"baud\":9600}\n" << "!:1: no address";
        QTest::newRow("comments, blank lines") << "" << "# room 3\n\n12 # by the door\n34\r\n" << "12 34";
        QTest::newRow("missing file") << "/no/such/file" << "" << "cannot open /no/such/file: No such file or directory";
        QTest::newRow("UTF-16, no mark") << "" << "UTF16:12\r\n34\r\n" << "!is UTF-16 text, not UTF-8; save it as UTF-8";
        QTest::newRow("binary line") << "" << "12\n\x01NUL\x7f\n34\n" << "!:2: holds NUL bytes";
    }

    void addressList()
    {
        QFETCH(QString, given);
        QFETCH(QString, file);
        QFETCH(QString, result);
        QTemporaryFile list;
        QVERIFY(list.open());
        // UTF16: as Notepad's "Unicode" saves it, no byte-order mark; NUL: a NUL byte.
        const QString text = QString(file).remove(QRegularExpression("^UTF16:"));
        list.write(text != file ? QByteArray(reinterpret_cast<const char *>(text.utf16()), 2 * text.size())
                                : file.toUtf8().replace("NUL", QByteArray(1, '\0')));
        list.flush();
        QVector<int> addresses;
        const QString error = file.isEmpty() ? AddressList::take(given, &addresses) : AddressList::parseFile(list.fileName(), &addresses);
        QStringList numbers;
        for (int a : addresses)
            numbers << QString::number(a);
        if (result.startsWith('!'))
            QVERIFY2(error.contains(result.mid(1)), qPrintable(error));
        else
            QCOMPARE(error.isEmpty() ? numbers.join(' ') : error, result);
    }

    // The adapter as a directory laid out like sysfs tells it: its driver,
    // and a latency timer above 4 ms with the lines that lower it and keep it.
    void adapter_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("latency");
        QTest::addColumn<bool>("problem");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("FTDI at 16 ms") << "/dev/ttyUSB7" << "16" << true
            << "driver ftdi_sio. Latency timer 16 ms: .*\n.*echo 1 \\| sudo tee ROOT/bus/usb-serial/devices/ttyUSB7/latency_timer\n"
               ".*\nACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", ATTR\\{latency_timer\\}=\"1\"$";
        QTest::newRow("at 4 ms") << "/dev/ttyUSB7" << "4" << false << "driver ftdi_sio. Latency timer 4 ms.\n$";
        QTest::newRow("TCP") << "tcp://127.0.0.1:5020" << "16" << false << "TCP connection: .* do not apply.\n$";
    }

    void adapter()
    {
        QFETCH(QString, latency);
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath("bus/usb-serial/devices/ttyUSB7") && QDir(root.path()).mkpath("class/tty/ttyUSB7/device"));
        QFile timer(root.filePath("bus/usb-serial/devices/ttyUSB7/latency_timer"));
        QVERIFY(timer.open(QIODevice::WriteOnly) && timer.write(latency.toLatin1() + '\n') > 0);
        timer.close();
        QVERIFY(QFile::link("../../../../bus/usb-serial/drivers/ftdi_sio", root.filePath("class/tty/ttyUSB7/device/driver")));
        qputenv("MORVANE_SYSFS_ROOT", root.path().toLocal8Bit());
        QFETCH(QString, port);
        const Finding finding = AdapterInfo::describe(port);
        qunsetenv("MORVANE_SYSFS_ROOT");
        QTEST(finding.problem, "problem");
        const QString got = QString(finding.seen + '\n' + finding.todo).replace(root.path(), "ROOT");
        QFETCH(QString, pattern);
        QVERIFY2(QRegularExpression(pattern).match(got).hasMatch(), qPrintable(got));
    }

    // Why a port cannot be opened, and what to do. "held": a pseudo-terminal
    // this test holds open as a serial port, as another program would.
    void opening_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("hint");
        const QString ports = "morvane-cli ports lists the serial ports the system knows.";
        QTest::newRow("/dev/null") << "/dev/null" << "it is a device but not a serial port (Inappropriate ioctl for device)" << ports;
        QTest::newRow("a file") << QCoreApplication::applicationFilePath() << "it is a file, not a serial port" << ports;
        QTest::newRow("held") << "held" << QString("it is in use by another program (process %1, tst_master)").arg(getpid())
                              << "Stop that program, or wait until it has let go of the port.";
    }

    void opening()
    {
        QFETCH(QString, port);
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
        QSerialPort holder(ptsname(master));
        if (port == "held") {
            QVERIFY(holder.open(QIODevice::ReadWrite));
            port = ptsname(master);
        }
        PortName name;
        QVERIFY(PortName::parse(port, &name).isEmpty());
        const LineOpener::Opened opened = LineOpener::open(name, 9600);
        holder.close();
        ::close(master);
        QVERIFY(!opened.line);
        QTEST(opened.error, "error");
        QTEST(opened.hint, "hint");
    }

    // After an outage of six seconds the readings keep to their slots: no
    // two requests in one second.
    void watchKeepsItsRhythm()
    {
        ScriptedLine line({{1, 5, answer}, {2, 5, answer}, {3, 5, answer}});
        ModbusMaster master(line);
        Settings settings;
        settings.timeoutMs = 3000;
        settings.retries = 0;
        settings.addresses = {7};
        settings.watchSeconds = 1;
        settings.count = 4;
        Captured out;
        Console console(out.file);
        QCOMPARE(Commands(&master, console).read(settings), 0);
        QCOMPARE(out.text().count('\n'), 4);
        for (int i = 1; i < line.writtenAt.size(); ++i)
            QVERIFY2(line.writtenAt[i] / 1000 > line.writtenAt[i - 1] / 1000, qPrintable(QString::number(line.writtenAt[i])));
    }
};

QTEST_GUILESS_MAIN(MasterTest)
#include "tst_master.moc"
