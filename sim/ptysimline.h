#ifndef PTYSIMLINE_H
#define PTYSIMLINE_H

#include "simline.h"

class QSocketNotifier;

// A pseudo-terminal of the simulator's own, its path for the master to
// open. Through it the speed the master set can be read, as a real module
// would hear it.
class PtySimLine : public SimLine
{
    Q_OBJECT

public:
    using SimLine::SimLine;
    ~PtySimLine() override;

    QString open(int baud) override;
    QString write(const QByteArray &bytes) override;
    int seenBaud() const override;

private:
    void readAll();

    QSocketNotifier *m_notifier = nullptr;
    int m_master = -1;
    int m_slave = -1;
};

#endif // PTYSIMLINE_H
