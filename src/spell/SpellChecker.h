#pragma once
// What the message box asks of a dictionary, and where the console gets one.
// The real dictionaries are Enchant's (EnchantChecker.cpp); tests bring their
// own word list.
#include <QString>
#include <QStringList>

#include <memory>

namespace velmora {

class ISpellChecker {
public:
    virtual ~ISpellChecker() = default;
    virtual bool IsCorrect(const QString &word) = 0;
    // At most `max` replacements, the likeliest first.
    virtual QStringList Suggest(const QString &word, int max) = 0;
    // Into the operator's personal word list, for good.
    virtual void Add(const QString &word) = 0;
    // Accepted until the console exits.
    virtual void Ignore(const QString &word) = 0;
};

// The SpellLanguage setting: empty follows the desktop's language, "Off"
// turns the check off, anything else names a dictionary ("de_DE").
inline constexpr const char *kSpellOff = "Off";

// The language the desktop asks for, as a dictionary name ("en_US").
QString DesktopSpellLanguage();

// The dictionary for a SpellLanguage setting, shared by every chat; null
// when the check is off or cannot run, and then `whyNot` says why (empty
// when simply off).
ISpellChecker *SpellCheckerFor(const QString &setting, QString *whyNot = nullptr);

// The installed dictionaries' names, sorted; empty with `whyNot` set when
// Enchant is missing or has none.
QStringList SpellLanguages(QString *whyNot = nullptr);

// A dictionary of the words in a plain file, one a line, which Add extends:
// Enchant's personal word list format. Null (and `whyNot`) without Enchant.
std::unique_ptr<ISpellChecker> WordListChecker(const QString &path, QString *whyNot = nullptr);

} // namespace velmora
