#include <QtTest>

class FrameTest : public QObject
{
    Q_OBJECT
};

QTEST_MAIN(FrameTest)
#include "tst_frame.moc"
