#include "archive/ArchiveTeamQueue.h"
#include "archive/ArchiveStatement.h"

#include <QUuid>

#include <sqlite3.h>

namespace velmora {
namespace {

using TeamQueueStatement = ArchiveStatement;

// A chat the team lacks something of: never sent, ended since, or with
// lines after the last one confirmed. Chats being removed are left out.
#define VELMORA_TEAM_PENDING                                                                                          \
    " FROM chats c LEFT JOIN team_sent s ON s.chat = c.id WHERE NOT c.removing AND (s.chat IS NULL OR"               \
    " (NOT s.ended AND (NOT c.open OR EXISTS (SELECT 1 FROM lines l WHERE l.chat = c.id AND l.id > s.line))))"

} // namespace

QString TArchiveTeamQueue::Identity()
{
    sqlite3 *db = m_db.Handle();
    if (!db)
        return {};
    // Read first: the name is made once, and a pass then writes nothing.
    for (int attempt = 0; attempt < 2; ++attempt) {
        {
            TeamQueueStatement read(db, "SELECT value FROM team_state WHERE key = 'identity'");
            if (read.Step())
                return read.Text(0);
        }
        TeamQueueStatement make(db, "INSERT OR IGNORE INTO team_state(key, value) VALUES ('identity', ?1)");
        make.Bind(1, QUuid::createUuid().toString(QUuid::WithoutBraces));
        if (!make.Run())
            return {};
    }
    return {};
}

std::vector<qint64> TArchiveTeamQueue::Pending(int limit)
{
    std::vector<qint64> chats;
    if (!m_db.Handle())
        return chats;
    TeamQueueStatement read(m_db.Handle(), "SELECT c.id" VELMORA_TEAM_PENDING " ORDER BY c.id LIMIT ?1");
    read.Bind(1, limit);
    while (read.Step())
        chats.push_back(read.Int(0));
    return chats;
}

int TArchiveTeamQueue::Waiting()
{
    if (!m_db.Handle())
        return -1;
    TeamQueueStatement read(m_db.Handle(),
                            "SELECT (SELECT count(*)" VELMORA_TEAM_PENDING "), (SELECT count(*) FROM team_removals)");
    return read.Step() ? int(read.Int(0) + read.Int(1)) : -1;
}

std::optional<TTeamUnsent> TArchiveTeamQueue::Unsent(qint64 chat)
{
    sqlite3 *db = m_db.Handle();
    if (!db)
        return std::nullopt;
    // One snapshot: the chat's state and its lines as of the same moment.
    if (sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        return std::nullopt;
    std::optional<TTeamUnsent> unsent;
    qint64 after = 0;
    {
        TeamQueueStatement read(db, "SELECT c.id, c.session, c.kind, c.visitor, c.email, c.phone, c.site, c.ip,"
                                    " c.started, c.ended, c.status, c.supporter, c.other_supporter, c.ended_properly,"
                                    " c.open, c.announced, c.answered, c.held_from, c.held_until, c.ended_by,"
                                    " coalesce(s.line, 0)"
                                    " FROM chats c LEFT JOIN team_sent s ON s.chat = c.id"
                                    " WHERE c.id = ?1 AND NOT c.removing");
        read.Bind(1, chat);
        if (read.Step()) {
            TTeamUnsent u;
            TArchiveChat &c = u.Chat;
            c = ArchiveChatFrom(read);
            u.Final = !c.Open;
            after = u.Final ? 0 : read.Int(20);
            u.LastLine = read.Int(20);
            unsent = std::move(u);
        }
    }
    if (unsent) {
        TeamQueueStatement read(db, "SELECT id, at, who, name, text, kind, image_name, image_size, carried"
                                    " FROM lines WHERE chat = ?1 AND id > ?2 ORDER BY id");
        read.Bind(1, chat);
        read.Bind(2, after);
        while (read.Step()) {
            TTeamLine line;
            line.Id = read.Int(0);
            line.Line.At = read.Int(1);
            line.Line.From = archive::Who(qBound(0, int(read.Int(2)), 3));
            line.Line.Name = read.Text(3);
            line.Line.Text = read.Text(4);
            line.Line.Kind = archive::LineKind(qBound(0, int(read.Int(5)), 3));
            line.Line.ImageName = read.Text(6);
            line.Line.ImageSize = read.Int(7);
            line.Line.Carried = read.Int(8) != 0;
            unsent->LastLine = std::max(unsent->LastLine, line.Id);
            unsent->Lines.push_back(std::move(line));
        }
        if (!read.Done())
            unsent.reset();
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    return unsent;
}

bool TArchiveTeamQueue::Confirm(qint64 chat, qint64 lastLine, bool final)
{
    if (!m_db.Handle())
        return false;
    // A chat removed meanwhile keeps no row: its removal is queued already.
    TeamQueueStatement write(m_db.Handle(), "INSERT INTO team_sent(chat, line, ended) SELECT ?1, ?2, ?3"
                                            " WHERE EXISTS (SELECT 1 FROM chats WHERE id = ?1)"
                                            " ON CONFLICT(chat) DO UPDATE SET line = max(line, excluded.line),"
                                            " ended = excluded.ended");
    write.Bind(1, chat);
    write.Bind(2, lastLine);
    write.Bind(3, final ? 1 : 0);
    return write.Run();
}

std::vector<TTeamRemoval> TArchiveTeamQueue::Removals(int limit)
{
    std::vector<TTeamRemoval> removals;
    if (!m_db.Handle())
        return removals;
    TeamQueueStatement read(m_db.Handle(),
                            "SELECT id, chat, email, visitor, site FROM team_removals ORDER BY id LIMIT ?1");
    read.Bind(1, limit);
    while (read.Step())
        removals.push_back({read.Int(0), read.Int(1), read.Text(2), read.Text(3), read.Text(4)});
    return removals;
}

bool TArchiveTeamQueue::RemovalDone(qint64 id)
{
    if (!m_db.Handle())
        return false;
    TeamQueueStatement write(m_db.Handle(), "DELETE FROM team_removals WHERE id = ?1");
    write.Bind(1, id);
    return write.Run();
}

} // namespace velmora
