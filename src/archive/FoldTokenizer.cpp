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

struct Forward {
    void *ctx;
    int (*token)(void *, int, const char *, int, int, int);
    std::string folded;
};

int FoldToken(void *ctx, int flags, const char *token, int length, int start, int end)
{
    auto *forward = static_cast<Forward *>(ctx);
    std::string &out = forward->folded;
    out.clear();
    for (int i = 0; i < length; ++i) {
        // "ß" is 0xC3 0x9F in UTF-8.
        if (i + 1 < length && static_cast<unsigned char>(token[i]) == 0xC3
            && static_cast<unsigned char>(token[i + 1]) == 0x9F) {
            out += 's';
            ++i;
        } else {
            out += token[i];
        }
        if (out.size() >= 2 && out[out.size() - 1] == 's' && out[out.size() - 2] == 's')
            out.pop_back();
    }
    return forward->token(forward->ctx, flags, out.data(), int(out.size()), start, end);
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

int Tokenize(Fts5Tokenizer *tokenizer, void *ctx, int flags, const char *text, int length,
             int (*token)(void *, int, const char *, int, int, int))
{
    auto *wrapper = reinterpret_cast<Wrapper *>(tokenizer);
    Forward forward{ctx, token, {}};
    return wrapper->inner.xTokenize(wrapper->innerTokenizer, &forward, flags, text, length, FoldToken);
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

} // namespace

bool RegisterFoldTokenizer(sqlite3 *db)
{
    fts5_api *api = Fts5Api(db);
    if (!api || api->iVersion < 2)
        return false;
    fts5_tokenizer methods{Create, Delete, Tokenize};
    return api->xCreateTokenizer(api, kFoldTokenizerName, api, &methods, nullptr) == SQLITE_OK;
}

} // namespace velmora
