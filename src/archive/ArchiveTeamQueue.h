#pragma once
// What the team archive still lacks of this archive file, kept in the file
// itself so that a crash or an outage loses none of it: the chats and lines
// the team confirmed, the file's own name there (a random one, made when it
// first meets a team archive), and the removals still to carry out there.
// Used by the team replicator's thread on a connection of its own.
#include "archive/ArchiveDb.h"

#include <optional>
#include <vector>

namespace velmora {

struct TTeamLine {
    qint64 Id = 0; // the line's id in this file: its key in the team archive
    TArchiveLine Line;
};

// A chat's part the team has not confirmed: every line once the chat ended
// (a speaker named late changes earlier lines), else the lines after the
// last confirmed one.
struct TTeamUnsent {
    TArchiveChat Chat;
    std::vector<TTeamLine> Lines;
    bool Final = false;
    qint64 LastLine = 0;
};

// A chat removed here (Chat), or a visitor forgotten by the whole team.
struct TTeamRemoval {
    qint64 Id = 0;
    qint64 Chat = 0;
    QString Email, Visitor, Site;
};

class TArchiveTeamQueue {
public:
    explicit TArchiveTeamQueue(TArchiveDb &db) : m_db(db) {}

    // The file's name in the team archive, made on the first call; empty on failure.
    QString Identity();
    // Chats the team lacks something of, oldest first; running ones only
    // when they have lines the team has not confirmed.
    std::vector<qint64> Pending(int limit);
    // Chats waiting plus removals waiting; -1 when the file cannot be read.
    int Waiting();
    std::optional<TTeamUnsent> Unsent(qint64 chat);
    bool Confirm(qint64 chat, qint64 lastLine, bool final);
    std::vector<TTeamRemoval> Removals(int limit);
    bool RemovalDone(qint64 id);

private:
    TArchiveDb &m_db;
};

} // namespace velmora
