// The call list view over a live TCalls: its columns and the pop-up menu's
// enabling and commands.
#include "session/CallsTestFixture.h"

#include "app/CallListView.h"

#include <QHeaderView>
#include <QLocale>
#include <QMenu>
#include <QTime>

namespace velmora::test {
namespace {

class CallListViewTest : public CallsFixture {
protected:
    TCallListView view{calls};
};

TEST_F(CallListViewTest, PopupFollowsTheSelectionAndDropsTheCall)
{
    const int c = StartCall(5, false);
    ASSERT_GE(c, 0);
    const QModelIndex status = view.model()->index(0, ColStatus);
    ASSERT_EQ(view.model()->data(status, Qt::DecorationRole).typeId(), QMetaType::QIcon);
    // Every repaint asks again; it must get the one icon, not a new one.
    EXPECT_EQ(view.model()->data(status, Qt::DecorationRole).value<QIcon>().cacheKey(),
              view.model()->data(status, Qt::DecorationRole).value<QIcon>().cacheKey());

    view.ViewListPopUpPopup();
    EXPECT_FALSE(view.OpenChat1->isEnabled());
    EXPECT_FALSE(view.Disconnect1->isEnabled());
    EXPECT_FALSE(view.UpdateEmail1->isEnabled());
    EXPECT_TRUE(view.ClearStatDisplay1->isEnabled());

    view.selectionModel()->select(view.model()->index(0, 0),
                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    ASSERT_EQ(view.SelectedRow(), 0);
    view.setCurrentIndex(view.model()->index(0, 0));
    QTest::keyClick(&view, Qt::Key_F10, Qt::ShiftModifier); // the keyboard's pop-up
    ASSERT_TRUE(WaitFor([&] { return view.ViewListPopUp->isVisible(); }));
    view.ViewListPopUp->close();
    EXPECT_FALSE(view.OpenChat1->isEnabled()); // "Anonymous"
    EXPECT_TRUE(view.Disconnect1->isEnabled());
    EXPECT_TRUE(view.UpdateEmail1->isEnabled());

    view.Disconnect1->trigger();
    EXPECT_TRUE(WaitForCode(c, chat::END_SESSION));
    EXPECT_TRUE(WaitFor([&] { return List().Cell(0, ColStatus) == QStringLiteral("Disconnected"); }));

    view.ViewListPopUpPopup();
    EXPECT_FALSE(view.Disconnect1->isEnabled()); // history now
    view.ClearStatDisplay1->trigger();
    EXPECT_EQ(List().Count(), 0);
    EXPECT_TRUE(boxes.shown.isEmpty());
}

// No status, time or name is ever cut ("In Cha...", "09:13:0..."), at any width
// of the window; the operator can still drag the columns.
TEST_F(CallListViewTest, ColumnsFitTheLongestStatusAndTimeAndGrowWithNames)
{
    view.resize(320, 200); // the main window's smallest
    view.show();
    ChatItem records[kCallStatusCount];
    TClientSocket sockets[kCallStatusCount]; // never opened: they only tell the rows apart
    const QString longSite = QStringLiteral("www.") + QString(120, QLatin1Char('x')) + QStringLiteral(".example.com");
    records[1].WebSite = longSite;
    for (int status = 0; status < kCallStatusCount; ++status) {
        records[status].SessionCount = 100 + status;
        records[status].Socket = &sockets[status];
        List().AddCallRow(&records[status], status == 4 || status == 8 ? 0 : status);
        if (status != 4 && status != 8)
            List().SetCallStatus(100 + status, status);
    }
    boxes.shown.clear(); // the row limit's warning
    const QString longName = QStringLiteral("Bartholomew Featherstonehaugh");
    List().SetCallName(&sockets[0], longName);
    List().SetCallEmail(&sockets[0], QStringLiteral("bartholomew.featherstonehaugh@example.org"));
    QCoreApplication::processEvents();

    const QFontMetrics fm(view.font());
    int longestStatus = 0;
    for (int status = 0; status < kCallStatusCount; ++status)
        longestStatus = qMax(longestStatus, fm.horizontalAdvance(CallStatusText(status)));
    const QString longestTime = QLocale::system().toString(QTime(23, 58, 58), QLocale::LongFormat);
    EXPECT_GE(view.columnWidth(ColStatus), longestStatus + 16 + 12);
    EXPECT_GE(view.columnWidth(ColStatus), view.sizeHintForColumn(ColStatus));
    for (int column : {ColStartTime, ColEndTime}) {
        EXPECT_GE(view.columnWidth(column), fm.horizontalAdvance(longestTime) + 12) << column;
        EXPECT_GE(view.columnWidth(column), view.sizeHintForColumn(column)) << column;
    }
    EXPECT_GE(view.columnWidth(ColClientName), fm.horizontalAdvance(longName));
    EXPECT_GE(view.columnWidth(ColClientEmail), view.sizeHintForColumn(ColClientEmail));
    // A long site never pushes the times out of view; its tooltip has all of it.
    EXPECT_LE(view.columnWidth(ColWebSite), 180);
    bool tipped = false;
    for (int row = 0; row < List().rowCount(); ++row)
        tipped = tipped || List().index(row, ColWebSite).data(Qt::ToolTipRole).toString() == longSite;
    EXPECT_TRUE(tipped);

    // Maximized, the last column takes the room; none of the others shrinks.
    const int statusWidth = view.columnWidth(ColStatus);
    view.resize(1600, 400);
    QCoreApplication::processEvents();
    EXPECT_EQ(view.columnWidth(ColStatus), statusWidth);
    EXPECT_TRUE(view.header()->stretchLastSection());
    EXPECT_EQ(view.header()->sectionResizeMode(ColClientName), QHeaderView::Interactive);
    // A column the operator widened stays as wide when rows change.
    view.setColumnWidth(ColWebSite, 300);
    List().SetCallPhone(&sockets[1], QStringLiteral("555"));
    QCoreApplication::processEvents();
    EXPECT_EQ(view.columnWidth(ColWebSite), 300);
    for (auto &record : records) {
        List().NullListViewItemData(record.SessionCount);
        record.Socket = nullptr;
    }
}

} // namespace
} // namespace velmora::test
