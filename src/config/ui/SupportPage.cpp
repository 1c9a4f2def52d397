#include "config/ui/SetupPages.h"

#include "config/ui/SetupDialogs.h"
#include "diag/Boxes.h"
#include "protocol/Codec.h"

#include <QFile>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmora {

TSupportPage::TSupportPage(QWidget *parent) : TSetupPage(parent)
{
    auto *layout = new QVBoxLayout(this);
    SupportNameEdit = AddEdit(layout, QStringLiteral(" Support User Name "), QStringLiteral("SupportNameEdit"), kMaxText,
                              QStringLiteral("Type here the operator name"));
    WelcomToMsgEdit = AddEdit(layout, QStringLiteral(" Welcome to Msg "), QStringLiteral("WelcomToMsgEdit"), 0);

    auto *imageBox = new QGroupBox(QStringLiteral(" Welcome image (company logo)  Max file size 32750 Bytes !! "), this);
    auto *imageRow = new QHBoxLayout(imageBox);
    imageRow->setContentsMargins(6, 2, 6, 4);
    WelcomeImgFileNameEdit = new QLineEdit(imageBox);
    WelcomeImgFileNameEdit->setObjectName(QStringLiteral("WelcomeImgFileNameEdit"));
    WelcomeImgFileNameEdit->setMaxLength(kMaxText);
    Watch(WelcomeImgFileNameEdit);
    ChooseImageBtn = new QPushButton(QStringLiteral("..."), imageBox);
    ChooseImageBtn->setObjectName(QStringLiteral("ChooseImageBtn"));
    ChooseImageBtn->setFixedWidth(30);
    connect(ChooseImageBtn, &QPushButton::clicked, this, &TSupportPage::ChooseImageBtnClick);
    imageRow->addWidget(WelcomeImgFileNameEdit);
    imageRow->addWidget(ChooseImageBtn);
    layout->addWidget(imageBox);

    SupportNotAvailEdit =
        AddEdit(layout, QStringLiteral(" Support Not Available Msg "), QStringLiteral("SupportNotAvailEdit"), 0);
    SupportNotAvailReminderEdit = AddEdit(layout, QStringLiteral(" Support Not Available Reminder Msg "),
                                          QStringLiteral("SupportNotAvailReminderEdit"), 0);
    SupportWelcomeMsgEdit = AddEdit(layout, QStringLiteral(" Operator  Welcome Msg "),
                                    QStringLiteral("SupportWelcomeMsgEdit"), 0,
                                    QStringLiteral("Operator personal greeting"));
    layout->addStretch(1);
}

void TSupportPage::Fill(const TSettings &s)
{
    SupportNameEdit->setText(s.SupportName);
    WelcomToMsgEdit->setText(s.WelcomToMsgMsg);
    WelcomeImgFileNameEdit->setText(s.WelcomeImgFileName);
    SupportNotAvailEdit->setText(s.SupportNotAvailMsg);
    SupportNotAvailReminderEdit->setText(s.SupportNotAvailReminderMsg);
    SupportWelcomeMsgEdit->setText(s.SupportWelcomeMsg);
}

bool TSupportPage::Collect(TSettings &s)
{
    for (const QLineEdit *edit : {SupportNameEdit, WelcomToMsgEdit, SupportNotAvailEdit, SupportNotAvailReminderEdit,
                                  SupportWelcomeMsgEdit, WelcomeImgFileNameEdit})
        if (!CheckStorable(edit))
            return false;
    s.SupportName = SupportNameEdit->text();
    s.WelcomToMsgMsg = WelcomToMsgEdit->text();
    s.SupportNotAvailMsg = SupportNotAvailEdit->text();
    s.SupportNotAvailReminderMsg = SupportNotAvailReminderEdit->text();
    s.SupportWelcomeMsg = SupportWelcomeMsgEdit->text();
    s.WelcomeImgFileName = WelcomeImgFileNameEdit->text();
    return true;
}

void TSupportPage::ChooseImageBtnClick()
{
    const QString path = SetupDialogs().OpenFile(this, QString::fromLatin1(kWelcomeImageFilter),
                                                  WelcomeImgFileNameEdit->text());
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ShowBox(QStringLiteral("Cannot find/open the file just choosen ?"), QStringLiteral("ERROR"));
        WelcomeImgFileNameEdit->clear();
    } else if (file.size() > kMaxImageBytes) {
        ShowBox(QStringLiteral("Cannot use a file size larger then ") + QString::number(kMaxImageBytes)
                    + QStringLiteral("\nPlease coose another file or reduce it in size !!"),
                QStringLiteral("ERROR"));
        WelcomeImgFileNameEdit->clear();
    } else {
        WelcomeImgFileNameEdit->setText(path);
    }
    emit Changed();
}

} // namespace velmora
