#ifndef LINEPACER_H
#define LINEPACER_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

// What goes out on the line, in order and at its time: a piece starts at the
// time asked or when the piece before has gone, whichever is later, and then
// goes all at once or one byte per character time. Sends what is due from a
// precise timer, never waiting in a call.
class LinePacer : public QObject
{
    Q_OBJECT

public:
    explicit LinePacer(QObject *parent = nullptr);

    // Milliseconds on the pacer's clock.
    double now() const { return m_clock.nsecsElapsed() / 1e6; }
    // Queues a piece (characterMs 0: all at once) and returns when its last
    // byte will have gone. What is due at once goes out before the call returns.
    double queue(double startMs, const QByteArray &bytes, double characterMs);
    int waiting() const { return m_pieces.size(); }
    double idleAt() const { return m_idleAt; }   // when the last byte queued has gone
    void clear();

signals:
    void due(const QByteArray &bytes);

private:
    struct Piece
    {
        double startMs;
        double characterMs;
        QByteArray bytes;
        int sent;
    };

    void sendDue();

    QElapsedTimer m_clock;
    QTimer m_timer;
    QList<Piece> m_pieces;
    double m_idleAt = 0;
};

#endif // LINEPACER_H
