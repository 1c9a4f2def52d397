#pragma once
// The seven pages of the settings dialog, in the dialog's order.
#include "config/ui/SetupPage.h"
#include "diag/HelpContexts.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace velmora {

class TSupportPage final : public TSetupPage {
    Q_OBJECT
public:
    explicit TSupportPage(QWidget *parent = nullptr);
    SettingsPage Page() const override { return SettingsPage::Support; }
    QString Title() const override { return QStringLiteral("Support SetUp"); }
    int HelpContext() const override { return SupportSetupContext; }
    void Fill(const TSettings &s) override;
    bool Collect(TSettings &s) override;
    void ChooseImageBtnClick();

    QLineEdit *SupportNameEdit;
    QLineEdit *WelcomToMsgEdit;
    QLineEdit *WelcomeImgFileNameEdit;
    QPushButton *ChooseImageBtn;
    QLineEdit *SupportNotAvailEdit;
    QLineEdit *SupportNotAvailReminderEdit;
    QLineEdit *SupportWelcomeMsgEdit;
};

class TWebIpPage final : public TSetupPage {
    Q_OBJECT
public:
    explicit TWebIpPage(QWidget *parent = nullptr);
    SettingsPage Page() const override { return SettingsPage::WebAndIp; }
    QString Title() const override { return QStringLiteral("Web and IP SetUp"); }
    int HelpContext() const override { return WebSetupContext; }
    void Fill(const TSettings &s) override;
    bool Collect(TSettings &s) override;

    QLineEdit *ClientIdEdit;
    QLineEdit *WebSiteEdit;
    QLineEdit *ServerListenPortEdit;
    QLineEdit *AuthEdit;
};

class TColorsPage final : public TSetupPage {
    Q_OBJECT
public:
    explicit TColorsPage(QWidget *parent = nullptr);
    SettingsPage Page() const override { return SettingsPage::Colors; }
    QString Title() const override { return QStringLiteral("Display Colors"); }
    int HelpContext() const override { return ColorsSetupContext; }
    void Fill(const TSettings &s) override;
    bool Collect(TSettings &s) override;

    // Opens the colour chooser for one of the four sample labels.
    void ChooseColor(int index);

    QLabel *SupportNameColor;
    QLabel *SupportTextColor;
    QLabel *UserNameColor;
    QLabel *UserTextColor;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void SetColor(int index, quint32 bgr);
    QLabel *m_labels[4];
    quint32 m_colors[4] = {};
};

class TGeneralPage final : public TSetupPage {
    Q_OBJECT
public:
    explicit TGeneralPage(QWidget *parent = nullptr);
    SettingsPage Page() const override { return SettingsPage::General; }
    QString Title() const override { return QStringLiteral("General Setting"); }
    int HelpContext() const override { return GeneralSetupContext; }
    void Fill(const TSettings &s) override;
    bool Collect(TSettings &s) override;
    void ApplyEnablingRules();
    // Where the desktop places windows (Wayland), the alert corner is shown
    // as a choice that does nothing here, and says so.
    void ShowPlacementAsHint(bool desktopPlaces);

    QComboBox *NotAvailToComboBox;
    QComboBox *NotAvailRemindEveryComboBox;
    QComboBox *RingRemindComboBox;
    QCheckBox *OfflineCheckBox;
    QComboBox *OfflineTimeOutComboBox;
    QCheckBox *ConnectCheckBox;
    QCheckBox *AutoAnswerCheckBox;
    QComboBox *ConnectTimeoutComboBox;
    QComboBox *RegistrationTimeoutComboBox;
    QCheckBox *UseEnterToSendCheckBox;
    QCheckBox *EmptyLineAddCheckBox;
    QCheckBox *ChatsInOneWindowCheckBox;
    QButtonGroup *CallDispPosRadioGroup;
    QLabel *PlacementNoteLabel; // shown where the desktop places windows
    QComboBox *ArchiveDaysComboBox;
    QComboBox *SpellLanguageComboBox; // item data: the SpellLanguage value
    QLabel *SpellStatusLabel;         // why there is no checking, when there is none
    QCheckBox *LineTimesCheckBox;
    QComboBox *ResponseTargetComboBox;

private:
    void ShowSpellStatus();
};

class TSoundPage final : public TSetupPage {
    Q_OBJECT
public:
    explicit TSoundPage(QWidget *parent = nullptr);
    SettingsPage Page() const override { return SettingsPage::Sound; }
    QString Title() const override { return QStringLiteral("Sound Setup"); }
    int HelpContext() const override { return SoundSetupContext; }
    void Fill(const TSettings &s) override;
    bool Collect(TSettings &s) override;
    void ChooseWave(QLineEdit *edit);

    QLineEdit *MainSoundFileNameEdit;
    QPushButton *MainWaveChooser;
    QLineEdit *ChatSoundFileNameEdit;
    QPushButton *ChatWaveChooser;
    QCheckBox *NotifyNewCallsCheckBox;
    QCheckBox *NotifyRequestsCheckBox;
    QCheckBox *NotifyVisitorLinesCheckBox;
    QCheckBox *NotifyLineTextCheckBox;
};

class TMailPage final : public TSetupPage {
    Q_OBJECT
public:
    explicit TMailPage(QWidget *parent = nullptr);
    SettingsPage Page() const override { return SettingsPage::Mail; }
    QString Title() const override { return QStringLiteral("eMail settings"); }
    int HelpContext() const override { return MailSetupContext; }
    void Fill(const TSettings &s) override;
    bool Collect(TSettings &s) override;
    void ApplyEnablingRules();

    QCheckBox *EanbelDisableMailsCheck;
    QCheckBox *ForceCC_IfUserMailMissingChk;
    QCheckBox *MailDebugCheckBox;
    QLineEdit *SMTP_ServerEdit;
    QLineEdit *SMTP_PortEdit;
    QComboBox *SMTP_SecurityComboBox;
    QLineEdit *SMTP_CAFileEdit;
    QPushButton *ChooseCAFileBtn;
    QLineEdit *SignOnEdit;
    QLineEdit *MailUserIdEdit;
    QCheckBox *MailAuthCheck;
    QLineEdit *PasswordEdit;
    QButtonGroup *AuthRadioGroup;
    QWidget *AuthRadioBox;
    QLineEdit *SupportMailAddrEdit;
    QLineEdit *ReplyToMailAddrEdit;
    QLineEdit *CC_MailAddrEdit;
};

class TReconnectPage final : public TSetupPage {
    Q_OBJECT
public:
    explicit TReconnectPage(QWidget *parent = nullptr);
    SettingsPage Page() const override { return SettingsPage::Reconnect; }
    QString Title() const override { return QStringLiteral("Re connect setup"); }
    int HelpContext() const override { return ReconnectSetupContext; }
    void Fill(const TSettings &s) override;
    bool Collect(TSettings &s) override;
    void ApplyEnablingRules();

    QCheckBox *EnaReConnectNetErr;
    QCheckBox *EnaNetErrorMsgsCheckBox;
    QComboBox *NetIntEditCombo;
    QComboBox *NetReConnetcRetCountCombo;
};

} // namespace velmora
