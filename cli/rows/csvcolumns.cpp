#include "csvcolumns.h"

#include <QList>

namespace {

const char *const Names[CsvColumns::Fields] = {"time", "address", "temperature_c", "humidity_rh", "dew_point_c", "status"};

QByteArray unquoted(QByteArray name)
{
    name = name.trimmed();
    if (name.size() >= 2 && name.startsWith('"') && name.endsWith('"'))
        name = name.mid(1, name.size() - 2);
    return name.toLower();
}

// The end of the field starting at from: the comma after it or the line's end.
size_t fieldEnd(std::string_view line, size_t from)
{
    if (from < line.size() && line[from] == '"') {
        size_t at = from + 1;
        for (;;) {
            at = line.find('"', at);
            if (at == std::string_view::npos)
                return line.size();   // an open quote, for the status to name
            if (at + 1 < line.size() && line[at + 1] == '"')
                at += 2;
            else
                break;
        }
        from = at + 1;
    }
    const size_t comma = line.find(',', from);
    return comma == std::string_view::npos ? line.size() : comma;
}

} // namespace

CsvColumns::CsvColumns()
{
    for (int f = 0; f < Fields; ++f)
        m_role << f;
}

bool CsvColumns::isHeader(const QByteArray &line)
{
    if (line.isEmpty() || line[0] == '{' || (line[0] >= '0' && line[0] <= '9'))
        return false;   // a row: JSON, or a time first
    bool time = false, address = false;
    for (const QByteArray &name : line.split(',')) {
        time = time || unquoted(name) == Names[Time];
        address = address || unquoted(name) == Names[Address];
    }
    return time && address;
}

QString CsvColumns::takeHeader(const QByteArray &line)
{
    const QList<QByteArray> names = line.split(',');
    QVector<int> role(names.size(), -1);
    QStringList missing;
    for (int f = 0; f < Fields; ++f) {
        int column = 0;
        while (column < names.size() && unquoted(names[column]) != Names[f])
            ++column;
        if (column == names.size())
            missing << Names[f];
        else
            role[column] = f;
    }
    if (!missing.isEmpty())
        return QString("the header has no column %1; a log needs time, address, temperature_c, humidity_rh, "
                       "dew_point_c and status").arg(missing.join(", "));
    while (role.constLast() < 0)
        role.removeLast();   // later columns are not looked at
    m_role = role;
    m_headed = true;
    return QString();
}

QString CsvColumns::split(const QByteArray &line, std::string_view (&fields)[Fields]) const
{
    const std::string_view text(line.constData(), size_t(line.size()));
    size_t from = 0;
    for (int column = 0; column < m_role.size(); ++column) {
        if (from > text.size())
            return m_headed ? QString("only %1 of the %2 fields the header names").arg(column).arg(m_role.size())
                            : QString("not a row of morvane-cli read: 6 fields, CSV or a JSON object");
        const size_t end = fieldEnd(text, from);
        if (m_role[column] >= 0)
            fields[m_role[column]] = text.substr(from, end - from);
        from = end + 1;
    }
    if (!m_headed && from <= text.size())
        return "more than 6 fields, and no header line naming them";
    return QString();
}
