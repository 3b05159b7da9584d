#ifndef FRAMEASSEMBLER_H
#define FRAMEASSEMBLER_H

#include <QByteArray>
#include <QList>

// Cuts a byte stream from the line into candidate frames: requests for the
// module's side, replies for the master's. Fed bytes as they arrive and told
// when the line has been silent, it yields every frame whose length is known
// and whose check value holds. Where no frame can start (junk, a damaged
// frame), it drops a byte and looks again, so a stray byte costs only
// itself. It never holds more than one frame can be long.
class FrameAssembler
{
public:
    enum Side { Requests, Replies };

    explicit FrameAssembler(Side side) : m_side(side) {}

    void feed(const QByteArray &bytes);
    // The line has been silent for 3.5 characters: whatever is held can no
    // longer grow. A request of a function whose length only silence tells
    // ends here; what cannot be completed any more is dropped, a byte at a
    // time, for any frame that starts behind it.
    void silence();

    bool hasFrame() const { return !m_frames.isEmpty(); }
    QByteArray takeFrame() { return m_frames.takeFirst(); }

    // Bytes held that may yet become a frame.
    int held() const { return m_buffer.size(); }
    qint64 dropped() const { return m_dropped; }   // junk bytes skipped so far
    void clear();

private:
    int lengthAtStart() const;
    void cut();

    Side m_side;
    QByteArray m_buffer;
    QList<QByteArray> m_frames;
    qint64 m_dropped = 0;
};

#endif // FRAMEASSEMBLER_H
