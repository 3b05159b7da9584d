#ifndef ADDRESSRANGE_H
#define ADDRESSRANGE_H

#include <QString>
#include <QVector>

// The bus addresses both tools take on their command line: "7", "1-20",
// "1,3,5-9", spaces around each item allowed. Each caller words its own
// refusal.
namespace AddressRange {

// True with the addresses in rising order, each once (a repeat is merged);
// false when an item is not an address from 1 to 247 or a rising range of
// them.
bool parse(const QString &text, QVector<int> *addresses);
bool isAddress(qlonglong value);
void sortAndMerge(QVector<int> *addresses);

} // namespace AddressRange

#endif // ADDRESSRANGE_H
