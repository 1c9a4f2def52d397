// Past chats over the team archive: the same filter and list, answered by
// the team archive's reader thread, a page at a time.
#include "archive/ui/PastChatsWindow.h"

#include "archive/ArchiveSearcher.h"
#include "team/TeamArchive.h"

#include <QComboBox>
#include <QDateTime>
#include <QTreeView>
#include <QLabel>
#include <QTextEdit>

namespace velmora {
namespace {
// Team searches are numbered apart from the local searcher's.
constexpr quint64 kTeamSearchBase = quint64(1) << 62;
} // namespace

QComboBox *TPastChatsWindow::MakeScopeBox()
{
    ScopeBox = new QComboBox(this);
    ScopeBox->setObjectName(QStringLiteral("PastChatsScope"));
    ScopeBox->addItems({QStringLiteral("This computer"), QStringLiteral("The team")});
    ScopeBox->setToolTip(QStringLiteral("Search the chats kept on this computer, or every chat the team's consoles "
                                        "sent to the team archive"));
    const TTeamArchive *team = TeamArchive();
    ScopeBox->setVisible(team && team->Enabled());
    connect(ScopeBox, &QComboBox::currentIndexChanged, this, [this] {
        OpenRow(-1);
        SearchNow();
    });
    return ScopeBox;
}

bool TPastChatsWindow::TeamScope() const
{
    const TTeamArchive *team = TeamArchive();
    return ScopeBox && ScopeBox->currentIndex() == 1 && team && team->Enabled();
}

void TPastChatsWindow::SearchTeam(const TArchiveFilter &filter, bool more)
{
    TTeamArchive *team = TeamArchive();
    if (!team)
        return;
    if (!more) {
        m_teamFilter = filter;
        m_search = kTeamSearchBase + ++m_teamSearches;
        m_searching = true;
    }
    const quint64 search = m_search;
    const int offset = more ? int(m_teamConsoles.size()) : 0;
    TArchiveFilter page = m_teamFilter;
    page.Limit = TArchiveSearcher::kPageSize;
    team->Read(this, [this, search, page, offset, more](TTeamDb *db) -> std::function<void()> {
        if (!db)
            return [this, search] {
                if (search != m_search)
                    return;
                m_searching = m_searchTimer.isActive();
                const TTeamArchive *team = TeamArchive();
                InfoLabel->setText(QStringLiteral("The team archive cannot be reached now")
                                   + (team && !team->Problem().isEmpty() ? QStringLiteral(": ") + team->Problem()
                                                                         : QStringLiteral(".")));
            };
        std::vector<TTeamHit> found = db->Search(page, offset);
        const QString error = found.empty() && db->Lost() ? db->LastError() : QString();
        return [this, search, found = std::move(found), error, more, limit = page.Limit] {
            if (search != m_search)
                return;
            if (!error.isEmpty()) {
                m_searching = m_searchTimer.isActive();
                InfoLabel->setText(QStringLiteral("The team archive cannot be searched now: ") + error);
                return;
            }
            if (!more)
                m_teamConsoles.clear();
            std::vector<TArchiveHit> hits;
            for (const TTeamHit &hit : found) {
                m_teamConsoles.push_back(hit.Console);
                hits.push_back(hit.Hit);
            }
            Found(search, hits, !more, int(found.size()) < limit);
        };
    });
}

void TPastChatsWindow::OpenTeamRow(int row)
{
    m_open.reset();
    m_lines.clear();
    m_renderTimer.stop();
    ChatView->clear();
    const TArchiveHit *hit = ResultsModel->Hit(row);
    TTeamArchive *team = TeamArchive();
    UpdateButtons();
    if (!hit || !team || size_t(row) >= m_teamConsoles.size())
        return;
    const QString console = m_teamConsoles[size_t(row)];
    const qint64 chat = hit->Chat;
    team->Read(this, [this, console, chat, row](TTeamDb *db) -> std::function<void()> {
        std::optional<TArchiveChat> open = db ? db->Chat(console, chat) : std::nullopt;
        std::vector<TArchiveLine> lines = open ? db->Lines(console, chat) : std::vector<TArchiveLine>{};
        return [this, open, lines = std::move(lines), row] {
            // Another row opened meanwhile: this answer is old.
            if (Results->currentIndex().row() != row || !TeamScope())
                return;
            if (!open) {
                InfoLabel->setText(QStringLiteral("The team archive cannot show this chat now."));
                return;
            }
            m_open = open;
            m_lines = lines;
            m_rendered = 0;
            RenderSome();
            InfoLabel->setText(m_open->Visitor + QStringLiteral("  ") + m_open->Email + QStringLiteral("  ")
                               + m_open->Site + QStringLiteral("  ")
                               + QDateTime::fromMSecsSinceEpoch(m_open->Started).toString(QStringLiteral("d MMM yyyy hh:mm"))
                               + QStringLiteral("  with ") + m_open->Supporter + QStringLiteral("  ") + m_open->Status
                               + (m_open->Open ? QStringLiteral("  (running)") : QString()));
            UpdateButtons();
        };
    });
}

} // namespace velmora
