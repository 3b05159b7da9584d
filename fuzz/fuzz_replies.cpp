// libFuzzer target for the command-line tool's reply side: the assembler
// cuts the bytes of a line into frames, the decoder judges each against the
// request sent. An input is a header (which request, the module's own
// address or none) and then a run of arrivals: a control byte (bit 7: the
// line fell silent first; bits 0-5: how many bytes arrive) and those bytes.
// The verdicts are checked against a reading of the protocol written apart.
#include "frameassembler.h"
#include "modbusframe.h"
#include "oracle.h"
#include "replydecoder.h"

#include <cstdint>
#include <cstdlib>

namespace {

void require(bool condition)
{
    if (!condition)
        abort();
}

using Oracle::intact;

quint8 at(const QByteArray &f, int i)
{
    return quint8(f[i]);
}

bool fromModule(const QByteArray &request, const QByteArray &f, int module)
{
    if (at(request, 0) != 0)
        return at(f, 0) == at(request, 0);
    return at(f, 0) == 0 || (module > 0 ? at(f, 0) == module : at(f, 0) <= 247);
}

bool wellFormedAnswer(const QByteArray &request, const QByteArray &f, int module)
{
    if (!intact(f) || f.size() < 5 || !fromModule(request, f, module) || at(f, 1) != at(request, 1))
        return false;
    if (at(request, 1) == 0x03) {
        const int count = 2 * at(request, 5);   // every request here reads fewer than 256 registers
        return at(f, 2) == count && f.size() == count + 5;
    }
    return f.size() == 8 && f.mid(2, 4) == request.mid(2, 4);
}

bool wellFormedRefusal(const QByteArray &request, const QByteArray &f, int module)
{
    return intact(f) && f.size() == 5 && fromModule(request, f, module) && at(f, 1) == (at(request, 1) | 0x80);
}

QByteArray requestFor(uint8_t which, uint8_t value)
{
    switch (which % 4) {
    case 0: return ModbusFrame::measurementRequest(value);
    case 1: return ModbusFrame::addressRequest();
    case 2: return ModbusFrame::addressWrite(value);
    default: return ModbusFrame::baudWrite(value % 6);
    }
}

void judge(const QByteArray &request, const QByteArray &frame, int module)
{
    require(intact(frame));
    const Reply reply = Reply::decode(request, frame, module);
    require((reply.kind == Reply::Answer) == wellFormedAnswer(request, frame, module));
    require((reply.kind == Reply::Refused) == wellFormedRefusal(request, frame, module));
    if (reply.kind == Reply::Answer && at(request, 1) == 0x03) {
        require(reply.registers.size() == at(request, 5));
        for (int i = 0; i < reply.registers.size(); ++i)
            require(reply.registers[i] == ((at(frame, 3 + 2 * i) << 8) | at(frame, 4 + 2 * i)));
    }
    if (reply.kind == Reply::Refused)
        require(reply.exceptionCode == at(frame, 2));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    const QByteArray request = requestFor(data[0], data[1]);
    const int module = data[2] == 0 || data[2] > 247 ? -1 : data[2];
    FrameAssembler assembler(FrameAssembler::Replies);
    for (size_t i = 3; i < size;) {
        const uint8_t control = data[i++];
        if (control & 0x80)
            assembler.silence();
        const size_t count = std::min<size_t>(control & 0x3F, size - i);
        assembler.feed(QByteArray(reinterpret_cast<const char *>(data + i), int(count)));
        i += count;
        require(assembler.held() <= ModbusFrame::MaxFrameLength);
        while (assembler.hasFrame())
            judge(request, assembler.takeFrame(), module);
    }
    assembler.silence();
    while (assembler.hasFrame())
        judge(request, assembler.takeFrame(), module);
    return 0;
}
