#include "quietline.h"

#include <QtGlobal>

ByteLine::Wait QuietLine::waitFor(ByteLine &line, qint64 quietSince, int ms, qint64 giveUpAt)
{
    for (qint64 now = line.now(); now < qMin(quietSince + ms, giveUpAt); now = line.now()) {
        QByteArray late;
        switch (line.read(int(qMin(quietSince + ms, giveUpAt) - now), &late)) {
        case ByteLine::Interrupted:
            return ByteLine::Interrupted;
        case ByteLine::Failed:
            return ByteLine::Failed;
        case ByteLine::Bytes:
            quietSince = line.now();
            break;
        case ByteLine::Quiet:
            break;
        }
    }
    return ByteLine::Quiet;
}
