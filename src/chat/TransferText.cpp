#include "chat/TransferText.h"

#include "archive/ArchiveDb.h"
#include "chat/ChatLines.h"
#include "richtext/RtfReader.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace velmora {

namespace {
// A conversation is shown in one go: bounded so that laying it out never
// freezes the window. A real one is far smaller; a peer's megabyte of one
// word, or of one colour change per letter, is not.
constexpr RtfLimits kReceivedLimits{64 * 1024, 2048, true};

void MarkBlocks(QTextDocument &document, int first, int end, int state)
{
    for (QTextBlock block = document.findBlockByNumber(first); block.isValid() && block.blockNumber() < end;
         block = block.next())
        block.setUserState(state);
}

// The first and last paragraph of the first run marked `state`.
std::pair<QTextBlock, QTextBlock> MarkedRun(const QTextDocument &document, int state)
{
    QTextBlock first = document.begin();
    while (first.isValid() && first.userState() != state)
        first = first.next();
    QTextBlock last = first;
    while (last.next().isValid() && last.next().userState() == state)
        last = last.next();
    return {first, last};
}

// Removes the paragraphs marked `state` with one paragraph break. The
// paragraph that remains beside them keeps its own state (a removal leaves
// the removed paragraph's state on it).
void RemoveMarked(QTextCursor &cursor, int state)
{
    const auto [first, last] = MarkedRun(*cursor.document(), state);
    if (!first.isValid())
        return;
    int from = first.position();
    int to = last.position() + last.length() - 1;
    QTextBlock kept = first.previous();
    if (kept.isValid()) {
        --from;
    } else if (last.next().isValid()) {
        kept = last.next();
        ++to;
    }
    const int keptState = kept.isValid() ? kept.userState() : -1;
    cursor.setPosition(from);
    cursor.setPosition(to, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    cursor.block().setUserState(keptState);
}
} // namespace

QStringList TransferHeaderLines(const QString &startTime, const QString &transferTime, const QString &supportName)
{
    return {
        QStringLiteral("----------------------------------------------"),
        QStringLiteral("Chat Started at: ") + startTime,
        QStringLiteral("Chat Transfered at: ") + transferTime,
        QStringLiteral("Support Person: ") + supportName,
        QString(),
        QStringLiteral("Start Chat Transcript -------------------------"),
        QString(),
        QString(),
    };
}

void InsertTransferHeader(QTextDocument &document, const QStringList &lines, const QTextCharFormat &base)
{
    QTextCharFormat green = base;
    green.setForeground(kNoticeGreen);
    const bool wasEmpty = document.isEmpty();
    const int firstState = document.begin().userState();
    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::Start);
    for (int i = 0; i < lines.size(); ++i) {
        // Plain characters: the supporter's name is a setting, never markup.
        cursor.insertText(lines[i], i < 7 ? green : base);
        // The last header line joins the conversation's first paragraph
        // boundary; an empty document keeps no trailing paragraph.
        if (i + 1 < lines.size() || !wasEmpty)
            cursor.insertBlock(QTextBlockFormat(), base);
    }
    // The split leaves the first paragraph's state on the first header line.
    if (!wasEmpty)
        cursor.block().setUserState(firstState);
    MarkBlocks(document, 0, int(lines.size()), kTransferHeaderBlock);
    cursor.endEditBlock();
}

void AppendTransferEnd(QTextDocument &document, const QTextCharFormat &base, bool emptyLineAdd)
{
    const int first = document.isEmpty() ? 0 : document.blockCount();
    AppendChatLine(document, QString::fromLatin1(kTransferEndLine), kNoticeGreen, 0, kNoticeGreen, base,
                   emptyLineAdd);
    AppendChatLine(document, QString(), kNoticeGreen, 0, kNoticeGreen, base, emptyLineAdd);
    MarkBlocks(document, first, document.blockCount(), kTransferEndBlock);
}

void RemoveTransferLines(QTextDocument &document)
{
    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    RemoveMarked(cursor, kTransferEndBlock);
    RemoveMarked(cursor, kTransferHeaderBlock);
    cursor.endEditBlock();
}

bool KeepTransferEndLast(QTextDocument &document, const QTextCharFormat &base, bool emptyLineAdd)
{
    const auto [first, last] = MarkedRun(document, kTransferEndBlock);
    if (!last.isValid() || !last.next().isValid())
        return false;
    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    RemoveMarked(cursor, kTransferEndBlock);
    cursor.endEditBlock();
    AppendTransferEnd(document, base, emptyLineAdd);
    return true;
}

bool InsertReceivedConversation(QTextDocument &document, const QByteArray &rtf, const QTextCharFormat &base,
                                int *paragraphs)
{
    if (paragraphs)
        *paragraphs = 0;
    if (rtf.isEmpty())
        return true;
    const bool hadText = !document.isEmpty();
    const int firstState = document.begin().userState();
    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::Start);
    cursor.setCharFormat(base);
    if (hadText) {
        // A paragraph of its own for what was there, below the received part.
        cursor.insertBlock(QTextBlockFormat(), base);
        cursor.movePosition(QTextCursor::Start);
        cursor.setCharFormat(base);
    }
    const RtfReadResult result = InsertRtf(rtf, cursor, kReceivedLimits);
    if (paragraphs)
        *paragraphs = cursor.blockNumber() + 1;
    if (result.limited) {
        QTextCharFormat green = base;
        green.setForeground(kNoticeGreen);
        cursor.insertBlock(QTextBlockFormat(), base);
        cursor.insertText(QString::fromLatin1(kReceivedCutLine), green);
    }
    // The split leaves the first paragraph's state on the received part.
    const int received = cursor.blockNumber() + 1;
    if (hadText)
        document.findBlockByNumber(received).setUserState(firstState);
    MarkBlocks(document, 0, received, kReceivedBlock);
    cursor.endEditBlock();
    return result.complete;
}

int ReceivedParagraphs(const QTextDocument &document)
{
    int count = 0;
    for (QTextBlock block = document.begin(); block.isValid() && block.userState() == kReceivedBlock;
         block = block.next())
        ++count;
    return count;
}

void RemoveReceivedConversation(QTextDocument &document)
{
    QTextCursor cursor(&document);
    RemoveMarked(cursor, kReceivedBlock);
}

std::vector<TArchiveLine> CarriedLines(const QTextDocument &document, int paragraphs, const QString &visitor,
                                       const QString &self, QString *from)
{
    const QString supportLabel = QStringLiteral("Support Person: ");
    QStringList texts;
    QString supporter;
    for (QTextBlock block = document.begin(); block.isValid() && block.blockNumber() < paragraphs;
         block = block.next()) {
        QString text = block.text();
        text.replace(QChar::LineSeparator, QLatin1Char('\n'));
        if (text.trimmed().isEmpty())
            continue;
        if (supporter.isEmpty() && text.startsWith(supportLabel))
            supporter = text.mid(supportLabel.size()).trimmed();
        texts << text;
    }
    const std::pair<archive::Who, QString> speakers[] = {
        {archive::Who::OtherSupporter, supporter}, {archive::Who::Visitor, visitor}, {archive::Who::Operator, self}};
    std::vector<TArchiveLine> lines;
    for (const QString &text : texts) {
        TArchiveLine line = TArchiveLine::Said(archive::Who::System, QString(), text);
        for (const auto &[who, name] : speakers) {
            if (!name.isEmpty() && text.startsWith(name + QStringLiteral(": "))) {
                line = TArchiveLine::Said(who, name, text.mid(name.size() + 2));
                break;
            }
        }
        line.Carried = true;
        lines.push_back(std::move(line));
    }
    if (from)
        *from = supporter;
    return lines;
}

} // namespace velmora
