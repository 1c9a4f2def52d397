// The archive file: its schema and migrations, and every statement that
// writes, searches or prunes it. They stay in one file, past the usual
// length, so that a column changed in the schema is seen beside every
// statement that names it.
#include "archive/ArchiveDb.h"
#include "archive/ArchiveStatement.h"

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
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {
namespace {

using Statement = ArchiveStatement;

#define VELMORA_TOKENIZE "tokenize='velmora_fold unicode61 remove_diacritics 2'"

// 3: the index folded anew (see FoldTokenizer.h), a folded key for the
// visitor filter, and removals that go in batches. The index is rebuilt from
// the lines, which the file keeps as written.
const char *FoldedIndexStep()
{
    return "ALTER TABLE chats ADD COLUMN visitor_key TEXT NOT NULL DEFAULT '';"
           "ALTER TABLE chats ADD COLUMN removing INTEGER NOT NULL DEFAULT 0;"
           "CREATE INDEX chats_removing ON chats(removing) WHERE removing;"
           "UPDATE chats SET visitor_key = velmora_fold(visitor || ' ' || email);"
           "CREATE TRIGGER chats_key_ai AFTER INSERT ON chats BEGIN"
           " UPDATE chats SET visitor_key = velmora_fold(new.visitor || ' ' || new.email) WHERE id = new.id; END;"
           "CREATE TRIGGER chats_key_au AFTER UPDATE OF visitor, email ON chats BEGIN"
           " UPDATE chats SET visitor_key = velmora_fold(new.visitor || ' ' || new.email) WHERE id = new.id; END;"
           "CREATE TRIGGER lines_au AFTER UPDATE OF text ON lines BEGIN"
           " INSERT INTO lines_fts(lines_fts, rowid, text) VALUES ('delete', old.id, old.text);"
           " INSERT INTO lines_fts(rowid, text) VALUES (new.id, new.text); END;"
           "INSERT INTO lines_fts(lines_fts) VALUES ('rebuild');"
           "INSERT INTO chats_fts(chats_fts) VALUES ('rebuild');";
}

// 4: what the figures need: the call behind each chat (announced, its alert
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

// 5: what the team archive confirmed of each chat, this file's name there,
// and the removals still to carry out there (ArchiveTeamQueue.h). Removals
// are queued only once the file has a name, that is once it has a team
// archive: a console without one keeps nothing of them.
constexpr const char *TeamQueueMigration()
{
    return "CREATE TABLE team_state(key TEXT PRIMARY KEY, value TEXT NOT NULL);"
           "CREATE TABLE team_sent(chat INTEGER PRIMARY KEY, line INTEGER NOT NULL DEFAULT 0,"
           " ended INTEGER NOT NULL DEFAULT 0);"
           "CREATE TABLE team_removals(id INTEGER PRIMARY KEY, chat INTEGER NOT NULL DEFAULT 0,"
           " email TEXT NOT NULL DEFAULT '', visitor TEXT NOT NULL DEFAULT '', site TEXT NOT NULL DEFAULT '');"
           "CREATE TRIGGER team_marked AFTER UPDATE OF removing ON chats"
           " WHEN new.removing AND NOT old.removing AND EXISTS (SELECT 1 FROM team_state WHERE key = 'identity')"
           " BEGIN INSERT INTO team_removals(chat) VALUES (new.id); END;"
           "CREATE TRIGGER team_chat_gone AFTER DELETE ON chats BEGIN DELETE FROM team_sent WHERE chat = old.id; END;";
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
    FoldedIndexStep(),
    FiguresMigration(),
    TeamQueueMigration(),
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
    // Chats being removed are gone for the operator already.
    QString sql = QStringLiteral(" AND NOT c.removing");
    if (filter.From.isValid())
        sql += QStringLiteral(" AND c.started >= :from");
    if (filter.To.isValid())
        sql += QStringLiteral(" AND c.started < :to");
    if (!filter.Visitor.trimmed().isEmpty())
        sql += QStringLiteral(" AND instr(c.visitor_key, :visitor) > 0");
    if (!filter.Site.trimmed().isEmpty())
        sql += QStringLiteral(" AND instr(lower(c.site), :site) > 0");
    if (!filter.Status.isEmpty())
        sql += QStringLiteral(" AND c.status = :status");
    return sql;
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

// Every column of a chat, in the order ArchiveChatFrom reads them.
#define VELMORA_CHAT_COLUMNS                                                                                          \
    "id, session, kind, visitor, email, phone, site, ip, started, ended, status, supporter, other_supporter,"        \
    " ended_properly, open, announced, answered, held_from, held_until, ended_by"


} // namespace

TArchiveChat ArchiveChatFrom(const ArchiveStatement &read, int first)
{
    TArchiveChat chat;
    chat.Id = read.Int(first + 0);
    chat.SessionCount = qint32(read.Int(first + 1));
    chat.Kind = int(read.Int(first + 2));
    chat.Visitor = read.Text(first + 3);
    chat.Email = read.Text(first + 4);
    chat.Phone = read.Text(first + 5);
    chat.Site = read.Text(first + 6);
    chat.IP = read.Text(first + 7);
    chat.Started = read.Int(first + 8);
    chat.Ended = read.Int(first + 9);
    chat.Status = read.Text(first + 10);
    chat.Supporter = read.Text(first + 11);
    chat.OtherSupporter = read.Text(first + 12);
    chat.EndedProperly = read.Int(first + 13) != 0;
    chat.Open = read.Int(first + 14) != 0;
    chat.Announced = read.Int(first + 15);
    chat.Answered = read.Int(first + 16);
    chat.HeldFrom = read.Int(first + 17);
    chat.HeldUntil = read.Int(first + 18);
    chat.EndedBy = archive::EndedBy(qBound(0, int(read.Int(first + 19)), 4));
    return chat;
}

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

QStringList ArchiveMatchTerms(const QString &text)
{
    QStringList terms;
    QString word;
    // Any blank parts words: a no-break space between two must not make a phrase.
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !text.at(i).isSpace()) {
            word += text.at(i);
            continue;
        }
        if (word.isEmpty())
            continue;
        // A word of punctuation alone gives the tokenizer nothing to find;
        // an emoji (outside the basic plane) does.
        if (std::any_of(word.begin(), word.end(), [](QChar c) { return c.isLetterOrNumber() || c.isSurrogate(); })) {
            word.replace(QLatin1Char('"'), QStringLiteral("\"\""));
            terms << QLatin1Char('"') + word + QStringLiteral("\"*");
        }
        word.clear();
    }
    return terms;
}

QString ArchiveMatchQuery(const QString &text)
{
    return ArchiveMatchTerms(text).join(QLatin1Char(' '));
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
    ++m_failures;
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
    // A newer version's file is not damaged, and its name says so.
    const QString kind = m_newer ? QStringLiteral(".newer-") : QStringLiteral(".damaged-");
    QString target = path + kind + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = path + kind + stamp + QLatin1Char('-') + QString::number(n);
    QFile::rename(path, target);
    for (const char *suffix : {"-wal", "-shm"}) {
        if (QFileInfo::exists(path + QLatin1String(suffix)))
            QFile::rename(path + QLatin1String(suffix), target + QLatin1String(suffix));
    }
    if (movedTo)
        *movedTo = target;
}

bool TArchiveDb::OpenReader(const QString &path, int busyMs)
{
    Close();
    m_path = path;
    int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_extended_result_codes(m_db, 1);
        // A reader answers at once: a busy file is tried again later, never waited for.
        sqlite3_busy_timeout(m_db, busyMs);
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
        m_newer = newer;
        if (newer)
            m_lastError = QStringLiteral("schema %1, this version reads up to %2").arg(version).arg(kSchemaVersion);
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
                                          " CASE WHEN ?5 = '' THEN other_supporter ELSE ?5 END,"
                                          " session = CASE WHEN ?6 = 0 THEN session ELSE ?6 END WHERE id = ?1"));
    update.Bind(1, chat);
    update.Bind(2, ArchiveText(details.Visitor));
    update.Bind(3, ArchiveText(details.Email));
    update.Bind(4, ArchiveText(details.Phone));
    update.Bind(5, details.OtherSupporter);
    update.Bind(6, qint64(details.SessionCount));
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

int TArchiveDb::AttributeLines(qint64 chat, archive::Who who, const QString &name)
{
    const QString kept = ArchiveText(name);
    if (kept.isEmpty())
        return 0;
    Statement update(m_db, QStringLiteral("UPDATE lines SET who = ?2, name = ?3, text = substr(text, ?4)"
                                          " WHERE chat = ?1 AND who = ?5 AND substr(text, 1, ?4 - 1) = ?3 || ': '"));
    update.Bind(1, chat);
    update.Bind(2, qint64(who));
    update.Bind(3, kept);
    update.Bind(4, qint64(kept.size() + 3));
    update.Bind(5, qint64(archive::Who::System));
    if (!update.Run())
        return Fail(update.Code()), -1;
    return sqlite3_changes(m_db);
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

// --- searching --------------------------------------------------------------

namespace {

// How many rows of each part a search counts to choose what leads.
constexpr int kEstimateCap = 2000;
// Candidates checked for the other words at a time.
constexpr int kCandidateBatch = 64;
// Candidates further apart than this (in line ids) are looked up apart.
constexpr qint64 kRangeGap = 20000;

// A result's chat from the columns id, started, visitor, email, site, status.
TArchiveHit HitFrom(const Statement &row)
{
    TArchiveHit hit;
    hit.Chat = row.Int(0);
    hit.Started = row.Int(1);
    hit.Visitor = row.Text(2);
    hit.Email = row.Text(3);
    hit.Site = row.Text(4);
    hit.Status = row.Text(5);
    return hit;
}

struct Candidate {
    qint64 Chat = 0;
    qint64 Line = 0; // a line that holds a word, 0: none known yet
};

// Text with the words that begin with one of `words` between the marks,
// cut to a window around the first.
QString MarkedSnippet(sqlite3 *db, const QString &text, const std::vector<QByteArray> &words)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray marked;
    int from = 0, first = -1;
    for (const TFoldedWord &word : FoldedWords(db, utf8)) {
        const bool hit = std::any_of(words.begin(), words.end(),
                                     [&](const QByteArray &w) { return word.Folded.startsWith(w); });
        if (!hit || word.Start < from)
            continue;
        marked += utf8.mid(from, word.Start - from);
        if (first < 0)
            first = int(marked.size());
        marked += char(kMarkOpen.unicode());
        marked += utf8.mid(word.Start, word.End - word.Start);
        marked += char(kMarkClose.unicode());
        from = word.End;
    }
    marked += utf8.mid(from);
    QString snippet = QString::fromUtf8(marked);
    constexpr int kBefore = 30, kLength = 120;
    const int at = first < 0 ? 0 : int(QString::fromUtf8(marked.left(first)).size());
    int start = qMax(0, at - kBefore);
    // From the start of a word, not the middle of one.
    while (start > 0 && start < at && !snippet.at(start - 1).isSpace())
        ++start;
    QString cut = snippet.mid(start, kLength);
    // A mark cut in two would run to the end of the cell.
    if (cut.count(kMarkOpen) > cut.count(kMarkClose))
        cut += kMarkClose;
    if (start > 0)
        cut.prepend(QStringLiteral("…"));
    if (start + kLength < snippet.size())
        cut += QStringLiteral("…");
    return cut;
}

} // namespace

struct TArchiveSearch::State {
    TArchiveDb &Db;
    TArchiveFilter Filter;
    QStringList Terms;
    // A term of one letter, folded: no prefix index covers it, so the index
    // would merge the lists of every word with that letter; it is looked
    // for in the candidates' own text instead, and never leads.
    std::vector<QByteArray> OneLetter;
    std::vector<QByteArray> FoldedTerms; // for the snippets' marks
    QString VisitorKey;
    QString Conditions;
    // What leads: a term's index in Terms, or -1: the chats themselves.
    int Lead = -1;
    // Where each stream goes on from (ids below these), and whether it ended.
    qint64 LineBefore = std::numeric_limits<qint64>::max(), FieldBefore = LineBefore, ChatBefore = LineBefore;
    qint64 StartedBefore = LineBefore;
    bool LinesDone = false, FieldsDone = false, ChatsDone = false;
    std::unordered_set<qint64> Seen;
    bool Failed = false;

    State(TArchiveDb &db, TArchiveFilter filter) : Db(db), Filter(std::move(filter)) {}

    sqlite3 *Handle() const { return Db.Handle(); }
    bool Check(const Statement &statement)
    {
        if (statement.Ok())
            return true;
        Db.Fail(statement.Code());
        Failed = true;
        return false;
    }
    void Bind(Statement &statement, const QString &match = QString()) const
    {
        if (Filter.From.isValid())
            statement.Bind(":from", Filter.From.startOfDay().toMSecsSinceEpoch());
        if (Filter.To.isValid())
            statement.Bind(":to", Filter.To.addDays(1).startOfDay().toMSecsSinceEpoch());
        statement.Bind(":visitor", VisitorKey);
        statement.Bind(":site", Filter.Site.trimmed().toLower());
        statement.Bind(":status", Filter.Status);
        statement.Bind(":match", match);
    }
    int Count(const QString &sql, const QString &match)
    {
        Statement count(Handle(), QStringLiteral("SELECT count(*) FROM (") + sql + QStringLiteral(" LIMIT %1)").arg(kEstimateCap));
        Bind(count, match);
        const int n = count.Step() ? int(count.Int(0)) : 0;
        Check(count);
        return n;
    }
    QString LinesSql(const QString &what) const
    {
        return QStringLiteral("SELECT ") + what
               + QStringLiteral(" FROM lines_fts JOIN lines l ON l.id = lines_fts.rowid JOIN chats c ON c.id = l.chat"
                                " WHERE lines_fts MATCH :match")
               + Conditions;
    }
    QString FieldsSql(const QString &what) const
    {
        return QStringLiteral("SELECT ") + what
               + QStringLiteral(" FROM chats_fts JOIN chats c ON c.id = chats_fts.rowid WHERE chats_fts MATCH :match")
               + Conditions;
    }
    QString ChatsSql(const QString &what) const
    {
        return QStringLiteral("SELECT ") + what + QStringLiteral(" FROM chats c WHERE 1") + Conditions;
    }

    void ChooseLead()
    {
        const bool chatFilter = Filter.From.isValid() || Filter.To.isValid() || !Filter.Visitor.trimmed().isEmpty()
                                || !Filter.Site.trimmed().isEmpty() || !Filter.Status.isEmpty();
        if (Terms.size() == 1 && !chatFilter) {
            Lead = OneLetter[0].isEmpty() ? 0 : -1;
            return;
        }
        // A filter that leaves few chats leads: "the" for visitor "nobody"
        // costs what looking for "nobody" costs.
        int fewest = chatFilter ? Count(ChatsSql(QStringLiteral("1")), QString()) : std::numeric_limits<int>::max();
        Lead = -1;
        // Counted in the index alone: the filter would make a common word's count walk all its lines.
        for (int i = 0; i < int(Terms.size()) && fewest > 0; ++i) {
            if (!OneLetter[size_t(i)].isEmpty())
                continue;
            const int n = Count(QStringLiteral("SELECT 1 FROM lines_fts WHERE lines_fts MATCH :match"), Terms[i])
                          + Count(QStringLiteral("SELECT 1 FROM chats_fts WHERE chats_fts MATCH :match"), Terms[i]);
            if (n < fewest) {
                fewest = n;
                Lead = i;
            }
        }
    }

    // The next candidates of the leading part, newest first, none seen before.
    std::vector<Candidate> Candidates(int wanted)
    {
        std::vector<Candidate> found;
        if (Lead < 0) {
            Statement chats(Handle(), ChatsSql(QStringLiteral("c.id")) + QStringLiteral(" AND c.id < :before ORDER BY c.id DESC"));
            Bind(chats);
            chats.Bind(":before", ChatBefore);
            while (int(found.size()) < wanted && chats.Step()) {
                ChatBefore = chats.Int(0);
                found.push_back({ChatBefore, 0});
            }
            ChatsDone = chats.Code() == SQLITE_DONE;
            Check(chats);
            return found;
        }
        // Lines and fields, merged by chat id.
        Statement lines(Handle(), LinesSql(QStringLiteral("l.chat, lines_fts.rowid"))
                                      + QStringLiteral(" AND lines_fts.rowid < :before ORDER BY lines_fts.rowid DESC"));
        Bind(lines, Terms[Lead]);
        lines.Bind(":before", LineBefore);
        Statement fields(Handle(), FieldsSql(QStringLiteral("c.id"))
                                       + QStringLiteral(" AND chats_fts.rowid < :before ORDER BY chats_fts.rowid DESC"));
        Bind(fields, Terms[Lead]);
        fields.Bind(":before", FieldBefore);
        bool lineRow = !LinesDone && lines.Step(), fieldRow = !FieldsDone && fields.Step();
        while (int(found.size()) < wanted && (lineRow || fieldRow)) {
            if (lineRow && (!fieldRow || lines.Int(0) >= fields.Int(0))) {
                LineBefore = lines.Int(1);
                if (Seen.insert(lines.Int(0)).second)
                    found.push_back({lines.Int(0), LineBefore});
                lineRow = lines.Step();
            } else {
                FieldBefore = fields.Int(0);
                if (Seen.insert(FieldBefore).second)
                    found.push_back({FieldBefore, 0});
                fieldRow = fields.Step();
            }
        }
        if (!lineRow)
            LinesDone = true;
        if (!fieldRow)
            FieldsDone = true;
        if (!Check(lines) || !Check(fields))
            return {};
        return found;
    }

    // Keeps the candidates with a word that begins with `letter`, read from
    // their own lines and fields.
    void KeepHoldingLetter(std::vector<Candidate> &candidates, const QByteArray &letter)
    {
        const auto holds = [&](const QString &text) {
            const std::vector<TFoldedWord> words = FoldedWords(Handle(), text.toUtf8());
            return std::any_of(words.begin(), words.end(), [&](const TFoldedWord &w) { return w.Folded.startsWith(letter); });
        };
        Statement fields(Handle(), QStringLiteral("SELECT visitor || ' ' || email || ' ' || phone || ' ' || site FROM chats WHERE id = ?1"));
        Statement lines(Handle(), QStringLiteral("SELECT id, text FROM lines WHERE chat = ?1 ORDER BY id DESC"));
        std::vector<Candidate> kept;
        for (Candidate candidate : candidates) {
            bool found = false;
            lines.Reset();
            lines.Bind(1, candidate.Chat);
            while (!found && lines.Step()) {
                if ((found = holds(lines.Text(1))) && candidate.Line == 0)
                    candidate.Line = lines.Int(0);
            }
            fields.Reset();
            fields.Bind(1, candidate.Chat);
            found = found || (fields.Step() && holds(fields.Text(0)));
            if (!Check(lines) || !Check(fields))
                return;
            if (found)
                kept.push_back(candidate);
        }
        candidates = std::move(kept);
    }

    // Keeps the candidates that hold term `i` in a line or in the fields.
    void KeepHolding(std::vector<Candidate> &candidates, int i)
    {
        if (!OneLetter[size_t(i)].isEmpty())
            return KeepHoldingLetter(candidates, OneLetter[size_t(i)]);
        const QString &term = Terms[i];
        std::unordered_map<qint64, qint64> holding; // chat -> a line with the term (0: in the fields)
        // Each chat's lines lie between its first and last line id; nearby
        // candidates are looked up together.
        std::vector<std::tuple<qint64, qint64, qint64>> spans; // first line, last line, chat
        {
            Statement bounds(Handle(), QStringLiteral("SELECT min(id), max(id) FROM lines WHERE chat = ?1"));
            for (const Candidate &candidate : candidates) {
                bounds.Reset();
                bounds.Bind(1, candidate.Chat);
                if (bounds.Step() && bounds.Int(1) > 0)
                    spans.emplace_back(bounds.Int(0), bounds.Int(1), candidate.Chat);
            }
            if (!Check(bounds))
                return;
        }
        std::sort(spans.begin(), spans.end());
        Statement inLines(Handle(), QStringLiteral("SELECT l.chat, l.id FROM lines_fts JOIN lines l ON l.id = lines_fts.rowid"
                                                   " WHERE lines_fts MATCH :match AND lines_fts.rowid BETWEEN :low AND :high"));
        for (size_t i = 0; i < spans.size();) {
            qint64 low = std::get<0>(spans[i]), high = std::get<1>(spans[i]);
            size_t j = i + 1;
            while (j < spans.size() && std::get<0>(spans[j]) <= high + kRangeGap)
                high = std::max(high, std::get<1>(spans[j++]));
            inLines.Reset();
            inLines.Bind(":match", term);
            inLines.Bind(":low", low);
            inLines.Bind(":high", high);
            while (inLines.Step())
                holding.emplace(inLines.Int(0), inLines.Int(1));
            if (!Check(inLines))
                return;
            i = j;
        }
        Statement inFields(Handle(), QStringLiteral("SELECT rowid FROM chats_fts WHERE chats_fts MATCH :match AND rowid = :chat"));
        for (const Candidate &candidate : candidates) {
            if (holding.count(candidate.Chat))
                continue;
            inFields.Reset();
            inFields.Bind(":match", term);
            inFields.Bind(":chat", candidate.Chat);
            if (inFields.Step())
                holding.emplace(candidate.Chat, 0);
            if (!Check(inFields))
                return;
        }
        std::vector<Candidate> kept;
        for (Candidate candidate : candidates) {
            const auto found = holding.find(candidate.Chat);
            if (found == holding.end())
                continue;
            if (candidate.Line == 0)
                candidate.Line = found->second;
            kept.push_back(candidate);
        }
        candidates = std::move(kept);
    }

    TArchiveHit Hit(const Candidate &candidate)
    {
        TArchiveHit hit;
        Statement chat(Handle(), QStringLiteral("SELECT id, started, visitor, email, site, status FROM chats WHERE id = ?1"));
        chat.Bind(1, candidate.Chat);
        if (chat.Step())
            hit = HitFrom(chat);
        Check(chat);
        QString text = hit.Visitor + QStringLiteral("  ") + hit.Email;
        if (candidate.Line > 0) {
            Statement line(Handle(), QStringLiteral("SELECT text FROM lines WHERE id = ?1"));
            line.Bind(1, candidate.Line);
            if (line.Step())
                text = line.Text(0);
            Check(line);
        }
        hit.Snippet = MarkedSnippet(Handle(), text, FoldedTerms);
        return hit;
    }

    bool NextWithoutWords(int count, std::vector<TArchiveHit> &out)
    {
        Statement all(Handle(), ChatsSql(QStringLiteral("c.id, c.started, c.visitor, c.email, c.site, c.status"))
                                    + QStringLiteral(" AND (c.started < :started OR (c.started = :started AND c.id < :before))"
                                                     " ORDER BY c.started DESC, c.id DESC LIMIT :limit"));
        Bind(all);
        all.Bind(":started", StartedBefore);
        all.Bind(":before", ChatBefore);
        all.Bind(":limit", qint64(count));
        int n = 0;
        while (all.Step()) {
            out.push_back(HitFrom(all));
            ChatBefore = out.back().Chat;
            StartedBefore = out.back().Started;
            ++n;
        }
        if (n < count)
            ChatsDone = true;
        return Check(all);
    }
};

TArchiveSearch::TArchiveSearch(TArchiveDb &db, TArchiveFilter filter)
    : m_state(std::make_unique<State>(db, std::move(filter)))
{
    State &s = *m_state;
    s.Terms = ArchiveMatchTerms(s.Filter.Text);
    if (!db.IsOpen()) {
        s.Failed = true;
        return;
    }
    for (const TFoldedWord &folded : FoldedWords(db.Handle(), s.Filter.Text.toUtf8()))
        s.FoldedTerms.push_back(folded.Folded);
    for (const QString &term : s.Terms) {
        // The word back from its quoted form.
        const QString word = term.mid(1, term.size() - 3).replace(QStringLiteral("\"\""), QStringLiteral("\""));
        const std::vector<TFoldedWord> folded = FoldedWords(db.Handle(), word.toUtf8());
        const bool one = folded.size() == 1 && QString::fromUtf8(folded[0].Folded).toUcs4().size() == 1;
        s.OneLetter.push_back(one ? folded[0].Folded : QByteArray());
    }
    // Folded as the index folds, so "MÜLLER" finds "Müller".
    const QString visitor = s.Filter.Visitor.trimmed();
    s.VisitorKey = FoldedText(db.Handle(), visitor);
    if (s.VisitorKey.isEmpty())
        s.VisitorKey = visitor.toLower();
    s.Conditions = FilterSql(s.Filter);
    if (!s.Terms.isEmpty())
        s.ChooseLead();
    if (s.Filter.Text.trimmed().isEmpty()) {
        s.Lead = -1;
    } else if (s.Terms.isEmpty()) {
        // Words of punctuation alone find nothing.
        s.LinesDone = s.FieldsDone = s.ChatsDone = true;
    }
}

TArchiveSearch::~TArchiveSearch() = default;

bool TArchiveSearch::AtEnd() const
{
    const State &s = *m_state;
    return s.Failed || (s.Lead < 0 ? s.ChatsDone : s.LinesDone && s.FieldsDone);
}

bool TArchiveSearch::Next(int count, std::vector<TArchiveHit> &out)
{
    State &s = *m_state;
    if (s.Failed)
        return false;
    if (s.Terms.isEmpty())
        return AtEnd() || s.NextWithoutWords(count, out);
    const size_t wanted = out.size() + size_t(qMax(0, count));
    while (out.size() < wanted && !AtEnd()) {
        if (Cancelled && Cancelled())
            return false;
        std::vector<Candidate> candidates = s.Candidates(kCandidateBatch);
        for (int i = 0; i < int(s.Terms.size()) && !candidates.empty() && !s.Failed; ++i)
            if (i != s.Lead)
                s.KeepHolding(candidates, i);
        for (size_t i = 0; i < candidates.size() && !s.Failed; ++i)
            out.push_back(s.Hit(candidates[i]));
    }
    return !s.Failed;
}

std::vector<TArchiveHit> TArchiveDb::Search(const TArchiveFilter &filter)
{
    std::vector<TArchiveHit> hits;
    TArchiveSearch search(*this, filter);
    search.Next(filter.Limit, hits);
    if (int(hits.size()) > filter.Limit)
        hits.resize(size_t(qMax(0, filter.Limit)));
    return hits;
}

std::optional<TArchiveChat> TArchiveDb::Chat(qint64 id)
{
    if (!m_db)
        return std::nullopt;
    Statement read(m_db, QStringLiteral("SELECT " VELMORA_CHAT_COLUMNS " FROM chats WHERE id = ?1"));
    read.Bind(1, id);
    if (!read.Step()) {
        if (!read.Ok())
            Fail(read.Code());
        return std::nullopt;
    }
    return ArchiveChatFrom(read);
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
    if (!read.Ok())
        Fail(read.Code());
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
        const TArchiveChat chat = ArchiveChatFrom(chats);
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
int TArchiveDb::MarkWhere(const char *chatCondition, const Bind &bind)
{
    if (!m_db)
        return -1;
    Statement mark(m_db, QStringLiteral("UPDATE chats SET removing = 1 WHERE NOT removing AND NOT open AND (%1)")
                             .arg(QString::fromLatin1(chatCondition)));
    bind(mark);
    if (!mark.Run())
        return Fail(mark.Code()), -1;
    return sqlite3_changes(m_db);
}

int TArchiveDb::MarkChat(qint64 chat)
{
    return MarkWhere("id = ?1", [chat](Statement &s) { s.Bind(1, chat); });
}

int TArchiveDb::MarkVisitor(const QString &email)
{
    const QString address = email.trimmed();
    if (address.isEmpty())
        return 0;
    const int marked = MarkWhere("email = ?1 COLLATE NOCASE", [&address](Statement &s) { s.Bind(1, address); });
    return marked < 0 ? marked : QueueTeamForget(marked, address, QString(), QString());
}

int TArchiveDb::MarkVisitorNamed(const QString &name, const QString &site)
{
    const QString visitor = name.trimmed();
    if (visitor.isEmpty())
        return 0;
    const int marked = MarkWhere("visitor = ?1 COLLATE NOCASE AND site = ?2", [&visitor, &site](Statement &s) {
        s.Bind(1, visitor);
        s.Bind(2, site);
    });
    return marked < 0 ? marked : QueueTeamForget(marked, QString(), visitor, site);
}

// A visitor forgotten here is forgotten by the whole team, whoever chatted
// with them; the chats' own rows (queued by the marking) cover only ours.
int TArchiveDb::QueueTeamForget(int marked, const QString &email, const QString &visitor, const QString &site)
{
    Statement queue(m_db, QStringLiteral("INSERT INTO team_removals(email, visitor, site) SELECT ?1, ?2, ?3"
                                         " WHERE EXISTS (SELECT 1 FROM team_state WHERE key = 'identity')"));
    queue.Bind(1, email);
    queue.Bind(2, visitor);
    queue.Bind(3, site);
    if (!queue.Run())
        return Fail(queue.Code()), -1;
    return marked;
}

int TArchiveDb::MarkOlderThan(qint64 cutoffMs)
{
    // The calls' rows expire with the chats: they name the visitors' sites.
    Statement calls(m_db, QStringLiteral("DELETE FROM calls WHERE announced < ?1"));
    calls.Bind(1, cutoffMs);
    if (!calls.Run())
        return Fail(calls.Code()), -1;
    return MarkWhere("started < ?1", [cutoffMs](Statement &s) { s.Bind(1, cutoffMs); });
}

int TArchiveDb::MarkAll()
{
    if (!m_db || !Exec("DELETE FROM calls"))
        return -1;
    return MarkWhere("1", [](Statement &) {});
}

int TArchiveDb::RemoveBatch(int lines)
{
    if (!m_db)
        return -1;
    Statement removeLines(m_db, QStringLiteral("DELETE FROM lines WHERE id IN (SELECT l.id FROM chats c"
                                               " JOIN lines l ON l.chat = c.id WHERE c.removing LIMIT ?1)"));
    removeLines.Bind(1, qint64(qMax(1, lines)));
    if (!removeLines.Run())
        return Fail(removeLines.Code()), -1;
    if (const int removed = sqlite3_changes(m_db))
        return removed;
    // Their lines are gone: the chats go, with their transcripts' fate.
    if (!Exec("DELETE FROM transcripts WHERE chat IN (SELECT id FROM chats WHERE removing);"))
        return -1;
    if (!Exec("DELETE FROM chats WHERE removing"))
        return -1;
    return sqlite3_changes(m_db);
}

bool TArchiveDb::RemovalPending()
{
    Statement any(m_db, QStringLiteral("SELECT 1 FROM chats WHERE removing LIMIT 1"));
    return any.Step();
}

int TArchiveDb::RemoveNow(int marked)
{
    if (marked < 0)
        return -1;
    for (int removed = 1; removed > 0;)
        if ((removed = RemoveBatch()) < 0)
            return -1;
    return marked;
}

bool TArchiveDb::CompactStep()
{
    if (!m_db)
        return false;
    // A merge of a few hundred pages at a time; when the index's structure
    // no longer changes it is one segment without the removed entries. The
    // pages freed (zeroed by secure_delete) go back to the file system.
    const auto structure = [this](const char *table) {
        Statement read(m_db, QStringLiteral("SELECT block FROM %1_data WHERE id = 10").arg(QLatin1String(table)));
        return read.Step() ? read.Blob(0) : QByteArray();
    };
    bool more = false;
    for (const char *table : {"lines_fts", "chats_fts"}) {
        const QByteArray before = structure(table);
        const QByteArray merge = QByteArray("INSERT INTO ") + table + "(" + table + ", rank) VALUES ('merge', -200)";
        if (!Exec(merge.constData()))
            return false;
        more = more || structure(table) != before;
    }
    Statement freeCount(m_db, QStringLiteral("PRAGMA freelist_count"));
    if (freeCount.Step() && freeCount.Int(0) > 0) {
        Exec("PRAGMA incremental_vacuum(2000)");
        more = true;
    }
    return more;
}

bool TArchiveDb::FreeSpace()
{
    if (!m_db)
        return false;
    while (CompactStep()) {
    }
    return m_lastCode == SQLITE_OK && Exec("PRAGMA wal_checkpoint(TRUNCATE)");
}

bool TArchiveDb::QuickCheck()
{
    if (!m_db)
        return false;
    Statement check(m_db, QStringLiteral("PRAGMA quick_check"));
    QStringList problems;
    while (check.Step()) {
        const QString row = check.Text(0);
        if (row != QLatin1String("ok"))
            problems << row;
    }
    if (check.Code() != SQLITE_DONE)
        return Fail(check.Code());
    if (problems.isEmpty())
        return true;
    m_lastCode = SQLITE_CORRUPT;
    m_lastError = problems.mid(0, 3).join(QStringLiteral("; "));
    return false;
}

void TArchiveDb::Interrupt()
{
    if (m_db)
        sqlite3_interrupt(m_db);
}

} // namespace velmora
