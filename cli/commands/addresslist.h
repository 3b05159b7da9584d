#ifndef ADDRESSLIST_H
#define ADDRESSLIST_H

#include <QString>
#include <QVector>

// The modules read takes: "7", "1,3,5-9", or a file of them (what
// find --scan --format csv or json prints, or one address a line, with
// blank lines and "#" comments). Each
// parse returns an error naming the allowed range, the file and the line,
// or an empty string; the addresses come out in rising order, each once.
namespace AddressList {

QString parse(const QString &text, QVector<int> *addresses);
QString parseFile(const QString &path, QVector<int> *addresses);
// A file when the value names one or looks like a path (a / or a file
// type such as .csv), else a list.
QString take(const QString &value, QVector<int> *addresses);

} // namespace AddressList

#endif // ADDRESSLIST_H
