#pragma once
// 8-bit text as the group's Windows consoles write it: Windows-1252 on the
// wire and in our files. Every byte decodes to one character and encodes back
// to the same byte (the five bytes the code page leaves undefined map to the
// C1 control of the same number), so stored text survives a load and a save.
#include <QByteArray>
#include <QList>
#include <QString>

namespace velmora {

// Text for the wire or a file; characters the code page cannot carry become "?".
QByteArray ToAnsi(const QString &text);
// Bytes read from one of our files: always Windows-1252.
QString FromAnsi(const QByteArray &bytes);
// Bytes received from a peer: valid UTF-8 that has multi-byte sequences is
// UTF-8 (web visitors' browsers send it); anything else is Windows-1252.
QString FromReceived(const QByteArray &bytes);
// True when `text` uses multi-byte sequences and is valid UTF-8 throughout.
bool IsMultiByteUtf8(const QByteArray &bytes);

// The character of one byte, and the byte of a character (-1 when the code
// page has none): the one Windows-1252 table of the console.
char16_t AnsiChar(unsigned char byte);
int AnsiByte(char16_t c);

// Whether the code page carries the character.
bool AnsiCarries(QChar c);
// Positions (in UTF-16 units) of the characters the code page cannot carry; a
// surrogate pair (an emoji, say) is reported once, at its first unit.
QList<qsizetype> UncarriedPositions(const QString &text);
// The distinct characters the code page cannot carry, in their order, for a
// warning ("Ж, 😀"); empty when everything can be carried.
QString UncarriedCharacters(const QString &text, int max = 10);

} // namespace velmora
