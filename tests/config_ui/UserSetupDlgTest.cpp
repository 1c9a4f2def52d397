// The settings dialog's rules, driven as an operator would through its controls.
#include "config/ui/UserSetupDlg.h"

#include "RecordingBoxes.h"
#include "config/Genfunc.h"
#include "config/ProgramConfig.h"
#include "config/Scrambler.h"
#include "config/ui/SetupDialogs.h"
#include "config/ui/SetupPages.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;

namespace {

class ScriptedDialogs final : public ISetupDialogs {
public:
    ScriptedDialogs() { SetSetupDialogs(this); }
    ~ScriptedDialogs() override { SetSetupDialogs(nullptr); }
    QString OpenFile(QWidget *, const QString &filter, const QString &preset) override
    {
        lastFilter = filter;
        lastPreset = preset;
        return file;
    }
    std::optional<quint32> ChooseColor(QWidget *, quint32 bgr) override
    {
        offered = bgr;
        return colour;
    }
    QString file;
    QString lastFilter;
    QString lastPreset;
    std::optional<quint32> colour;
    quint32 offered = 0;
};

class RecordingHost final : public ISetupHost {
public:
    void SettingsPageApplied(SettingsPage page) override { applied.append(page); }
    void ShowHelp(int context) override { help.append(context); }
    QList<SettingsPage> applied;
    QList<int> help;
};

class UserSetupDlgTest : public ::testing::Test {
protected:
    void SetUp() override { Settings() = TSettings(); }
    void TearDown() override
    {
        dlg.reset();
        Settings() = TSettings();
    }
    void Open()
    {
        dlg = std::make_unique<TUserSetupDlg>(store, host);
        dlg->show();
    }
    // Types into a field as the operator would (the field is cleared first).
    static void Type(QLineEdit *edit, const QString &text)
    {
        // Key events carry Latin-1 only: other text is set, and one typed key
        // then deleted makes it the operator's edit.
        edit->setText(text + QLatin1Char('x'));
        edit->end(false);
        QTest::keyClick(edit, Qt::Key_Backspace);
    }
    static void Type(QComboBox *combo, const QString &text) { Type(combo->lineEdit(), text); }
    template <class T> T *Show()
    {
        T *page = dlg->PageOf<T>();
        for (int i = 0; i < dlg->PageCount(); ++i) {
            if (dlg->Page(i) == page) {
                EXPECT_TRUE(dlg->ShowPage(i));
            }
        }
        return page;
    }
    QString FileOfSize(const char *name, qint64 size)
    {
        const QString path = dir.filePath(QString::fromLatin1(name));
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(QByteArray(size, 'G'));
        return path;
    }

    QTemporaryDir dir;
    RecordingBoxes boxes;
    ScriptedDialogs dialogs;
    RecordingHost host;
    TProgramConfig store;
    std::unique_ptr<TUserSetupDlg> dlg;
};

} // namespace

TEST_F(UserSetupDlgTest, OpensOnTheFirstPageFilledWithApplyOffAndItsHelpTopic)
{
    Settings().SupportName = QStringLiteral("Dana");
    Open();
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("  Program Setup dialog"));
    EXPECT_EQ(dlg->PageCount(), 8);
    EXPECT_EQ(dlg->CurrentPage(), 0);
    EXPECT_EQ(dlg->PageOf<TSupportPage>()->SupportNameEdit->text(), QStringLiteral("Dana"));
    EXPECT_FALSE(dlg->ApplyBtn->isEnabled());
    EXPECT_TRUE(dlg->CancelBtn->isEnabled());
    EXPECT_FALSE(dlg->NoteLbl->isVisible());
    EXPECT_EQ(dlg->HelpContext(), 55);
    QTest::keyClick(dlg.get(), Qt::Key_F1);
    EXPECT_EQ(host.help, QList<int>{55});

    // Every page has its topic, 55 to 61 in order, set when it is shown.
    for (int i = 1; i < dlg->PageCount(); ++i) {
        ASSERT_TRUE(dlg->ShowPage(i));
        EXPECT_EQ(dlg->HelpContext(), 55 + i);
    }
    EXPECT_TRUE(boxes.shown.isEmpty());

    // A console without settings: the page a connection needs, and what to do there.
    ASSERT_TRUE(dlg->ShowPage(0));
    dlg->ShowFirstStart();
    EXPECT_EQ(dlg->CurrentPage(), 1);
    EXPECT_TRUE(dlg->NoteLbl->isVisible());
    EXPECT_TRUE(dlg->NoteLbl->text().contains(QStringLiteral("Client ID, Server URL and Server Port")));
}

TEST_F(UserSetupDlgTest, APageWithUnappliedChangesCannotBeLeftUntilApplied)
{
    Open();
    auto *support = dlg->PageOf<TSupportPage>();
    Type(support->SupportNameEdit, QStringLiteral("Robin"));
    EXPECT_TRUE(dlg->ApplyBtn->isEnabled());

    EXPECT_FALSE(dlg->ShowPage(3));
    EXPECT_EQ(dlg->CurrentPage(), 0);
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Data has not been saved, click Apply or Cancel"));
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("ERROR"));
    EXPECT_EQ(boxes.shown[0].icon, BoxIcon::None);
    EXPECT_EQ(support->SupportNameEdit->text(), QStringLiteral("Robin")); // the edit is kept

    QTest::mouseClick(dlg->ApplyBtn, Qt::LeftButton);
    EXPECT_FALSE(dlg->ApplyBtn->isEnabled());
    EXPECT_EQ(Settings().SupportName, QStringLiteral("Robin"));
    EXPECT_TRUE(dlg->ShowPage(3));
    EXPECT_EQ(boxes.shown.size(), 1);
}

TEST_F(UserSetupDlgTest, ApplyWritesEveryKeyOfThePageAndOnlyThatPage)
{
    Open();
    auto *support = dlg->PageOf<TSupportPage>();
    Type(support->WelcomToMsgEdit, QStringLiteral("Hello=there"));
    dlg->ApplyPage();
    EXPECT_EQ(host.applied, QList<SettingsPage>{SettingsPage::Support});
    // The six keys, the last written standing first under the section.
    QList<QByteArray> expected = {"[ProgramOptions]",     "WelcomeImgFileName=",          "SupportWelcomeMsg=",
                                  "SupportNotAvailReminderMsg=", "SupportNotAvailMsg=", "WelcomToMsgMsg=Hello=there",
                                  "SupportName=",         ""};
    EXPECT_EQ(store.Lines(), expected);
    EXPECT_EQ(Settings().WelcomToMsgMsg, QStringLiteral("Hello=there"));
}

TEST_F(UserSetupDlgTest, ANumberThatDoesNotConvertStopsTheApplyBeforeAnythingChanges)
{
    Open();
    auto *general = Show<TGeneralPage>();
    Type(general->NotAvailToComboBox, QStringLiteral("45"));
    Type(general->RingRemindComboBox, QStringLiteral("4O")); // a letter O in the middle of the page
    general->ConnectCheckBox->click();
    const TSettings before = Settings();

    dlg->ApplyPage();
    ASSERT_EQ(boxes.shown.size(), 1);
    // The box says where: seven pages of fields are a lot to search.
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("'4O' is not a valid integer value\n\nField: Ring Remind T.O. (in "
                                                  "Seconds)\nPage: General Setting"));
    EXPECT_TRUE(Settings() == before);
    EXPECT_TRUE(store.Lines().isEmpty());
    EXPECT_TRUE(host.applied.isEmpty());
    EXPECT_TRUE(dlg->ApplyBtn->isEnabled());

    // OK does not close over the bad field either.
    dlg->OkBtnClick();
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(boxes.shown.size(), 2);

    Type(general->RingRemindComboBox, QStringLiteral("40"));
    // A not-available text every second would flood the waiting visitor.
    Type(general->NotAvailToComboBox, QStringLiteral("0"));
    dlg->OkBtnClick();
    ASSERT_EQ(boxes.shown.size(), 3);
    EXPECT_TRUE(boxes.shown[2].text.startsWith(QStringLiteral("'0' is out of range: the smallest value is 10\n\n"
                                                              "Field: Not Avail T.O. (in Seconds)")));
    Type(general->NotAvailToComboBox, QStringLiteral("45"));
    dlg->OkBtnClick();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(Settings().NotAvailTimeOut, 45);
    EXPECT_EQ(Settings().RingRemindTimer, 40);
    EXPECT_TRUE(Settings().ConnectOnStart);
    EXPECT_EQ(store.ReadInteger(QStringLiteral("[GeneralProgramSetting]"), QStringLiteral("RingRemindTimer"), 0), 40);
    EXPECT_EQ(host.applied, QList<SettingsPage>{SettingsPage::General});
}

TEST_F(UserSetupDlgTest, ListsShowStoredNumbersOrTheirFallBackItem)
{
    Settings().NotAvailTimeOut = 45;     // not an item of the editable list
    Settings().ConnectTimeoutValue = 45; // not an item of the fixed list
    Settings().RegistrationTimeoutValue = 20;
    Settings().ReConnectIntervals = 99;
    Settings().ReConnectRetriesVal = 7;
    Settings().SpellLanguage = QStringLiteral("xx_GONE"); // a dictionary since removed
    Open();
    auto *general = Show<TGeneralPage>();
    EXPECT_EQ(general->NotAvailToComboBox->currentText(), QStringLiteral("45"));
    EXPECT_EQ(general->SpellLanguageComboBox->currentText(), QStringLiteral("xx_GONE"));
    EXPECT_TRUE(general->SpellStatusLabel->text().contains(QStringLiteral("xx_GONE")));
    general->SpellLanguageComboBox->setCurrentIndex(general->SpellLanguageComboBox->findText(QStringLiteral("Off")));
    EXPECT_TRUE(general->SpellStatusLabel->text().isEmpty());
    general->LineTimesCheckBox->click();
    EXPECT_EQ(general->ConnectTimeoutComboBox->currentText(), QStringLiteral("50"));
    EXPECT_EQ(general->RegistrationTimeoutComboBox->currentText(), QStringLiteral("20"));
    general->UseEnterToSendCheckBox->click();
    dlg->ApplyPage();
    EXPECT_EQ(Settings().NotAvailTimeOut, 45);
    EXPECT_EQ(Settings().ConnectTimeoutValue, 50);
    const QString section = QStringLiteral("[GeneralProgramSetting]");
    EXPECT_EQ(store.ReadInteger(section, QStringLiteral("ConnectTimeoutValue"), 0), 50);
    EXPECT_EQ(store.ReadInteger(section, QStringLiteral("NotAvailTimeOut"), 0), 45);
    EXPECT_EQ(store.ReadString(section, QStringLiteral("SpellLanguage"), QString()), QStringLiteral("Off"));
    EXPECT_TRUE(Settings().LineTimes);

    auto *reconnect = Show<TReconnectPage>();
    EXPECT_EQ(reconnect->NetIntEditCombo->currentText(), QStringLiteral("4"));
    EXPECT_EQ(reconnect->NetReConnetcRetCountCombo->currentText(), QStringLiteral("15"));
    EXPECT_FALSE(reconnect->NetIntEditCombo->isEditable());
}

TEST_F(UserSetupDlgTest, EnablingRulesFollowTheirCheckBoxes)
{
    Settings().EanbelDisableMails = true;
    Settings().MailAuthCheck = false;
    Open();
    auto *mail = Show<TMailPage>();
    EXPECT_TRUE(mail->SMTP_ServerEdit->isEnabled());
    EXPECT_TRUE(mail->MailAuthCheck->isEnabled());
    EXPECT_FALSE(mail->PasswordEdit->isEnabled());
    EXPECT_FALSE(mail->AuthRadioBox->isEnabled());

    mail->EanbelDisableMailsCheck->click();
    for (QWidget *w : std::initializer_list<QWidget *>{
             mail->SMTP_ServerEdit, mail->SMTP_PortEdit, mail->SMTP_SecurityComboBox, mail->SMTP_CAFileEdit,
             mail->SignOnEdit, mail->MailUserIdEdit, mail->SupportMailAddrEdit, mail->ReplyToMailAddrEdit,
             mail->CC_MailAddrEdit, mail->MailAuthCheck, mail->ForceCC_IfUserMailMissingChk, mail->PasswordEdit,
             mail->AuthRadioBox})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_TRUE(mail->MailDebugCheckBox->isEnabled());

    mail->MailAuthCheck->setChecked(true); // checked while greyed
    mail->EanbelDisableMailsCheck->click();
    EXPECT_TRUE(mail->PasswordEdit->isEnabled());
    EXPECT_TRUE(mail->AuthRadioBox->isEnabled());
    mail->MailAuthCheck->click();
    EXPECT_FALSE(mail->PasswordEdit->isEnabled());
    dlg->CancelBtnClick();

    Open();
    auto *general = Show<TGeneralPage>();
    EXPECT_FALSE(general->OfflineTimeOutComboBox->isEnabled());
    general->OfflineCheckBox->click();
    EXPECT_TRUE(general->OfflineTimeOutComboBox->isEnabled());
    // Where the desktop places windows, the alert corner is kept (the file may
    // serve another desktop too) but cannot be chosen, and the page says why.
    EXPECT_FALSE(general->PlacementNoteLabel->isVisibleTo(general));
    general->CallDispPosRadioGroup->button(0)->click();
    general->ShowPlacementAsHint(true);
    EXPECT_TRUE(general->PlacementNoteLabel->isVisibleTo(general));
    for (QAbstractButton *radio : general->CallDispPosRadioGroup->buttons())
        EXPECT_FALSE(radio->isEnabled());
    dlg->ApplyPage();
    EXPECT_EQ(Settings().CallDispPosValue, 0);

    auto *reconnect = Show<TReconnectPage>();
    EXPECT_TRUE(reconnect->NetIntEditCombo->isEnabled());
    reconnect->EnaReConnectNetErr->click();
    EXPECT_FALSE(reconnect->NetIntEditCombo->isEnabled());
    EXPECT_FALSE(reconnect->NetReConnetcRetCountCombo->isEnabled());
    EXPECT_FALSE(reconnect->EnaNetErrorMsgsCheckBox->isEnabled());
}

TEST_F(UserSetupDlgTest, WelcomeImageIsCheckedForItsSize)
{
    Open();
    auto *support = dlg->PageOf<TSupportPage>();
    dialogs.file = FileOfSize("exact.gif", 32748);
    QTest::mouseClick(support->ChooseImageBtn, Qt::LeftButton);
    EXPECT_EQ(support->WelcomeImgFileNameEdit->text(), dialogs.file);
    EXPECT_TRUE(dlg->ApplyBtn->isEnabled());
    EXPECT_TRUE(dialogs.lastFilter.contains(QStringLiteral("*.gif")));
    dlg->ApplyPage();

    const QString accepted = dialogs.file;
    dialogs.file = FileOfSize("big.gif", 32749);
    QTest::mouseClick(support->ChooseImageBtn, Qt::LeftButton);
    EXPECT_EQ(dialogs.lastPreset, accepted);
    EXPECT_TRUE(support->WelcomeImgFileNameEdit->text().isEmpty());
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text,
              QStringLiteral("Cannot use a file size larger then 32748\nPlease coose another file or reduce it in size !!"));
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("ERROR"));
    EXPECT_TRUE(dlg->ApplyBtn->isEnabled());

    dialogs.file = dir.filePath(QStringLiteral("gone.gif"));
    support->WelcomeImgFileNameEdit->setText(QStringLiteral("x"));
    QTest::mouseClick(support->ChooseImageBtn, Qt::LeftButton);
    EXPECT_TRUE(support->WelcomeImgFileNameEdit->text().isEmpty());
    EXPECT_EQ(boxes.shown.last().text, QStringLiteral("Cannot find/open the file just choosen ?"));

    // Cancelling the file dialog changes nothing.
    dlg->ApplyPage();
    dialogs.file.clear();
    QTest::mouseClick(support->ChooseImageBtn, Qt::LeftButton);
    EXPECT_FALSE(dlg->ApplyBtn->isEnabled());
}

TEST_F(UserSetupDlgTest, CancelAfterEditingLeavesRecordAndStoreAsTheyWere)
{
    Open();
    auto *support = dlg->PageOf<TSupportPage>();
    Type(support->SupportNameEdit, QStringLiteral("Robin"));
    dlg->ApplyPage(); // an earlier page applied in the same opening stays
    auto *web = Show<TWebIpPage>();
    Type(web->ClientIdEdit, QStringLiteral("other"));
    const TSettings before = Settings();
    const QList<QByteArray> lines = store.Lines();
    QTest::mouseClick(dlg->CancelBtn, Qt::LeftButton);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_TRUE(Settings() == before);
    EXPECT_EQ(store.Lines(), lines);
    EXPECT_EQ(Settings().SupportName, QStringLiteral("Robin"));
}

TEST_F(UserSetupDlgTest, ColoursComeFromTheChooserAndAreStoredUnsigned)
{
    Settings().UserTextColor = 0xFFFFFFFFu; // an odd stored value survives untouched
    Open();
    auto *colours = Show<TColorsPage>();
    EXPECT_EQ(colours->SupportNameColor->text(), QStringLiteral("SupportName:"));
    dialogs.colour.reset();
    QTest::mouseClick(colours->UserNameColor, Qt::LeftButton);
    EXPECT_EQ(dialogs.offered, 0xFF0000u);
    EXPECT_FALSE(dlg->ApplyBtn->isEnabled());

    dialogs.colour = 0x00FF00u;
    QTest::mouseClick(colours->SupportNameColor, Qt::LeftButton);
    EXPECT_EQ(dialogs.offered, 0x0000FFu);
    EXPECT_TRUE(colours->SupportNameColor->styleSheet().contains(QStringLiteral("#00ff00")));
    EXPECT_TRUE(dlg->ApplyBtn->isEnabled());
    dlg->ApplyPage();
    EXPECT_EQ(Settings().SupportNameColor, 0x00FF00u);
    EXPECT_EQ(Settings().UserTextColor, 0xFFFFFFFFu);
    const auto found = store.FindValue(QStringLiteral("[ProgramOptions]"), QStringLiteral("UserTextColor"));
    EXPECT_EQ(found.value, QByteArray("4294967295"));
}

TEST_F(UserSetupDlgTest, MailPageStoresThePasswordScrambledAndChecksThePort)
{
    Settings().EanbelDisableMails = true;
    Settings().MailAuthCheck = true;
    Open();
    auto *mail = Show<TMailPage>();
    EXPECT_EQ(mail->SMTP_PortEdit->text(), QStringLiteral("25"));
    Type(mail->PasswordEdit, QStringLiteral("s3cret!pw"));
    mail->AuthRadioGroup->button(3)->click();
    mail->SMTP_SecurityComboBox->setCurrentIndex(1);
    Type(mail->SMTP_PortEdit, QStringLiteral("0"));
    dlg->ApplyPage();
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("'0' is out of range: it must be a number from 1 to 65535\n\n"
                                                  "Field: SMTP Server Name: Port\nPage: eMail settings"));
    EXPECT_TRUE(store.Lines().isEmpty());

    // A sign-on name mail servers refuse is warned about, and kept.
    Type(mail->SignOnEdit, QStringLiteral("front desk"));
    Type(mail->SMTP_PortEdit, QStringLiteral("587"));
    dlg->ApplyPage();
    ASSERT_EQ(boxes.shown.size(), 2);
    EXPECT_EQ(boxes.shown[1].icon, BoxIcon::Warning);
    EXPECT_TRUE(boxes.shown[1].text.startsWith(QStringLiteral("'front desk' is not a valid host name")));
    EXPECT_EQ(Settings().SMTP_SignOn, QStringLiteral("front desk"));
    for (const char *fine : {"desk-1.example.org", "[192.0.2.7]", ""}) {
        Type(mail->SignOnEdit, QString::fromLatin1(fine));
        dlg->ApplyPage();
    }
    EXPECT_EQ(boxes.shown.size(), 2);
    EXPECT_EQ(Settings().MailPassword, QStringLiteral("s3cret!pw"));
    EXPECT_EQ(Settings().AuthType, 3);
    EXPECT_EQ(Settings().SMTP_Port, 587);
    EXPECT_EQ(Settings().SMTP_Security, 1);
    const QString enc = store.ReadString(QStringLiteral("[ProgramMailSettings]"), QStringLiteral("EncPassword"), {});
    EXPECT_EQ(enc.size(), 18);
    EXPECT_EQ(ScramblePassword(HexDecode(enc), ScrambleDirection::Unscramble), QByteArray("s3cret!pw"));
    TSettings reread;
    ReadSettings(store, reread);
    EXPECT_EQ(reread.MailPassword, QStringLiteral("s3cret!pw"));
    EXPECT_EQ(reread.SMTP_Port, 587);
}

TEST_F(UserSetupDlgTest, TheServerPortIsRefusedUnlessItIsAPort)
{
    Open();
    auto *web = Show<TWebIpPage>();
    for (const char *bad : {"99999", "0", "30000x"}) {
        Type(web->ServerListenPortEdit, QString::fromLatin1(bad));
        EXPECT_FALSE(dlg->ApplyPage()) << bad;
        EXPECT_TRUE(boxes.shown.last().text.endsWith(QStringLiteral("Field: Server Port\nPage: Web and IP SetUp")));
    }
    EXPECT_EQ(Settings().WebListenPort, QStringLiteral("30000"));
    Type(web->ServerListenPortEdit, QStringLiteral("65535"));
    EXPECT_TRUE(dlg->ApplyPage());
    EXPECT_EQ(Settings().WebListenPort, QStringLiteral("65535"));
}

TEST_F(UserSetupDlgTest, TextTheSettingsFileCannotHoldIsRefusedNotMangled)
{
    Open();
    auto *support = dlg->PageOf<TSupportPage>();
    Type(support->SupportWelcomeMsgEdit, QStringLiteral("Привет"));
    dlg->ApplyPage();
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown[0].text.contains(QStringLiteral("Привет")));
    EXPECT_TRUE(Settings().SupportWelcomeMsg.isEmpty());
    EXPECT_TRUE(store.Lines().isEmpty());
    // Accents, the euro sign and typographic quotes are in the file's code page.
    Type(support->SupportWelcomeMsgEdit, QStringLiteral("Grüße, café \u201C5 \u20AC\u201D"));
    dlg->ApplyPage();
    EXPECT_EQ(Settings().SupportWelcomeMsg, QStringLiteral("Grüße, café \u201C5 \u20AC\u201D"));
}

TEST_F(UserSetupDlgTest, SoundFilesComeFromTheChooserUnchecked)
{
    Open();
    auto *sound = Show<TSoundPage>();
    EXPECT_EQ(sound->MainSoundFileNameEdit->text(), QStringLiteral("ringin.wav"));
    dialogs.file = dir.filePath(QStringLiteral("not-there.wav"));
    QTest::mouseClick(sound->ChatWaveChooser, Qt::LeftButton);
    EXPECT_EQ(dialogs.lastPreset, QStringLiteral("Plugin.wav"));
    EXPECT_EQ(sound->ChatSoundFileNameEdit->text(), dialogs.file);
    EXPECT_TRUE(boxes.shown.isEmpty());
    dlg->ApplyPage();
    EXPECT_EQ(Settings().ChatSoundFile, dialogs.file);
    EXPECT_EQ(store.ReadString(QStringLiteral("[SoundSetup]"), QStringLiteral("ChatSoundFile"), {}), dialogs.file);
}
