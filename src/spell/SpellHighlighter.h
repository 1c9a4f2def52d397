#pragma once
// The red wavy underline under misspelt words of the message box, and the
// rules for which words are checked at all: links, e-mail addresses, words
// with digits, words in ALL CAPS, single letters, placeholders in braces and
// the chat's names never are.
#include <QList>
#include <QSet>
#include <QString>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>

#include <optional>

namespace velmora {

class ISpellChecker;

struct SpellWord {
    int start = 0;
    int length = 0;
};

// The words of `text` worth checking, `names` (lower case) left out.
QList<SpellWord> WordsToCheck(const QString &text, const QSet<QString> &names);

class TSpellHighlighter : public QSyntaxHighlighter {
    Q_OBJECT
public:
    TSpellHighlighter(QTextDocument *document, ISpellChecker &checker);

    ISpellChecker &Checker() const { return m_checker; }
    // Words that are never marked (the visitor's and the operator's names);
    // each is split into its words.
    void SetNames(const QStringList &names);
    // The misspelt word that the document position `position` is in or just
    // after, as document positions.
    std::optional<SpellWord> MisspeltAt(int position) const;

protected:
    // QSyntaxHighlighter calls this for the paragraph that changed only;
    // words it has seen are answered from the checker's memory.
    void highlightBlock(const QString &text) override;

private:
    ISpellChecker &m_checker;
    QSet<QString> m_names;
    QTextCharFormat m_misspelt;
};

} // namespace velmora
