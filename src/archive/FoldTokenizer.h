#pragma once
// A tokenizer for the archive's index that wraps another (unicode61 with its
// diacritics removed) and folds what that one keeps: "ß" and "ss" both become
// "s", so "Gruse", "Grüsse" and "Grüße" find each other. Offsets stay those of
// the original text, so snippets mark the words as written.
struct sqlite3;

namespace velmora {

inline constexpr const char *kFoldTokenizerName = "velmora_fold";

// Registers the tokenizer on `db`; false when the library has no FTS5.
bool RegisterFoldTokenizer(sqlite3 *db);

} // namespace velmora
