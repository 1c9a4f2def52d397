// The console's one transfer as a state machine: each message of the server
// moves it only from the state that expects it.
#include "session/ChatTransfer.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(ChatTransfer, ListAskAnswerFinishAndEachStepOnlyOnce)
{
    TChatTransfer transfer;
    // A list or an answer that comes when nothing was asked does nothing.
    EXPECT_FALSE(transfer.Ask(6));
    EXPECT_FALSE(transfer.Answer(0));
    EXPECT_EQ(transfer.State(), TTransferState::Idle);

    ASSERT_TRUE(transfer.Begin(31, "rtf"));
    EXPECT_FALSE(transfer.Begin(32, "other")) << "one transfer at a time";
    EXPECT_FALSE(transfer.Answer(31)) << "answered before anyone was asked";
    ASSERT_TRUE(transfer.Ask(6));
    EXPECT_FALSE(transfer.Ask(7)) << "a second list changes the supporter asked";
    EXPECT_EQ(transfer.Port(), 6);

    EXPECT_FALSE(transfer.Answer(32)) << "another chat's answer";
    EXPECT_TRUE(transfer.Answer(31));
    EXPECT_FALSE(transfer.Answer(31)) << "the same answer twice sends the conversation twice";
    EXPECT_EQ(transfer.State(), TTransferState::HandedOver);
    EXPECT_TRUE(transfer.InProgress());
    EXPECT_EQ(transfer.Conversation(), QByteArray("rtf"));

    EXPECT_FALSE(transfer.Finish(32));
    EXPECT_TRUE(transfer.Finish(31));
    EXPECT_FALSE(transfer.Finish(31));
    EXPECT_EQ(transfer.State(), TTransferState::Idle);
    EXPECT_EQ(transfer.SessionCount(), 0);
    EXPECT_TRUE(transfer.Conversation().isEmpty());
    EXPECT_TRUE(transfer.Begin(32, "next"));
}

TEST(ChatTransfer, NothingRevivesATransferGivenUp)
{
    TChatTransfer transfer;
    EXPECT_EQ(transfer.GiveUp(), 0);

    // Given up while the list was open: the list that comes later asks nobody.
    ASSERT_TRUE(transfer.Begin(31, "rtf"));
    EXPECT_EQ(transfer.GiveUp(), 31);
    EXPECT_FALSE(transfer.InProgress());
    EXPECT_FALSE(transfer.Ask(6));
    EXPECT_TRUE(transfer.Conversation().isEmpty());

    // Given up after the question: a late answer sends nothing.
    ASSERT_TRUE(transfer.Begin(33, "rtf"));
    ASSERT_TRUE(transfer.Ask(6));
    EXPECT_EQ(transfer.GiveUp(), 33);
    EXPECT_FALSE(transfer.Answer(33));
    EXPECT_EQ(transfer.State(), TTransferState::GivenUp);
    // Whoever gives the window back still learns which chat it was, once.
    EXPECT_EQ(transfer.GiveUp(), 33);
    EXPECT_EQ(transfer.GiveUp(), 0);

    // Logged out between the answer and the close: the window is not closed.
    ASSERT_TRUE(transfer.Begin(34, "rtf"));
    ASSERT_TRUE(transfer.Ask(6));
    ASSERT_TRUE(transfer.Answer(34));
    EXPECT_EQ(transfer.GiveUp(), 34);
    EXPECT_FALSE(transfer.Finish(34));
}

TEST(ChatTransfer, ACancelOrAnOverdueAnswerGivesUpOnlyWhatHasNotGone)
{
    TChatTransfer transfer;
    transfer.SetAnswerWaitMs(500);
    EXPECT_FALSE(transfer.Cancel(0));
    EXPECT_EQ(transfer.AnswerOverdue(), 0);

    ASSERT_TRUE(transfer.Begin(31, "rtf"));
    EXPECT_FALSE(transfer.Cancel(32)) << "another chat cancels nothing";
    EXPECT_TRUE(transfer.Cancel(31)) << "while the list is awaited";
    EXPECT_FALSE(transfer.Cancel(31));
    EXPECT_FALSE(transfer.Ask(6));

    ASSERT_TRUE(transfer.Begin(33, "rtf"));
    ASSERT_TRUE(transfer.Ask(6));
    EXPECT_EQ(transfer.AnswerOverdue(), 33);
    EXPECT_FALSE(transfer.Answer(33)) << "a late answer sends nothing";

    // Once the conversation is on its way it is too late for either.
    ASSERT_TRUE(transfer.Begin(34, "rtf"));
    ASSERT_TRUE(transfer.Ask(6));
    ASSERT_TRUE(transfer.Answer(34));
    EXPECT_FALSE(transfer.Cancel(34));
    EXPECT_EQ(transfer.AnswerOverdue(), 0);
    EXPECT_TRUE(transfer.Finish(34));
    EXPECT_EQ(transfer.AnswerWaitMs(), 500);
}

} // namespace
} // namespace velmora
