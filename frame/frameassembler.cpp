#include "frameassembler.h"

#include "modbusframe.h"

using namespace ModbusFrame;

void FrameAssembler::feed(const QByteArray &bytes)
{
    // In pieces, so that the buffer never holds more than one frame.
    for (int at = 0; at < bytes.size();) {
        const int room = MaxFrameLength - m_buffer.size();
        m_buffer += bytes.mid(at, room);
        at += room;
        cut();
        if (m_buffer.size() >= MaxFrameLength) {
            // A run no frame can be cut from (a request of unknown length
            // that never pauses): the oldest byte goes.
            m_buffer.remove(0, 1);
            ++m_dropped;
            cut();
        }
    }
}

void FrameAssembler::silence()
{
    // Nothing more comes for what is held: a frame still waiting for bytes
    // was junk or damaged, and a frame may begin further on.
    while (true) {
        cut();
        if (m_buffer.isEmpty())
            return;
        if (m_side == Requests && lengthAtStart() == 0 && crcMatches(m_buffer)) {
            m_frames << m_buffer;   // a function of unknown length, ended by the silence
            m_buffer.clear();
            return;
        }
        m_buffer.remove(0, 1);
        ++m_dropped;
    }
}

void FrameAssembler::clear()
{
    m_buffer.clear();
    m_frames.clear();
}

int FrameAssembler::lengthAtStart() const
{
    return m_side == Requests ? requestLength(m_buffer) : replyLength(m_buffer);
}

void FrameAssembler::cut()
{
    while (!m_buffer.isEmpty()) {
        const int length = lengthAtStart();
        if (length == 0 || (length > 0 && m_buffer.size() < length))
            return;   // more is to come, or silence will tell
        if (length > 0 && crcMatches(m_buffer.left(length))) {
            m_frames << m_buffer.left(length);
            m_buffer.remove(0, length);
            continue;
        }
        // No frame starts here: perhaps one byte further on.
        m_buffer.remove(0, 1);
        ++m_dropped;
    }
}
