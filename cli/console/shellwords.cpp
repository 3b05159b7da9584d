#include "shellwords.h"

#include <QRegularExpression>

QString ShellWords::quoted(const QString &word)
{
    static const QRegularExpression safe("^[A-Za-z0-9_@%+=:,./-]+$");
    if (safe.match(word).hasMatch())
        return word;
    return '\'' + QString(word).replace('\'', "'\\''") + '\'';
}

QString ShellWords::command(const QStringList &words)
{
    QStringList line{"morvane-cli"};
    for (const QString &word : words)
        line << quoted(word);
    return line.join(' ');
}
