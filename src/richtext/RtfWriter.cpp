#include "richtext/RtfWriter.h"

#include "richtext/CodePages.h"

#include <QBuffer>
#include <QHash>
#include <QIODevice>
#include <QList>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>

namespace velmora {

namespace {

// Lines are broken between tokens past this column; readers ignore the breaks.
constexpr int kWrapColumn = 200;

// The character properties of one run, as RTF states them.
struct RunProps {
    int font = 0;
    int halfPoints = rtf::kDefaultHalfPoints;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int colour = 0; // 0 is the reader's automatic colour

    bool operator==(const RunProps &) const = default;
};

class Tables {
public:
    explicit Tables(const QTextDocument &document)
        : m_default(document.defaultFont())
    {
        FontIndex(m_default.families().value(0, m_default.family()));
    }

    const QFont &DefaultFont() const { return m_default; }

    int FontIndex(const QString &family)
    {
        const auto it = m_fontIndex.constFind(family);
        if (it != m_fontIndex.constEnd())
            return *it;
        m_fonts.append(family);
        return *m_fontIndex.insert(family, int(m_fonts.size()) - 1);
    }

    int ColourIndex(const QTextCharFormat &format)
    {
        const QBrush brush = format.foreground();
        if (brush.style() == Qt::NoBrush)
            return 0;
        const QRgb rgb = brush.color().rgb() & 0xFFFFFF;
        const auto it = m_colourIndex.constFind(rgb);
        if (it != m_colourIndex.constEnd())
            return *it;
        m_colours.append(rgb);
        return *m_colourIndex.insert(rgb, int(m_colours.size()));
    }

    // The document keeps each distinct format once; its index saves resolving
    // the same font for every run.
    RunProps Props(const QTextFragment &fragment)
    {
        const int index = fragment.charFormatIndex();
        const auto it = m_props.constFind(index);
        if (it != m_props.constEnd())
            return *it;
        return *m_props.insert(index, Props(fragment.charFormat()));
    }

    RunProps Props(const QTextCharFormat &format)
    {
        const QFont font = format.font().resolve(m_default);
        RunProps props;
        props.font = FontIndex(font.families().value(0, font.family()));
        qreal points = font.pointSizeF();
        if (points <= 0 && font.pixelSize() > 0)
            points = font.pixelSize() * 0.75; // 96 pixels to the inch
        if (points > 0)
            props.halfPoints = qBound(1, qRound(points * 2), 3276);
        props.bold = font.bold();
        props.italic = font.italic();
        props.underline = format.hasProperty(QTextFormat::TextUnderlineStyle)
                                  || format.hasProperty(QTextFormat::FontUnderline)
                              ? format.fontUnderline()
                              : m_default.underline();
        props.colour = ColourIndex(format);
        return props;
    }

    const QStringList &Fonts() const { return m_fonts; }
    const QList<QRgb> &Colours() const { return m_colours; }

private:
    QFont m_default;
    QStringList m_fonts;
    QHash<QString, int> m_fontIndex;
    QList<QRgb> m_colours;
    QHash<QRgb, int> m_colourIndex;
    QHash<int, RunProps> m_props;
};

// Collects the output with line breaks between tokens.
class Output {
public:
    void Token(const QByteArray &token)
    {
        if (m_column > 0 && m_column + token.size() > kWrapColumn)
            NewLine();
        m_bytes += token;
        m_column += int(token.size());
    }
    void Token(const char *token) { Token(QByteArray(token)); }
    void Char(char ch)
    {
        if (m_column >= kWrapColumn)
            NewLine();
        m_bytes += ch;
        ++m_column;
    }
    void NewLine()
    {
        m_bytes += '\n';
        m_column = 0;
    }
    // Hands over what was collected so far.
    QByteArray Take()
    {
        QByteArray out;
        out.swap(m_bytes);
        return out;
    }

private:
    QByteArray m_bytes;
    int m_column = 0;
};

QByteArray Hex(int byte)
{
    static const char digits[] = "0123456789abcdef";
    QByteArray out("\\'");
    out += digits[(byte >> 4) & 0xF];
    out += digits[byte & 0xF];
    return out;
}

// One character of document text as an RTF token; empty for what is not text.
QByteArray CharToken(char16_t ch)
{
    switch (ch) {
    case u'\\':
        return QByteArrayLiteral("\\\\");
    case u'{':
        return QByteArrayLiteral("\\{");
    case u'}':
        return QByteArrayLiteral("\\}");
    case u';':
        return Hex(';'); // table readers take a bare ';' for the end of an entry
    case u'\t':
        return QByteArrayLiteral("\\tab ");
    case u'\n':
    case u'\r':
    case QChar::LineSeparator:
        return QByteArrayLiteral("\\line ");
    case QChar::ObjectReplacementCharacter:
        return {}; // an image: not carried
    default:
        break;
    }
    if (ch < 0x20)
        return {};
    if (ch < 0x7F)
        return QByteArray(1, char(ch));
    const int byte = rtf::Cp1252Byte(ch);
    if (byte >= 0x80)
        return Hex(byte);
    // \u takes a signed 16-bit number; characters past the BMP arrive here
    // already as their two surrogates.
    return "\\u" + QByteArray::number(qint16(ch)) + '?';
}

QByteArray TextTokens(const QString &text)
{
    QByteArray out;
    for (const QChar ch : text)
        out += CharToken(ch.unicode());
    return out;
}

void WriteChanges(Output &out, const RunProps &from, const RunProps &to)
{
    QByteArray words;
    if (from.font != to.font)
        words += "\\f" + QByteArray::number(to.font);
    if (from.halfPoints != to.halfPoints)
        words += "\\fs" + QByteArray::number(to.halfPoints);
    if (from.bold != to.bold)
        words += to.bold ? "\\b" : "\\b0";
    if (from.italic != to.italic)
        words += to.italic ? "\\i" : "\\i0";
    if (from.underline != to.underline)
        words += to.underline ? "\\ul" : "\\ulnone";
    if (from.colour != to.colour)
        words += "\\cf" + QByteArray::number(to.colour);
    if (!words.isEmpty())
        out.Token(words + ' ');
}

// The font's kind, which a reader without the font uses to pick another.
const char *FamilyWord(QFont::StyleHint hint)
{
    switch (hint) {
    case QFont::SansSerif:
        return "\\fswiss";
    case QFont::Serif:
        return "\\froman";
    case QFont::Monospace:
    case QFont::TypeWriter:
        return "\\fmodern";
    default:
        return "\\fnil";
    }
}

QByteArray Header(const Tables &tables)
{
    QByteArray out("{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n{\\fonttbl");
    for (int i = 0; i < tables.Fonts().size(); ++i) {
        // Only the document's default font carries its kind; runs name families.
        const QFont::StyleHint hint = i == 0 ? tables.DefaultFont().styleHint() : QFont::AnyStyle;
        out += "{\\f" + QByteArray::number(i) + FamilyWord(hint) + "\\fcharset0 " + TextTokens(tables.Fonts()[i])
               + ";}";
    }
    out += "}\n{\\colortbl ;";
    for (const QRgb rgb : tables.Colours()) {
        out += "\\red" + QByteArray::number(qRed(rgb)) + "\\green" + QByteArray::number(qGreen(rgb))
               + "\\blue" + QByteArray::number(qBlue(rgb)) + ';';
    }
    out += "}\n\\pard\\plain\n";
    return out;
}

bool Put(QIODevice &device, const QByteArray &bytes)
{
    return device.write(bytes) == bytes.size();
}

} // namespace

bool WriteRtf(const QTextDocument &document, QIODevice &out)
{
    // The tables come first in the file, so a first pass over the formats
    // collects them; the text is only read in the second.
    Tables tables(document);
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it)
            tables.Props(it.fragment());
    }
    if (!Put(out, Header(tables)))
        return false;

    RunProps current;
    Output text;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block != document.begin() && !block.blockFormat().boolProperty(kContinuedLineProperty))
            text.Token("\\pard ");
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.charFormat().isImageFormat())
                continue;
            const RunProps props = tables.Props(fragment);
            WriteChanges(text, current, props);
            current = props;
            const QString chars = fragment.text();
            for (const QChar ch : chars) {
                const char16_t unit = ch.unicode();
                if (unit >= 0x20 && unit < 0x7F && unit != u'\\' && unit != u'{' && unit != u'}' && unit != u';') {
                    text.Char(char(unit));
                    continue;
                }
                const QByteArray token = CharToken(unit);
                if (!token.isEmpty())
                    text.Token(token);
            }
        }
        // Every paragraph ends with its mark, the last one too, as rich-edit
        // controls write it; readers drop the mark that ends the document.
        if (block.next().isValid() && block.next().blockFormat().boolProperty(kContinuedLineProperty))
            continue; // the line goes on in the next paragraph
        text.Token("\\par");
        text.NewLine();
        if (!Put(out, text.Take()))
            return false;
    }
    return Put(out, QByteArrayLiteral("}\n"));
}

QByteArray DocumentToRtf(const QTextDocument &document)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    WriteRtf(document, buffer);
    return bytes;
}

} // namespace velmora
