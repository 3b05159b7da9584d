#include "modulebus.h"

#include "modbusframe.h"

ModuleBus::Answer ModuleBus::handle(const QByteArray &request, int lineBaud)
{
    Answer answer;
    if (request.isEmpty())
        return answer;
    const int to = quint8(request.at(0));
    QVector<QByteArray> replies;
    for (SensorModule &module : m_modules) {
        if (ModbusFrame::baudForCode(module.baudCode) != lineBaud) {
            if (module.address == to && !answer.deaf)
                answer.deaf = module.address;
            continue;
        }
        const QByteArray reply = module.handle(request);
        if (!reply.isEmpty()) {
            replies << reply;
            answer.baudAfter = ModbusFrame::baudForCode(module.baudCode);
        }
    }
    answer.replies = replies.size();
    answer.reply = replies.size() == 1 ? replies.first() : collision(replies);
    return answer;
}

bool ModuleBus::allAt(int baud) const
{
    for (const SensorModule &module : m_modules) {
        if (ModbusFrame::baudForCode(module.baudCode) != baud)
            return false;
    }
    return true;
}

QByteArray ModuleBus::collision(const QVector<QByteArray> &replies)
{
    if (replies.isEmpty())
        return QByteArray();
    int longest = 0;
    for (const QByteArray &reply : replies)
        longest = qMax(longest, reply.size());
    QByteArray line(longest, char(0xFF));
    for (const QByteArray &reply : replies) {
        for (int i = 0; i < reply.size(); ++i)
            line[i] = char(line.at(i) & reply.at(i));
    }
    if (ModbusFrame::crcMatches(line))
        line[longest - 1] = char(line.at(longest - 1) ^ 0x01);
    return line;
}
