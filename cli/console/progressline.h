#ifndef PROGRESSLINE_H
#define PROGRESSLINE_H

#include "byteline.h"

class Console;

// A line that wakes its reader when the console's progress falls due, so
// that a long wait for a reply shows what is being asked. Everything else
// is the line's own.
class ProgressLine : public ByteLine
{
public:
    ProgressLine(ByteLine &line, Console &console) : m_line(line), m_console(console) {}

    bool write(const QByteArray &bytes) override { return m_line.write(bytes); }
    Wait read(int ms, QByteArray *bytes) override;
    bool setBaudRate(int baud) override { return m_line.setBaudRate(baud); }
    int baudRate() const override { return m_line.baudRate(); }
    bool reopen() override { return m_line.reopen(); }
    QString errorString() const override { return m_line.errorString(); }
    qint64 now() const override { return m_line.now(); }
    int silenceFloorMs() const override { return m_line.silenceFloorMs(); }

private:
    ByteLine &m_line;
    Console &m_console;
};

#endif // PROGRESSLINE_H
