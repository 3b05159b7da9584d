#ifndef ROBOTPLUGIN_H
#define ROBOTPLUGIN_H

#include <QGenericPlugin>

// Loaded with QT_QPA_GENERIC_PLUGINS=morvanerobot: the robot that
// MORVANE_OPERATOR names.
class RobotPlugin : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "robot.json")

public:
    QObject *create(const QString &key, const QString &parameters) override;
};

#endif // ROBOTPLUGIN_H
