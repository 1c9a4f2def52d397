#include "config/ui/SetupPages.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QVBoxLayout>

namespace velmora {

TWebIpPage::TWebIpPage(QWidget *parent) : TSetupPage(parent)
{
    auto *layout = new QVBoxLayout(this);
    auto *group = new QGroupBox(QStringLiteral(" WEB site configuration "), this);
    auto *form = new QFormLayout(group);
    auto add = [&](const QString &caption, const QString &name, const QString &hint = {}) {
        auto *edit = new QLineEdit(group);
        edit->setObjectName(name);
        edit->setMaxLength(kMaxText);
        if (!hint.isEmpty())
            edit->setToolTip(hint);
        Watch(edit);
        form->addRow(caption, edit);
        return edit;
    };
    ClientIdEdit = add(QStringLiteral("Client ID"), QStringLiteral("ClientIdEdit"));
    WebSiteEdit = add(QStringLiteral("Server URL"), QStringLiteral("WebSiteEdit"));
    ServerListenPortEdit = add(QStringLiteral("Server Port"), QStringLiteral("ServerListenPortEdit"),
                               QStringLiteral("If not stated elsewhere it is 30000  "));
    AuthEdit = add(QStringLiteral("Auth Value"), QStringLiteral("AuthEdit"));
    AuthEdit->setEchoMode(QLineEdit::Password);
    layout->addWidget(group);
    layout->addStretch(1);
}

void TWebIpPage::Fill(const TSettings &s)
{
    ClientIdEdit->setText(s.ClientID);
    WebSiteEdit->setText(s.WebSiteUrl);
    ServerListenPortEdit->setText(s.WebListenPort);
    AuthEdit->setText(s.AuthValue);
}

bool TWebIpPage::Collect(TSettings &s)
{
    for (const QLineEdit *edit : {ClientIdEdit, WebSiteEdit, ServerListenPortEdit, AuthEdit})
        if (!CheckStorable(edit))
            return false;
    // Kept as text, as the other consoles keep it, but only a port it can be.
    if (!ToInteger(ServerListenPortEdit, ServerListenPortEdit->text(), QStringLiteral("Server Port"), 1, 65535))
        return false;
    s.ClientID = ClientIdEdit->text();
    s.WebSiteUrl = WebSiteEdit->text();
    s.WebListenPort = ServerListenPortEdit->text();
    s.AuthValue = AuthEdit->text();
    return true;
}

} // namespace velmora
