// The mail debug window: replay when shown, follow, clear; never closes by
// itself, and holds no lines while hidden.
#include "diag/ui/DebugWinDlg.h"
#include "mail/MailLineCollector.h"

#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using namespace velmora;

TEST(DebugWinDlg, ReplaysWhenShownThenFollowsTheCollector)
{
    TMailLineCollector lines;
    lines.SetKeeping(true);
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
    lines.AddDebugLine(QStringLiteral("> MAIL FROM:<desk@x.test>"));
    EXPECT_TRUE(win.Lines().isEmpty());
    win.show();
    EXPECT_EQ(win.Lines(), (QStringList{"> EHLO desk", "< 250 <b>not markup</b>", "> MAIL FROM:<desk@x.test>"}));
    win.hide();
    EXPECT_TRUE(win.Lines().isEmpty());

    // A session start with debugging on: shown, cleared, then the first line.
    lines.RequestShow();
    EXPECT_EQ(win.Lines().size(), 3);
    lines.ClearLines();
    lines.AddDebugLine(QStringLiteral("Start new session"));
    EXPECT_TRUE(win.isVisible());
    EXPECT_EQ(win.Lines(), QStringList{"Start new session"});
    // What follows at once is followed in a batch, not a line at a time from
    // inside the sending.
    QSignalSpy batches(&lines, &TMailLineCollector::LinesAdded);
    for (int i = 0; i < 3000; ++i)
        lines.AddDebugLine(QStringLiteral("> QUIT %1").arg(i));
    EXPECT_TRUE(batches.isEmpty());
    ASSERT_TRUE(batches.wait(2000));
    EXPECT_EQ(batches.size(), 1);
    const QStringList shown = win.Lines();
    ASSERT_EQ(shown.size(), 3001);
    EXPECT_EQ(shown.first(), QStringLiteral("Start new session"));
    EXPECT_EQ(shown.last(), QStringLiteral("> QUIT 2999"));
    // Shown again before a batch went out: each line once.
    win.hide();
    lines.AddDebugLine(QStringLiteral("> RSET"));
    win.show();
    QTest::qWait(2 * TMailLineCollector::kBatchMs);
    EXPECT_EQ(win.Lines().size(), 3002);
    EXPECT_EQ(win.Lines().last(), QStringLiteral("> RSET"));
    EXPECT_FALSE(win.DebugMemo->isReadOnly());
}

TEST(DebugWinDlg, CollectorKeepsABoundedTailOnlyWhileKeeping)
{
    TMailLineCollector lines;
    int announced = 0;
    QObject::connect(&lines, &TMailLineCollector::LineAdded, [&] { ++announced; });
    const auto add = [&](std::size_t n) {
        for (std::size_t i = 0; i < n; ++i)
            lines.AddDebugLine(QString::number(i));
    };
    add(100);
    EXPECT_TRUE(lines.Lines().empty());
    lines.SetKeeping(true);
    add(TMailLineCollector::kMaxLines + 10);
    EXPECT_EQ(lines.Lines().size(), TMailLineCollector::kMaxLines);
    EXPECT_EQ(lines.Lines().front(), QStringLiteral("10"));
    lines.SetKeeping(false);
    EXPECT_TRUE(lines.Lines().empty());
    EXPECT_EQ(announced, int(TMailLineCollector::kMaxLines) + 110);
}
