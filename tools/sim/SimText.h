#pragma once
// Turning wire bytes into terminal lines for the simulator's output.
#include <QByteArray>
#include <QString>

namespace velmora::sim {

// Bytes from the wire made safe to print: 8-bit text read as Latin-1, every
// control character (C0, DEL, C1) and the backslash written as an escape, so
// a peer can never move the cursor, clear the screen or forge an output line.
// Longer input is cut after `maxBytes` with a note of how much was left out.
QString Printable(const QByteArray &bytes, int maxBytes = 300);

// "GIF", "JPEG", "PNG" by the file's magic bytes, else "unknown type".
QString ImageKind(const QByteArray &bytes);

// One received frame as a short readable text: its name and its fields.
// The code tables of the two kinds of connection overlap, hence two functions.
QString DescribeServerFrame(quint16 code, const QByteArray &body);
QString DescribeChatFrame(quint16 code, const QByteArray &body);

} // namespace velmora::sim
