#ifndef PORTADDERPLUGIN_H
#define PORTADDERPLUGIN_H

#include <QGenericPlugin>

// Loaded by morvane-try with QT_QPA_GENERIC_PLUGINS=morvaneportadder:
// adds MORVANE_OPERATOR_PORT to Link's port list.
class PortAdderPlugin : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "portadder.json")

public:
    QObject *create(const QString &key, const QString &parameters) override;
};

#endif // PORTADDERPLUGIN_H
