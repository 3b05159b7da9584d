#ifndef HELPTEXTS_H
#define HELPTEXTS_H

#include <QCommandLineOption>
#include <QList>
#include <QString>

// What --help says of a command: its summary and its options.
struct CommandHelp
{
    QString summary;
    QList<QCommandLineOption> options;
};

// The texts of morvane-cli's help, one place for all of them; the manual
// page is made from what they print.
namespace HelpTexts {

CommandHelp ports();
CommandHelp find();
CommandHelp read();
CommandHelp setAddress();
CommandHelp setBaud();
CommandHelp plot();
CommandHelp doctor();

QString overview();     // what comes before the commands
QString exitStatus();   // what comes after the options
QString environment();  // the variables that give defaults, last

} // namespace HelpTexts

#endif // HELPTEXTS_H
