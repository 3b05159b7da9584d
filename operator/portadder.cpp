#include "portadder.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFileInfo>

#include <cstdio>

PortAdder::PortAdder(const QString &port, QObject *parent)
    : QObject(parent)
    , m_port(port)
{
    if (!QFileInfo::exists(port)) {
        fprintf(stderr, "morvaneportadder: the simulated module's terminal '%s' does not exist; "
                        "the port list stays as the system gives it\n", qPrintable(port));
        return;
    }
    qApp->installEventFilter(this);
}

bool PortAdder::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show && watched->objectName() == "SerialportSettingDialog") {
        auto *names = watched->findChild<QComboBox *>("comboBoxName");
        if (names && names->findText(m_port) < 0)
            names->addItem(m_port);
    }
    return false;
}
