#include "replydecoder.h"

#include "modbusframe.h"

using namespace ModbusFrame;

namespace {

Reply notTheAnswer(Reply reply, Reply::Reason why)
{
    reply.kind = Reply::NotTheAnswer;
    reply.reason = why;
    reply.registers.clear();
    return reply;
}

bool fromTheModule(const QByteArray &request, int from, int moduleAddress)
{
    const int to = quint8(request.at(0));
    if (to != BroadcastAddress)
        return from == to;
    if (from == BroadcastAddress)
        return true;
    return moduleAddress >= MinAddress ? from == moduleAddress : from <= MaxAddress;
}

// Register count of a read (0x03) or of a multiple write (0x10).
int requestedCount(const QByteArray &request)
{
    return word(request, 4);
}

bool knownRequest(const QByteArray &request)
{
    if (request.size() < RequestLength || !crcMatches(request))
        return false;
    const quint8 function = quint8(request.at(1));
    if (function == ReadHoldingRegisters)
        return request.size() == RequestLength && requestedCount(request) >= 1 && requestedCount(request) <= 125;
    if (function == WriteSingleRegister)
        return request.size() == RequestLength;
    if (function == WriteMultipleRegisters)
        return request.size() >= 11 && request.size() == 9 + quint8(request.at(6));
    return false;
}

Reply readAnswer(Reply reply, const QByteArray &request, const QByteArray &frame)
{
    const int count = quint8(frame.at(2));
    if (frame.size() != count + 5)
        return notTheAnswer(reply, Reply::LengthDisagrees);
    if (count != 2 * requestedCount(request))
        return notTheAnswer(reply, Reply::WrongByteCount);
    for (int at = 3; at < 3 + count; at += 2)
        reply.registers << word(frame, at);
    return reply;
}

Reply writeAnswer(Reply reply, const QByteArray &request, const QByteArray &frame)
{
    if (frame.size() != RequestLength)
        return notTheAnswer(reply, Reply::LengthDisagrees);
    // The echo: register and value (0x06), or start and count (0x10).
    if (frame.mid(2, 4) != request.mid(2, 4))
        return notTheAnswer(reply, Reply::NotTheEcho);
    if (quint8(request.at(1)) == WriteSingleRegister) {
        reply.registers << word(request, 4);
    } else {
        for (int at = 7; at + 1 < request.size() - 2; at += 2)
            reply.registers << word(request, at);
    }
    return reply;
}

} // namespace

Reply Reply::decode(const QByteArray &request, const QByteArray &frame, int moduleAddress)
{
    Reply reply;
    if (!knownRequest(request))
        return notTheAnswer(reply, NotARequest);
    if (frame.size() < ExceptionLength)
        return notTheAnswer(reply, TooShort);
    if (!crcMatches(frame))
        return notTheAnswer(reply, BadCheckValue);
    reply.from = quint8(frame.at(0));
    if (!fromTheModule(request, reply.from, moduleAddress))
        return notTheAnswer(reply, OtherAddress);

    const quint8 function = quint8(request.at(1));
    const quint8 answered = quint8(frame.at(1));
    if (answered == (function | ExceptionFlag)) {
        if (frame.size() != ExceptionLength)
            return notTheAnswer(reply, LengthDisagrees);
        reply.kind = Refused;
        reply.reason = None;
        reply.exceptionCode = quint8(frame.at(2));
        return reply;
    }
    if (answered != function)
        return notTheAnswer(reply, OtherFunction);

    reply.kind = Answer;
    reply.reason = None;
    if (function == ReadHoldingRegisters)
        return readAnswer(reply, request, frame);
    return writeAnswer(reply, request, frame);
}

int Reply::answerLength(const QByteArray &request)
{
    if (!knownRequest(request))
        return 0;
    if (quint8(request.at(1)) == ReadHoldingRegisters)
        return 5 + 2 * requestedCount(request);
    return RequestLength;
}

QString Reply::reasonText() const
{
    switch (reason) {
    case None: return QString();
    case TooShort: return "too short";
    case BadCheckValue: return "bad check value";
    case OtherAddress: return QString("from another address (%1)").arg(from);
    case OtherFunction: return "for another function";
    case LengthDisagrees: return "its byte count and its length disagree";
    case WrongByteCount: return "not the byte count asked for";
    case NotTheEcho: return "not the echo of the write";
    case NotARequest: return "no request of ours";
    }
    return QString();
}
