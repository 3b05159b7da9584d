#ifndef QUIETLINE_H
#define QUIETLINE_H

#include "byteline.h"

// Waiting for a line to fall silent, so that a late reply is not taken for
// the next request's: whatever comes meanwhile is thrown away.
namespace QuietLine {

// Until the line has been quiet for ms since quietSince (each byte that
// comes starts the count again), or until giveUpAt for a line that never
// falls silent. Quiet, or Interrupted or Failed when that ended the wait.
ByteLine::Wait waitFor(ByteLine &line, qint64 quietSince, int ms, qint64 giveUpAt);

} // namespace QuietLine

#endif // QUIETLINE_H
