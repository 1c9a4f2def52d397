#pragma once
// The conversation's line renderer and the small formatting helpers of the
// chat windows. Text is always inserted as plain characters with a format: a
// visitor's "<b>" stays the three characters "<b>".
#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>
#include <QTextCharFormat>
#include <QTextFormat>

class QTextCursor;
class QTextDocument;

namespace velmora {

// Notices of the window itself.
inline const QColor kNoticeGreen{0, 128, 0};
// Lines of the console itself about the chat (its end), apart from both speakers.
inline const QColor kSystemGrey{96, 96, 96};

// A stored colour in the 0x00BBGGRR layout.
QColor ColorFromSetting(quint32 bbggrr);

// Hours, minutes, seconds as "%u:%02u:%02u" (0:01:05, 12:00:00).
QString ClockText(quint32 seconds);

// A caller's or supporter's name (from the network) as a caption shows it:
// a control character, NUL included, would cut the caption there.
QString CaptionName(const QString &name);

// A chat window's caption once the chat is over.
QString EndedCaption(const QString &caption);

// Line breaks of a message (CR LF, CR or LF) as the soft breaks of one
// paragraph, so a multi-line message stays one line of the conversation.
QString MessageForDisplay(const QString &text);
// The input box's line breaks as they travel on the wire (CR LF).
QString MessageForWire(const QString &text);

// The conversation's font, in the chat window and wherever a chat is shown again.
QFont ConversationFont();

// Appends `text` as a new paragraph: its first `nameLength` characters in
// `nameColor`, the rest in `textColor`, both on the `base` format, in a
// paragraph of `lineFormat`; then, when `emptyLineAfter`, an empty paragraph.
//
// With `rest`, a line longer than kLinePieceChars gets only its first piece
// and no empty paragraph; the other pieces, in order, are left in `rest` for
// AppendLinePiece, so no single pass lays out the whole of a huge line.
void AppendChatLine(QTextDocument &document, const QString &text, const QColor &nameColor,
                    int nameLength, const QColor &textColor, const QTextCharFormat &base,
                    bool emptyLineAfter, QStringList *rest = nullptr,
                    const QTextBlockFormat &lineFormat = QTextBlockFormat());

inline constexpr int kLinePieceChars = 4096;

// Inserts `piece` at `at` (the end of the line's last piece) as a paragraph
// that continues that line (kContinuedLineProperty), in `textColor`; `at`
// ends up at the end of the new paragraph. The last piece brings the line's
// empty paragraph, when `emptyLineAfter`.
void AppendLinePiece(QTextCursor &at, const QString &piece, const QColor &textColor, const QTextCharFormat &base,
                     bool emptyLineAfter);

} // namespace velmora
