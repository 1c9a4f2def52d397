// The call list view over a live TCalls: its columns and the pop-up menu's
// enabling and commands.
#include "session/CallsTestFixture.h"

#include "app/CallListView.h"

#include <QHeaderView>
#include <QMenu>

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
    emit view.ViewListPopUp->aboutToShow();
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

} // namespace
} // namespace velmora::test
