#include "linetime.h"

#include <algorithm>
#include <cmath>

namespace LineTime {

double characterMs(int baud)
{
    return BitsPerCharacter * 1000.0 / std::max(1, baud);
}

int silenceMs(int baud)
{
    return std::max(AdapterFloorMs, int(std::ceil(3.5 * characterMs(baud))));
}

int wireMs(int bytes, int baud)
{
    return int(std::ceil(bytes * characterMs(baud)));
}

} // namespace LineTime
