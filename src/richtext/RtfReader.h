#pragma once
// RTF into a conversation document: the conversation that arrives with a
// transfer from another console, which may be a Windows program whose
// rich-edit control wrote it. Widget-free.
//
// Read: the font and colour tables, \par \line \tab, \cf \b \i \ul \ulnone
// \fs \plain \pard, \'hh in the document's ANSI code page (\ansicpg, or the
// font's \fcharset), \uN with its \ucN fallback, the escapes \{ \} \\ and a
// few typographic symbols. Skipped: ignorable destinations {\*...}, pictures,
// objects, the stylesheet, info, headers, footers, field instructions and
// binary data. Unknown control words are ignored.
//
// The input is untrusted. Groups are kept on an explicit stack with a depth
// limit, the input is read only up to a size limit, and nothing is read past
// its end. Broken RTF gives what could be read.
#include <QByteArray>

class QTextCursor;

namespace velmora {

// Deeper groups are skipped with their content.
inline constexpr int kRtfMaxDepth = 200;
// Four times the frame limit; bytes past it are not read.
inline constexpr qsizetype kRtfMaxBytes = 4 * 1024 * 1024;

struct RtfReadResult {
    bool complete = true; // false when input was cut short, too deep, or too big; what could be read is still inserted
    bool limited = false; // a limit of RtfLimits stopped the reading
};

// What a document shown on screen can afford (0: no limit). Past `maxRuns`
// differently formatted runs the text goes on in the format it has; past
// `maxChars` characters (paragraphs count as one) or `maxParagraphs`
// paragraphs reading stops. Unbroken runs of text get break opportunities
// when `breakLongWords` (WordBreaks.h). Font sizes are kept within
// `minHalfPoints` and `maxHalfPoints`: a letter a page high costs its
// layout as much as a page of letters.
struct RtfLimits {
    qsizetype maxChars = 0;
    int maxRuns = 0;
    bool breakLongWords = false;
    int maxParagraphs = 0;
    int minHalfPoints = 0;
    int maxHalfPoints = 0;
};

// Inserts the text of `rtf` at `cursor` with its colours, bold, italic,
// underline and size. The cursor's character format is the base of every run
// (its font family stays); the paragraph mark that ends the document is not
// inserted. Untrusted input.
RtfReadResult InsertRtf(const QByteArray &rtf, QTextCursor &cursor, const RtfLimits &limits = {});

} // namespace velmora
