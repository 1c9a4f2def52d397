#include "archive/FoldTokenizer.h"

#include <sqlite3.h>

#include <cstring>
#include <string>

namespace velmora {
namespace {

struct Wrapper {
    fts5_tokenizer inner{};
    Fts5Tokenizer *innerTokenizer = nullptr;
};

using TokenCallback = int (*)(void *, int, const char *, int, int, int);

// Decodes the code point at `p` (valid UTF-8, as SQLite hands it over) and
// says how many bytes it took.
char32_t Decode(const unsigned char *p, int available, int *length)
{
    const unsigned char c = p[0];
    int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (n > available)
        n = 1;
    *length = n;
    if (n == 1)
        return c;
    char32_t cp = c & (0x3F >> (n - 1));
    for (int i = 1; i < n; ++i)
        cp = (cp << 6) | (p[i] & 0x3F);
    return cp;
}

bool IsCjk(char32_t c)
{
    return (c >= 0x3040 && c <= 0x30FF)       // kana
           || (c >= 0x3400 && c <= 0x4DBF)    // Han, extension A
           || (c >= 0x4E00 && c <= 0x9FFF)    // Han
           || (c >= 0xAC00 && c <= 0xD7AF)    // Hangul syllables
           || (c >= 0xF900 && c <= 0xFAFF)    // Han compatibility
           || (c >= 0x20000 && c <= 0x3FFFF); // Han, later extensions
}

bool IsEmoji(char32_t c)
{
    // Skin tones and the joiners between the parts of one emoji are not
    // words of their own.
    if (c >= 0x1F3FB && c <= 0x1F3FF)
        return false;
    return (c >= 0x1F000 && c <= 0x1FAFF) || (c >= 0x2600 && c <= 0x27BF) || (c >= 0x2B00 && c <= 0x2BFF);
}

// What unicode61 leaves of letters it cannot decompose, as they are typed
// without them; null for every other code point.
const char *Spelled(char32_t c)
{
    switch (c) {
    case 0x00DF: case 0x1E9E: return "ss"; // ß ẞ
    case 0x0142: case 0x0141: return "l";  // ł Ł
    case 0x00F8: case 0x00D8: return "o";  // ø Ø
    case 0x0111: case 0x0110: return "d";  // đ Đ
    case 0x00E6: case 0x00C6: return "ae"; // æ Æ
    case 0x0153: case 0x0152: return "oe"; // œ Œ
    case 0x0127: case 0x0126: return "h";  // ħ Ħ
    case 0x0131: return "i";               // ı
    default: return nullptr;
    }
}

struct Forward {
    void *ctx;
    TokenCallback token;
    const char *text;
    int length;
    // Emoji found in the text, emitted in order among unicode61's words.
    std::vector<std::pair<int, int>> emoji;
    size_t nextEmoji = 0;
    std::string folded;

    int EmitEmojiBefore(int offset, int flags)
    {
        for (; nextEmoji < emoji.size() && emoji[nextEmoji].first < offset; ++nextEmoji) {
            const auto [start, end] = emoji[nextEmoji];
            if (const int rc = token(ctx, flags, text + start, end - start, start, end); rc != SQLITE_OK)
                return rc;
        }
        return SQLITE_OK;
    }
};

int FoldToken(void *ctx, int flags, const char *token, int length, int start, int end)
{
    auto *forward = static_cast<Forward *>(ctx);
    if (const int rc = forward->EmitEmojiBefore(start, flags); rc != SQLITE_OK)
        return rc;
    const auto *bytes = reinterpret_cast<const unsigned char *>(token);
    // Pairs can carry their own offsets only where the token is the text as
    // written; otherwise each pair is placed on the whole token.
    const bool asWritten = end - start == length && start >= 0 && end <= forward->length
                           && std::memcmp(forward->text + start, token, size_t(length)) == 0;
    std::string &out = forward->folded;
    out.clear();
    auto emitOut = [&]() {
        if (out.empty())
            return SQLITE_OK;
        const int rc = forward->token(forward->ctx, flags, out.data(), int(out.size()), start, end);
        out.clear();
        return rc;
    };
    int i = 0;
    while (i < length) {
        int n = 1;
        const char32_t c = Decode(bytes + i, length - i, &n);
        if (!IsCjk(c)) {
            if (const char *spelled = Spelled(c))
                out += spelled;
            else
                out.append(token + i, size_t(n));
            i += n;
            continue;
        }
        if (const int rc = emitOut(); rc != SQLITE_OK)
            return rc;
        // The run's characters, as offsets into the token.
        std::vector<std::pair<int, int>> run;
        while (i < length) {
            const char32_t next = Decode(bytes + i, length - i, &n);
            if (!IsCjk(next))
                break;
            run.emplace_back(i, i + n);
            i += n;
        }
        const size_t pairs = run.size() == 1 ? 1 : run.size() - 1;
        for (size_t k = 0; k < pairs; ++k) {
            const int from = run[k].first, to = run[std::min(k + 1, run.size() - 1)].second;
            const int s = asWritten ? start + from : start, e = asWritten ? start + to : end;
            if (const int rc = forward->token(forward->ctx, flags, token + from, to - from, s, e); rc != SQLITE_OK)
                return rc;
        }
    }
    return emitOut();
}

int Create(void *api, const char **args, int count, Fts5Tokenizer **out)
{
    auto *fts = static_cast<fts5_api *>(api);
    // The wrapped tokenizer and its arguments follow ours, as with "porter".
    const char *innerName = count > 0 ? args[0] : "unicode61";
    auto *wrapper = new Wrapper;
    void *userData = nullptr;
    int rc = fts->xFindTokenizer(fts, innerName, &userData, &wrapper->inner);
    if (rc == SQLITE_OK)
        rc = wrapper->inner.xCreate(userData, count > 0 ? args + 1 : nullptr, count > 0 ? count - 1 : 0,
                                    &wrapper->innerTokenizer);
    if (rc != SQLITE_OK) {
        delete wrapper;
        return rc;
    }
    *out = reinterpret_cast<Fts5Tokenizer *>(wrapper);
    return SQLITE_OK;
}

void Delete(Fts5Tokenizer *tokenizer)
{
    auto *wrapper = reinterpret_cast<Wrapper *>(tokenizer);
    wrapper->inner.xDelete(wrapper->innerTokenizer);
    delete wrapper;
}

int Tokenize(Fts5Tokenizer *tokenizer, void *ctx, int flags, const char *text, int length, TokenCallback token)
{
    auto *wrapper = reinterpret_cast<Wrapper *>(tokenizer);
    Forward forward{ctx, token, text, length, {}, 0, {}};
    const auto *bytes = reinterpret_cast<const unsigned char *>(text);
    for (int i = 0; i < length;) {
        int n = 1;
        if (IsEmoji(Decode(bytes + i, length - i, &n)))
            forward.emoji.emplace_back(i, i + n);
        i += n;
    }
    const int rc = wrapper->inner.xTokenize(wrapper->innerTokenizer, &forward, flags, text, length, FoldToken);
    return rc == SQLITE_OK ? forward.EmitEmojiBefore(length + 1, flags) : rc;
}

fts5_api *Fts5Api(sqlite3 *db)
{
    fts5_api *api = nullptr;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &statement, nullptr) != SQLITE_OK)
        return nullptr;
    sqlite3_bind_pointer(statement, 1, &api, "fts5_api_ptr", nullptr);
    sqlite3_step(statement);
    sqlite3_finalize(statement);
    return api;
}

int Collect(void *ctx, int, const char *token, int length, int start, int end)
{
    static_cast<std::vector<TFoldedWord> *>(ctx)->push_back(TFoldedWord{QByteArray(token, length), start, end});
    return SQLITE_OK;
}

std::vector<TFoldedWord> Fold(fts5_api *api, const char *text, int length)
{
    std::vector<TFoldedWord> words;
    void *userData = nullptr;
    fts5_tokenizer methods{};
    if (!api || api->xFindTokenizer(api, kFoldTokenizerName, &userData, &methods) != SQLITE_OK)
        return words;
    Fts5Tokenizer *instance = nullptr;
    const char *args[std::size(kFoldTokenizerArgs)];
    std::copy(std::begin(kFoldTokenizerArgs), std::end(kFoldTokenizerArgs), args);
    if (methods.xCreate(userData, args, int(std::size(args)), &instance) != SQLITE_OK)
        return words;
    methods.xTokenize(instance, &words, FTS5_TOKENIZE_DOCUMENT, text, length, Collect);
    methods.xDelete(instance);
    return words;
}

QByteArray Joined(const std::vector<TFoldedWord> &words)
{
    QByteArray joined;
    for (const TFoldedWord &word : words) {
        if (!joined.isEmpty())
            joined += ' ';
        joined += word.Folded;
    }
    return joined;
}

void FoldFunction(sqlite3_context *context, int, sqlite3_value **values)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(values[0]));
    const int length = sqlite3_value_bytes(values[0]);
    const QByteArray joined = Joined(Fold(static_cast<fts5_api *>(sqlite3_user_data(context)), text ? text : "", length));
    sqlite3_result_text(context, joined.constData(), int(joined.size()), SQLITE_TRANSIENT);
}

} // namespace

bool RegisterFoldTokenizer(sqlite3 *db)
{
    fts5_api *api = Fts5Api(db);
    if (!api || api->iVersion < 2)
        return false;
    fts5_tokenizer methods{Create, Delete, Tokenize};
    return api->xCreateTokenizer(api, kFoldTokenizerName, api, &methods, nullptr) == SQLITE_OK
           && sqlite3_create_function_v2(db, "velmora_fold", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, api, FoldFunction,
                                         nullptr, nullptr, nullptr)
                  == SQLITE_OK;
}

std::vector<TFoldedWord> FoldedWords(sqlite3 *db, const QByteArray &utf8)
{
    return Fold(Fts5Api(db), utf8.constData(), int(utf8.size()));
}

QString FoldedText(sqlite3 *db, const QString &text)
{
    return QString::fromUtf8(Joined(FoldedWords(db, text.toUtf8())));
}

} // namespace velmora
