// The mail debug window: replay, follow, clear, show; never closes by itself.
#include "diag/ui/DebugWinDlg.h"
#include "mail/MailLineCollector.h"

#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScreen>
#include <gtest/gtest.h>

using namespace velmora;

TEST(DebugWinDlg, ReplaysThenFollowsTheCollectorAndShowsOnRequest)
{
    TMailLineCollector lines;
    lines.AddDebugLine(QStringLiteral("> EHLO desk"));
    lines.AddDebugLine(QStringLiteral("< 250 <b>not markup</b>"));
    TDebugWinDlg win(lines);
    EXPECT_EQ(win.windowTitle(), QStringLiteral("Mail Send View..."));
    EXPECT_EQ(win.size(), QSize(432, 147));
    EXPECT_FALSE(win.windowFlags() & Qt::WindowCloseButtonHint);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(win.x(), screen.width() - win.width() - 5);
    EXPECT_EQ(win.y(), 5);
    EXPECT_FALSE(win.isVisible());
    EXPECT_EQ(win.Lines(), (QStringList{"> EHLO desk", "< 250 <b>not markup</b>"}));

    // A session start with debugging on: shown, cleared, then the first line.
    lines.RequestShow();
    lines.ClearLines();
    lines.AddDebugLine(QStringLiteral("Start new session"));
    EXPECT_TRUE(win.isVisible());
    EXPECT_EQ(win.Lines(), QStringList{"Start new session"});
    lines.AddDebugLine(QStringLiteral("> QUIT"));
    EXPECT_EQ(win.Lines().last(), QStringLiteral("> QUIT"));
    EXPECT_FALSE(win.DebugMemo->isReadOnly());
}

TEST(DebugWinDlg, CollectorStaysBounded)
{
    TMailLineCollector lines;
    for (std::size_t i = 0; i < TMailLineCollector::kMaxLines + 10; ++i)
        lines.AddDebugLine(QString::number(i));
    EXPECT_EQ(lines.Lines().size(), TMailLineCollector::kMaxLines);
    EXPECT_EQ(lines.Lines().front(), QStringLiteral("10"));
}
