#include "config/ui/SetupPages.h"

#include "config/ui/SetupDialogs.h"
#include "diag/Boxes.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace velmora {

namespace {
const char *const kSecurityItems[] = {"None", "STARTTLS required", "TLS from the first byte"};
const char kCertificateFilter[] = "Certificates (*.pem *.crt *.PEM *.CRT);;All files (*)";

// What a greeting may carry as our name: empty (the local host's name goes
// then), an address literal, or dot-separated labels of letters, digits and
// inner hyphens.
bool IsHostName(const QString &name)
{
    if (name.isEmpty())
        return true;
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        return QRegularExpression(QStringLiteral("^\\[(\\d{1,3}(\\.\\d{1,3}){3}|IPv6:[0-9A-Fa-f:.]+)\\]$"))
            .match(name)
            .hasMatch();
    if (name.size() > 253)
        return false;
    const QStringList labels = name.endsWith(QLatin1Char('.')) ? name.chopped(1).split(QLatin1Char('.'))
                                                              : name.split(QLatin1Char('.'));
    for (const QString &label : labels) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith(QLatin1Char('-')) || label.endsWith(QLatin1Char('-')))
            return false;
        for (QChar c : label)
            if (c.unicode() >= 0x80 || !(c.isLetterOrNumber() || c == QLatin1Char('-')))
                return false;
    }
    return true;
}
} // namespace

TMailPage::TMailPage(QWidget *parent) : TSetupPage(parent)
{
    auto *layout = new QVBoxLayout(this);
    auto check = [this](const QString &caption, const QString &name) {
        auto *box = new QCheckBox(caption, this);
        box->setObjectName(name);
        Watch(box);
        return box;
    };
    EanbelDisableMailsCheck = check(QStringLiteral("Enable Chat Transcript e-mail sending to clients."),
                                    QStringLiteral("EanbelDisableMailsCheck"));
    MailDebugCheckBox = check(QStringLiteral("Debug Mail On"), QStringLiteral("MailDebugCheckBox"));
    ForceCC_IfUserMailMissingChk =
        check(QStringLiteral("Send CC Chat Transcript to support even if client e-mail  is missing "),
              QStringLiteral("ForceCC_IfUserMailMissingChk"));
    auto *top = new QHBoxLayout;
    top->addWidget(EanbelDisableMailsCheck, 1);
    top->addWidget(MailDebugCheckBox);
    layout->addLayout(top);
    layout->addWidget(ForceCC_IfUserMailMissingChk);

    auto *group = new QGroupBox(QStringLiteral(" Mail client configuration "), this);
    auto *form = new QFormLayout(group);
    form->setVerticalSpacing(3);
    auto edit = [&](const QString &name, const QString &hint = {}) {
        auto *e = new QLineEdit(group);
        e->setObjectName(name);
        e->setMaxLength(kMaxText);
        if (!hint.isEmpty())
            e->setToolTip(hint);
        Watch(e);
        return e;
    };
    SMTP_ServerEdit =
        edit(QStringLiteral("SMTP_ServerEdit"), QStringLiteral("The outgoing mail server name, used  to send the chat transcripts"));
    SMTP_PortEdit = edit(QStringLiteral("SMTP_PortEdit"), QStringLiteral("25 unless your mail provider says otherwise"));
    SMTP_PortEdit->setMaxLength(5);
    SMTP_SecurityComboBox = MakeCombo(QStringLiteral("SMTP_SecurityComboBox"), {}, false);
    for (const char *item : kSecurityItems)
        SMTP_SecurityComboBox->addItem(QString::fromLatin1(item));
    SMTP_CAFileEdit = edit(QStringLiteral("SMTP_CAFileEdit"),
                           QStringLiteral("Extra trusted certificates (PEM) for the mail server, if it uses a company CA"));
    ChooseCAFileBtn = new QPushButton(QStringLiteral("..."), group);
    ChooseCAFileBtn->setObjectName(QStringLiteral("ChooseCAFileBtn"));
    ChooseCAFileBtn->setFixedWidth(30);
    connect(ChooseCAFileBtn, &QPushButton::clicked, this, [this] {
        const QString path =
            SetupDialogs().OpenFile(this, QString::fromLatin1(kCertificateFilter), SMTP_CAFileEdit->text());
        if (path.isEmpty())
            return;
        SMTP_CAFileEdit->setText(path);
        emit Changed();
    });
    auto *caRow = new QHBoxLayout;
    caRow->addWidget(SMTP_CAFileEdit);
    caRow->addWidget(ChooseCAFileBtn);
    SignOnEdit = edit(QStringLiteral("SignOnEdit"));
    MailUserIdEdit = edit(QStringLiteral("MailUserIdEdit"), QStringLiteral("e-mail account login name (user ID)"));
    MailAuthCheck = check(QStringLiteral("My Server requires authentication !"), QStringLiteral("MailAuthCheck"));
    PasswordEdit = edit(QStringLiteral("PasswordEdit"));
    PasswordEdit->setEchoMode(QLineEdit::Password);
    auto *authBox = new QGroupBox(QStringLiteral(" Authentication Type "), group);
    AuthRadioBox = authBox;
    auto *authRow = new QHBoxLayout(authBox);
    AuthRadioGroup = new QButtonGroup(this);
    int id = 0;
    for (const char *caption : {"Auto-Select", "PLAIN", "LOGIN", "CRAM-MD5"}) {
        auto *radio = new QRadioButton(QString::fromLatin1(caption), authBox);
        radio->setObjectName(QStringLiteral("AuthType%1").arg(id));
        AuthRadioGroup->addButton(radio, id++);
        authRow->addWidget(radio);
    }
    Watch(AuthRadioGroup);
    SupportMailAddrEdit = edit(QStringLiteral("SupportMailAddrEdit"));
    ReplyToMailAddrEdit = edit(QStringLiteral("ReplyToMailAddrEdit"));
    CC_MailAddrEdit = edit(QStringLiteral("CC_MailAddrEdit"), QStringLiteral("e-mail address for Carbon Copy (CC:)"));

    auto *serverRow = new QHBoxLayout;
    serverRow->addWidget(SMTP_ServerEdit, 1);
    serverRow->addWidget(new QLabel(QStringLiteral("Port:"), group));
    serverRow->addWidget(SMTP_PortEdit);
    SMTP_PortEdit->setFixedWidth(60);
    form->addRow(QStringLiteral("SMTP Server Name:"), serverRow);
    form->addRow(QStringLiteral("Security:"), SMTP_SecurityComboBox);
    form->addRow(QStringLiteral("CA certificates:"), caRow);
    form->addRow(QStringLiteral("Sign On Value"), SignOnEdit);
    form->addRow(QStringLiteral("User Name (ID):"), MailUserIdEdit);
    form->addRow(MailAuthCheck);
    form->addRow(QStringLiteral("Password:"), PasswordEdit);
    form->addRow(authBox);
    form->addRow(QStringLiteral("Support mail address:"), SupportMailAddrEdit);
    form->addRow(QStringLiteral("Reply To mail address:"), ReplyToMailAddrEdit);
    form->addRow(QStringLiteral("CC mail address:"), CC_MailAddrEdit);
    layout->addWidget(group);
    layout->addStretch(1);

    connect(EanbelDisableMailsCheck, &QCheckBox::toggled, this, &TMailPage::ApplyEnablingRules);
    connect(MailAuthCheck, &QCheckBox::toggled, this, &TMailPage::ApplyEnablingRules);
    connect(MailDebugCheckBox, &QCheckBox::clicked, this, &TMailPage::ApplyEnablingRules);
}

void TMailPage::ApplyEnablingRules()
{
    const bool mails = EanbelDisableMailsCheck->isChecked();
    for (QWidget *w : std::initializer_list<QWidget *>{SMTP_ServerEdit, SMTP_PortEdit, SMTP_SecurityComboBox,
                                                       SMTP_CAFileEdit, ChooseCAFileBtn, SignOnEdit, MailUserIdEdit,
                                                       SupportMailAddrEdit, ReplyToMailAddrEdit, CC_MailAddrEdit,
                                                       MailAuthCheck, ForceCC_IfUserMailMissingChk})
        w->setEnabled(mails);
    const bool auth = mails && MailAuthCheck->isChecked();
    PasswordEdit->setEnabled(auth);
    AuthRadioBox->setEnabled(auth);
    MailDebugCheckBox->setEnabled(true);
}

void TMailPage::Fill(const TSettings &s)
{
    EanbelDisableMailsCheck->setChecked(s.EanbelDisableMails);
    ForceCC_IfUserMailMissingChk->setChecked(s.ForceCC);
    MailDebugCheckBox->setChecked(s.DebugMail);
    SMTP_ServerEdit->setText(s.SMTP_Server);
    SMTP_PortEdit->setText(QString::number(s.SMTP_Port));
    SMTP_SecurityComboBox->setCurrentIndex(s.SMTP_Security >= 0 && s.SMTP_Security <= 2 ? s.SMTP_Security : 0);
    SMTP_CAFileEdit->setText(s.SMTP_CAFile);
    SignOnEdit->setText(s.SMTP_SignOn);
    MailUserIdEdit->setText(s.MailUserID);
    MailAuthCheck->setChecked(s.MailAuthCheck);
    PasswordEdit->setText(s.MailPassword);
    if (QAbstractButton *b = AuthRadioGroup->button(s.AuthType))
        b->setChecked(true);
    SupportMailAddrEdit->setText(s.SupportMailAddr);
    ReplyToMailAddrEdit->setText(s.ReplyToMailAddr);
    CC_MailAddrEdit->setText(s.CC_MailAddr);
    ApplyEnablingRules();
}

bool TMailPage::Collect(TSettings &s)
{
    for (const QLineEdit *e : {SMTP_ServerEdit, SMTP_CAFileEdit, SignOnEdit, MailUserIdEdit, PasswordEdit,
                               SupportMailAddrEdit, ReplyToMailAddrEdit, CC_MailAddrEdit})
        if (!CheckStorable(e))
            return false;
    const std::optional<qint32> port =
        ToInteger(SMTP_PortEdit, SMTP_PortEdit->text(), QStringLiteral("SMTP Server Name: Port"), 1, 65535);
    if (!port)
        return false;
    if (!IsHostName(SignOnEdit->text().trimmed()))
        // Stored all the same: the operator may know the server takes it.
        ShowBox(QStringLiteral("'%1' is not a valid host name; mail servers may refuse to be greeted with it "
                               "(blanks go out as \"_\").\n\nField: Sign On Value\nPage: %2")
                    .arg(SignOnEdit->text(), Title()),
                QStringLiteral("Warning"), BoxIcon::Warning);
    s.EanbelDisableMails = EanbelDisableMailsCheck->isChecked();
    s.ForceCC = ForceCC_IfUserMailMissingChk->isChecked();
    s.SMTP_Server = SMTP_ServerEdit->text();
    s.SMTP_SignOn = SignOnEdit->text();
    s.MailUserID = MailUserIdEdit->text();
    s.SupportMailAddr = SupportMailAddrEdit->text();
    s.MailAuthCheck = MailAuthCheck->isChecked();
    if (AuthRadioGroup->checkedId() >= 0)
        s.AuthType = AuthRadioGroup->checkedId();
    s.MailPassword = PasswordEdit->text();
    s.ReplyToMailAddr = ReplyToMailAddrEdit->text();
    s.CC_MailAddr = CC_MailAddrEdit->text();
    s.DebugMail = MailDebugCheckBox->isChecked();
    s.SMTP_Port = *port;
    s.SMTP_Security = SMTP_SecurityComboBox->currentIndex();
    s.SMTP_CAFile = SMTP_CAFileEdit->text();
    return true;
}

} // namespace velmora
