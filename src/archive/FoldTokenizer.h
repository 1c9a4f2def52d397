#pragma once
// A tokenizer for the archive's index that wraps another (unicode61 with its
// diacritics removed) and mends what that one leaves:
//  - letters without a decomposition are folded as a reader would type them:
//    "ß" and "ẞ" become "ss" (so "Grüße" and "Grüsse" find each other while
//    "boss" does not find "boston"), "ł" "l", "ø" "o", "đ" "d", "æ" "ae";
//  - a run of Chinese, Japanese or Korean characters is one "word" to
//    unicode61; it is indexed as overlapping pairs, so two characters from
//    the middle of a run find it;
//  - emoji, which unicode61 drops, are kept as words of their own.
// Offsets stay those of the original text, so snippets mark the words as written.
#include <QByteArray>
#include <QString>

#include <vector>

struct sqlite3;

namespace velmora {

inline constexpr const char *kFoldTokenizerName = "velmora_fold";
// The arguments the archive's index gives it.
inline constexpr const char *kFoldTokenizerArgs[] = {"unicode61", "remove_diacritics", "2"};

// Registers the tokenizer on `db`, and the SQL function velmora_fold(text):
// the text's folded words joined by blanks, for filters that must fold as
// the index does. False when the library has no FTS5.
bool RegisterFoldTokenizer(sqlite3 *db);

struct TFoldedWord {
    QByteArray Folded;
    int Start = 0, End = 0; // byte offsets in the UTF-8 text
};
// `utf8` as the index sees it (`db` must have the tokenizer registered).
std::vector<TFoldedWord> FoldedWords(sqlite3 *db, const QByteArray &utf8);
// The folded words joined by blanks, as velmora_fold() gives them.
QString FoldedText(sqlite3 *db, const QString &text);

} // namespace velmora
