#ifndef ADAPTERINFO_H
#define ADAPTERINFO_H

#include "finding.h"

// What the system says of a port: driver, USB ids and serial number, and for
// a USB serial adapter with a latency timer its value, with the commands
// that lower it and keep it low. The sysfs tree is read under
// $MORVANE_SYSFS_ROOT when that is set (for tests), else under /sys.
namespace AdapterInfo {

// Above this, a USB adapter holds replies back long enough to matter.
const int MaxLatencyMs = 4;

Finding describe(const QString &port);

} // namespace AdapterInfo

#endif // ADAPTERINFO_H
