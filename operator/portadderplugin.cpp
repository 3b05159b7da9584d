#include "portadderplugin.h"
#include "portadder.h"

QObject *PortAdderPlugin::create(const QString &key, const QString &)
{
    return key == "morvaneportadder" ? new PortAdder(qEnvironmentVariable("MORVANE_OPERATOR_PORT")) : nullptr;
}
