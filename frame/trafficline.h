#ifndef TRAFFICLINE_H
#define TRAFFICLINE_H

#include <QByteArray>
#include <QDateTime>
#include <QString>

// A frame as the window's traffic log shows it:
// "2026-12-07 10:15:02->TX  01030000000305cb".
QString trafficLine(const QByteArray &frame, bool received, const QDateTime &when = QDateTime::currentDateTime());

#endif // TRAFFICLINE_H
