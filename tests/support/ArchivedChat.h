#pragma once
// What the archive kept of one visitor's (or supporter's) chat, read back
// the way the past-chats window reads it.
#include "archive/ArchiveRecorder.h"

#include <optional>
#include <vector>

namespace velmora::test {

// The one chat kept for `visitor` (part of a name or an e-mail address), with
// its lines; nullopt when there is none, or more than one.
inline std::optional<TArchiveChat> OnlyArchivedChat(TArchiveRecorder &recorder, const QString &visitor,
                                                    std::vector<TArchiveLine> *lines = nullptr)
{
    recorder.Flush();
    TArchiveDb archive;
    if (!archive.OpenReader(recorder.Path()))
        return std::nullopt;
    TArchiveFilter filter;
    filter.Visitor = visitor;
    const std::vector<TArchiveHit> kept = archive.Search(filter);
    if (kept.size() != 1)
        return std::nullopt;
    std::optional<TArchiveChat> chat = archive.Chat(kept[0].Chat);
    if (chat && lines)
        *lines = archive.Lines(chat->Id);
    return chat;
}

} // namespace velmora::test
