#include "readingrow.h"

#include "linefile.h"
#include "modbusframe.h"
#include "rowfields.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>

#include <cmath>
#include <string_view>

using RowFields::tenthsText;

namespace {

const qint64 NanosecondsPerMs = 1000000;
const size_t MaxAddressDigits = 3;
const char *const ValueNames[ReadingRow::Quantities] = {"temperature", "humidity", "dew point"};
const char *const JsonKeys[ReadingRow::Quantities] = {"temperature", "humidity", "dew_point"};

std::string_view view(const QByteArray &bytes)
{
    return {bytes.constData(), size_t(bytes.size())};
}

QString utf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), int(text.size()));
}

QString csvField(QString text)
{
    if (!text.contains(',') && !text.contains('"'))
        return text;
    return '"' + text.replace('"', "\"\"") + '"';
}

// The status field; the common ones share one string each, not one
// allocation for each of a million rows.
bool csvUnquoted(std::string_view field, QString *text)
{
    if (field == "ok" || field == "no answer")
        *text = field == "ok" ? QStringLiteral("ok") : QStringLiteral("no answer");
    else if (field.empty() || field.front() != '"')
        *text = utf8(field);
    else if (field.size() >= 2 && field.back() == '"')
        *text = utf8(field.substr(1, field.size() - 2)).replace("\"\"", "\"");
    else
        return false;
    return true;
}

// As QByteArray::toInt reads it, the plain form without a copy.
bool parseAddress(std::string_view text, int *address)
{
    if (!text.empty() && text.size() <= MaxAddressDigits && text.find_first_not_of("0123456789") == std::string_view::npos) {
        *address = 0;
        for (const char digit : text)
            *address = *address * 10 + (digit - '0');
        return true;
    }
    bool ok = false;
    *address = QByteArray(text.data(), int(text.size())).toInt(&ok);
    return ok;
}

QString valueText(const std::optional<int> &tenths)
{
    return tenths ? tenthsText(*tenths) : QString();
}

QJsonValue jsonValue(const std::optional<int> &tenths)
{
    return tenths ? QJsonValue(tenthsText(*tenths).toDouble()) : QJsonValue();
}

QString typeName(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Null: return "null";
    case QJsonValue::Bool: return "true or false";
    case QJsonValue::Double: return "a number";
    case QJsonValue::String: return "a string";
    case QJsonValue::Array: return "an array";
    case QJsonValue::Object: return "an object";
    case QJsonValue::Undefined: break;
    }
    return "missing";
}

QString wrongType(const char *key, const QJsonValue &value, const char *wanted)
{
    return QString("\"%1\" is %2; it takes %3").arg(key, typeName(value), wanted);
}

// What both forms then check: the address, a status, the values of a reading.
QString checked(ReadingRow *row, const std::string_view (&values)[ReadingRow::Quantities], ReadingRow::Range range)
{
    using namespace ModbusFrame;
    if (row->address < MinAddress || row->address > MaxAddress)
        return QString("the address is %1 to %2, not %3").arg(MinAddress).arg(MaxAddress).arg(row->address);
    if (row->status.isEmpty())
        return "the status is empty";
    if (!ReadingRow::knownStatus(row->status))
        return QString("the status \"%1\" is not one morvane-cli read writes (ok, no answer, port lost: REASON "
                       "or a Modbus exception)").arg(LineFile::printable(row->status));
    const bool reading = row->ok();   // a miss's values are not looked at
    for (int q = 0; q < ReadingRow::Quantities; ++q) {
        int tenths = 0;
        if (reading && !RowFields::parseTenths(values[q], range.lowest, range.highest, &tenths))
            return QString("the %1 is not a number: \"%2\"").arg(ValueNames[q], LineFile::printable(utf8(values[q])));
        row->tenths[q] = reading ? std::optional<int>(tenths) : std::nullopt;
    }
    return QString();
}

} // namespace

void ReadingRow::setTime(const QDateTime &at)
{
    time = at.toMSecsSinceEpoch();
    utcOffset = at.offsetFromUtc();
}

QString ReadingRow::textLine(bool several) const
{
    const QString prefix = several || !ok() ? QString("address %1: ").arg(address) : QString();
    if (!ok())
        return prefix + status;
    return prefix + QString("temperature %1 °C, humidity %2 %RH, dew point %3 °C")
                        .arg(valueText(tenths[Temperature]), valueText(tenths[Humidity]), valueText(tenths[DewPoint]));
}

QString ReadingRow::csvLine() const
{
    return QStringList{RowFields::formatIsoTime(time, utcOffset), QString::number(address), valueText(tenths[Temperature]),
                       valueText(tenths[Humidity]), valueText(tenths[DewPoint]), csvField(status)}.join(',');
}

QString ReadingRow::jsonLine() const
{
    QJsonObject object{{"time", RowFields::formatIsoTime(time, utcOffset)}, {"address", address}, {"status", status}};
    for (int q = 0; q < Quantities; ++q)
        object.insert(JsonKeys[q], jsonValue(tenths[q]));
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString ReadingRow::influxLine() const
{
    return QString("morvane,address=%1 temperature=%2,humidity=%3,dew_point=%4 %5")
        .arg(address)
        .arg(valueText(tenths[Temperature]), valueText(tenths[Humidity]), valueText(tenths[DewPoint]))
        .arg(time * NanosecondsPerMs);
}

QString ReadingRow::scanCsvLine(std::optional<int> baud) const
{
    return QStringList{QString::number(address), baud ? QString::number(*baud) : QString(), valueText(tenths[Temperature]),
                       valueText(tenths[Humidity]), valueText(tenths[DewPoint]), csvField(status)}.join(',');
}

QString ReadingRow::scanJsonLine(std::optional<int> baud) const
{
    QJsonObject object{{"address", address}, {"baud", baud ? QJsonValue(*baud) : QJsonValue()}, {"status", status}};
    for (int q = 0; q < Quantities; ++q)
        object.insert(JsonKeys[q], jsonValue(tenths[q]));
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString ReadingRow::readCsv(const QByteArray &line, ReadingRow *row, Range range, const CsvColumns &columns)
{
    std::string_view fields[CsvColumns::Fields];
    const QString split = columns.split(line, fields);
    if (!split.isEmpty())
        return split;
    if (!RowFields::parseIsoTime(fields[CsvColumns::Time], &row->time, &row->utcOffset))
        return "the time is not an ISO 8601 time: " + LineFile::printable(utf8(fields[CsvColumns::Time]));
    if (!parseAddress(fields[CsvColumns::Address], &row->address))
        return "the address is not a number: " + LineFile::printable(utf8(fields[CsvColumns::Address]));
    if (!csvUnquoted(fields[CsvColumns::Status], &row->status))
        return "the status has an open quote";
    return checked(row, {fields[CsvColumns::Temperature], fields[CsvColumns::Humidity], fields[CsvColumns::DewPoint]}, range);
}

QString ReadingRow::readJson(const QByteArray &line, ReadingRow *row, Range range)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError)
        return "not JSON: " + error.errorString();
    if (!document.isObject())
        return "not a JSON object";
    const QJsonObject object = document.object();
    const QJsonValue time = object.value("time"), address = object.value("address"), status = object.value("status");
    if (!time.isString())
        return wrongType("time", time, "an ISO 8601 time as a string");
    const QByteArray timeText = time.toString().toUtf8();
    if (!RowFields::parseIsoTime(view(timeText), &row->time, &row->utcOffset))
        return "the time is not an ISO 8601 time: " + LineFile::printable(time.toString());
    if (!address.isDouble() || address.toDouble() != std::floor(address.toDouble()))
        return address.isDouble() ? QString("\"address\" is %1; it takes a whole number").arg(address.toDouble())
                                  : wrongType("address", address, "a whole number");
    row->address = std::abs(address.toDouble()) > INT_MAX ? INT_MAX : address.toInt();
    if (!status.isString())
        return wrongType("status", status, "a string");
    row->status = status.toString();
    // Through text with two places, as plot has always rounded them.
    QByteArray texts[Quantities];
    for (int q = 0; q < Quantities; ++q) {
        const QJsonValue value = object.value(JsonKeys[q]);
        if (value.isDouble())
            texts[q] = QByteArray::number(value.toDouble(), 'f', 2);
        else if (row->ok())
            return wrongType(JsonKeys[q], value, "a number in an \"ok\" row");
    }
    return checked(row, {view(texts[0]), view(texts[1]), view(texts[2])}, range);
}

bool ReadingRow::knownStatus(const QString &status)
{
    static const QRegularExpression other("^exception \\d+ \\(not a Modbus code\\)$");
    if (status == QLatin1String("ok") || status == QLatin1String("no answer") || status.startsWith("port lost: "))
        return true;
    for (int code = ModbusFrame::IllegalFunction; code <= ModbusFrame::GatewayTargetFailedToRespond; ++code) {
        if (status == ModbusFrame::exceptionName(code))
            return true;
    }
    return other.match(status).hasMatch();
}
