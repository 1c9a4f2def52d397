#pragma once
// The local chat archive: one SQLite file in the working folder holding every
// chat, its lines and its transcript's fate, with a full-text index over the
// lines and the visitor's fields. This class is one connection to that file
// and nothing else: no threads, no widgets. The recorder (ArchiveRecorder.h)
// owns the one connection that writes; windows open their own to read, which
// WAL lets run beside the writer.
//
// Everything a visitor wrote is bound as a parameter, never spliced into SQL,
// and search words are quoted as index terms, so no input is ever syntax.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct sqlite3;

namespace velmora {

inline constexpr const char *kArchiveFileName = "Velmora-archive.db";

namespace archive {
enum class Who { Operator = 0, Visitor = 1, OtherSupporter = 2, System = 3 };
enum class LineKind { Text = 0, Url = 1, Canned = 2, Image = 3 };
enum class Fate { Queued = 0, Sent = 1, SetAside = 2 };
// Who ended a chat; Unknown in chats recorded before it was kept, and in
// those a crash left open.
enum class EndedBy { Unknown = 0, Visitor = 1, Operator = 2, Network = 3, TransferredOut = 4 };
// What became of an announced call.
enum class CallOutcome { Accepted = 0, TakenByOther = 1, Missed = 2 };
// The largest image kept with its line; larger ones keep name and size only.
inline constexpr int kMaxImageBytes = 32 * 1024;
} // namespace archive

struct TArchiveChat {
    qint64 Id = 0;
    qint32 SessionCount = 0;
    int Kind = 0; // the call's kind as the server lists it
    QString Visitor, Email, Phone, Site, IP;
    qint64 Started = 0, Ended = 0; // ms since the epoch, UTC; 0: not yet
    QString Status;
    QString Supporter, OtherSupporter;
    bool EndedProperly = false;
    bool Open = true;
    // The call behind the chat, ms since the epoch; 0: not known (a chat
    // recorded before these were kept, or one the operator opened).
    qint64 Announced = 0, Answered = 0;
    qint64 HeldFrom = 0, HeldUntil = 0; // on hold before the chat opened
    archive::EndedBy EndedBy = archive::EndedBy::Unknown;
};

// One announced call, written once its fate is known.
struct TArchiveCall {
    qint32 SessionCount = 0;
    int Kind = 0;
    QString Site;
    qint64 Announced = 0, Answered = 0; // the alert's answer; 0: never answered
    qint64 HeldFrom = 0, HeldUntil = 0;
    archive::CallOutcome Outcome = archive::CallOutcome::Missed;
};

struct TArchiveLine {
    qint64 At = 0; // ms since the epoch, UTC
    archive::Who From = archive::Who::System;
    QString Name; // who wrote it, as the line shows it before ": "
    QString Text;
    archive::LineKind Kind = archive::LineKind::Text;
    QString ImageName;
    qint64 ImageSize = 0;
    QByteArray Image;
    // Written before this console had the chat: a transfer's earlier conversation.
    bool Carried = false;

    static TArchiveLine Said(archive::Who from, const QString &name, const QString &text, qint64 at = 0)
    {
        TArchiveLine line;
        line.At = at;
        line.From = from;
        line.Name = name;
        line.Text = text;
        return line;
    }
};

struct TTranscriptFate {
    archive::Fate State = archive::Fate::Queued;
    qint64 At = 0;
    QString Recipients;
    QString Answer; // the server's answer for a transcript set aside
    QString Record; // the outbox record's file name
};

struct TArchiveFilter {
    QString Text;           // the operator's words; never syntax
    QDate From, To;         // inclusive, local dates; null: open
    QString Visitor;        // part of the e-mail address or the name
    QString Site;           // part of the site
    QString Status;         // the final status text, exactly
    int Limit = 200;

    static TArchiveFilter Words(const QString &text)
    {
        TArchiveFilter filter;
        filter.Text = text;
        return filter;
    }
};

struct TArchiveHit {
    qint64 Chat = 0;
    qint64 Started = 0;
    QString Visitor, Email, Site, Status;
    // Plain text with the matched words between kMarkOpen and kMarkClose;
    // the view escapes it first and then turns the marks into highlighting.
    QString Snippet;
};
inline constexpr QChar kMarkOpen{0x0001};
inline constexpr QChar kMarkClose{0x0002};

struct TEarlierChats {
    int Count = 0;
    qint64 Last = 0; // start of the latest, ms since the epoch
};
// "3 earlier chats, last on 30 Nov"; empty when there are none.
QString EarlierChatsText(const TEarlierChats &earlier);

// The operator's words as index terms: each word quoted (quotes doubled)
// with a prefix star. Words are split at any blank, the no-break space
// included; a word without a letter, digit or emoji is left out.
QStringList ArchiveMatchTerms(const QString &text);
// The terms joined by AND; empty when none remains.
QString ArchiveMatchQuery(const QString &text);
// Text the archive keeps: without the control characters the snippet marks use.
QString ArchiveText(const QString &text);

// The schema step from `version` to `version` + 1 (for tests that build an
// older file); null past the last.
const char *ArchiveMigration(int version);

class TArchiveSearch;

class TArchiveDb {
public:
    static constexpr int kSchemaVersion = 5;

    enum class OpenResult { Ok, MovedAside, Failed };

    TArchiveDb() = default;
    ~TArchiveDb();
    TArchiveDb(const TArchiveDb &) = delete;
    TArchiveDb &operator=(const TArchiveDb &) = delete;

    // Opens or creates the file (mode 0600, WAL) and brings its schema up to
    // date. A damaged file, or one from a newer version, is renamed with a
    // time stamp (its WAL with it, nothing of it overwritten) and a new one
    // is started: MovedAside, `movedTo` says where. Failed: the file cannot
    // be opened or written now (locked, read-only, disk full); `error` says why.
    OpenResult Open(const QString &path, QString *error = nullptr, QString *movedTo = nullptr);
    // A second connection for reading beside the writer: no creation, no
    // migration; false unless the file is there at this version.
    bool OpenReader(const QString &path, int busyMs = 0);
    void Close();
    bool IsOpen() const { return m_db != nullptr; }
    const QString &Path() const { return m_path; }
    // The last failure's SQLite result code, and whether it means a damaged file.
    int LastCode() const { return m_lastCode; }
    bool LastWasDamage() const;
    // The file Open moved aside was written by a newer version, not damaged.
    bool WasNewer() const { return m_newer; }
    QString LastError() const { return m_lastError; }
    // How many statements failed so far: a read compares it before and after.
    int Failures() const { return m_failures; }

    // Closes a file found damaged while in use and renames it (and its WAL)
    // with a time stamp; the next Open starts a new one.
    void SetAside(QString *movedTo) { MoveAside(m_path, movedTo); }

    bool Begin();
    bool Commit();
    void Rollback();

    // 0 on failure.
    qint64 InsertChat(const TArchiveChat &chat);
    bool UpdateCaller(qint64 chat, const TArchiveChat &details);
    bool EndChat(qint64 chat, qint64 at, const QString &status,
                 archive::EndedBy by = archive::EndedBy::Unknown);
    bool InsertCall(const TArchiveCall &call);
    bool AddLine(qint64 chat, const TArchiveLine &line);
    bool SetTranscriptFate(qint64 chat, const TTranscriptFate &fate);
    // The fate of the transcript kept as outbox record `record` (its file name).
    bool UpdateTranscriptFate(const QString &record, const TTranscriptFate &fate);
    // The chat's system lines that begin with "`name`: " become that
    // speaker's (a transferred chat's lines kept before the name was known).
    // Returns how many, -1 on failure.
    int AttributeLines(qint64 chat, archive::Who who, const QString &name);
    // The newest chat of a session number (a transcript finds its chat so).
    qint64 ChatOfSession(qint32 sessionCount);
    // Chats still open from a run that did not end them: marked as not ended
    // properly, ended at their last line. Returns how many.
    int MarkLeftOpen();

    // The first filter.Limit results (TArchiveSearch reads on from there).
    std::vector<TArchiveHit> Search(const TArchiveFilter &filter);
    std::optional<TArchiveChat> Chat(qint64 id);
    std::vector<TArchiveLine> Lines(qint64 chat);
    std::optional<TTranscriptFate> TranscriptFate(qint64 chat);
    // For the figures, [from, to) in ms since the epoch: the calls announced,
    // and each chat started with its lines in order (times, speakers and
    // kinds only, no text). False when the file could not be read.
    bool CallsAnnounced(qint64 from, qint64 to, std::vector<TArchiveCall> &calls);
    bool ChatsWithLineTimes(qint64 from, qint64 to,
                            const std::function<void(const TArchiveChat &, const std::vector<TArchiveLine> &)> &each);
    // Earlier chats of a returning visitor: by e-mail address, or when that
    // is empty or finds none, by name and site; only those started before
    // `before` (ms since the epoch; 0: all).
    TEarlierChats Earlier(const QString &email, const QString &name, const QString &site, qint64 before = 0);
    // The distinct final statuses, for the filter's choices.
    QStringList Statuses();

    // Removal in two steps, so that no transaction holds the file for long:
    // Mark* hides the chats at once and returns how many (-1 on failure);
    // RemoveBatch then removes up to `lines` of their lines per call, and the
    // chats themselves once their lines are gone, returning what it removed
    // (0: nothing is left to remove, -1: it failed). A chat still running
    // is never marked: its next lines would have nowhere to go.
    int MarkChat(qint64 chat);
    int MarkVisitor(const QString &email);
    // A visitor who gave no e-mail address: every chat with that name on that site.
    int MarkVisitorNamed(const QString &name, const QString &site);
    int MarkOlderThan(qint64 cutoffMs);
    int MarkAll();
    int RemoveBatch(int lines = kRemoveBatchLines);
    // True while chats marked for removal are left (a run that ended between batches).
    bool RemovalPending();
    // One step of rewriting the index without removed entries and returning
    // freed pages to the file system; true while more steps are needed.
    bool CompactStep();
    // The marking and every batch at once (tests and tools): the chats removed.
    int DeleteChat(qint64 chat) { return RemoveNow(MarkChat(chat)); }
    int ForgetVisitor(const QString &email) { return RemoveNow(MarkVisitor(email)); }
    int ForgetVisitorNamed(const QString &name, const QString &site) { return RemoveNow(MarkVisitorNamed(name, site)); }
    int RemoveOlderThan(qint64 cutoffMs) { return RemoveNow(MarkOlderThan(cutoffMs)); }
    int RemoveAll() { return RemoveNow(MarkAll()); }
    // Every compaction step, then the WAL emptied, so removed text is gone from disk.
    bool FreeSpace();
    // A full check of the file's structure; false with LastError() when it
    // is damaged or cannot be read.
    bool QuickCheck();
    // Stops the statement running on this connection now (from any thread).
    void Interrupt();
    sqlite3 *Handle() const { return m_db; }

    static constexpr int kRemoveBatchLines = 500;

private:
    friend class TArchiveSearch;
    bool Exec(const char *sql);
    bool Fail(int code);
    // From the file's schema version `from` (user_version) to this one.
    bool Migrate(int from);
    // Marks the chats matching `chatCondition`; `bind` binds its
    // parameters. Defined and used in the .cpp only.
    template <class Bind>
    int MarkWhere(const char *chatCondition, const Bind &bind);
    int RemoveNow(int marked);
    int QueueTeamForget(int marked, const QString &email, const QString &visitor, const QString &site);
    void MoveAside(const QString &path, QString *movedTo);

    sqlite3 *m_db = nullptr;
    QString m_path;
    int m_lastCode = 0;
    int m_failures = 0;
    bool m_newer = false;
    QString m_lastError;
};

// One search read a page at a time, newest chats first. A chat matches when
// it holds every word somewhere: in any of its lines or in the visitor's
// fields. The rarest word, or the visitor filter when that is rarer, leads;
// the others are looked up for a batch of candidates at a time, so the cost
// follows the page and the rarest part, not the most common word.
class TArchiveSearch {
public:
    TArchiveSearch(TArchiveDb &db, TArchiveFilter filter);
    ~TArchiveSearch();
    TArchiveSearch(const TArchiveSearch &) = delete;
    TArchiveSearch &operator=(const TArchiveSearch &) = delete;

    // Appends up to `count` more results; false when a read failed (the
    // connection's LastError says why) or was interrupted.
    bool Next(int count, std::vector<TArchiveHit> &out);
    bool AtEnd() const;

    // Checked between batches: true stops the search.
    std::function<bool()> Cancelled;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace velmora
