#include "shortcuts/ui/ShortcutDispDlg.h"

#include "support/RecordingBoxes.h"
#include "support/TestUtil.h"

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <memory>

using namespace velmora;
using velmora::test::RecordingBoxes;
using Mode = TShortcutDispDlg::Mode;

namespace {

class Selection : public ::testing::Test {
protected:
    Selection() : list(dir.filePath(QStringLiteral("UrlScData.dat")))
    {
        list.Add(QStringLiteral("<b>Home</b>"), QStringLiteral("http://home.example"));
        list.Add(QStringLiteral("Shop"), QStringLiteral("shop.example")); // stored without a scheme
    }
    std::unique_ptr<TShortcutDispDlg> Make(Mode mode = Mode::PushUrls)
    {
        return std::make_unique<TShortcutDispDlg>(nullptr, mode, QStringLiteral("Shortcut"),
                                                  QStringLiteral("Push URL"), list);
    }
    void ClickRow(TShortcutDispDlg &d, int row)
    {
        QTreeWidget *view = d.ShortcutsListBox;
        const QRect r = view->visualItemRect(view->topLevelItem(row));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
    }
    QString Typed(const QString &text)
    {
        auto d = Make();
        QTest::mouseClick(d->URL_FileLink, Qt::LeftButton);
        QTest::keyClicks(d->URL_FileLink, text);
        d->SelectBtnClick();
        return d->result() == QDialog::Accepted ? d->Result() : QStringLiteral("<open>");
    }

    QTemporaryDir dir;
    RecordingBoxes boxes;
    TTitleDataClass list;
};

} // namespace

TEST_F(Selection, ModesDifferInCaptionsFieldAndGeometry)
{
    auto url = Make(Mode::PushUrls);
    url->show();
    EXPECT_EQ(url->windowTitle(), QStringLiteral(" Push URL selection dialog."));
    EXPECT_EQ(url->SelectBtn->text(), QStringLiteral("Push to User"));
    EXPECT_TRUE(url->URL_FileLink->isVisible());
    EXPECT_EQ(url->URL_FileLink->text(), QStringLiteral(" Select a shortcut or manualy write it down here !."));
    EXPECT_EQ(url->height(), 230);
    EXPECT_EQ(url->SelectBtn->y(), 180);
    EXPECT_EQ(url->ShortcutsListBox->headerItem()->text(1), QStringLiteral("Push URL"));
    // A title from the file is shown as typed, never as markup.
    EXPECT_EQ(url->ShortcutsListBox->topLevelItem(0)->text(0), QStringLiteral("<b>Home</b>"));

    auto canned = Make(Mode::CannedMessages);
    EXPECT_EQ(canned->windowTitle(), QStringLiteral(" Canned Answer selection dialog."));
    EXPECT_EQ(canned->SelectBtn->text(), QStringLiteral("Select"));
    EXPECT_EQ(canned->URL_FileLink, nullptr);
    EXPECT_EQ(canned->height(), 200);
    EXPECT_EQ(canned->SelectBtn->y(), 150);
}

TEST_F(Selection, ListChoiceReturnsTheRecordTextAndNothingChosenReturnsEmpty)
{
    auto d = Make(Mode::CannedMessages);
    ClickRow(*d, 1);
    d->SelectBtnClick();
    EXPECT_EQ(d->Result(), QStringLiteral("shop.example"));
    auto url = Make();
    ClickRow(*url, 0);
    url->SelectBtnClick();
    EXPECT_EQ(url->Result(), QStringLiteral("http://home.example"));

    // From the keyboard alone the row is only current (a focus frame, no
    // selection); Enter takes it all the same.
    auto keys = Make(Mode::CannedMessages);
    keys->show();
    keys->activateWindow();
    ASSERT_TRUE(test::WaitFor([&] { return keys->ShortcutsListBox->currentItem() != nullptr; }));
    ASSERT_TRUE(keys->ShortcutsListBox->selectedItems().isEmpty());
    QTest::keyClick(keys->ShortcutsListBox, Qt::Key_Return);
    EXPECT_EQ(keys->Result(), QStringLiteral("http://home.example"));

    auto none = Make();
    none->SelectBtnClick();
    EXPECT_EQ(none->result(), QDialog::Accepted);
    EXPECT_TRUE(none->Result().isEmpty());

    QTimer::singleShot(0, [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape); });
    EXPECT_TRUE(TShortcutDispDlg::Choose(nullptr, Mode::PushUrls, {}, {}, list).isEmpty());
    EXPECT_TRUE(boxes.shown.isEmpty());
}

// A stored shortcut goes to the visitor's browser as surely as a typed one,
// so it passes the same check when it is pushed.
TEST_F(Selection, StoredUrlsWithoutTheSchemeAreRefusedWhenPushed)
{
    auto d = Make();
    ClickRow(*d, 1);
    d->SelectBtnClick();
    EXPECT_NE(d->result(), QDialog::Accepted);
    EXPECT_TRUE(d->Result().isEmpty());
    EXPECT_EQ(boxes.Texts(), QStringList{QStringLiteral("Missing http:// or https:// prefix in the supplied URL !.")});
    ClickRow(*d, 0); // the operator picks another
    d->SelectBtnClick();
    EXPECT_EQ(d->Result(), QStringLiteral("http://home.example"));
}

TEST_F(Selection, TypedUrlsNeedAnExactLowerCasePrefix)
{
    EXPECT_EQ(Typed(QStringLiteral("https://host")), QStringLiteral("https://host"));
    EXPECT_EQ(Typed(QStringLiteral("http://a")), QStringLiteral("http://a"));
    EXPECT_EQ(Typed(QStringLiteral("www.example.org")), QStringLiteral("<open>"));
    EXPECT_EQ(Typed(QStringLiteral("HTTPS://host")), QStringLiteral("<open>"));
    EXPECT_EQ(Typed(QString()), QStringLiteral("<open>"));
    EXPECT_EQ(boxes.Texts(), (QStringList{QStringLiteral("Missing http:// or https:// prefix in the supplied URL !."),
                                          QStringLiteral("Missing http:// or https:// prefix in the supplied URL !."),
                                          QStringLiteral("Empty value, click Cancel or choose/write a valid URL !.")}));
    for (const BoxRequest &box : boxes.shown) {
        EXPECT_EQ(box.caption, QStringLiteral("Warning"));
        EXPECT_EQ(box.icon, BoxIcon::None);
    }
}

TEST_F(Selection, TheLastClickDecidesBetweenTypedTextAndTheList)
{
    auto d = Make();
    d->show();
    QTest::mouseClick(d->URL_FileLink, Qt::LeftButton);
    EXPECT_TRUE(d->URL_FileLink->text().isEmpty()); // first click clears the prompt
    QTest::keyClicks(d->URL_FileLink, QStringLiteral("http://typed"));
    ClickRow(*d, 0);
    QTest::keyClicks(d->URL_FileLink, QStringLiteral("/more"));
    QTest::keyClick(d.get(), Qt::Key_Return); // Enter is the select button
    EXPECT_EQ(d->Result(), QStringLiteral("http://home.example"));

    auto again = Make();
    QTest::mouseClick(again->URL_FileLink, Qt::LeftButton);
    QTest::keyClicks(again->URL_FileLink, QStringLiteral("http://x"));
    ClickRow(*again, 0);
    QTest::mouseClick(again->URL_FileLink, Qt::LeftButton); // later clicks keep the text
    again->SelectBtnClick();
    EXPECT_EQ(again->Result(), QStringLiteral("http://x"));
}
