#include "addressrange.h"

#include "modbusframe.h"

#include <QRegularExpression>

#include <algorithm>

namespace AddressRange {

bool isAddress(qlonglong value)
{
    return value >= ModbusFrame::MinAddress && value <= ModbusFrame::MaxAddress;
}

void sortAndMerge(QVector<int> *addresses)
{
    std::sort(addresses->begin(), addresses->end());
    addresses->erase(std::unique(addresses->begin(), addresses->end()), addresses->end());
}

// Numbers longer than any address are read whole, so that the range check
// refuses them rather than the pattern.
bool parse(const QString &text, QVector<int> *addresses)
{
    static const QRegularExpression item("^(\\d{1,9})(?:-(\\d{1,9}))?$");
    addresses->clear();
    for (const QString &part : text.split(',')) {
        const QRegularExpressionMatch m = item.match(part.trimmed());
        if (!m.hasMatch())
            return false;
        const qlonglong first = m.captured(1).toLongLong();
        const qlonglong last = m.captured(2).isEmpty() ? first : m.captured(2).toLongLong();
        if (!isAddress(first) || !isAddress(last) || last < first)
            return false;
        for (qlonglong a = first; a <= last; ++a)
            *addresses << int(a);
    }
    sortAndMerge(addresses);
    return true;
}

} // namespace AddressRange
