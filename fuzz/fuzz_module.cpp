// libFuzzer target for the simulator's request side: the request assembler,
// the module and the bus. The first byte picks the address on replies
// through address 0 (its value modulo 3) and, with bit 7, a second module
// at address 8 on the line; then comes a run of arrivals, each a control byte (bit 7: the
// line was silent first; bit 6: the check value of what came since the last
// one follows, so that intact requests are easy to find; bits 0-5: how many
// bytes arrive) and its bytes. Every request cut is handed to the module in
// a buffer of exactly its size, and its reply checked against a reading of
// the protocol written apart; what the bus sends is the one reply, or with
// several a collision whose check value fails.
#include "frameassembler.h"
#include "modbusframe.h"
#include "modulebus.h"
#include "oracle.h"
#include "sensormodule.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void require(bool condition)
{
    if (!condition)
        abort();
}

int at(const QByteArray &f, int i)
{
    return quint8(f[i]);
}

int wordAt(const QByteArray &f, int i)
{
    return at(f, i) << 8 | at(f, i + 1);
}

int registerValue(const SensorModule &m, int reg)
{
    switch (reg) {
    case 0x0000: return quint16(m.temperature);
    case 0x0001: return m.humidity;
    case 0x0002: return quint16(m.dewPoint);
    case 0x0100: return m.address;
    case 0x0101: return m.baudCode;
    default: return -1;
    }
}

// The registers named in a write now hold the values written.
void requireWritten(const SensorModule &m, int start, const QByteArray &values)
{
    for (int i = 0; i + 1 < values.size(); i += 2)
        require(registerValue(m, start + i / 2) == wordAt(values, i));
}

QByteArray check(const QByteArray &request, SensorModule &module)
{
    const SensorModule before = module;
    const std::vector<char> exact(request.begin(), request.end());
    const QByteArray reply = module.handle(QByteArray::fromRawData(exact.data(), int(exact.size())));
    const bool changed = module.address != before.address || module.baudCode != before.baudCode;
    require(module.address >= 1 && module.address <= 247 && module.baudCode >= 1 && module.baudCode <= 5);
    if (reply.isEmpty()) {
        require(!changed);
        return reply;
    }

    require(Oracle::intact(request) && Oracle::intact(reply));
    const int to = at(request, 0), function = at(request, 1);
    require(to == before.address || to == 0);
    // Through address 0: from 0 in the zero mode, and for a single write's
    // echo in the default one; from the module's own address otherwise.
    const bool echo = function == 0x06 && at(reply, 1) == 0x06;
    const bool fromZero = to == 0
        && (module.echoAddress == SensorModule::Zero || (module.echoAddress == SensorModule::Mixed && echo));
    require(at(reply, 0) == (fromZero ? 0 : before.address));
    if (at(reply, 1) == (function | 0x80)) {
        require(reply.size() == 5 && at(reply, 2) >= 1 && at(reply, 2) <= 3 && !changed);
        return reply;
    }
    require(at(reply, 1) == function);
    if (function == 0x03) {
        const int start = wordAt(request, 2), count = wordAt(request, 4);
        require(request.size() == 8 && !changed && at(reply, 2) == 2 * count && reply.size() == 5 + 2 * count);
        for (int i = 0; i < count; ++i)
            require(registerValue(before, start + i) == wordAt(reply, 3 + 2 * i));
    } else if (function == 0x06) {
        require(request.size() == 8 && reply.size() == 8 && reply.mid(1, 5) == request.mid(1, 5));
        requireWritten(module, wordAt(request, 2), request.mid(4, 2));
    } else {
        require(function == 0x10 && request.size() >= 11 && request.size() == 9 + at(request, 6));
        require(reply.size() == 8 && reply.mid(1, 5) == request.mid(1, 5));
        requireWritten(module, wordAt(request, 2), request.mid(7, request.size() - 9));
    }
    return reply;
}

// Each module on its own copy, then the bus: the same modules after, and
// one reply sent as it is, several overlaid.
void checkBus(const QByteArray &request, ModuleBus &bus)
{
    const int lineBaud = 9600;
    QVector<SensorModule> alone = bus.modules();
    QVector<QByteArray> replies;
    for (SensorModule &module : alone) {
        if (ModbusFrame::baudForCode(module.baudCode) != lineBaud)
            continue;
        const QByteArray reply = check(request, module);
        if (!reply.isEmpty())
            replies << reply;
    }
    const ModuleBus::Answer answer = bus.handle(request, lineBaud);
    for (int i = 0; i < alone.size(); ++i)
        require(alone[i].address == bus.modules()[i].address && alone[i].baudCode == bus.modules()[i].baudCode);
    require(answer.replies == replies.size());
    if (replies.size() < 2) {
        require(answer.reply == (replies.isEmpty() ? QByteArray() : replies.first()));
        return;
    }
    int longest = 0;
    for (const QByteArray &reply : replies)
        longest = qMax(longest, reply.size());
    require(answer.reply.size() == longest && !Oracle::intact(answer.reply));
    for (const QByteArray &reply : replies) {
        for (int i = 0; i + 1 < longest; ++i)
            require(i >= reply.size() || (at(answer.reply, i) & ~at(reply, i)) == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    SensorModule module;
    module.address = 7;
    module.echoAddress = SensorModule::EchoAddress((data[0] & 0x7F) % 3);
    QVector<SensorModule> modules{module};
    if (data[0] & 0x80) {
        module.address = 8;
        modules << module;
    }
    ModuleBus bus(modules);
    FrameAssembler requests(FrameAssembler::Requests);
    QByteArray sinceCheckValue;

    for (size_t i = 1; i < size;) {
        const uint8_t control = data[i++];
        if (control & 0x80) {
            requests.silence();
            sinceCheckValue.clear();
        }
        const size_t count = qMin<size_t>(control & 0x3F, size - i);
        QByteArray bytes(reinterpret_cast<const char *>(data + i), int(count));
        i += count;
        sinceCheckValue += bytes;
        if (control & 0x40) {
            const quint16 crc = Oracle::crc(sinceCheckValue);
            bytes.append(char(crc & 0xFF)).append(char(crc >> 8));
            sinceCheckValue.clear();
        }
        requests.feed(bytes);
        require(requests.held() <= 256);
        while (requests.hasFrame())
            checkBus(requests.takeFrame(), bus);
    }
    requests.silence();
    while (requests.hasFrame())
        checkBus(requests.takeFrame(), bus);
    return 0;
}
