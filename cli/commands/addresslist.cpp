#include "addresslist.h"

#include "addressrange.h"
#include "modbusframe.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

using AddressRange::isAddress;
using AddressRange::sortAndMerge;
using ModbusFrame::MaxAddress;
using ModbusFrame::MinAddress;

namespace {

// The address on one line of a file, or -1. column: the CSV column that
// holds it, found in the header.
int addressOnLine(const QString &line, int column)
{
    bool ok = false;
    qlonglong value = -1;
    if (line.startsWith('{')) {
        const QJsonValue field = QJsonDocument::fromJson(line.toUtf8()).object().value("address");
        value = field.isDouble() && field.toDouble() == qRound64(field.toDouble()) ? qRound64(field.toDouble()) : -1;
        ok = true;
    } else {
        value = line.split(',').value(column).trimmed().toLongLong(&ok);
    }
    return ok && isAddress(value) ? int(value) : -1;
}

} // namespace

namespace AddressList {

QString parse(const QString &text, QVector<int> *addresses)
{
    if (AddressRange::parse(text, addresses))
        return QString();
    return QString("--address takes %1 to %2, a list such as 1,3,5-9, all-found or a file of addresses, not %3")
        .arg(MinAddress).arg(MaxAddress).arg(text);
}

QString parseFile(const QString &path, QVector<int> *addresses)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString("cannot read %1: %2").arg(path, file.errorString());
    addresses->clear();
    int column = 0;
    for (int number = 1; !file.atEnd(); ++number) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty())
            continue;
        // A CSV header: the addresses are in its "address" column.
        const QStringList header = line.split(',');
        if (addresses->isEmpty() && header.contains("address")) {
            column = header.indexOf("address");
            continue;
        }
        const int address = addressOnLine(line, column);
        if (address < 0)
            return QString("%1 line %2: no address %3 to %4 in \"%5\"").arg(path).arg(number).arg(MinAddress).arg(MaxAddress).arg(line);
        *addresses << address;
    }
    if (addresses->isEmpty())
        return QString("%1 lists no addresses").arg(path);
    sortAndMerge(addresses);
    return QString();
}

} // namespace AddressList
