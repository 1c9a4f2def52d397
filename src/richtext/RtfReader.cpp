#include "richtext/RtfReader.h"

#include "richtext/CodePages.h"
#include "richtext/WordBreaks.h"

#include <QColor>
#include <QHash>
#include <QList>
#include <QTextCursor>

#include <climits>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace velmora {

namespace {

constexpr int kMaxWordLength = 32;
constexpr int kMaxTableEntries = 4096;

enum class Dest : quint8 { Text, Skip, FontTable, ColourTable };

struct CharState {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int halfPoints = rtf::kDefaultHalfPoints;
    int colour = 0;
    int font = -1; // the default font

    bool operator==(const CharState &) const = default;
};

struct GroupState {
    CharState chr;
    Dest dest = Dest::Text;
    int uc = 1; // fallback characters after \uN
};

enum class Word {
    Par, Line, Tab, Symbol, Bold, Italic, Underline, UnderlineNone, FontSize, Colour, Font, Plain,
    Unicode, UnicodeSkip, AnsiCpg, CodePage, DefaultFont, Bin, FontTable, ColourTable, Charset,
    FontCpg, Red, Green, Blue, SkipDest,
};

struct WordInfo {
    Word word;
    char16_t symbol = 0;
};

const std::unordered_map<std::string_view, WordInfo> &Words()
{
    static const std::unordered_map<std::string_view, WordInfo> words = [] {
        std::unordered_map<std::string_view, WordInfo> w{
            {"par", {Word::Par}}, {"sect", {Word::Par}}, {"row", {Word::Par}},
            {"line", {Word::Line}}, {"tab", {Word::Tab}}, {"cell", {Word::Tab}},
            {"emdash", {Word::Symbol, 0x2014}}, {"endash", {Word::Symbol, 0x2013}},
            {"lquote", {Word::Symbol, 0x2018}}, {"rquote", {Word::Symbol, 0x2019}},
            {"ldblquote", {Word::Symbol, 0x201C}}, {"rdblquote", {Word::Symbol, 0x201D}},
            {"bullet", {Word::Symbol, 0x2022}}, {"emspace", {Word::Symbol, 0x2003}},
            {"enspace", {Word::Symbol, 0x2002}},
            {"b", {Word::Bold}}, {"i", {Word::Italic}}, {"ul", {Word::Underline}},
            {"ulnone", {Word::UnderlineNone}}, {"fs", {Word::FontSize}}, {"cf", {Word::Colour}},
            {"f", {Word::Font}}, {"plain", {Word::Plain}}, {"u", {Word::Unicode}},
            {"uc", {Word::UnicodeSkip}}, {"ansicpg", {Word::AnsiCpg}}, {"deff", {Word::DefaultFont}},
            {"bin", {Word::Bin}}, {"fonttbl", {Word::FontTable}}, {"colortbl", {Word::ColourTable}},
            {"fcharset", {Word::Charset}}, {"cpg", {Word::FontCpg}}, {"red", {Word::Red}},
            {"green", {Word::Green}}, {"blue", {Word::Blue}},
            {"ansi", {Word::CodePage, 1252}}, {"mac", {Word::CodePage, 10000}},
            {"pc", {Word::CodePage, 437}}, {"pca", {Word::CodePage, 850}},
        };
        // The other kinds of underline are underline here.
        for (const char *name : {"uld", "uldash", "uldashd", "uldashdd", "uldb", "ulhwave", "ulldash",
                                 "ulth", "ulthd", "ulthdash", "ulthdashd", "ulthdashdd", "ulthldash",
                                 "ululdbwave", "ulw", "ulwave"})
            w.emplace(name, WordInfo{Word::Underline});
        // Groups whose text is not part of the document.
        for (const char *name :
             {"stylesheet", "info", "pict", "object", "header", "headerl", "headerr", "headerf",
              "footer", "footerl", "footerr", "footerf", "footnote", "fldinst", "themedata",
              "colorschememapping", "latentstyles", "datastore", "xmlnstbl", "listtable",
              "listoverridetable", "rsidtbl", "generator", "filetbl", "revtbl", "pgdsctbl",
              "nonshppict", "shp", "bkmkstart", "bkmkend", "annotation", "atnid", "atnauthor",
              "docvar", "template", "userprops", "xe", "tc", "txe", "private", "fchars", "lchars",
              "pn", "falt", "panose", "title", "author", "operator", "comment", "keywords"})
            w.emplace(name, WordInfo{Word::SkipDest});
        return w;
    }();
    return words;
}

// The code page of a font's \fcharset; 0 for the document's own.
int CodePageOfCharset(int charset)
{
    switch (charset) {
    case 128: return 932;
    case 129: return 949;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    default: return 0;
    }
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c)
{
    if (IsDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The format that runs start from: the cursor's, unless that is an image's.
QTextCharFormat BaseFormat(const QTextCursor &cursor)
{
    const QTextCharFormat format = cursor.charFormat();
    if (format.objectType() == QTextFormat::NoObject && !format.isImageFormat())
        return format;
    QTextCharFormat plain;
    plain.setFontFamilies(format.fontFamilies().toStringList());
    return plain;
}

class Reader {
public:
    Reader(const QByteArray &rtf, QTextCursor &cursor, const RtfLimits &limits)
        : m_p(rtf.constData())
        , m_end(rtf.constData() + qMin(rtf.size(), kRtfMaxBytes))
        , m_cursor(cursor)
        , m_base(BaseFormat(cursor))
        , m_limits(limits)
    {
        m_complete = rtf.size() <= kRtfMaxBytes;
    }

    bool Run()
    {
        m_cursor.beginEditBlock();
        while (m_p < m_end && !m_done)
            Step();
        Flush();
        // The mark that ends the last paragraph is not a paragraph of its own.
        InsertPendingBlocks(m_pendingPars - 1);
        m_cursor.endEditBlock();
        if (!m_stack.empty() || m_overflow > 0)
            m_complete = false;
        return m_complete;
    }
    bool Limited() const { return m_limited; }

private:
    bool Active() const { return m_overflow == 0 && m_state.dest != Dest::Skip; }

    void Step()
    {
        const char c = *m_p++;
        switch (c) {
        case '{':
            m_skipChars = 0;
            if (m_overflow > 0 || int(m_stack.size()) >= kRtfMaxDepth) {
                ++m_overflow;
                m_complete = false;
            } else {
                m_stack.push_back(m_state);
            }
            return;
        case '}':
            m_skipChars = 0;
            if (m_overflow > 0) {
                --m_overflow;
            } else if (!m_stack.empty()) {
                EndGroup();
                // The outermost group closed: the document is over.
                m_done = m_stack.empty();
            }
            return;
        case '\\':
            Control();
            return;
        case '\r':
        case '\n':
            return; // line breaks of the file, not of the text
        default:
            if (SkipFallback())
                return;
            if (m_state.dest == Dest::ColourTable && c == ';' && m_overflow == 0)
                EndColour();
            else if (c == '\t')
                Emit(u'\t');
            else
                EmitByte(uchar(c));
            return;
        }
    }

    // Consumes one character of a \uN fallback; true when it did.
    bool SkipFallback()
    {
        if (m_skipChars <= 0)
            return false;
        --m_skipChars;
        return true;
    }

    void EndGroup()
    {
        // A colour table whose last entry lacks its ';'.
        if (m_state.dest == Dest::ColourTable && m_haveComponent && m_stack.back().dest != Dest::ColourTable)
            EndColour();
        m_state = m_stack.back();
        m_stack.pop_back();
    }

    void Control()
    {
        if (m_p >= m_end)
            return;
        const char c = *m_p;
        if (!IsLetter(c)) {
            ++m_p;
            Symbol(c);
            return;
        }
        const char *name = m_p;
        while (m_p < m_end && IsLetter(*m_p))
            ++m_p;
        const std::string_view word(name, size_t(m_p - name));
        bool hasParam = false;
        qint64 param = 0;
        bool negative = false;
        if (m_p + 1 < m_end && *m_p == '-' && IsDigit(m_p[1])) {
            negative = true;
            ++m_p;
        }
        while (m_p < m_end && IsDigit(*m_p)) {
            hasParam = true;
            if (param < INT_MAX)
                param = qMin<qint64>(param * 10 + (*m_p - '0'), INT_MAX);
            ++m_p;
        }
        if (m_p < m_end && *m_p == ' ')
            ++m_p;
        const int value = int(negative ? -param : param);
        if (word.size() > size_t(kMaxWordLength))
            return;
        const auto &words = Words();
        const auto it = words.find(word);
        if (it == words.end()) {
            SkipFallback();
            return;
        }
        if (it->second.word == Word::Bin) {
            // Raw bytes follow, whatever state the reader is in.
            m_p += qMin<qint64>(qMax(value, 0), m_end - m_p);
            return;
        }
        if (SkipFallback())
            return;
        if (Active())
            Apply(it->second, hasParam, value);
    }

    void Symbol(char c)
    {
        if (c == '\'') {
            int byte = 0;
            int digits = 0;
            while (digits < 2 && m_p < m_end && HexValue(*m_p) >= 0) {
                byte = byte * 16 + HexValue(*m_p++);
                ++digits;
            }
            // Half an escape is no character.
            if (digits < 2 || SkipFallback())
                return;
            EmitByte(uchar(byte));
            return;
        }
        if (SkipFallback())
            return;
        switch (c) {
        case '\\':
        case '{':
        case '}':
            Emit(char16_t(uchar(c)));
            return;
        case '~':
            Emit(0x00A0);
            return;
        case '_':
            Emit(0x2011);
            return;
        case '*':
            m_state.dest = Dest::Skip;
            return;
        case '\r':
        case '\n':
            Paragraph();
            return;
        default:
            return; // \- optional hyphen, \| \: and the unknown
        }
    }

    void Apply(const WordInfo &info, bool hasParam, int value)
    {
        CharState &chr = m_state.chr;
        const bool on = !hasParam || value != 0;
        switch (info.word) {
        case Word::Par: Paragraph(); return;
        case Word::Line: Emit(QChar::LineSeparator); return;
        case Word::Tab: Emit(u'\t'); return;
        case Word::Symbol: Emit(info.symbol); return;
        case Word::Bold: chr.bold = on; return;
        case Word::Italic: chr.italic = on; return;
        case Word::Underline: chr.underline = on; return;
        case Word::UnderlineNone: chr.underline = false; return;
        case Word::FontSize:
            chr.halfPoints = FontSize(value);
            return;
        case Word::Colour: chr.colour = value; return;
        case Word::Font:
            if (m_state.dest == Dest::FontTable)
                m_tableFont = value;
            else
                chr.font = value;
            return;
        case Word::Plain: chr = CharState(); return;
        case Word::Unicode: {
            // A signed 16-bit number, though some writers give it unsigned.
            const int code = value < 0 ? value + 65536 : value;
            Emit(code >= 0 && code <= 0xFFFF ? char16_t(code) : char16_t(QChar::ReplacementCharacter));
            m_skipChars = m_state.uc;
            return;
        }
        case Word::UnicodeSkip: m_state.uc = qBound(0, value, 16); return;
        case Word::AnsiCpg: m_codePage = value; return;
        case Word::CodePage: m_codePage = info.symbol; return;
        case Word::DefaultFont: m_defaultFont = value; return;
        case Word::FontTable: m_state.dest = Dest::FontTable; return;
        case Word::ColourTable: m_state.dest = Dest::ColourTable; return;
        case Word::Charset: SetFontCodePage(CodePageOfCharset(value)); return;
        case Word::FontCpg: SetFontCodePage(value); return;
        case Word::Red: Component(16, value); return;
        case Word::Green: Component(8, value); return;
        case Word::Blue: Component(0, value); return;
        case Word::SkipDest: m_state.dest = Dest::Skip; return;
        case Word::Bin: return;
        }
    }

    int FontSize(int halfPoints) const
    {
        int size = halfPoints > 0 ? qMin(halfPoints, 3276) : rtf::kDefaultHalfPoints;
        if (m_limits.maxHalfPoints > 0)
            size = qMin(size, m_limits.maxHalfPoints);
        return qMax(size, m_limits.minHalfPoints);
    }

    void SetFontCodePage(int codePage)
    {
        if (m_state.dest != Dest::FontTable || m_tableFont < 0 || codePage <= 0)
            return;
        if (m_fontCodePages.size() < kMaxTableEntries || m_fontCodePages.contains(m_tableFont))
            m_fontCodePages.insert(m_tableFont, codePage);
    }

    void Component(int shift, int value)
    {
        if (m_state.dest != Dest::ColourTable)
            return;
        m_rgb = (m_rgb & ~(0xFFu << shift)) | (quint32(qBound(0, value, 255)) << shift);
        m_haveComponent = true;
    }

    void EndColour()
    {
        if (m_colours.size() < kMaxTableEntries) {
            m_colours.append(m_haveComponent ? std::optional<QRgb>(qRgb(int(m_rgb >> 16), int((m_rgb >> 8) & 0xFF),
                                                                        int(m_rgb & 0xFF)))
                                             : std::nullopt);
        }
        m_rgb = 0;
        m_haveComponent = false;
    }

    void EmitByte(uchar byte)
    {
        if (byte < 0x80) {
            Emit(byte);
            return;
        }
        const int font = m_state.chr.font >= 0 ? m_state.chr.font : m_defaultFont;
        const int codePage = m_fontCodePages.value(font, 0);
        Emit(rtf::CodePageTable(codePage > 0 ? codePage : m_codePage)[byte - 0x80]);
    }

    void Emit(char16_t ch)
    {
        if (m_state.dest != Dest::Text || m_overflow > 0)
            return;
        if (ch < 0x20 && ch != u'\t')
            return; // controls are no text; \u10 does not break a line
        if (ch == QChar::ObjectReplacementCharacter || ch == QChar::ParagraphSeparator || ch == 0xFDD0
            || ch == 0xFDD1)
            ch = QChar::ReplacementCharacter; // the document's own structure marks
        if (!CountChar())
            return;
        if (m_pendingPars > 0) {
            Flush();
            InsertPendingBlocks(m_pendingPars);
            m_pendingPars = 0;
            m_unbroken = 0;
        }
        const bool runsLeft = m_limits.maxRuns <= 0 || m_runs < m_limits.maxRuns;
        if (!m_run.isEmpty() && !(m_runState == m_state.chr) && runsLeft)
            Flush();
        if (m_run.isEmpty())
            m_runState = m_state.chr;
        if (m_limits.breakLongWords && BreakBefore(QChar(ch), m_unbroken))
            m_run.append(QChar(kZeroWidthSpace));
        m_run.append(QChar(ch));
    }

    void Paragraph()
    {
        if (m_state.dest != Dest::Text || m_overflow > 0)
            return;
        if (m_limits.maxParagraphs > 0 && m_paragraphs + 1 >= m_limits.maxParagraphs) {
            StopAtLimit();
            return;
        }
        if (!CountChar())
            return;
        ++m_paragraphs;
        Flush();
        ++m_pendingPars;
    }

    // False once the character limit is reached: reading ends there.
    bool CountChar()
    {
        if (m_limits.maxChars <= 0 || m_chars < m_limits.maxChars) {
            ++m_chars;
            return true;
        }
        StopAtLimit();
        return false;
    }

    void StopAtLimit()
    {
        m_limited = true;
        m_complete = false;
        m_done = true;
    }

    QTextCharFormat Format(const CharState &chr) const
    {
        QTextCharFormat format = m_base;
        format.setFontWeight(chr.bold ? QFont::Bold : QFont::Normal);
        format.setFontItalic(chr.italic);
        format.setFontUnderline(chr.underline);
        format.setFontPointSize(chr.halfPoints / 2.0);
        if (chr.colour >= 0 && chr.colour < m_colours.size() && m_colours[chr.colour])
            format.setForeground(QColor(*m_colours[chr.colour]));
        else
            format.clearForeground();
        return format;
    }

    void InsertPendingBlocks(int count)
    {
        for (int i = 0; i < count; ++i)
            m_cursor.insertBlock(m_cursor.blockFormat(), Format(m_state.chr));
    }

    void Flush()
    {
        if (m_run.isEmpty())
            return;
        // A surrogate without its partner becomes U+FFFD.
        for (qsizetype i = 0; i < m_run.size(); ++i) {
            const QChar ch = m_run.at(i);
            if (ch.isHighSurrogate() && i + 1 < m_run.size() && m_run.at(i + 1).isLowSurrogate())
                ++i;
            else if (ch.isSurrogate())
                m_run[i] = QChar::ReplacementCharacter;
        }
        m_cursor.insertText(m_run, Format(m_runState));
        m_run.clear();
        ++m_runs;
    }

    const char *m_p;
    const char *const m_end;
    QTextCursor &m_cursor;
    const QTextCharFormat m_base;
    const RtfLimits m_limits;
    bool m_complete = true;
    bool m_limited = false;
    bool m_done = false;

    std::vector<GroupState> m_stack;
    GroupState m_state;
    int m_overflow = 0; // groups opened past the depth limit
    int m_skipChars = 0;

    int m_codePage = 1252;
    int m_defaultFont = 0;
    int m_tableFont = -1;
    QHash<int, int> m_fontCodePages;
    QList<std::optional<QRgb>> m_colours;
    quint32 m_rgb = 0;
    bool m_haveComponent = false;

    QString m_run;
    CharState m_runState;
    int m_pendingPars = 0;
    qsizetype m_chars = 0;
    int m_paragraphs = 0; // paragraph marks read
    int m_runs = 0;
    int m_unbroken = 0;
};

} // namespace

RtfReadResult InsertRtf(const QByteArray &rtf, QTextCursor &cursor, const RtfLimits &limits)
{
    RtfReadResult result;
    if (cursor.isNull())
        return result;
    Reader reader(rtf, cursor, limits);
    result.complete = reader.Run();
    result.limited = reader.Limited();
    return result;
}

} // namespace velmora
