#pragma once
// The conversation's part in a transfer: the header put at the top of a chat
// that is handed to another supporter, its closing line, and the showing of
// a received conversation on the console that takes the chat. Widget-free.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <functional>
#include <vector>

namespace velmora {

struct TArchiveLine;

inline constexpr const char *kTransferEndLine = "End transfer chat transcript ------------------------------";
// Ends a received conversation too long to be shown whole.
inline constexpr const char *kReceivedCutLine = "(The earlier conversation is too long; the rest of it is not shown.)";

// The transfer's own paragraphs carry these block states, so that they are
// found again however the conversation around them has changed.
inline constexpr int kTransferHeaderBlock = 0x7248;
inline constexpr int kTransferEndBlock = 0x7245;
// The paragraphs at the top that came with a transferred call.
inline constexpr int kReceivedBlock = 0x7252;

// The eight header lines, in order (the last three are empty or a rule).
QStringList TransferHeaderLines(const QString &startTime, const QString &transferTime,
                                const QString &supportName);

// Puts `lines` at the very top of `document`, each its own paragraph, the
// first seven in green on `base`.
void InsertTransferHeader(QTextDocument &document, const QStringList &lines, const QTextCharFormat &base);

// The closing green line and an empty line at the end, as the line renderer
// writes them (each followed by one more empty line when `emptyLineAdd`).
void AppendTransferEnd(QTextDocument &document, const QTextCharFormat &base, bool emptyLineAdd);

// Takes out the header and end lines, keeping whatever came around them.
void RemoveTransferLines(QTextDocument &document);
// Lines that came below the end lines while the other supporter was being
// asked go above them: the end line stays the last. False when it was.
bool KeepTransferEndLast(QTextDocument &document, const QTextCharFormat &base, bool emptyLineAdd);

// Shows the conversation that came with a transferred call above whatever the
// document holds already. The bytes are another console's RTF: untrusted,
// read only as far as they make sense and only as much as the window can lay
// out at once (then kReceivedCutLine ends it). False when they could not be
// read whole. `paragraphs` gets the number of paragraphs read, which are the
// document's first ones.
bool InsertReceivedConversation(QTextDocument &document, const QByteArray &rtf, const QTextCharFormat &base,
                                int *paragraphs = nullptr);

// Shows a received conversation as InsertReceivedConversation does, but a
// piece per pass of the event loop: another console's conversation, as big
// as a frame can carry, never holds the window up while it is laid out, and
// lines that arrive meanwhile go below it. The whole of it, as read, is
// there at once (Read()), for the archive.
class TReceivedConversation {
public:
    explicit TReceivedConversation(QTextDocument &document);
    TReceivedConversation(const TReceivedConversation &) = delete;
    TReceivedConversation &operator=(const TReceivedConversation &) = delete;

    // Reads `rtf` (untrusted) and starts showing it at the top of the
    // document, on `base`; `piece` runs after every piece, with true after
    // the last. With `replace` the received paragraphs shown already (or
    // being shown) are taken out first. False as InsertReceivedConversation.
    bool Show(const QByteArray &rtf, const QTextCharFormat &base, bool replace,
              std::function<void(bool whole)> piece = {});
    bool Showing() const { return m_block.isValid(); }
    // Puts the rest in now, for whoever needs the whole document (the
    // conversation handed over again, the transcript).
    void ShowRestNow();
    // The conversation read, its paragraphs the received ones (with the
    // cut line when it was too long).
    const QTextDocument &Read() const { return m_read; }
    // Paragraphs read, without the cut line.
    int ReadParagraphs() const { return m_readParagraphs; }

    // Letters put in per pass, and the longest paragraph shown: a longer one
    // goes on in a paragraph of its own, since a paragraph is laid out whole
    // at every change.
    static constexpr int kPieceChars = 2048;
    static constexpr int kPieceParagraphs = 64;
    static constexpr int kShownParagraphChars = 4096;

private:
    void Pass();
    // Puts the next piece in; the paragraphs it touched are marked received.
    void ShowPiece();
    void Stop();

    QTextDocument &m_document;
    QTextDocument m_read;
    int m_readParagraphs = 0;
    QTimer m_timer;
    std::function<void(bool)> m_piece;
    // Where the next piece goes: the end of the last received paragraph,
    // which stays put when others write around it.
    QTextCursor m_at;
    // Where in Read() the next piece starts.
    QTextBlock m_block;
    int m_offset = 0; // within m_block
    int m_paragraphChars = 0; // in the paragraph being shown
};

// How many paragraphs at the top came with the call, and the taking out of
// them (a copy sent again replaces them).
int ReceivedParagraphs(const QTextDocument &document);
void RemoveReceivedConversation(QTextDocument &document);

// A received conversation (the first `paragraphs` of `document`, as
// InsertReceivedConversation put them) as the archive keeps it: a line per
// paragraph with text. One that starts with a known speaker's "Name: " is
// that speaker's: the supporter named on the header's "Support Person: "
// line (who handed the chat over; put in `from`), the visitor, or this
// console's `self`. Anything else, the header included, is the console's own.
std::vector<TArchiveLine> CarriedLines(const QTextDocument &document, int paragraphs, const QString &visitor,
                                       const QString &self, QString *from);

} // namespace velmora
