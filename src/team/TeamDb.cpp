#include "team/TeamDb.h"

#include "archive/FoldTokenizer.h"

#include <QDateTime>
#include <QLocale>
#include <QSet>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <limits>
#include <memory>

namespace velmora {
namespace {

// Each step brings the team schema from version i to i + 1; "@S" is the
// schema's quoted name. Lines are keyed by the console's name and its own
// ids, so a resend overwrites instead of adding. `words` holds the folded
// words (a chat's: its visitor's fields and all its lines), indexed for search.
const char *const kTeamMigrations[] = {
    "CREATE TABLE @S.chats(console text NOT NULL, local_id bigint NOT NULL,"
    " session integer NOT NULL DEFAULT 0, kind integer NOT NULL DEFAULT 0,"
    " visitor text NOT NULL DEFAULT '', email text NOT NULL DEFAULT '', phone text NOT NULL DEFAULT '',"
    " site text NOT NULL DEFAULT '', ip text NOT NULL DEFAULT '', started bigint NOT NULL,"
    " ended bigint NOT NULL DEFAULT 0, status text NOT NULL DEFAULT '', supporter text NOT NULL DEFAULT '',"
    " other_supporter text NOT NULL DEFAULT '', ended_properly boolean NOT NULL DEFAULT false,"
    " open boolean NOT NULL DEFAULT true, announced bigint NOT NULL DEFAULT 0,"
    " answered bigint NOT NULL DEFAULT 0, held_from bigint NOT NULL DEFAULT 0,"
    " held_until bigint NOT NULL DEFAULT 0, ended_by integer NOT NULL DEFAULT 0,"
    " words tsvector NOT NULL DEFAULT '', PRIMARY KEY (console, local_id));"
    "CREATE INDEX chats_started ON @S.chats(started DESC);"
    "CREATE INDEX chats_email ON @S.chats(lower(email)) WHERE email <> '';"
    "CREATE INDEX chats_visitor ON @S.chats(lower(visitor), site);"
    "CREATE INDEX chats_words ON @S.chats USING gin(words);"
    "CREATE TABLE @S.lines(console text NOT NULL, chat bigint NOT NULL, id bigint NOT NULL,"
    " at bigint NOT NULL, who integer NOT NULL, name text NOT NULL DEFAULT '', text text NOT NULL DEFAULT '',"
    " kind integer NOT NULL DEFAULT 0, image_name text NOT NULL DEFAULT '', image_size bigint NOT NULL DEFAULT 0,"
    " carried boolean NOT NULL DEFAULT false, words tsvector NOT NULL DEFAULT '',"
    " PRIMARY KEY (console, chat, id),"
    " FOREIGN KEY (console, chat) REFERENCES @S.chats ON DELETE CASCADE);",
};
static_assert(std::size(kTeamMigrations) == TTeamDb::kSchemaVersion);

// A tsvector holds at most 1 MB and a word at most 2 KB: a longer word is
// cut (its start still matches), one send adds at most this much to a
// chat's words, and a chat's words stop growing past 900 000 bytes (in
// the chat statement), so no send can overflow them.
constexpr int kTeamMaxWordBytes = 2000;
constexpr int kTeamMaxBatchWordsBytes = 64000;
// A first page is looked for among so many of the newest chats first.
constexpr int kTeamRecentChats = 1000;

// PostgreSQL's text holds no NUL.
QByteArray TeamText(const QString &text)
{
    QString kept = text;
    kept.replace(QChar(0), QChar(0xFFFD));
    return kept.toUtf8();
}

QByteArray TeamBool(bool value) { return value ? "t" : "f"; }
QByteArray TeamInt(qint64 value) { return QByteArray::number(value); }

struct TeamResultFree {
    void operator()(PGresult *result) const { PQclear(result); }
};
using TeamResult = std::unique_ptr<PGresult, TeamResultFree>;

TeamResult TeamRun(PGconn *conn, const char *name, const std::vector<QByteArray> &params)
{
    std::vector<const char *> values;
    values.reserve(params.size());
    for (const QByteArray &p : params)
        values.push_back(p.constData());
    return TeamResult(PQexecPrepared(conn, name, int(values.size()), values.data(), nullptr, nullptr, 0));
}

bool TeamOk(const TeamResult &result)
{
    const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

QString TeamValue(const TeamResult &result, int row, int column)
{
    return QString::fromUtf8(PQgetvalue(result.get(), row, column), PQgetlength(result.get(), row, column));
}

qint64 TeamNumber(const TeamResult &result, int row, int column)
{
    return QByteArray(PQgetvalue(result.get(), row, column)).toLongLong();
}

// Cuts UTF-8 at a character boundary.
QByteArray TeamCut(const QByteArray &word, int bytes)
{
    if (word.size() <= bytes)
        return word;
    int end = bytes;
    while (end > 0 && (uchar(word[end]) & 0xC0) == 0x80)
        --end;
    return word.left(end);
}

// A lexeme quoted for a query: quotes and backslashes doubled.
QByteArray TeamQuoted(const QByteArray &lexeme)
{
    QByteArray quoted = "'";
    for (char c : lexeme) {
        if (c == '\'' || c == '\\')
            quoted += c;
        quoted += c;
    }
    return quoted + "'";
}

#define VELMORA_TEAM_CHAT_COLUMNS                                                                                     \
    "session, kind, visitor, email, phone, site, ip, started, ended, status, supporter, other_supporter,"           \
    " ended_properly, open, announced, answered, held_from, held_until, ended_by"

struct TeamStatement {
    const char *Name;
    const char *Sql;
    int Params;
};

const TeamStatement kTeamStatements[] = {
    {"velmora_chat",
     "INSERT INTO @S.chats(console, local_id, " VELMORA_TEAM_CHAT_COLUMNS ", words) VALUES ($1, $2, $3, $4, $5,"
     " $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17, $18, $19, $20, $21,"
     " array_to_tsvector(string_to_array($22, ' '))) ON CONFLICT (console, local_id) DO UPDATE SET"
     " session = excluded.session, kind = excluded.kind, visitor = excluded.visitor, email = excluded.email,"
     " phone = excluded.phone, site = excluded.site, ip = excluded.ip, started = excluded.started,"
     " ended = excluded.ended, status = excluded.status, supporter = excluded.supporter,"
     " other_supporter = excluded.other_supporter, ended_properly = excluded.ended_properly,"
     " open = excluded.open, announced = excluded.announced, answered = excluded.answered,"
     " held_from = excluded.held_from, held_until = excluded.held_until, ended_by = excluded.ended_by,"
     " words = CASE WHEN $23::boolean THEN excluded.words WHEN pg_column_size(chats.words) > 900000"
     " THEN chats.words ELSE chats.words || excluded.words END",
     23},
    {"velmora_line",
     "INSERT INTO @S.lines(console, chat, id, at, who, name, text, kind, image_name, image_size, carried, words)"
     " VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, array_to_tsvector(string_to_array($12, ' ')))"
     " ON CONFLICT (console, chat, id) DO UPDATE SET at = excluded.at, who = excluded.who,"
     " name = excluded.name, text = excluded.text, kind = excluded.kind, image_name = excluded.image_name,"
     " image_size = excluded.image_size, carried = excluded.carried, words = excluded.words",
     12},
    {"velmora_remove_chat", "DELETE FROM @S.chats WHERE console = $1 AND local_id = $2", 2},
    {"velmora_remove_email", "DELETE FROM @S.chats WHERE email <> '' AND lower(email) = lower($1)", 1},
    {"velmora_remove_named", "DELETE FROM @S.chats WHERE lower(visitor) = lower($1) AND site = $2", 2},
    // The page first, then for each chat of it the first line with any of
    // the words (the snippet), all in one round trip.
    {"velmora_search_words",
     "SELECT c.console, c.local_id, c.started, c.visitor, c.email, c.site, c.status, c.supporter, s.text"
     " FROM (SELECT console, local_id, started, visitor, email, site, status, supporter FROM @S.chats"
     " WHERE words @@ $1::tsquery AND started >= $2 AND started < $3"
     " AND ($4 = '' OR strpos(lower(visitor || ' ' || email), lower($4)) > 0)"
     " AND ($5 = '' OR strpos(lower(site), lower($5)) > 0) AND ($6 = '' OR status = $6)"
     " ORDER BY started DESC, console, local_id LIMIT $7 OFFSET $8) c"
     " LEFT JOIN LATERAL (SELECT text FROM @S.lines l WHERE l.console = c.console AND l.chat = c.local_id"
     " AND l.words @@ $9::tsquery ORDER BY l.id LIMIT 1) s ON true"
     " ORDER BY c.started DESC, c.console, c.local_id",
     9},
    // The same over the newest chats only (those the other filters leave):
    // when they hold a full first page it is the page, found without the
    // word index (a common word would make that read half the archive).
    {"velmora_search_recent",
     "SELECT c.console, c.local_id, c.started, c.visitor, c.email, c.site, c.status, c.supporter, s.text"
     " FROM (SELECT * FROM (SELECT console, local_id, started, visitor, email, site, status, supporter, words"
     " FROM @S.chats WHERE started >= $2 AND started < $3"
     " AND ($4 = '' OR strpos(lower(visitor || ' ' || email), lower($4)) > 0)"
     " AND ($5 = '' OR strpos(lower(site), lower($5)) > 0) AND ($6 = '' OR status = $6)"
     " ORDER BY started DESC, console, local_id LIMIT $8) w WHERE words @@ $1::tsquery"
     " ORDER BY started DESC, console, local_id LIMIT $7) c"
     " LEFT JOIN LATERAL (SELECT text FROM @S.lines l WHERE l.console = c.console AND l.chat = c.local_id"
     " AND l.words @@ $9::tsquery ORDER BY l.id LIMIT 1) s ON true"
     " ORDER BY c.started DESC, c.console, c.local_id",
     9},
    {"velmora_search_all",
     "SELECT console, local_id, started, visitor, email, site, status, supporter, NULL::text FROM @S.chats"
     " WHERE started >= $2 AND started < $3 AND $1 = ''"
     " AND ($4 = '' OR strpos(lower(visitor || ' ' || email), lower($4)) > 0)"
     " AND ($5 = '' OR strpos(lower(site), lower($5)) > 0) AND ($6 = '' OR status = $6)"
     " ORDER BY started DESC, console, local_id LIMIT $7 OFFSET $8",
     8},
    {"velmora_read_chat",
     "SELECT " VELMORA_TEAM_CHAT_COLUMNS " FROM @S.chats WHERE console = $1 AND local_id = $2", 2},
    {"velmora_read_lines",
     "SELECT at, who, name, text, kind, image_name, image_size, carried FROM @S.lines"
     " WHERE console = $1 AND chat = $2 ORDER BY id",
     2},
    {"velmora_earlier_email",
     "SELECT count(*), coalesce(max(started), 0), (SELECT supporter FROM @S.chats l WHERE l.email <> ''"
     " AND lower(l.email) = lower($2) AND l.started < $1 ORDER BY l.started DESC LIMIT 1) FROM @S.chats"
     " WHERE email <> '' AND lower(email) = lower($2) AND started < $1",
     2},
    {"velmora_earlier_named",
     "SELECT count(*), coalesce(max(started), 0), (SELECT supporter FROM @S.chats l WHERE lower(l.visitor) ="
     " lower($2) AND l.site = $3 AND l.started < $1 ORDER BY l.started DESC LIMIT 1) FROM @S.chats"
     " WHERE lower(visitor) = lower($2) AND site = $3 AND started < $1",
     3},
};

} // namespace

QString TeamEarlierText(const TTeamEarlier &earlier)
{
    if (earlier.Count <= 0)
        return QString();
    const QDate last = QDateTime::fromMSecsSinceEpoch(earlier.Last).date();
    QString text = earlier.Count == 1 ? QStringLiteral("1 earlier chat")
                                      : QStringLiteral("%1 earlier chats").arg(earlier.Count);
    text += QStringLiteral(", last ");
    if (!earlier.LastWith.isEmpty())
        text += QStringLiteral("with %1 ").arg(earlier.LastWith);
    return text + QStringLiteral("on ") + QLocale::c().toString(last, QStringLiteral("d MMM"));
}

TTeamDb::TTeamDb()
{
    if (sqlite3_open_v2(":memory:", &m_folder, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK)
        RegisterFoldTokenizer(m_folder);
}

TTeamDb::~TTeamDb()
{
    Close();
    sqlite3_close(m_folder);
}

QString TTeamDb::ConnectionString(const QString &setting, QString *error)
{
    const QString trimmed = setting.trimmed();
    if (trimmed.isEmpty()) {
        if (error)
            *error = QStringLiteral("No team archive is set.");
        return QString();
    }
    const bool uri = trimmed.startsWith(QLatin1String("postgresql://")) || trimmed.startsWith(QLatin1String("postgres://"));
    const QString conninfo = uri || trimmed.contains(QLatin1Char('=')) ? trimmed : QStringLiteral("service=") + trimmed;
    char *parseError = nullptr;
    PQconninfoOption *options = PQconninfoParse(conninfo.toUtf8().constData(), &parseError);
    if (!options) {
        if (error)
            *error = QStringLiteral("The team archive setting is not a connection string: %1")
                         .arg(parseError ? QString::fromUtf8(parseError).trimmed() : QStringLiteral("out of memory"));
        PQfreemem(parseError);
        return QString();
    }
    bool password = false;
    for (PQconninfoOption *o = options; o->keyword; ++o)
        password = password || (qstrcmp(o->keyword, "password") == 0 && o->val && *o->val);
    PQconninfoFree(options);
    if (password) {
        if (error)
            *error = QStringLiteral("The team archive setting holds a password: keep it in ~/.pgpass or the "
                                    "service file instead.");
        return QString();
    }
    return conninfo;
}

bool TTeamDb::Fail(const QString &what)
{
    QString detail = m_conn ? QString::fromUtf8(PQerrorMessage(m_conn)).trimmed() : QString();
    m_lastError = detail.isEmpty() ? what : what + QStringLiteral(": ") + detail;
    return false;
}

bool TTeamDb::Exec(const char *sql)
{
    TeamResult result(PQexec(m_conn, sql));
    return TeamOk(result) || Fail(QStringLiteral("The team archive refused a statement"));
}

QString TTeamDb::Qualified(const char *sqlWithSchema) const
{
    return QString::fromUtf8(sqlWithSchema).replace(QStringLiteral("@S"), QString::fromUtf8(m_schema));
}

bool TTeamDb::Open(const QString &setting, const QString &schema)
{
    Close();
    m_lastError.clear();
    const QString conninfo = ConnectionString(setting, &m_lastError);
    if (conninfo.isEmpty())
        return false;
    const QByteArray info = conninfo.toUtf8();
    const QByteArray timeout = QByteArray::number(kConnectTimeoutSeconds);
    // Defaults first, so that the setting's own values win; a dead peer is
    // noticed within about half a minute instead of hanging a send.
    const char *keys[] = {"connect_timeout", "keepalives_idle", "keepalives_interval", "keepalives_count",
                          "tcp_user_timeout", "fallback_application_name", "dbname", "client_encoding", nullptr};
    const char *values[] = {timeout.constData(), "10", "5", "3", "30000", "velmora", info.constData(), "UTF8",
                            nullptr};
    // Connecting step by step, so that an exit never waits for a server that does not answer.
    m_conn = PQconnectStartParams(keys, values, 1);
    PostgresPollingStatusType polling = PGRES_POLLING_WRITING;
    const qint64 deadline = QDateTime::currentMSecsSinceEpoch() + 1000 * (kConnectTimeoutSeconds + 1);
    while (m_conn && PQstatus(m_conn) != CONNECTION_BAD && polling != PGRES_POLLING_OK
           && polling != PGRES_POLLING_FAILED) {
        if ((Cancelled && Cancelled()) || QDateTime::currentMSecsSinceEpoch() > deadline) {
            m_lastError = QStringLiteral("Cannot connect to the team archive: no answer");
            Close();
            return false;
        }
        pollfd fd{PQsocket(m_conn), short(polling == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
        const int ready = fd.fd >= 0 ? ::poll(&fd, 1, 200) : 1;
        if (ready != 0)
            polling = PQconnectPoll(m_conn);
    }
    if (!m_conn || PQstatus(m_conn) != CONNECTION_OK) {
        Fail(QStringLiteral("Cannot connect to the team archive"));
        Close();
        return false;
    }
    // A search's best plan depends on its words (a common one reads the
    // newest chats, a rare one its index): never one plan for all.
    TeamResult(PQexec(m_conn, "SET plan_cache_mode = force_custom_plan"));
    if (qstrcmp(PQparameterStatus(m_conn, "server_encoding"), "UTF8") != 0) {
        m_lastError = QStringLiteral("The team archive's database must use the UTF8 encoding.");
        Close();
        return false;
    }
    const QString name = schema.trimmed().isEmpty() ? QString::fromLatin1(kTeamDefaultSchema) : schema.trimmed();
    const QByteArray raw = name.toUtf8();
    char *quoted = PQescapeIdentifier(m_conn, raw.constData(), size_t(raw.size()));
    if (!quoted) {
        Fail(QStringLiteral("The team archive's schema name cannot be used"));
        Close();
        return false;
    }
    {
        std::lock_guard lock(m_socketMutex);
        m_socket = PQsocket(m_conn);
    }
    m_schema = quoted;
    m_schemaName = raw;
    PQfreemem(quoted);
    if (!Migrate() || !Prepare()) {
        Close();
        return false;
    }
    return true;
}

bool TTeamDb::Migrate()
{
    if (!Exec("BEGIN"))
        return false;
    auto fail = [this]() {
        const QString error = m_lastError;
        TeamResult(PQexec(m_conn, "ROLLBACK"));
        m_lastError = error;
        return false;
    };
    // Consoles starting together wait for each other here, not in a race.
    {
        const char *values[] = {m_schema.constData()};
        TeamResult lock(PQexecParams(m_conn, "SELECT pg_advisory_xact_lock(hashtext('velmora schema ' || $1))", 1,
                                     nullptr, values, nullptr, nullptr, 0));
        if (!TeamOk(lock))
            return Fail(QStringLiteral("The team archive refused a lock")), fail();
    }
    // Created only when missing: a role given just its schema by the
    // database's owner needs no right to create one.
    const QByteArray version = Qualified("@S.version").toUtf8();
    {
        const char *values[] = {version.constData()};
        TeamResult exists(PQexecParams(m_conn, "SELECT to_regclass($1) IS NOT NULL", 1, nullptr, values, nullptr,
                                       nullptr, 0));
        if (!TeamOk(exists))
            return Fail(QStringLiteral("The team archive cannot be read")), fail();
        if (QByteArray(PQgetvalue(exists.get(), 0, 0)) != "t") {
            const QByteArray create =
                Qualified("CREATE SCHEMA @S; CREATE TABLE @S.version(version integer NOT NULL);"
                          " INSERT INTO @S.version VALUES (0);")
                    .toUtf8();
            const QByteArray createTable =
                Qualified("CREATE TABLE @S.version(version integer NOT NULL); INSERT INTO @S.version VALUES (0);")
                    .toUtf8();
            // CREATE SCHEMA needs the right to create one even when it is there.
            const char *names[] = {m_schemaName.constData()};
            TeamResult present(PQexecParams(m_conn, "SELECT 1 FROM pg_namespace WHERE nspname = $1", 1, nullptr,
                                            names, nullptr, nullptr, 0));
            const bool schemaThere = TeamOk(present) && PQntuples(present.get()) > 0;
            if (!Exec(schemaThere ? createTable.constData() : create.constData()))
                return fail();
        }
    }
    const QByteArray readVersion = Qualified("SELECT max(version) FROM @S.version").toUtf8();
    TeamResult current(PQexec(m_conn, readVersion.constData()));
    if (!TeamOk(current) || PQntuples(current.get()) != 1)
        return Fail(QStringLiteral("The team archive's version cannot be read")), fail();
    m_serverVersion = int(TeamNumber(current, 0, 0));
    m_readOnly = m_serverVersion > kSchemaVersion;
    for (int v = m_serverVersion; v < kSchemaVersion; ++v) {
        const QByteArray step = Qualified(kTeamMigrations[v]).toUtf8();
        const QByteArray bump = Qualified("UPDATE @S.version SET version = %1").arg(v + 1).toUtf8();
        if (!Exec(step.constData()) || !Exec(bump.constData()))
            return fail();
        m_serverVersion = v + 1;
    }
    return Exec("COMMIT") || fail();
}

bool TTeamDb::Prepare()
{
    for (const TeamStatement &s : kTeamStatements) {
        const QByteArray sql = Qualified(s.Sql).toUtf8();
        TeamResult result(PQprepare(m_conn, s.Name, sql.constData(), s.Params, nullptr));
        // A newer schema may have moved what a statement names: reading is
        // then best effort, and writing is refused anyway.
        if (!TeamOk(result) && !m_readOnly)
            return Fail(QStringLiteral("The team archive's tables do not fit this version"));
    }
    return true;
}

void TTeamDb::Interrupt()
{
    std::lock_guard lock(m_socketMutex);
    if (m_socket >= 0)
        ::shutdown(m_socket, SHUT_RDWR);
}

void TTeamDb::Close()
{
    std::lock_guard lock(m_socketMutex);
    m_socket = -1;
    if (m_conn)
        PQfinish(m_conn);
    m_conn = nullptr;
    m_readOnly = false;
}

bool TTeamDb::Ping()
{
    if (!m_conn)
        return false;
    TeamResult result(PQexec(m_conn, "SELECT 1"));
    return TeamOk(result) || Fail(QStringLiteral("The team archive does not answer"));
}

bool TTeamDb::Lost() const { return !m_conn || PQstatus(m_conn) == CONNECTION_BAD; }

bool TTeamDb::RemoteWithoutTls() const
{
    if (!m_conn || PQsslInUse(m_conn))
        return false;
    const QString host = QString::fromUtf8(PQhost(m_conn));
    return !(host.isEmpty() || host.startsWith(QLatin1Char('/')) || host.startsWith(QLatin1Char('@'))
             || host == QLatin1String("localhost") || host.startsWith(QLatin1String("127.")) || host == QLatin1String("::1"));
}

QString TTeamDb::Lexemes(const QString &text) const
{
    QSet<QByteArray> seen;
    QByteArray joined;
    const QString clean = QString(text).replace(QChar(0), QLatin1Char(' '));
    for (const TFoldedWord &word : FoldedWords(m_folder, clean.toUtf8())) {
        const QByteArray lexeme = TeamCut(word.Folded, kTeamMaxWordBytes);
        if (lexeme.isEmpty() || lexeme.contains(' ') || seen.contains(lexeme))
            continue;
        if (joined.size() + lexeme.size() + 1 > kTeamMaxBatchWordsBytes)
            break;
        seen.insert(lexeme);
        if (!joined.isEmpty())
            joined += ' ';
        joined += lexeme;
    }
    return QString::fromUtf8(joined);
}

QString TTeamDb::Query(const QString &text, bool any) const
{
    QStringList terms;
    for (const QString &term : ArchiveMatchTerms(text)) {
        // The local terms are quoted words with a star: "word"*.
        QString word = term.mid(1, term.size() - 3).replace(QStringLiteral("\"\""), QStringLiteral("\""));
        word.replace(QChar(0), QLatin1Char(' '));
        QList<QByteArray> parts;
        for (const TFoldedWord &folded : FoldedWords(m_folder, word.toUtf8()))
            if (!folded.Folded.isEmpty())
                parts << TeamQuoted(TeamCut(folded.Folded, kTeamMaxWordBytes));
        if (parts.isEmpty())
            continue;
        // A word the folding parts ("o'brien", a run of CJK pairs) needs all
        // its parts: a chat's words keep no positions for a phrase.
        parts.last() += ":*";
        terms << QString::fromUtf8(parts.join(" & "));
    }
    return terms.isEmpty() ? QString()
                           : QLatin1Char('(') + terms.join(any ? QStringLiteral(") | (") : QStringLiteral(") & ("))
                                 + QLatin1Char(')');
}

bool TTeamDb::Send(const QString &console, const TTeamUnsent &unsent)
{
    if (!m_conn)
        return Fail(QStringLiteral("Not connected to the team archive"));
    if (m_readOnly) {
        m_lastError = QStringLiteral("The team archive was set up by a newer version; this one only reads it.");
        return false;
    }
    const TArchiveChat &c = unsent.Chat;
    const QByteArray who = TeamText(console);
    const QByteArray id = TeamInt(c.Id);
    if (!Exec("BEGIN"))
        return false;
    auto fail = [this]() {
        const QString error = m_lastError;
        if (!Lost())
            TeamResult(PQexec(m_conn, "ROLLBACK"));
        m_lastError = error;
        return false;
    };
    // A chat's words: its visitor's fields and its lines, as the local index has them.
    QString words = c.Visitor + QLatin1Char(' ') + c.Email + QLatin1Char(' ') + c.Phone + QLatin1Char(' ') + c.Site;
    std::vector<QString> lineWords;
    lineWords.reserve(unsent.Lines.size());
    for (const TTeamLine &line : unsent.Lines) {
        lineWords.push_back(Lexemes(line.Line.Text));
        words += QLatin1Char(' ') + lineWords.back();
    }
    TeamResult chat = TeamRun(
        m_conn, "velmora_chat",
        {who, id, TeamInt(c.SessionCount), TeamInt(c.Kind), TeamText(c.Visitor), TeamText(c.Email), TeamText(c.Phone),
         TeamText(c.Site), TeamText(c.IP), TeamInt(c.Started), TeamInt(c.Ended), TeamText(c.Status),
         TeamText(c.Supporter), TeamText(c.OtherSupporter), TeamBool(c.EndedProperly), TeamBool(c.Open),
         TeamInt(c.Announced), TeamInt(c.Answered), TeamInt(c.HeldFrom), TeamInt(c.HeldUntil),
         TeamInt(qint64(c.EndedBy)), Lexemes(words).toUtf8(), TeamBool(unsent.Final)});
    if (!TeamOk(chat))
        return Fail(QStringLiteral("The team archive refused a chat")), fail();
    for (size_t i = 0; i < unsent.Lines.size(); ++i) {
        const TTeamLine &line = unsent.Lines[i];
        const TArchiveLine &l = line.Line;
        TeamResult result = TeamRun(m_conn, "velmora_line",
                                    {who, id, TeamInt(line.Id), TeamInt(l.At), TeamInt(qint64(l.From)),
                                     TeamText(l.Name), TeamText(l.Text), TeamInt(qint64(l.Kind)),
                                     TeamText(l.ImageName), TeamInt(l.ImageSize), TeamBool(l.Carried),
                                     lineWords[i].toUtf8()});
        if (!TeamOk(result))
            return Fail(QStringLiteral("The team archive refused a line")), fail();
    }
    return Exec("COMMIT") || fail();
}

bool TTeamDb::Remove(const QString &console, const TTeamRemoval &removal)
{
    if (!m_conn)
        return Fail(QStringLiteral("Not connected to the team archive"));
    if (m_readOnly) {
        m_lastError = QStringLiteral("The team archive was set up by a newer version; this one only reads it.");
        return false;
    }
    TeamResult result;
    if (removal.Chat)
        result = TeamRun(m_conn, "velmora_remove_chat", {TeamText(console), TeamInt(removal.Chat)});
    else if (!removal.Email.trimmed().isEmpty())
        result = TeamRun(m_conn, "velmora_remove_email", {TeamText(removal.Email.trimmed())});
    else if (!removal.Visitor.trimmed().isEmpty())
        result = TeamRun(m_conn, "velmora_remove_named", {TeamText(removal.Visitor.trimmed()), TeamText(removal.Site)});
    else
        return true;
    return TeamOk(result) || Fail(QStringLiteral("The team archive refused a removal"));
}

std::vector<TTeamHit> TTeamDb::Search(const TArchiveFilter &filter, int offset)
{
    std::vector<TTeamHit> hits;
    if (!m_conn)
        return Fail(QStringLiteral("Not connected to the team archive")), hits;
    const QString query = Query(filter.Text);
    if (query.isEmpty() && !filter.Text.trimmed().isEmpty() && ArchiveMatchTerms(filter.Text).isEmpty())
        return hits; // words with nothing to look for find nothing, as here
    const qint64 from = filter.From.isValid() ? filter.From.startOfDay().toMSecsSinceEpoch() : 0;
    const qint64 to = filter.To.isValid() ? filter.To.addDays(1).startOfDay().toMSecsSinceEpoch()
                                          : std::numeric_limits<qint64>::max();
    // The snippet is the first line with any of the words, and marks them.
    const QString anyWord = Query(filter.Text, true);
    std::vector<QByteArray> params{query.toUtf8(),        TeamInt(from),         TeamInt(to),
                                   TeamText(filter.Visitor), TeamText(filter.Site), TeamText(filter.Status),
                                   TeamInt(filter.Limit),  TeamInt(offset)};
    if (!query.isEmpty())
        params.push_back(anyWord.toUtf8());
    TeamResult result;
    if (!query.isEmpty() && offset == 0) {
        std::vector<QByteArray> recent = params;
        recent[7] = TeamInt(kTeamRecentChats);
        result = TeamRun(m_conn, "velmora_search_recent", recent);
        if (TeamOk(result) && PQntuples(result.get()) < filter.Limit)
            result.reset(); // the newest chats hold less than a page: the index finds the rest
    }
    if (!result)
        result = TeamRun(m_conn, query.isEmpty() ? "velmora_search_all" : "velmora_search_words", params);
    if (!TeamOk(result))
        return Fail(QStringLiteral("The team archive cannot be searched")), hits;
    // The words the snippet marks: the query's, folded.
    QList<QByteArray> marks;
    for (const QString &term : ArchiveMatchTerms(filter.Text))
        for (const TFoldedWord &folded : FoldedWords(m_folder, term.mid(1, term.size() - 3).toUtf8()))
            marks << folded.Folded;
    for (int row = 0; row < PQntuples(result.get()); ++row) {
        TTeamHit hit;
        hit.Console = TeamValue(result, row, 0);
        hit.Hit.Chat = TeamNumber(result, row, 1);
        hit.Hit.Started = TeamNumber(result, row, 2);
        hit.Hit.Visitor = TeamValue(result, row, 3);
        hit.Hit.Email = TeamValue(result, row, 4);
        hit.Hit.Site = TeamValue(result, row, 5);
        hit.Hit.Status = TeamValue(result, row, 6);
        hit.Supporter = TeamValue(result, row, 7);
        if (!PQgetisnull(result.get(), row, 8)) {
            const QByteArray text = ArchiveText(TeamValue(result, row, 8)).left(400).toUtf8();
            QString marked;
            int at = 0;
            for (const TFoldedWord &word : FoldedWords(m_folder, text)) {
                const bool match = std::any_of(marks.begin(), marks.end(),
                                               [&](const QByteArray &m) { return word.Folded.startsWith(m); });
                if (!match)
                    continue;
                marked += QString::fromUtf8(text.mid(at, word.Start - at)) + kMarkOpen
                          + QString::fromUtf8(text.mid(word.Start, word.End - word.Start)) + kMarkClose;
                at = word.End;
            }
            hit.Hit.Snippet = marked + QString::fromUtf8(text.mid(at));
        }
        hits.push_back(std::move(hit));
    }
    return hits;
}

std::optional<TArchiveChat> TTeamDb::Chat(const QString &console, qint64 chat)
{
    if (!m_conn)
        return std::nullopt;
    TeamResult r = TeamRun(m_conn, "velmora_read_chat", {TeamText(console), TeamInt(chat)});
    if (!TeamOk(r) || PQntuples(r.get()) != 1)
        return std::nullopt;
    TArchiveChat c;
    c.Id = chat;
    c.SessionCount = qint32(TeamNumber(r, 0, 0));
    c.Kind = int(TeamNumber(r, 0, 1));
    c.Visitor = TeamValue(r, 0, 2);
    c.Email = TeamValue(r, 0, 3);
    c.Phone = TeamValue(r, 0, 4);
    c.Site = TeamValue(r, 0, 5);
    c.IP = TeamValue(r, 0, 6);
    c.Started = TeamNumber(r, 0, 7);
    c.Ended = TeamNumber(r, 0, 8);
    c.Status = TeamValue(r, 0, 9);
    c.Supporter = TeamValue(r, 0, 10);
    c.OtherSupporter = TeamValue(r, 0, 11);
    c.EndedProperly = TeamValue(r, 0, 12) == QLatin1String("t");
    c.Open = TeamValue(r, 0, 13) == QLatin1String("t");
    c.Announced = TeamNumber(r, 0, 14);
    c.Answered = TeamNumber(r, 0, 15);
    c.HeldFrom = TeamNumber(r, 0, 16);
    c.HeldUntil = TeamNumber(r, 0, 17);
    c.EndedBy = archive::EndedBy(qBound(0, int(TeamNumber(r, 0, 18)), 4));
    return c;
}

std::vector<TArchiveLine> TTeamDb::Lines(const QString &console, qint64 chat)
{
    std::vector<TArchiveLine> lines;
    if (!m_conn)
        return lines;
    TeamResult r = TeamRun(m_conn, "velmora_read_lines", {TeamText(console), TeamInt(chat)});
    if (!TeamOk(r))
        return Fail(QStringLiteral("The team archive cannot be read")), lines;
    for (int row = 0; row < PQntuples(r.get()); ++row) {
        TArchiveLine l;
        l.At = TeamNumber(r, row, 0);
        l.From = archive::Who(qBound(0, int(TeamNumber(r, row, 1)), 3));
        l.Name = TeamValue(r, row, 2);
        l.Text = TeamValue(r, row, 3);
        l.Kind = archive::LineKind(qBound(0, int(TeamNumber(r, row, 4)), 3));
        l.ImageName = TeamValue(r, row, 5);
        l.ImageSize = TeamNumber(r, row, 6);
        l.Carried = TeamValue(r, row, 7) == QLatin1String("t");
        lines.push_back(std::move(l));
    }
    return lines;
}

TTeamEarlier TTeamDb::Earlier(const QString &email, const QString &name, const QString &site, qint64 before)
{
    TTeamEarlier earlier;
    if (!m_conn)
        return earlier;
    const QByteArray limit = TeamInt(before > 0 ? before : std::numeric_limits<qint64>::max());
    auto count = [&](const char *statement, const std::vector<QByteArray> &params) {
        TeamResult r = TeamRun(m_conn, statement, params);
        if (TeamOk(r) && PQntuples(r.get()) == 1) {
            earlier.Count = int(TeamNumber(r, 0, 0));
            earlier.Last = TeamNumber(r, 0, 1);
            earlier.LastWith = TeamValue(r, 0, 2);
        }
    };
    if (!email.trimmed().isEmpty())
        count("velmora_earlier_email", {limit, TeamText(email.trimmed())});
    if (earlier.Count == 0 && !name.trimmed().isEmpty())
        count("velmora_earlier_named", {limit, TeamText(name.trimmed()), TeamText(site)});
    return earlier;
}

} // namespace velmora
