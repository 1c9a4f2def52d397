// The call list on its own: rows, links, lookups, the row limit and clearing.
#include "RecordingBoxes.h"

#include "session/CallList.h"
#include "session/ChatItem.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <deque>

namespace velmora::test {
namespace {

class CallListTest : public ::testing::Test {
protected:
    CallListTest() { ShowProblemsAsBoxes(list); }

    ChatItem *Record(qint32 sc, TClientSocket *socket = nullptr)
    {
        records.emplace_back();
        records.back().SessionCount = sc;
        records.back().Socket = socket;
        records.back().WebSite = QStringLiteral("site%1").arg(sc);
        return &records.back();
    }
    // A finished call: added, then unlinked.
    void AddFinished(qint32 sc)
    {
        list.AddCallRow(Record(sc), CallStatusWaiting);
        list.NullListViewItemData(sc);
    }

    std::deque<ChatItem> records; // stable addresses
    RecordingBoxes boxes;
    TCallList list;
};

TEST_F(CallListTest, NewRowShowsItsCallAndIsLinked)
{
    ChatItem *record = Record(5);
    ASSERT_EQ(list.AddCallRow(record, CallStatusAccept), 0);
    EXPECT_EQ(list.Cell(0, ColStatus), QStringLiteral("Accept..."));
    EXPECT_EQ(list.Cell(0, ColClientName), QStringLiteral("Anonymous"));
    EXPECT_EQ(list.Cell(0, ColWebSite), QStringLiteral("site5"));
    EXPECT_TRUE(list.Cell(0, ColClientEmail).isEmpty());
    EXPECT_FALSE(list.Cell(0, ColStartTime).isEmpty());
    EXPECT_TRUE(list.Cell(0, ColEndTime).isEmpty());
    EXPECT_EQ(list.RowData(0), record);
    EXPECT_EQ(list.columnCount(), 8);
    EXPECT_EQ(list.data(list.index(0, ColStatus), TCallList::StatusRole).toInt(), CallStatusAccept);
}

TEST_F(CallListTest, LookupsSkipUnlinkedRows)
{
    int a = 0;
    int b = 0;
    auto *sa = reinterpret_cast<TClientSocket *>(&a);
    auto *sb = reinterpret_cast<TClientSocket *>(&b);
    list.AddCallRow(Record(7, sa), CallStatusWaiting);
    list.NullListViewItemData(sa);
    ChatItem *live = Record(7, sb);
    list.AddCallRow(live, CallStatusWaiting);

    EXPECT_EQ(list.FindRowBySession(7), 1);
    EXPECT_EQ(list.FindCallBySession(7), live);
    EXPECT_EQ(list.FindRowBySocket(sa), -1);
    EXPECT_EQ(list.FindCallBySocket(sb), live);
    EXPECT_EQ(list.FindRowBySession(8), -1);
    EXPECT_EQ(list.FindRowBySocket(nullptr), -1);

    // Updates reach only the linked row.
    list.SetCallStatus(7, CallStatusInChat);
    EXPECT_EQ(list.Cell(0, ColStatus), QStringLiteral("Waiting..."));
    EXPECT_EQ(list.Cell(1, ColStatus), QStringLiteral("In Chat..."));
    EXPECT_EQ(list.StatusOfCall(7), QStringLiteral("In Chat..."));
    EXPECT_TRUE(list.StatusOfCall(99).isEmpty());
}

TEST_F(CallListTest, CallsWithoutRowsGetTheInternalWarningOrNothing)
{
    int s = 0;
    auto *socket = reinterpret_cast<TClientSocket *>(&s);
    list.UpdateDisconnectTime(socket);
    list.NullListViewItemData(socket);
    list.NullListViewItemData(qint32(3)); // silent
    list.SetCallStatus(3, CallStatusAnswered);
    ASSERT_EQ(boxes.shown.size(), 2);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("From inside UpdateDisconnectTime(TClientSocket *Socket): Idex == -1"));
    EXPECT_EQ(boxes.shown[1].text, QStringLiteral("From inside NullListViewItemData(TClientSocket *Socket): Idex == -1"));
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Warning"));
    EXPECT_EQ(list.Count(), 0);
}

TEST_F(CallListTest, SixthRowPushesOutTheOldestFinishedCall)
{
    for (int sc = 1; sc <= 5; ++sc)
        AddFinished(sc);
    list.AddCallRow(Record(6), CallStatusWaiting);
    ASSERT_EQ(list.Count(), 5);
    EXPECT_EQ(list.Cell(0, ColWebSite), QStringLiteral("site2"));
    EXPECT_EQ(list.Cell(4, ColWebSite), QStringLiteral("site6"));
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(CallListTest, FinishedRowBelowActiveOnesIsTheOnePushedOut)
{
    for (int sc = 1; sc <= 4; ++sc)
        list.AddCallRow(Record(sc), CallStatusWaiting);
    AddFinished(5);
    list.AddCallRow(Record(6), CallStatusWaiting);
    ASSERT_EQ(list.Count(), 5);
    EXPECT_EQ(list.FindRowBySession(5), -1);
    EXPECT_EQ(list.Cell(4, ColWebSite), QStringLiteral("site6"));
}

TEST_F(CallListTest, WithOnlyActiveCallsRowsAreKeptAndTheOperatorWarned)
{
    for (int sc = 1; sc <= 7; ++sc)
        list.AddCallRow(Record(sc), CallStatusWaiting);
    EXPECT_EQ(list.Count(), 7);
    // The sixth and the seventh row each found nothing to push out.
    ASSERT_EQ(boxes.shown.size(), 2);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("To many waiting chat requests !!!!"));
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Warning"));
}

TEST_F(CallListTest, ClearStatDisplayKeepsActiveCalls)
{
    AddFinished(1);
    list.AddCallRow(Record(2), CallStatusWaiting);
    AddFinished(3);
    list.ClearStatDisplay();
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.FindRowBySession(2), 0);
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Status cannot be completely cleared you have open sessions ??"));
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Warning !"));

    list.NullListViewItemData(qint32(2));
    list.ClearStatDisplay();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(boxes.shown.size(), 1);
}

TEST_F(CallListTest, EachChangeRepaintsTheRowOnce)
{
    ChatItem *record = Record(4);
    list.AddCallRow(record, CallStatusWaiting);
    QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);
    list.SetCallStatus(4, CallStatusAnswered);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].toModelIndex().row(), 0);
    EXPECT_EQ(changed[0][1].toModelIndex().column(), kCallColumnCount - 1);
}

} // namespace
} // namespace velmora::test
