#include "widget.h"

#include <QApplication>
#include <QDir>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication a(argc, argv);

    // The catalogue is looked up below the working directory only; a missing
    // or damaged one leaves the English texts.
    QTranslator translator;
    QString qmPath = QDir::currentPath() + "/Qm/Chinese.qm";
    translator.load(qmPath, QString(), QString(), QString());
    QCoreApplication::installTranslator(&translator);

    Widget w;
    w.show();

    return a.exec();
}
