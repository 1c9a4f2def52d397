#include "chat/TransferText.h"

#include "archive/ArchiveDb.h"
#include "chat/ChatLines.h"
#include "richtext/RtfReader.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace velmora {

namespace {
// A received conversation is bounded so that laying it out never freezes the
// window. A real one is far smaller; a peer's megabyte of one word, or of one
// colour change per letter, is not. Its font sizes are those of a chat, 6 to
// 36 pt, and its paragraphs bounded: a letter a page high costs its layout as
// much as a page of letters.
constexpr RtfLimits kReceivedLimits{64 * 1024, 2048, true, 4096, 12, 72};

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

TReceivedConversation::TReceivedConversation(QTextDocument &document) : m_document(document)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(0);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Pass(); });
}

bool TReceivedConversation::Show(const QByteArray &rtf, const QTextCharFormat &base, bool replace,
                                 std::function<void(bool)> piece)
{
    Stop();
    if (replace)
        RemoveReceivedConversation(m_document);
    m_read.clear();
    m_readParagraphs = 0;
    if (rtf.isEmpty())
        return true;
    // Read whole into a document that nobody lays out: cheap, and bounded.
    const bool complete = InsertReceivedConversation(m_read, rtf, base, &m_readParagraphs);
    m_piece = std::move(piece);
    // What is there already gets a paragraph of its own below the received
    // ones. The pieces go where the last one ended; what others write there
    // meanwhile (a line at the end of a document that was empty) stays
    // below them.
    if (!m_document.isEmpty()) {
        const int firstState = m_document.begin().userState();
        QTextCursor cursor(&m_document);
        cursor.beginEditBlock();
        cursor.insertBlock(QTextBlockFormat(), base);
        // The split leaves the first paragraph's state on the received part.
        m_document.begin().next().setUserState(firstState);
        cursor.endEditBlock();
    }
    m_document.begin().setUserState(kReceivedBlock);
    m_at = QTextCursor(&m_document);
    m_at.setKeepPositionOnInsert(true);
    m_block = m_read.begin();
    m_offset = 0;
    m_paragraphChars = 0;
    Pass();
    return complete;
}

void TReceivedConversation::ShowRestNow()
{
    if (!Showing())
        return;
    m_timer.stop();
    while (m_block.isValid())
        ShowPiece();
    Stop();
    if (m_piece)
        m_piece(true);
}

void TReceivedConversation::Pass()
{
    ShowPiece();
    const bool whole = !Showing();
    if (whole)
        Stop();
    else
        m_timer.start();
    if (m_piece)
        m_piece(whole);
}

void TReceivedConversation::ShowPiece()
{
    QTextCursor cursor(&m_document);
    cursor.setPosition(m_at.position());
    const int firstBlock = cursor.blockNumber();
    cursor.beginEditBlock();
    int chars = 0;
    int paragraphs = 0;
    while (m_block.isValid() && chars < kPieceChars && paragraphs < kPieceParagraphs) {
        if (m_offset == 0) {
            if (m_block != m_read.begin())
                cursor.insertBlock(m_block.blockFormat(), m_block.charFormat());
            else
                cursor.setBlockFormat(m_block.blockFormat());
            m_paragraphChars = 0;
            ++paragraphs;
            ++chars;
        }
        for (QTextBlock::iterator it = m_block.begin(); !it.atEnd() && chars < kPieceChars; ++it) {
            const QTextFragment fragment = it.fragment();
            const int start = fragment.position() - m_block.position();
            const int end = start + fragment.length();
            if (end <= m_offset)
                continue;
            const QString text = fragment.text();
            int from = qMax(start, m_offset);
            while (from < end && chars < kPieceChars) {
                if (m_paragraphChars >= kShownParagraphChars) {
                    cursor.insertBlock(m_block.blockFormat(), fragment.charFormat());
                    m_paragraphChars = 0;
                    ++chars;
                }
                int count = qMin(end - from, qMin(kPieceChars - chars, kShownParagraphChars - m_paragraphChars));
                // A surrogate pair stays in one piece.
                if (count > 1 && from + count < end && text.at(from - start + count - 1).isHighSurrogate())
                    --count;
                cursor.insertText(text.mid(from - start, count), fragment.charFormat());
                from += count;
                chars += count;
                m_paragraphChars += count;
            }
            m_offset = from;
        }
        if (m_offset >= m_block.length() - 1) {
            m_block = m_block.next();
            m_offset = 0;
        }
    }
    MarkBlocks(m_document, firstBlock, cursor.blockNumber() + 1, kReceivedBlock);
    cursor.endEditBlock();
    m_at.setPosition(cursor.position());
}

void TReceivedConversation::Stop()
{
    m_timer.stop();
    m_block = QTextBlock();
    m_at = QTextCursor();
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
