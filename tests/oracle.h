#ifndef ORACLE_H
#define ORACLE_H

#include <QByteArray>

// The check value worked out bit by bit, apart from the protocol library's
// table, for the frames tests and fuzz targets expect.
namespace Oracle {

inline quint16 crc(const QByteArray &bytes)
{
    quint16 crc = 0xFFFF;
    for (char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

inline QByteArray hex(const char *spaced)
{
    return QByteArray::fromHex(QByteArray(spaced).replace(' ', ""));
}

// The hex with its check value appended.
inline QByteArray framed(const char *spaced)
{
    QByteArray frame = hex(spaced);
    const quint16 c = crc(frame);
    return frame.append(char(c & 0xFF)).append(char(c >> 8));
}

// Whether the frame's last two bytes are the check value of the rest.
inline bool intact(const QByteArray &frame)
{
    const int n = frame.size();
    return n >= 4 && crc(frame.left(n - 2)) == quint16(quint8(frame[n - 2]) | (quint8(frame[n - 1]) << 8));
}

} // namespace Oracle

#endif // ORACLE_H
