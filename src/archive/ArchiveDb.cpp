// The archive file: its schema and migrations, and every statement that
// writes, searches or prunes it. They stay in one file, past the usual
// length, so that a column changed in the schema is seen beside every
// statement that names it.
#include "archive/ArchiveDb.h"

#include "archive/FoldTokenizer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QStringList>

#include <sqlite3.h>

#include <algorithm>
#include <limits>
#include <unordered_set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {
namespace {

// One prepared statement, finalized when it goes out of scope.
class Statement {
public:
    Statement(sqlite3 *db, const QString &sql)
    {
        const QByteArray utf8 = sql.toUtf8();
        m_rc = sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &m_statement, nullptr);
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool Ok() const { return m_rc == SQLITE_OK || m_rc == SQLITE_ROW || m_rc == SQLITE_DONE; }
    int Code() const { return m_rc; }

    void Bind(int index, qint64 value) { sqlite3_bind_int64(m_statement, index, value); }
    void Bind(int index, const QString &value)
    {
        const QByteArray utf8 = value.toUtf8();
        sqlite3_bind_text(m_statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    }
    void Bind(int index, const QByteArray &value)
    {
        if (value.isNull())
            sqlite3_bind_null(m_statement, index);
        else
            sqlite3_bind_blob(m_statement, index, value.constData(), int(value.size()), SQLITE_TRANSIENT);
    }
    // Binds ":name" when the statement has it.
    template <class T>
    void Bind(const char *name, const T &value)
    {
        if (const int index = sqlite3_bind_parameter_index(m_statement, name))
            Bind(index, value);
    }
    // True while there is a row; afterwards Code() tells DONE from a failure.
    bool Step()
    {
        if (!m_statement)
            return false;
        m_rc = sqlite3_step(m_statement);
        return m_rc == SQLITE_ROW;
    }
    bool Run()
    {
        while (Step()) {
        }
        return m_rc == SQLITE_DONE;
    }
    qint64 Int(int column) const { return sqlite3_column_int64(m_statement, column); }
    QString Text(int column) const
    {
        return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column)),
                                 sqlite3_column_bytes(m_statement, column));
    }
    QByteArray Blob(int column) const
    {
        if (sqlite3_column_type(m_statement, column) == SQLITE_NULL)
            return {};
        return QByteArray(static_cast<const char *>(sqlite3_column_blob(m_statement, column)),
                          sqlite3_column_bytes(m_statement, column));
    }

private:
    sqlite3_stmt *m_statement = nullptr;
    int m_rc = SQLITE_OK;
};

#define VELMORA_TOKENIZE "tokenize='velmora_fold unicode61 remove_diacritics 2'"

// 3: what the figures need: the call behind each chat (announced, its alert
// answered, on hold), who ended the chat, the lines a transfer carried in,
// and the calls that never became a chat here. Chats recorded before have
// zeros, which the figures read as "not known".
constexpr const char *FiguresMigration()
{
    return "ALTER TABLE chats ADD COLUMN announced INTEGER NOT NULL DEFAULT 0;"
           "ALTER TABLE chats ADD COLUMN answered INTEGER NOT NULL DEFAULT 0;"
           "ALTER TABLE chats ADD COLUMN held_from INTEGER NOT NULL DEFAULT 0;"
           "ALTER TABLE chats ADD COLUMN held_until INTEGER NOT NULL DEFAULT 0;"
           "ALTER TABLE chats ADD COLUMN ended_by INTEGER NOT NULL DEFAULT 0;"
           "ALTER TABLE lines ADD COLUMN carried INTEGER NOT NULL DEFAULT 0;"
           "CREATE TABLE calls(id INTEGER PRIMARY KEY, session INTEGER NOT NULL, kind INTEGER NOT NULL DEFAULT 0,"
           " site TEXT NOT NULL DEFAULT '', announced INTEGER NOT NULL, answered INTEGER NOT NULL DEFAULT 0,"
           " held_from INTEGER NOT NULL DEFAULT 0, held_until INTEGER NOT NULL DEFAULT 0,"
           " outcome INTEGER NOT NULL);"
           "CREATE INDEX calls_announced ON calls(announced);";
}

// Each step brings the schema from version i to i + 1; a file is only ever
// moved forward, inside one transaction per step.
const char *const kMigrations[] = {
    // 1: chats, their lines, the index over the lines.
    "CREATE TABLE chats(id INTEGER PRIMARY KEY, session INTEGER NOT NULL, kind INTEGER NOT NULL DEFAULT 0,"
    " visitor TEXT NOT NULL DEFAULT '', email TEXT NOT NULL DEFAULT '', phone TEXT NOT NULL DEFAULT '',"
    " site TEXT NOT NULL DEFAULT '', ip TEXT NOT NULL DEFAULT '', started INTEGER NOT NULL,"
    " ended INTEGER NOT NULL DEFAULT 0, status TEXT NOT NULL DEFAULT '', supporter TEXT NOT NULL DEFAULT '',"
    " other_supporter TEXT NOT NULL DEFAULT '', ended_properly INTEGER NOT NULL DEFAULT 0,"
    " open INTEGER NOT NULL DEFAULT 1);"
    "CREATE INDEX chats_started ON chats(started);"
    "CREATE INDEX chats_email ON chats(email COLLATE NOCASE);"
    "CREATE INDEX chats_visitor ON chats(visitor COLLATE NOCASE, site);"
    "CREATE INDEX chats_session ON chats(session);"
    "CREATE INDEX chats_open ON chats(open) WHERE open;"
    "CREATE TABLE lines(id INTEGER PRIMARY KEY, chat INTEGER NOT NULL, at INTEGER NOT NULL,"
    " who INTEGER NOT NULL, name TEXT NOT NULL DEFAULT '', text TEXT NOT NULL DEFAULT '',"
    " kind INTEGER NOT NULL DEFAULT 0, image_name TEXT, image_size INTEGER, image BLOB);"
    "CREATE INDEX lines_chat ON lines(chat);"
    "CREATE VIRTUAL TABLE lines_fts USING fts5(text, content='lines', content_rowid='id', prefix='2 3', "
    VELMORA_TOKENIZE ");"
    "CREATE TRIGGER lines_ai AFTER INSERT ON lines BEGIN"
    " INSERT INTO lines_fts(rowid, text) VALUES (new.id, new.text); END;"
    "CREATE TRIGGER lines_ad AFTER DELETE ON lines BEGIN"
    " INSERT INTO lines_fts(lines_fts, rowid, text) VALUES ('delete', old.id, old.text); END;",
    // 2: the transcript's fate, and the visitor's fields in the index.
    "CREATE TABLE transcripts(chat INTEGER PRIMARY KEY, fate INTEGER NOT NULL, at INTEGER NOT NULL DEFAULT 0,"
    " recipients TEXT NOT NULL DEFAULT '', answer TEXT NOT NULL DEFAULT '', record TEXT NOT NULL DEFAULT '');"
    "CREATE VIRTUAL TABLE chats_fts USING fts5(visitor, email, phone, site, content='chats', content_rowid='id', "
    VELMORA_TOKENIZE ");"
    "INSERT INTO chats_fts(chats_fts) VALUES ('rebuild');"
    "CREATE TRIGGER chats_ai AFTER INSERT ON chats BEGIN"
    " INSERT INTO chats_fts(rowid, visitor, email, phone, site) VALUES (new.id, new.visitor, new.email, new.phone,"
    " new.site); END;"
    "CREATE TRIGGER chats_ad AFTER DELETE ON chats BEGIN"
    " INSERT INTO chats_fts(chats_fts, rowid, visitor, email, phone, site) VALUES ('delete', old.id, old.visitor,"
    " old.email, old.phone, old.site); END;"
    "CREATE TRIGGER chats_au AFTER UPDATE OF visitor, email, phone, site ON chats BEGIN"
    " INSERT INTO chats_fts(chats_fts, rowid, visitor, email, phone, site) VALUES ('delete', old.id, old.visitor,"
    " old.email, old.phone, old.site);"
    " INSERT INTO chats_fts(rowid, visitor, email, phone, site) VALUES (new.id, new.visitor, new.email, new.phone,"
    " new.site); END;",
    FiguresMigration(),
};
static_assert(std::size(kMigrations) == TArchiveDb::kSchemaVersion);

bool IsDamage(int code)
{
    const int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

// The filter's conditions on the chat `c`, with named parameters.
QString FilterSql(const TArchiveFilter &filter)
{
    QString sql;
    if (filter.From.isValid())
        sql += QStringLiteral(" AND c.started >= :from");
    if (filter.To.isValid())
        sql += QStringLiteral(" AND c.started < :to");
    if (!filter.Visitor.trimmed().isEmpty())
        sql += QStringLiteral(" AND (instr(lower(c.email), :visitor) > 0 OR instr(lower(c.visitor), :visitor) > 0)");
    if (!filter.Site.trimmed().isEmpty())
        sql += QStringLiteral(" AND instr(lower(c.site), :site) > 0");
    if (!filter.Status.isEmpty())
        sql += QStringLiteral(" AND c.status = :status");
    return sql;
}

void BindFilter(Statement &statement, const TArchiveFilter &filter, const QString &match)
{
    if (filter.From.isValid())
        statement.Bind(":from", filter.From.startOfDay().toMSecsSinceEpoch());
    if (filter.To.isValid())
        statement.Bind(":to", filter.To.addDays(1).startOfDay().toMSecsSinceEpoch());
    statement.Bind(":visitor", filter.Visitor.trimmed().toLower());
    statement.Bind(":site", filter.Site.trimmed().toLower());
    statement.Bind(":status", filter.Status);
    statement.Bind(":match", match);
    statement.Bind(":limit", qint64(qMax(1, filter.Limit)));
}

void BindFate(Statement &statement, const TTranscriptFate &fate)
{
    statement.Bind(":fate", qint64(fate.State));
    statement.Bind(":at", fate.At);
    statement.Bind(":recipients", ArchiveText(fate.Recipients));
    statement.Bind(":answer", ArchiveText(fate.Answer));
}

// Creates the file, or keeps the one there, readable by its user only;
// SQLite gives its WAL and shared memory the same mode as the file.
void MakePrivate(const QByteArray &nativePath)
{
    const int fd = ::open(nativePath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::fchmod(fd, 0600);
        ::close(fd);
    }
}

// Every column of a chat, in the order ChatFrom reads them.
#define VELMORA_CHAT_COLUMNS                                                                                          \
    "id, session, kind, visitor, email, phone, site, ip, started, ended, status, supporter, other_supporter,"        \
    " ended_properly, open, announced, answered, held_from, held_until, ended_by"

TArchiveChat ChatFrom(const Statement &read)
{
    TArchiveChat chat;
    chat.Id = read.Int(0);
    chat.SessionCount = qint32(read.Int(1));
    chat.Kind = int(read.Int(2));
    chat.Visitor = read.Text(3);
    chat.Email = read.Text(4);
    chat.Phone = read.Text(5);
    chat.Site = read.Text(6);
    chat.IP = read.Text(7);
    chat.Started = read.Int(8);
    chat.Ended = read.Int(9);
    chat.Status = read.Text(10);
    chat.Supporter = read.Text(11);
    chat.OtherSupporter = read.Text(12);
    chat.EndedProperly = read.Int(13) != 0;
    chat.Open = read.Int(14) != 0;
    chat.Announced = read.Int(15);
    chat.Answered = read.Int(16);
    chat.HeldFrom = read.Int(17);
    chat.HeldUntil = read.Int(18);
    chat.EndedBy = archive::EndedBy(qBound(0, int(read.Int(19)), 4));
    return chat;
}

TArchiveHit HitFrom(const Statement &row)
{
    TArchiveHit hit;
    hit.Chat = row.Int(0);
    hit.Started = row.Int(1);
    hit.Visitor = row.Text(2);
    hit.Email = row.Text(3);
    hit.Site = row.Text(4);
    hit.Status = row.Text(5);
    hit.Snippet = row.Text(6);
    return hit;
}

} // namespace

const char *ArchiveMigration(int version)
{
    return version >= 0 && version < TArchiveDb::kSchemaVersion ? kMigrations[version] : nullptr;
}

QString ArchiveText(const QString &text)
{
    QString kept = text;
    kept.remove(kMarkOpen);
    kept.remove(kMarkClose);
    return kept;
}

QString ArchiveMatchQuery(const QString &text)
{
    QStringList terms;
    for (const QString &word : text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
        // A word of punctuation alone gives the tokenizer nothing to find.
        if (std::none_of(word.begin(), word.end(), [](QChar c) { return c.isLetterOrNumber(); }))
            continue;
        QString quoted = word;
        quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        terms << QLatin1Char('"') + quoted + QStringLiteral("\"*");
    }
    return terms.join(QLatin1Char(' '));
}

TArchiveDb::~TArchiveDb()
{
    Close();
}

void TArchiveDb::Close()
{
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
}

bool TArchiveDb::LastWasDamage() const
{
    return IsDamage(m_lastCode);
}

bool TArchiveDb::Fail(int code)
{
    m_lastCode = code;
    m_lastError = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(code));
    return false;
}

bool TArchiveDb::Exec(const char *sql)
{
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    return rc == SQLITE_OK || Fail(rc);
}

bool TArchiveDb::Begin()
{
    return Exec("BEGIN IMMEDIATE");
}

bool TArchiveDb::Commit()
{
    return Exec("COMMIT");
}

void TArchiveDb::Rollback()
{
    if (m_db && !sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

void TArchiveDb::MoveAside(const QString &path, QString *movedTo)
{
    Close();
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = path + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = path + QStringLiteral(".damaged-") + stamp + QLatin1Char('-') + QString::number(n);
    QFile::rename(path, target);
    for (const char *suffix : {"-wal", "-shm"}) {
        if (QFileInfo::exists(path + QLatin1String(suffix)))
            QFile::rename(path + QLatin1String(suffix), target + QLatin1String(suffix));
    }
    if (movedTo)
        *movedTo = target;
}

bool TArchiveDb::OpenReader(const QString &path)
{
    Close();
    m_path = path;
    int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_extended_result_codes(m_db, 1);
        sqlite3_busy_timeout(m_db, 100);
        RegisterFoldTokenizer(m_db);
        Statement read(m_db, QStringLiteral("PRAGMA user_version"));
        rc = read.Step() ? (read.Int(0) == kSchemaVersion ? SQLITE_OK : SQLITE_SCHEMA) : read.Code();
    }
    if (rc != SQLITE_OK) {
        Fail(rc);
        Close();
    }
    return m_db != nullptr;
}

TArchiveDb::OpenResult TArchiveDb::Open(const QString &path, QString *error, QString *movedTo)
{
    Close();
    m_path = path;
    const QByteArray native = QFile::encodeName(path);
    MakePrivate(native);
    bool movedAside = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        int rc = sqlite3_open_v2(native.constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        if (rc != SQLITE_OK) {
            Fail(rc);
            Close();
            if (error)
                *error = m_lastError;
            return OpenResult::Failed;
        }
        sqlite3_extended_result_codes(m_db, 1);
        sqlite3_busy_timeout(m_db, 200);
        RegisterFoldTokenizer(m_db);
        int version = -1;
        {
            Statement read(m_db, QStringLiteral("PRAGMA user_version"));
            if (read.Step())
                version = int(read.Int(0));
            else
                Fail(read.Code());
        }
        bool ok = version >= 0 && version <= kSchemaVersion;
        if (ok && version == 0)
            ok = Exec("PRAGMA auto_vacuum = INCREMENTAL");
        ok = ok && Exec("PRAGMA journal_mode = WAL") && Exec("PRAGMA synchronous = NORMAL")
             && Exec("PRAGMA secure_delete = ON") && Migrate(version);
        // A look at the ends of the tables finds a file cut short without
        // reading all of it.
        ok = ok && Exec("SELECT max(id) FROM chats; SELECT max(id) FROM lines; SELECT count(*) FROM transcripts");
        if (ok)
            return movedAside ? OpenResult::MovedAside : OpenResult::Ok;
        const bool newer = version > kSchemaVersion;
        if (newer)
            m_lastError = QStringLiteral("the archive was written by a newer version (%1)").arg(version);
        if (!(newer || LastWasDamage()) || attempt > 0) {
            Close();
            if (error)
                *error = m_lastError;
            return OpenResult::Failed;
        }
        if (error)
            *error = m_lastError;
        MoveAside(path, movedTo);
        movedAside = true;
        MakePrivate(native);
    }
    return OpenResult::Failed;
}

bool TArchiveDb::Migrate(int from)
{
    for (int version = from; version < kSchemaVersion; ++version) {
        if (!Begin())
            return false;
        const QByteArray bump = "PRAGMA user_version = " + QByteArray::number(version + 1);
        if (!Exec(kMigrations[version]) || !Exec(bump.constData()) || !Commit()) {
            const int code = m_lastCode;
            const QString text = m_lastError;
            Rollback();
            m_lastCode = code;
            m_lastError = text;
            return false;
        }
    }
    return true;
}

qint64 TArchiveDb::InsertChat(const TArchiveChat &chat)
{
    Statement insert(m_db, QStringLiteral(
        "INSERT INTO chats(session, kind, visitor, email, phone, site, ip, started, ended, status, supporter,"
        " other_supporter, ended_properly, open, announced, answered, held_from, held_until, ended_by)"
        " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19)"));
    insert.Bind(1, qint64(chat.SessionCount));
    insert.Bind(2, qint64(chat.Kind));
    insert.Bind(3, ArchiveText(chat.Visitor));
    insert.Bind(4, ArchiveText(chat.Email));
    insert.Bind(5, ArchiveText(chat.Phone));
    insert.Bind(6, ArchiveText(chat.Site));
    insert.Bind(7, chat.IP);
    insert.Bind(8, chat.Started);
    insert.Bind(9, chat.Ended);
    insert.Bind(10, chat.Status);
    insert.Bind(11, chat.Supporter);
    insert.Bind(12, chat.OtherSupporter);
    insert.Bind(13, qint64(chat.EndedProperly));
    insert.Bind(14, qint64(chat.Open));
    insert.Bind(15, chat.Announced);
    insert.Bind(16, chat.Answered);
    insert.Bind(17, chat.HeldFrom);
    insert.Bind(18, chat.HeldUntil);
    insert.Bind(19, qint64(chat.EndedBy));
    if (!insert.Run())
        return Fail(insert.Code()), 0;
    return sqlite3_last_insert_rowid(m_db);
}

bool TArchiveDb::UpdateCaller(qint64 chat, const TArchiveChat &details)
{
    Statement update(m_db, QStringLiteral("UPDATE chats SET visitor = ?2, email = ?3, phone = ?4, other_supporter ="
                                          " CASE WHEN ?5 = '' THEN other_supporter ELSE ?5 END WHERE id = ?1"));
    update.Bind(1, chat);
    update.Bind(2, ArchiveText(details.Visitor));
    update.Bind(3, ArchiveText(details.Email));
    update.Bind(4, ArchiveText(details.Phone));
    update.Bind(5, details.OtherSupporter);
    return update.Run() || Fail(update.Code());
}

bool TArchiveDb::EndChat(qint64 chat, qint64 at, const QString &status, archive::EndedBy by)
{
    // Only a chat a crash left open is not ended properly (MarkLeftOpen).
    Statement update(m_db, QStringLiteral("UPDATE chats SET ended = ?2, status = CASE WHEN ?3 = '' THEN status ELSE ?3"
                                          " END, ended_properly = 1, open = 0, ended_by = ?4 WHERE id = ?1"));
    update.Bind(1, chat);
    update.Bind(2, at);
    update.Bind(3, status);
    update.Bind(4, qint64(by));
    return update.Run() || Fail(update.Code());
}

bool TArchiveDb::InsertCall(const TArchiveCall &call)
{
    Statement insert(m_db, QStringLiteral("INSERT INTO calls(session, kind, site, announced, answered, held_from,"
                                          " held_until, outcome) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)"));
    insert.Bind(1, qint64(call.SessionCount));
    insert.Bind(2, qint64(call.Kind));
    insert.Bind(3, ArchiveText(call.Site));
    insert.Bind(4, call.Announced);
    insert.Bind(5, call.Answered);
    insert.Bind(6, call.HeldFrom);
    insert.Bind(7, call.HeldUntil);
    insert.Bind(8, qint64(call.Outcome));
    return insert.Run() || Fail(insert.Code());
}

bool TArchiveDb::AddLine(qint64 chat, const TArchiveLine &line)
{
    Statement insert(m_db, QStringLiteral("INSERT INTO lines(chat, at, who, name, text, kind, image_name, image_size,"
                                          " image, carried) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)"));
    insert.Bind(1, chat);
    insert.Bind(2, line.At);
    insert.Bind(3, qint64(line.From));
    insert.Bind(4, ArchiveText(line.Name));
    insert.Bind(5, ArchiveText(line.Text));
    insert.Bind(6, qint64(line.Kind));
    insert.Bind(10, qint64(line.Carried));
    if (line.Kind == archive::LineKind::Image) {
        insert.Bind(7, line.ImageName);
        insert.Bind(8, line.ImageSize);
        insert.Bind(9, line.Image.size() <= archive::kMaxImageBytes ? line.Image : QByteArray());
    }
    return insert.Run() || Fail(insert.Code());
}

bool TArchiveDb::SetTranscriptFate(qint64 chat, const TTranscriptFate &fate)
{
    Statement upsert(m_db, QStringLiteral("INSERT OR REPLACE INTO transcripts(chat, fate, at, recipients, answer, record)"
                                          " VALUES (:chat, :fate, :at, :recipients, :answer, :record)"));
    upsert.Bind(":chat", chat);
    upsert.Bind(":record", fate.Record);
    BindFate(upsert, fate);
    return upsert.Run() || Fail(upsert.Code());
}

bool TArchiveDb::UpdateTranscriptFate(const QString &record, const TTranscriptFate &fate)
{
    Statement update(m_db, QStringLiteral("UPDATE transcripts SET fate = :fate, at = :at, answer = :answer, recipients ="
                                          " CASE WHEN :recipients = '' THEN recipients ELSE :recipients END"
                                          " WHERE record = :record"));
    update.Bind(":record", record);
    BindFate(update, fate);
    return update.Run() || Fail(update.Code());
}

qint64 TArchiveDb::ChatOfSession(qint32 sessionCount)
{
    Statement find(m_db, QStringLiteral("SELECT max(id) FROM chats WHERE session = ?1"));
    find.Bind(1, qint64(sessionCount));
    return find.Step() ? find.Int(0) : 0;
}

int TArchiveDb::MarkLeftOpen()
{
    if (!Exec("UPDATE chats SET open = 0, ended_properly = 0, ended = coalesce((SELECT max(at) FROM lines"
              " WHERE lines.chat = chats.id), started) WHERE open"))
        return -1;
    return sqlite3_changes(m_db);
}

std::vector<TArchiveHit> TArchiveDb::Search(const TArchiveFilter &filter)
{
    std::vector<TArchiveHit> hits;
    if (!m_db)
        return hits;
    // A statement that fails gives no rows; LastCode says why.
    const auto check = [this](const Statement &statement) {
        if (!statement.Ok())
            Fail(statement.Code());
    };
    const QString conditions = FilterSql(filter);
    const QString columns = QStringLiteral("c.id, c.started, c.visitor, c.email, c.site, c.status, ");
    const QString match = ArchiveMatchQuery(filter.Text);
    if (filter.Text.trimmed().isEmpty()) {
        Statement all(m_db, QStringLiteral("SELECT ") + columns + QStringLiteral("'' FROM chats c WHERE 1")
                                + conditions + QStringLiteral(" ORDER BY c.started DESC, c.id DESC LIMIT :limit"));
        BindFilter(all, filter, match);
        while (all.Step())
            hits.push_back(HitFrom(all));
        check(all);
        return hits;
    }
    if (match.isEmpty())
        return hits;
    // The chats whose lines match, each with its newest matching line, and
    // those whose visitor fields match. Newest lines first, straight from the index, until the page is full:
    // the cost follows the page, not how common the words are.
    Statement inLines(m_db, QStringLiteral("SELECT ") + columns
                                + QStringLiteral("snippet(lines_fts, 0, char(1), char(2), '…', 12) FROM lines_fts"
                                                 " JOIN lines l ON l.id = lines_fts.rowid JOIN chats c ON c.id = l.chat"
                                                 " WHERE lines_fts MATCH :match")
                                + conditions + QStringLiteral(" ORDER BY lines_fts.rowid DESC"));
    BindFilter(inLines, filter, match);
    std::unordered_set<qint64> seen;
    while (int(hits.size()) < filter.Limit && inLines.Step()) {
        if (seen.insert(inLines.Int(0)).second)
            hits.push_back(HitFrom(inLines));
    }
    check(inLines);
    Statement inFields(m_db, QStringLiteral("SELECT ") + columns
                                 + QStringLiteral("snippet(chats_fts, -1, char(1), char(2), '…', 8)"
                                                  " FROM chats_fts JOIN chats c ON c.id = chats_fts.rowid"
                                                  " WHERE chats_fts MATCH :match")
                                 + conditions + QStringLiteral(" ORDER BY chats_fts.rowid DESC LIMIT :limit"));
    BindFilter(inFields, filter, match);
    while (inFields.Step()) {
        TArchiveHit hit = HitFrom(inFields);
        if (seen.insert(hit.Chat).second)
            hits.push_back(std::move(hit));
    }
    check(inFields);
    std::stable_sort(hits.begin(), hits.end(), [](const TArchiveHit &a, const TArchiveHit &b) {
        return a.Started != b.Started ? a.Started > b.Started : a.Chat > b.Chat;
    });
    if (int(hits.size()) > filter.Limit)
        hits.resize(qMax(0, filter.Limit));
    return hits;
}

std::optional<TArchiveChat> TArchiveDb::Chat(qint64 id)
{
    if (!m_db)
        return std::nullopt;
    Statement read(m_db, QStringLiteral("SELECT " VELMORA_CHAT_COLUMNS " FROM chats WHERE id = ?1"));
    read.Bind(1, id);
    if (!read.Step())
        return std::nullopt;
    return ChatFrom(read);
}

std::vector<TArchiveLine> TArchiveDb::Lines(qint64 chat)
{
    std::vector<TArchiveLine> lines;
    if (!m_db)
        return lines;
    Statement read(m_db, QStringLiteral("SELECT at, who, name, text, kind, image_name, image_size, image FROM lines"
                                        " WHERE chat = ?1 ORDER BY id"));
    read.Bind(1, chat);
    while (read.Step()) {
        TArchiveLine line;
        line.At = read.Int(0);
        line.From = archive::Who(qBound(0, int(read.Int(1)), 3));
        line.Name = read.Text(2);
        line.Text = read.Text(3);
        line.Kind = archive::LineKind(qBound(0, int(read.Int(4)), 3));
        line.ImageName = read.Text(5);
        line.ImageSize = read.Int(6);
        line.Image = read.Blob(7);
        lines.push_back(std::move(line));
    }
    return lines;
}

std::optional<TTranscriptFate> TArchiveDb::TranscriptFate(qint64 chat)
{
    if (!m_db)
        return std::nullopt;
    Statement read(m_db, QStringLiteral("SELECT fate, at, recipients, answer, record FROM transcripts WHERE chat = ?1"));
    read.Bind(1, chat);
    if (!read.Step())
        return std::nullopt;
    return TTranscriptFate{archive::Fate(qBound(0, int(read.Int(0)), 2)), read.Int(1), read.Text(2), read.Text(3),
                           read.Text(4)};
}

bool TArchiveDb::CallsAnnounced(qint64 from, qint64 to, std::vector<TArchiveCall> &calls)
{
    if (!m_db)
        return false;
    Statement read(m_db, QStringLiteral("SELECT session, kind, site, announced, answered, held_from, held_until,"
                                        " outcome FROM calls WHERE announced >= ?1 AND announced < ?2 ORDER BY id"));
    read.Bind(1, from);
    read.Bind(2, to);
    while (read.Step())
        calls.push_back(TArchiveCall{qint32(read.Int(0)), int(read.Int(1)), read.Text(2), read.Int(3), read.Int(4),
                                     read.Int(5), read.Int(6), archive::CallOutcome(qBound(0, int(read.Int(7)), 2))});
    return read.Code() == SQLITE_DONE || Fail(read.Code());
}

bool TArchiveDb::ChatsWithLineTimes(
    qint64 from, qint64 to, const std::function<void(const TArchiveChat &, const std::vector<TArchiveLine> &)> &each)
{
    if (!m_db)
        return false;
    // Two ordered walks side by side, chats by id and their lines by chat,
    // so a year is read in one pass without a statement per chat.
    Statement chats(m_db, QStringLiteral("SELECT " VELMORA_CHAT_COLUMNS
                                         " FROM chats WHERE started >= ?1 AND started < ?2 ORDER BY id"));
    Statement lines(m_db, QStringLiteral("SELECT chat, at, who, kind, carried FROM lines WHERE chat IN"
                                         " (SELECT id FROM chats WHERE started >= ?1 AND started < ?2)"
                                         " ORDER BY chat, id"));
    for (Statement *statement : {&chats, &lines}) {
        statement->Bind(1, from);
        statement->Bind(2, to);
    }
    bool lineWaiting = lines.Step();
    std::vector<TArchiveLine> chatLines;
    while (chats.Step()) {
        const TArchiveChat chat = ChatFrom(chats);
        chatLines.clear();
        while (lineWaiting && lines.Int(0) <= chat.Id) {
            if (lines.Int(0) == chat.Id) {
                TArchiveLine line;
                line.At = lines.Int(1);
                line.From = archive::Who(qBound(0, int(lines.Int(2)), 3));
                line.Kind = archive::LineKind(qBound(0, int(lines.Int(3)), 3));
                line.Carried = lines.Int(4) != 0;
                chatLines.push_back(std::move(line));
            }
            lineWaiting = lines.Step();
        }
        each(chat, chatLines);
    }
    if (chats.Code() != SQLITE_DONE)
        return Fail(chats.Code());
    return lineWaiting || lines.Code() == SQLITE_DONE || Fail(lines.Code());
}

QString EarlierChatsText(const TEarlierChats &earlier)
{
    if (earlier.Count <= 0)
        return QString();
    const QDate last = QDateTime::fromMSecsSinceEpoch(earlier.Last).date();
    return (earlier.Count == 1 ? QStringLiteral("1 earlier chat") : QStringLiteral("%1 earlier chats").arg(earlier.Count))
           + QStringLiteral(", last on ") + QLocale::c().toString(last, QStringLiteral("d MMM"));
}

TEarlierChats TArchiveDb::Earlier(const QString &email, const QString &name, const QString &site, qint64 before)
{
    TEarlierChats earlier;
    if (!m_db)
        return earlier;
    auto count = [&](const QString &sql, const QString &first, const QString &second) {
        Statement read(m_db, sql);
        read.Bind(1, before > 0 ? before : std::numeric_limits<qint64>::max());
        read.Bind(2, first);
        read.Bind(3, second);
        if (read.Step())
            earlier = TEarlierChats{int(read.Int(0)), read.Int(1)};
    };
    if (!email.trimmed().isEmpty())
        count(QStringLiteral("SELECT count(*), coalesce(max(started), 0) FROM chats WHERE started < ?1"
                             " AND email = ?2 COLLATE NOCASE"),
              email.trimmed(), QString());
    if (earlier.Count == 0 && !name.trimmed().isEmpty())
        count(QStringLiteral("SELECT count(*), coalesce(max(started), 0) FROM chats WHERE started < ?1"
                             " AND visitor = ?2 COLLATE NOCASE AND site = ?3"),
              name.trimmed(), site);
    return earlier;
}

QStringList TArchiveDb::Statuses()
{
    QStringList statuses;
    if (!m_db)
        return statuses;
    Statement read(m_db, QStringLiteral("SELECT DISTINCT status FROM chats WHERE status <> '' ORDER BY status"));
    while (read.Step())
        statuses << read.Text(0);
    return statuses;
}

template <class Bind>
int TArchiveDb::RemoveWhere(const char *chatCondition, const Bind &bind)
{
    if (!m_db || !Exec("SAVEPOINT remove"))
        return -1;
    const QString condition = QString::fromLatin1(chatCondition);
    int removed = -1;
    bool ok = true;
    for (const QString &sql : {QStringLiteral("DELETE FROM lines WHERE chat IN (SELECT id FROM chats WHERE %1)"),
                               QStringLiteral("DELETE FROM transcripts WHERE chat IN (SELECT id FROM chats WHERE %1)"),
                               QStringLiteral("DELETE FROM chats WHERE %1")}) {
        Statement remove(m_db, sql.arg(condition));
        bind(remove);
        ok = remove.Run();
        if (!ok) {
            Fail(remove.Code());
            break;
        }
        removed = sqlite3_changes(m_db);
    }
    if (!ok) {
        Exec("ROLLBACK TO remove");
        removed = -1;
    }
    Exec("RELEASE remove");
    return removed;
}

int TArchiveDb::DeleteChat(qint64 chat)
{
    return RemoveWhere("id = ?1", [chat](Statement &s) { s.Bind(1, chat); });
}

int TArchiveDb::ForgetVisitor(const QString &email)
{
    const QString address = email.trimmed();
    if (address.isEmpty())
        return 0;
    return RemoveWhere("email = ?1 COLLATE NOCASE", [&address](Statement &s) { s.Bind(1, address); });
}

int TArchiveDb::RemoveOlderThan(qint64 cutoffMs)
{
    // The calls' rows expire with the chats: they name the visitors' sites.
    Statement calls(m_db, QStringLiteral("DELETE FROM calls WHERE announced < ?1"));
    calls.Bind(1, cutoffMs);
    if (!calls.Run())
        return Fail(calls.Code()), -1;
    return RemoveWhere("started < ?1 AND NOT open", [cutoffMs](Statement &s) { s.Bind(1, cutoffMs); });
}

int TArchiveDb::RemoveAll()
{
    if (!m_db || !Exec("DELETE FROM calls"))
        return -1;
    return RemoveWhere("NOT open", [](Statement &) {});
}

bool TArchiveDb::FreeSpace()
{
    // "optimize" merges the index's segments, leaving out deleted entries;
    // secure_delete has zeroed the freed cells; the vacuum gives the pages
    // back and the checkpoint empties the WAL, which held the old pages.
    return m_db && Exec("INSERT INTO lines_fts(lines_fts) VALUES ('optimize');"
                        "INSERT INTO chats_fts(chats_fts) VALUES ('optimize');"
                        "PRAGMA incremental_vacuum;")
           && Exec("PRAGMA wal_checkpoint(TRUNCATE)");
}

} // namespace velmora
