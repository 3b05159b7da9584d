#include "progressline.h"

#include "console.h"

// A wait that would pass the moment the progress is due ends there, Quiet,
// as a read may: the reader goes by its clock and waits again.
ByteLine::Wait ProgressLine::read(int ms, QByteArray *bytes)
{
    const int due = m_console.progressDueMs();
    if (due < 0 || due >= ms)
        return m_line.read(ms, bytes);
    const Wait wait = m_line.read(due, bytes);
    m_console.showDueProgress();
    return wait;
}
