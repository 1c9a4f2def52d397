#include "chat/ChatLines.h"

#include "diag/SafeText.h"
#include "richtext/RtfWriter.h"
#include "richtext/WordBreaks.h"

#include <QTextCursor>
#include <QTextDocument>

namespace velmora {

QColor ColorFromSetting(quint32 bbggrr)
{
    return QColor(int(bbggrr & 0xFF), int((bbggrr >> 8) & 0xFF), int((bbggrr >> 16) & 0xFF));
}

QString ClockText(quint32 seconds)
{
    return QString::asprintf("%u:%02u:%02u", seconds / 3600, (seconds / 60) % 60, seconds % 60);
}

QString CaptionName(const QString &name)
{
    constexpr int kMaxCaptionName = 80;
    return ShortText(name, kMaxCaptionName).trimmed();
}

QString EndedCaption(const QString &caption)
{
    QString ended = caption;
    ended.replace(QStringLiteral(", in chat with "), QStringLiteral(", chat ended with "));
    return ended == caption ? ended + QStringLiteral(", chat ended") : ended;
}

namespace {

// `said` in pieces of about kLinePieceChars, each ending after a space or a
// break opportunity where one is near, never inside a surrogate pair.
QStringList LinePieces(const QString &said)
{
    QStringList pieces;
    qsizetype from = 0;
    while (said.size() - from > kLinePieceChars) {
        qsizetype end = from + kLinePieceChars;
        for (qsizetype at = end; at > end - 512; --at) {
            const QChar before = said.at(at - 1);
            if (before.isSpace() || before == QChar(kZeroWidthSpace)) {
                end = at;
                break;
            }
        }
        if (said.at(end - 1).isHighSurrogate())
            --end;
        pieces.append(said.mid(from, end - from));
        from = end;
    }
    pieces.append(said.mid(from));
    return pieces;
}

} // namespace

QString MessageForDisplay(const QString &text)
{
    QString out = text;
    out.replace(QLatin1String("\r\n"), QString(QChar::LineSeparator));
    out.replace(QLatin1Char('\r'), QChar::LineSeparator);
    out.replace(QLatin1Char('\n'), QChar::LineSeparator);
    return out;
}

QString MessageForWire(const QString &text)
{
    QString out = text;
    out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    out.replace(QChar::LineSeparator, QLatin1Char('\n'));
    out.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    out.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return out;
}

void AppendChatLine(QTextDocument &document, const QString &text, const QColor &nameColor,
                    int nameLength, const QColor &textColor, const QTextCharFormat &base,
                    bool emptyLineAfter, QStringList *rest, const QTextBlockFormat &lineFormat)
{
    const QString line = MessageForDisplay(text);
    const int split = qBound(0, nameLength, int(line.size()));
    // A visitor's endless word is given places to wrap (WordBreaks.h).
    int unbroken = 0;
    const QString name = WithWordBreaks(line.left(split), unbroken);
    QString said = WithWordBreaks(line.mid(split), unbroken);
    if (rest) {
        *rest = LinePieces(said);
        said = rest->isEmpty() ? QString() : rest->takeFirst();
        if (!rest->isEmpty())
            emptyLineAfter = false; // it follows the last piece
    }

    QTextCharFormat nameFormat = base;
    nameFormat.setForeground(nameColor);
    QTextCharFormat textFormat = base;
    textFormat.setForeground(textColor);

    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    if (!document.isEmpty()) {
        cursor.insertBlock(lineFormat, base);
    } else {
        cursor.setBlockFormat(lineFormat);
        cursor.setBlockCharFormat(base);
    }
    // insertText takes the characters as they are; no markup is ever parsed.
    if (!name.isEmpty())
        cursor.insertText(name, nameFormat);
    if (!said.isEmpty())
        cursor.insertText(said, textFormat);
    if (emptyLineAfter)
        cursor.insertBlock(QTextBlockFormat(), base);
    cursor.endEditBlock();
}

void AppendLinePiece(QTextCursor &at, const QString &piece, const QColor &textColor, const QTextCharFormat &base,
                     bool emptyLineAfter)
{
    QTextCharFormat textFormat = base;
    textFormat.setForeground(textColor);
    QTextBlockFormat continued;
    continued.setProperty(kContinuedLineProperty, true);
    QTextCursor cursor(at.document());
    cursor.setPosition(at.position());
    cursor.beginEditBlock();
    cursor.insertBlock(continued, base);
    cursor.insertText(piece, textFormat);
    at.setPosition(cursor.position());
    if (emptyLineAfter)
        cursor.insertBlock(QTextBlockFormat(), base);
    cursor.endEditBlock();
}

QFont ConversationFont()
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    return font;
}

} // namespace velmora
