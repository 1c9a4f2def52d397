#include "spell/SpellHighlighter.h"

#include "spell/SpellChecker.h"

#include <QRegularExpression>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>

namespace velmora {

namespace {

bool IsWordChar(QChar c)
{
    return c.isLetter() || c.isMark();
}

bool IsApostrophe(QChar c)
{
    return c == QLatin1Char('\'') || c == QChar(0x2019);
}

// A whole space-separated token that is a link or an address, not words.
bool IsLinkOrAddress(QStringView token)
{
    // Most tokens are plain words: the expression only for those that may be more.
    const bool mayBe = std::any_of(token.begin(), token.end(), [](QChar c) {
        return c == QLatin1Char(':') || c == QLatin1Char('@') || c == QLatin1Char('.') || c == QLatin1Char('/');
    });
    if (!mayBe)
        return false;
    static const char kPattern[] =
        R"(^[(<\["']*(?:[a-z][a-z0-9+.-]*:(?://)?\S|www\.\S|[^\s@]+@[^\s@]+\.\w|\S+\.(?:com|org|net|edu|gov|io|info|de|uk|fr|nl|eu)\b|\S*[\w.-]/\S))";
    static const QRegularExpression kLink(QString::fromLatin1(kPattern), QRegularExpression::CaseInsensitiveOption);
    return kLink.match(token.toString()).hasMatch();
}

bool AllCaps(QStringView word)
{
    for (const QChar c : word)
        if (c.isLetter() && !c.isUpper())
            return false;
    return true;
}

} // namespace

QList<SpellWord> WordsToCheck(const QString &text, const QSet<QString> &names)
{
    QList<SpellWord> out;
    const int size = int(text.size());
    int at = 0;
    while (at < size) {
        while (at < size && text.at(at).isSpace())
            ++at;
        int end = at;
        while (end < size && !text.at(end).isSpace())
            ++end;
        const QStringView token = QStringView(text).mid(at, end - at);
        if (!token.isEmpty() && !token.contains(QLatin1Char('{')) && !token.contains(QLatin1Char('}'))
            && !IsLinkOrAddress(token)) {
            // Runs of letters, digits and inner apostrophes; a run with a
            // digit ("3rd", "A4") is a code or a number.
            int i = at;
            while (i < end) {
                while (i < end && !text.at(i).isLetterOrNumber())
                    ++i;
                int j = i;
                bool digit = false;
                while (j < end) {
                    const QChar c = text.at(j);
                    if (c.isDigit() || c.isNumber())
                        digit = true;
                    else if (IsApostrophe(c) && j + 1 < end && IsWordChar(text.at(j + 1)) && j > i)
                        ; // "don't"
                    else if (!IsWordChar(c))
                        break;
                    ++j;
                }
                const QStringView word = QStringView(text).mid(i, j - i);
                if (j - i > 1 && !digit && !AllCaps(word) && !names.contains(word.toString().toLower()))
                    out.append({i, j - i});
                i = j;
            }
        }
        at = end;
    }
    return out;
}

TSpellHighlighter::TSpellHighlighter(QTextDocument *document, ISpellChecker &checker)
    : QSyntaxHighlighter(document), m_checker(checker)
{
    m_misspelt.setUnderlineStyle(QTextCharFormat::SpellCheckUnderline);
    m_misspelt.setUnderlineColor(Qt::red);
}

void TSpellHighlighter::SetNames(const QStringList &names)
{
    QSet<QString> words;
    for (const QString &name : names)
        for (const SpellWord &w : WordsToCheck(name, {}))
            words.insert(name.mid(w.start, w.length).toLower());
    if (words == m_names)
        return;
    m_names = words;
    rehighlight();
}

void TSpellHighlighter::highlightBlock(const QString &text)
{
    for (const SpellWord &w : WordsToCheck(text, m_names))
        if (!m_checker.IsCorrect(text.mid(w.start, w.length)))
            setFormat(w.start, w.length, m_misspelt);
}

std::optional<SpellWord> TSpellHighlighter::MisspeltAt(int position) const
{
    const QTextBlock block = document() ? document()->findBlock(position) : QTextBlock();
    if (!block.isValid())
        return std::nullopt;
    const QString text = block.text();
    const int offset = position - block.position();
    for (const SpellWord &w : WordsToCheck(text, m_names)) {
        if (offset < w.start || offset > w.start + w.length)
            continue;
        if (m_checker.IsCorrect(text.mid(w.start, w.length)))
            return std::nullopt;
        return SpellWord{block.position() + w.start, w.length};
    }
    return std::nullopt;
}

} // namespace velmora
