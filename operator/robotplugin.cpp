#include "robotplugin.h"
#include "robot.h"

QObject *RobotPlugin::create(const QString &key, const QString &)
{
    return key == "morvanerobot" ? Robot::fromEnvironment() : nullptr;
}
