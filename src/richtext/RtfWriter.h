#pragma once
// RTF out of a conversation document: the transcript attachment of a mail and
// the conversation that travels with a transfer. Widget-free.
//
// What is kept: the text, paragraphs (\par), soft line breaks (\line), tabs,
// and per run the font family, size, bold, italic, underline and text colour.
// Images and paragraph layout are not written. Text goes in Windows-1252
// (\'hh for its upper half) with \uN? for everything else, so the file opens
// alike in readers that know Unicode and in those that do not.
#include <QByteArray>
#include <QTextFormat>

class QIODevice;
class QTextDocument;

namespace velmora {

// Set on a paragraph that continues the one before it: a long line shown in
// pieces is written as the one paragraph it is.
inline constexpr int kContinuedLineProperty = QTextFormat::UserProperty + 0x100;

// Writes the whole document as RTF, one paragraph at a time, to `out`.
// Returns false when the device refuses a write.
bool WriteRtf(const QTextDocument &document, QIODevice &out);
// The same into memory.
QByteArray DocumentToRtf(const QTextDocument &document);

} // namespace velmora
