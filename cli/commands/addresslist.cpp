#include "addresslist.h"

#include "addressrange.h"
#include "linefile.h"
#include "modbusframe.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

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
    addresses->clear();
    int column = 0;
    QString error;
    LineFile file;
    const auto line = [&](int number, const QByteArray &bytes, LineFile::Trouble trouble) {
        const QString text = QString::fromUtf8(bytes).trimmed();
        // "#" starts a comment, outside a JSON row
        const QString content = text.startsWith('{') ? text : text.left(text.indexOf('#')).trimmed();
        const QStringList header = content.split(',');
        if (trouble != LineFile::None)
            error = QString("%1:%2: %3").arg(path).arg(number).arg(LineFile::reason(trouble));
        else if (content.isEmpty())
            return true;
        else if (addresses->isEmpty() && header.contains("address"))
            column = header.indexOf("address");   // a CSV header: the addresses are in that column
        else if (const int address = addressOnLine(content, column); address > 0)
            *addresses << address;
        else
            error = QString("%1:%2: no address %3 to %4 in \"%5\"").arg(path).arg(number).arg(MinAddress).arg(MaxAddress)
                        .arg(LineFile::printable(content));
        return error.isEmpty();
    };
    if (!file.read(path, line))
        return error.isEmpty() ? file.errorString() : error;
    if (addresses->isEmpty())
        return QString("%1 lists no addresses (one a line, or what find --scan --format csv or json prints)").arg(path);
    sortAndMerge(addresses);
    return QString();
}

QString take(const QString &value, QVector<int> *addresses)
{
    static const QRegularExpression letters("[A-Za-z]");
    const bool path = QFileInfo::exists(value) || value.contains('/') || QFileInfo(value).suffix().contains(letters);
    return path ? parseFile(value, addresses) : parse(value, addresses);
}

} // namespace AddressList
