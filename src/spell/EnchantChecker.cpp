// Enchant's dictionaries, reached through dlopen: the console must start and
// work on a machine without the library, only without the check.
#include "spell/SpellChecker.h"

#include <QFile>
#include <QHash>
#include <QLocale>

#include <enchant.h>

#include <dlfcn.h>

#include <map>

namespace velmora {

namespace {

// The few Enchant functions the console uses, typed by Enchant's own header.
struct EnchantApi {
    decltype(&enchant_broker_init) brokerInit = nullptr;
    decltype(&enchant_broker_request_dict) requestDict = nullptr;
    decltype(&enchant_broker_request_pwl_dict) requestPwlDict = nullptr;
    decltype(&enchant_broker_free_dict) freeDict = nullptr;
    decltype(&enchant_broker_dict_exists) dictExists = nullptr;
    decltype(&enchant_broker_list_dicts) listDicts = nullptr;
    decltype(&enchant_dict_check) check = nullptr;
    decltype(&enchant_dict_suggest) suggest = nullptr;
    decltype(&enchant_dict_free_string_list) freeStringList = nullptr;
    decltype(&enchant_dict_add) add = nullptr;
    decltype(&enchant_dict_add_to_session) addToSession = nullptr;
    EnchantBroker *broker = nullptr;
};

const char kNoEnchant[] = "The Enchant library (libenchant-2) is not installed.";

// Loaded once and kept for the whole run: dictionaries are shared by every chat.
const EnchantApi *Enchant(QString *whyNot)
{
    static const EnchantApi *api = [] () -> const EnchantApi * {
        void *lib = dlopen("libenchant-2.so.2", RTLD_NOW | RTLD_LOCAL);
        if (!lib)
            return nullptr;
        auto *out = new EnchantApi;
        const auto bind = [lib](auto &fn, const char *name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(lib, name));
            return fn != nullptr;
        };
        const bool all = bind(out->brokerInit, "enchant_broker_init")
                         && bind(out->requestDict, "enchant_broker_request_dict")
                         && bind(out->requestPwlDict, "enchant_broker_request_pwl_dict")
                         && bind(out->freeDict, "enchant_broker_free_dict")
                         && bind(out->dictExists, "enchant_broker_dict_exists")
                         && bind(out->listDicts, "enchant_broker_list_dicts")
                         && bind(out->check, "enchant_dict_check") && bind(out->suggest, "enchant_dict_suggest")
                         && bind(out->freeStringList, "enchant_dict_free_string_list")
                         && bind(out->add, "enchant_dict_add")
                         && bind(out->addToSession, "enchant_dict_add_to_session");
        if (all)
            out->broker = out->brokerInit();
        if (!out->broker) {
            delete out;
            return nullptr;
        }
        return out;
    }();
    if (!api && whyNot)
        *whyNot = QString::fromLatin1(kNoEnchant);
    return api;
}

class TEnchantChecker final : public ISpellChecker {
public:
    TEnchantChecker(const EnchantApi &api, EnchantDict *dict) : m_api(api), m_dict(dict) {}
    ~TEnchantChecker() override { m_api.freeDict(m_api.broker, m_dict); }

    bool IsCorrect(const QString &word) override
    {
        // The highlighter asks again for every word of a paragraph on each
        // key: only words not seen before reach the dictionary.
        const auto known = m_known.constFind(word);
        if (known != m_known.cend())
            return *known;
        const QByteArray utf8 = word.toUtf8();
        const bool correct = m_api.check(m_dict, utf8.constData(), utf8.size()) == 0;
        if (m_known.size() > kMaxKnown)
            m_known.clear();
        m_known.insert(word, correct);
        return correct;
    }

    QStringList Suggest(const QString &word, int max) override
    {
        const QByteArray utf8 = word.toUtf8();
        size_t count = 0;
        char **list = m_api.suggest(m_dict, utf8.constData(), utf8.size(), &count);
        QStringList out;
        for (size_t i = 0; list && i < count && out.size() < max; ++i)
            out << QString::fromUtf8(list[i]);
        if (list)
            m_api.freeStringList(m_dict, list);
        return out;
    }

    void Add(const QString &word) override
    {
        const QByteArray utf8 = word.toUtf8();
        m_api.add(m_dict, utf8.constData(), utf8.size());
        m_known.insert(word, true);
    }

    void Ignore(const QString &word) override
    {
        const QByteArray utf8 = word.toUtf8();
        m_api.addToSession(m_dict, utf8.constData(), utf8.size());
        m_known.insert(word, true);
    }

private:
    static constexpr qsizetype kMaxKnown = 50000;
    const EnchantApi &m_api;
    EnchantDict *m_dict;
    QHash<QString, bool> m_known;
};

} // namespace

QString DesktopSpellLanguage()
{
    const QString name = QLocale::system().name();
    // The "C" locale of a bare session names no language.
    return name.contains(QLatin1Char('_')) ? name : QStringLiteral("en_US");
}

ISpellChecker *SpellCheckerFor(const QString &setting, QString *whyNot)
{
    if (whyNot)
        whyNot->clear();
    if (setting.compare(QLatin1String(kSpellOff), Qt::CaseInsensitive) == 0)
        return nullptr;
    const EnchantApi *api = Enchant(whyNot);
    if (!api)
        return nullptr;
    const QString language = setting.trimmed().isEmpty() ? DesktopSpellLanguage() : setting.trimmed();
    // Kept for the run, as the library is; a language asked for once stays open.
    static auto *open = new std::map<QString, std::unique_ptr<ISpellChecker>>;
    if (const auto found = open->find(language); found != open->end())
        return found->second.get();
    const QByteArray tag = language.toUtf8();
    EnchantDict *dict = api->dictExists(api->broker, tag.constData()) ? api->requestDict(api->broker, tag.constData())
                                                                      : nullptr;
    if (!dict) {
        if (whyNot)
            *whyNot = QStringLiteral("No dictionary for %1 is installed.").arg(language);
        return nullptr;
    }
    auto &slot = (*open)[language];
    slot = std::make_unique<TEnchantChecker>(*api, dict);
    return slot.get();
}

QStringList SpellLanguages(QString *whyNot)
{
    if (whyNot)
        whyNot->clear();
    const EnchantApi *api = Enchant(whyNot);
    if (!api)
        return {};
    QStringList out;
    api->listDicts(
        api->broker,
        [](const char *const tag, const char *const, const char *const, const char *const, void *data) {
            auto &list = *static_cast<QStringList *>(data);
            const QString name = QString::fromUtf8(tag);
            if (!list.contains(name))
                list << name;
        },
        &out);
    out.sort();
    if (out.isEmpty() && whyNot)
        *whyNot = QStringLiteral("No dictionary is installed.");
    return out;
}

std::unique_ptr<ISpellChecker> WordListChecker(const QString &path, QString *whyNot)
{
    const EnchantApi *api = Enchant(whyNot);
    if (!api)
        return nullptr;
    EnchantDict *dict = api->requestPwlDict(api->broker, QFile::encodeName(path).constData());
    if (!dict) {
        if (whyNot)
            *whyNot = QStringLiteral("The word list %1 cannot be read.").arg(path);
        return nullptr;
    }
    return std::make_unique<TEnchantChecker>(*api, dict);
}

} // namespace velmora
