#include "shortcuts/ui/EditCannedMsgsDlg.h"

#include "shortcuts/Print.h"
#include "support/RecordingBoxes.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

using namespace velmora;
using velmora::test::RecordingBoxes;

namespace {

class Editor : public ::testing::Test {
protected:
    void Open(int records, TEditCannedMsgsDlg::Mode mode = TEditCannedMsgsDlg::Mode::CannedMessages)
    {
        list = std::make_unique<TTitleDataClass>(dir.filePath(QStringLiteral("CannedData.dat")));
        for (int i = 0; i < records; ++i)
            list->Add(QStringLiteral("T%1").arg(i), QStringLiteral("text %1").arg(i));
        dlg = std::make_unique<TEditCannedMsgsDlg>(nullptr, mode, *list);
    }
    QStringList Entries() const
    {
        QStringList out;
        for (int i = 0; i < dlg->TitleEdit->count(); ++i)
            out << dlg->TitleEdit->itemText(i);
        return out;
    }
    void TypeTitle(const QString &keys) { QTest::keyClicks(dlg->TitleEdit->lineEdit(), keys); }

    QTemporaryDir dir;
    RecordingBoxes boxes;
    std::unique_ptr<TTitleDataClass> list;
    std::unique_ptr<TEditCannedMsgsDlg> dlg;
};

} // namespace

TEST_F(Editor, EmptyListLeavesOnlyAddAndCloseUntilAdd)
{
    Open(0);
    EXPECT_FALSE(dlg->TitleEdit->isEnabled());
    EXPECT_FALSE(dlg->MessageEdit->isEnabled());
    EXPECT_FALSE(dlg->RemoveBtn->isEnabled());
    EXPECT_FALSE(dlg->UpdateBtn->isEnabled());
    EXPECT_FALSE(dlg->CancelBtn->isEnabled());
    EXPECT_TRUE(dlg->AddBtn->isEnabled());
    EXPECT_TRUE(dlg->CloseBtn->isEnabled());

    dlg->AddBtnClick();
    EXPECT_TRUE(dlg->TitleEdit->isEnabled());
    EXPECT_TRUE(dlg->MessageEdit->isEnabled());
    EXPECT_TRUE(dlg->RemoveBtn->isEnabled());
    EXPECT_TRUE(dlg->UpdateBtn->isEnabled());
    EXPECT_FALSE(dlg->CancelBtn->isEnabled());
    EXPECT_EQ(Entries(), QStringList{QString()});
    EXPECT_EQ(dlg->TitleEdit->currentIndex(), 0);
    EXPECT_EQ(list->Count(), 1);
}

TEST_F(Editor, TypingRenamesTheEntryAtOnceButTheRecordOnlyOnUpdate)
{
    Open(2);
    EXPECT_EQ(dlg->TitleEdit->currentText(), QStringLiteral("T0"));
    EXPECT_FALSE(dlg->UpdateBtn->isEnabled());
    dlg->TitleEdit->lineEdit()->setCursorPosition(1);
    TypeTitle(QStringLiteral("xy"));
    EXPECT_EQ(Entries(), (QStringList{QStringLiteral("Txy0"), QStringLiteral("T1")}));
    EXPECT_EQ(dlg->TitleEdit->lineEdit()->cursorPosition(), 3); // the caret stays where typing left it
    EXPECT_TRUE(dlg->UpdateBtn->isEnabled());
    EXPECT_TRUE(dlg->CancelBtn->isEnabled());
    EXPECT_EQ(list->Get(0).Title, QStringLiteral("T0"));

    // The preview fills the placeholders for a sample visitor; the record keeps them.
    dlg->MessageEdit->setPlainText(QStringLiteral("Hi {visitor.first|there}\nline two {curly}"));
    EXPECT_TRUE(dlg->PreviewLabel->text().endsWith(QStringLiteral("Hi Anna\nline two {curly}")));
    dlg->UpdateBtnClick();
    EXPECT_EQ(list->Get(0),
              (ShortcutRecord{QStringLiteral("Txy0"), QStringLiteral("Hi {visitor.first|there}\r\nline two {curly}")}));
    EXPECT_FALSE(dlg->UpdateBtn->isEnabled());
    EXPECT_EQ(list->Count(), 2);
}

TEST_F(Editor, CancelDropsTheTypedTitleFromTheEntryToo)
{
    Open(1);
    TypeTitle(QStringLiteral("zz"));
    dlg->CancelBtnClick();
    EXPECT_EQ(Entries(), QStringList{QStringLiteral("T0")});
    EXPECT_EQ(dlg->MessageEdit->toPlainText(), QStringLiteral("text 0"));
    EXPECT_FALSE(dlg->UpdateBtn->isEnabled());
}

TEST_F(Editor, PickingAnotherEntryWithPendingEditsWarnsAndKeepsTheCurrentOne)
{
    Open(3);
    TypeTitle(QStringLiteral("!"));
    dlg->TitleEdit->setCurrentIndex(2); // as a pick from the drop-down
    EXPECT_EQ(boxes.Texts(), QStringList{QStringLiteral("Data has not been saved, click Apply, Cancel or Remove")});
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("ERROR"));
    EXPECT_EQ(boxes.shown[0].icon, BoxIcon::None);
    EXPECT_EQ(dlg->TitleEdit->currentIndex(), 0);
    EXPECT_EQ(dlg->CurrentPosition(), 0);
    EXPECT_EQ(dlg->TitleEdit->currentText(), QStringLiteral("T0!"));

    dlg->CancelBtnClick();
    dlg->TitleEdit->setCurrentIndex(2);
    EXPECT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(dlg->CurrentPosition(), 2);
    EXPECT_EQ(dlg->MessageEdit->toPlainText(), QStringLiteral("text 2"));
}

TEST_F(Editor, RemovingMovesBackFromTheEndAndEmptiesAtTheLast)
{
    Open(3);
    dlg->TitleEdit->setCurrentIndex(2);
    dlg->RemoveBtnClick();
    EXPECT_EQ(dlg->CurrentPosition(), 1);
    EXPECT_EQ(dlg->TitleEdit->currentText(), QStringLiteral("T1"));
    EXPECT_EQ(dlg->MessageEdit->toPlainText(), QStringLiteral("text 1"));
    dlg->TitleEdit->setCurrentIndex(0);
    dlg->RemoveBtnClick();
    EXPECT_EQ(dlg->TitleEdit->currentText(), QStringLiteral("T1")); // the following record moved up
    dlg->RemoveBtnClick();
    EXPECT_EQ(list->Count(), 0);
    EXPECT_EQ(dlg->TitleEdit->count(), 0);
    EXPECT_TRUE(dlg->MessageEdit->toPlainText().isEmpty());
    EXPECT_FALSE(dlg->TitleEdit->isEnabled());
    EXPECT_FALSE(dlg->MessageEdit->isEnabled());
    EXPECT_FALSE(dlg->RemoveBtn->isEnabled());
    EXPECT_FALSE(dlg->UpdateBtn->isEnabled());
    EXPECT_FALSE(dlg->CancelBtn->isEnabled());
}

TEST_F(Editor, ClosingStoresPendingEditsAndTheSavedFileHasThem)
{
    Open(1, TEditCannedMsgsDlg::Mode::PushUrls);
    dlg.reset();
    EXPECT_TRUE(list->Save());
    QTimer::singleShot(0, [] {
        auto *open = qobject_cast<TEditCannedMsgsDlg *>(QApplication::activeModalWidget());
        ASSERT_NE(open, nullptr);
        EXPECT_EQ(open->windowTitle(), QStringLiteral("  Push URL shortcuts editor"));
        QTest::keyClicks(open->TitleEdit->lineEdit(), QStringLiteral("-new"));
        open->MessageEdit->setPlainText(QStringLiteral("https://example.org"));
        QTest::keyClick(open, Qt::Key_Escape); // Esc is "Close"
    });
    TEditCannedMsgsDlg::EditShortcuts(nullptr, TEditCannedMsgsDlg::Mode::PushUrls, *list);
    TTitleDataClass saved(list->FilePath());
    ASSERT_EQ(saved.Count(), 1);
    EXPECT_EQ(saved.Get(0), (ShortcutRecord{QStringLiteral("T0-new"), QStringLiteral("https://example.org")}));
}

TEST_F(Editor, AddStoresPendingEditsFirstAndAnUnfilledAddIsDroppedOnClose)
{
    Open(1);
    TypeTitle(QStringLiteral("x"));
    dlg->AddBtnClick();
    EXPECT_EQ(list->Get(0).Title, QStringLiteral("T0x"));
    EXPECT_EQ(dlg->CurrentPosition(), 1);
    dlg->CloseBtnClick();
    EXPECT_EQ(list->Count(), 1);
}
