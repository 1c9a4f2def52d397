#include "config/ui/SetupPages.h"

#include "config/ui/SetupDialogs.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmora {

TSoundPage::TSoundPage(QWidget *parent) : TSetupPage(parent)
{
    auto *layout = new QVBoxLayout(this);
    auto add = [&](const QString &caption, const QString &editName, const QString &buttonName, QPushButton *&button) {
        auto *box = new QGroupBox(caption, this);
        auto *row = new QHBoxLayout(box);
        row->setContentsMargins(6, 2, 6, 4);
        auto *edit = new QLineEdit(box);
        edit->setObjectName(editName);
        edit->setMaxLength(kMaxText);
        Watch(edit);
        button = new QPushButton(QStringLiteral("..."), box);
        button->setObjectName(buttonName);
        button->setFixedWidth(30);
        connect(button, &QPushButton::clicked, this, [this, edit] { ChooseWave(edit); });
        row->addWidget(edit);
        row->addWidget(button);
        layout->addWidget(box);
        return edit;
    };
    MainSoundFileNameEdit =
        add(QStringLiteral(" Wave file name used for new calls and reminder sound notification "),
            QStringLiteral("MainSoundFileNameEdit"), QStringLiteral("MainWaveChooser"), MainWaveChooser);
    ChatSoundFileNameEdit =
        add(QStringLiteral(" Wave file name used for incomming chat messages (in chat windows) "),
            QStringLiteral("ChatSoundFileNameEdit"), QStringLiteral("ChatWaveChooser"), ChatWaveChooser);
    auto *notices = new QGroupBox(QStringLiteral(" Desktop notifications "), this);
    auto *column = new QVBoxLayout(notices);
    auto check = [&](const QString &caption, const QString &name) {
        auto *box = new QCheckBox(caption, notices);
        box->setObjectName(name);
        Watch(box);
        column->addWidget(box);
        return box;
    };
    NotifyNewCallsCheckBox = check(QStringLiteral("New &calls"), QStringLiteral("NotifyNewCallsCheckBox"));
    NotifyRequestsCheckBox =
        check(QStringLiteral("Supporter chat and &transfer requests"), QStringLiteral("NotifyRequestsCheckBox"));
    NotifyVisitorLinesCheckBox =
        check(QStringLiteral("&Visitor messages in inactive chats"), QStringLiteral("NotifyVisitorLinesCheckBox"));
    NotifyLineTextCheckBox =
        check(QStringLiteral("Show the message te&xt"), QStringLiteral("NotifyLineTextCheckBox"));
    connect(NotifyVisitorLinesCheckBox, &QCheckBox::toggled, NotifyLineTextCheckBox, &QCheckBox::setEnabled);
    layout->addWidget(notices);
    layout->addStretch(1);
}

void TSoundPage::ChooseWave(QLineEdit *edit)
{
    const QString path = SetupDialogs().OpenFile(this, QString::fromLatin1(kWaveFileFilter), edit->text());
    if (path.isEmpty())
        return;
    edit->setText(path);
    emit Changed();
}

void TSoundPage::Fill(const TSettings &s)
{
    MainSoundFileNameEdit->setText(s.MainSundFile);
    ChatSoundFileNameEdit->setText(s.ChatSoundFile);
    NotifyNewCallsCheckBox->setChecked(s.NotifyNewCalls);
    NotifyRequestsCheckBox->setChecked(s.NotifyRequests);
    NotifyVisitorLinesCheckBox->setChecked(s.NotifyVisitorLines);
    NotifyLineTextCheckBox->setChecked(s.NotifyLineText);
    NotifyLineTextCheckBox->setEnabled(s.NotifyVisitorLines);
}

bool TSoundPage::Collect(TSettings &s)
{
    if (!CheckStorable(MainSoundFileNameEdit) || !CheckStorable(ChatSoundFileNameEdit))
        return false;
    s.MainSundFile = MainSoundFileNameEdit->text();
    s.ChatSoundFile = ChatSoundFileNameEdit->text();
    s.NotifyNewCalls = NotifyNewCallsCheckBox->isChecked();
    s.NotifyRequests = NotifyRequestsCheckBox->isChecked();
    s.NotifyVisitorLines = NotifyVisitorLinesCheckBox->isChecked();
    s.NotifyLineText = NotifyLineTextCheckBox->isChecked();
    return true;
}

} // namespace velmora
