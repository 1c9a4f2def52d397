#pragma once
// One connection to the team archive: a PostgreSQL database the team runs,
// holding every console's chats under the console's name and its own ids.
// The console owns its schema there (created on first connection, moved
// forward by migrations under a lock, so that consoles starting together
// do not race); a schema from a newer version is only read, never written.
//
// Every value is sent as a parameter of a prepared statement; the only
// text spliced into SQL is the schema's name from the settings, quoted as
// an identifier by libpq. Search words are folded by the same tokenizer as
// the local archive's index, so the team finds what this computer finds.
// Blocking calls: use them off the GUI thread.
#include "archive/ArchiveDb.h"
#include "archive/ArchiveTeamQueue.h"

#include <QString>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

struct pg_conn;
struct sqlite3;

namespace velmora {

inline constexpr const char *kTeamDefaultSchema = "velmora";

struct TTeamHit {
    QString Console; // the console that recorded the chat
    QString Supporter;
    TArchiveHit Hit; // Hit.Chat is the chat's id on that console
};

struct TTeamEarlier {
    int Count = 0;
    qint64 Last = 0; // start of the latest, ms since the epoch
    QString LastWith; // the operator of the latest
};
// "3 earlier chats, last with Bert on 7 Dec"; empty when there are none.
QString TeamEarlierText(const TTeamEarlier &earlier);

class TTeamDb {
public:
    static constexpr int kSchemaVersion = 1;
    static constexpr int kConnectTimeoutSeconds = 10;

    TTeamDb();
    ~TTeamDb();
    TTeamDb(const TTeamDb &) = delete;
    TTeamDb &operator=(const TTeamDb &) = delete;

    // The setting as libpq takes it: a connection string or URI as written,
    // a bare word as a service name. Empty with `error` set when it holds a
    // password (those belong in ~/.pgpass or the service file).
    static QString ConnectionString(const QString &setting, QString *error);

    // Connects, and creates or migrates the schema; false with LastError().
    bool Open(const QString &setting, const QString &schema = QString::fromLatin1(kTeamDefaultSchema));
    void Close();
    // Checked while connecting: true gives up.
    std::function<bool()> Cancelled;
    // Cuts off what the connection is doing now (from any thread); the call
    // under way fails as a lost connection.
    void Interrupt();
    bool IsOpen() const { return m_conn != nullptr; }
    // The schema is a newer version's: reads only, every write refused.
    bool ReadOnly() const { return m_readOnly; }
    int ServerSchemaVersion() const { return m_serverVersion; }
    const QString &LastError() const { return m_lastError; }
    // A round trip: false when the server is gone.
    bool Ping();
    // The connection itself failed (server gone): reconnect later.
    bool Lost() const;
    // Connected to another machine without TLS.
    bool RemoteWithoutTls() const;

    // Writes the chat and its lines in one transaction; sending it again
    // changes nothing.
    bool Send(const QString &console, const TTeamUnsent &chat);
    bool Remove(const QString &console, const TTeamRemoval &removal);

    // Newest first, from `offset`.
    std::vector<TTeamHit> Search(const TArchiveFilter &filter, int offset = 0);
    std::optional<TArchiveChat> Chat(const QString &console, qint64 chat);
    std::vector<TArchiveLine> Lines(const QString &console, qint64 chat);
    // Earlier chats of a returning visitor, as TArchiveDb::Earlier finds them.
    TTeamEarlier Earlier(const QString &email, const QString &name, const QString &site, qint64 before = 0);

    // The words as the team archive keeps them: the local index's folding,
    // each word once, joined by blanks.
    QString Lexemes(const QString &text) const;
    // The operator's words as a query, each word a term; empty when no word
    // remains. `any`: any of the words (for the line shown as the snippet).
    QString Query(const QString &text, bool any = false) const;

private:
    bool Fail(const QString &what);
    bool Exec(const char *sql);
    bool Migrate();
    bool Prepare();
    QString Qualified(const char *sqlWithSchema) const;

    pg_conn *m_conn = nullptr;
    std::mutex m_socketMutex; // Interrupt never meets a socket being closed
    int m_socket = -1;
    sqlite3 *m_folder = nullptr; // an empty in-memory database, for its tokenizer
    QByteArray m_schema;          // quoted
    QByteArray m_schemaName;
    bool m_readOnly = false;
    int m_serverVersion = 0;
    QString m_lastError;
};

} // namespace velmora
