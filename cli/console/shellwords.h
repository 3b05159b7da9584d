#ifndef SHELLWORDS_H
#define SHELLWORDS_H

#include <QString>
#include <QStringList>

// Commands printed for the user to paste into a POSIX shell: each word as
// it stands when it is safe there, else in single quotes.
namespace ShellWords {

QString quoted(const QString &word);
// "morvane-cli" and these words, each quoted.
QString command(const QStringList &words);

} // namespace ShellWords

#endif // SHELLWORDS_H
