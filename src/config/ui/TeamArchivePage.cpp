#include "config/ui/TeamArchivePage.h"

#include "diag/Boxes.h"
#include "team/TeamArchive.h"
#include "team/TeamDb.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmora {

TTeamArchivePage::TTeamArchivePage(QWidget *parent) : TSetupPage(parent)
{
    auto *layout = new QVBoxLayout(this);
    TeamArchiveEdit = AddEdit(layout, QStringLiteral(" Team archive (PostgreSQL connection string or service name) "),
                              QStringLiteral("TeamArchive"), 1000,
                              QStringLiteral("For example: service=helpdesk, or host=db.example.com dbname=helpdesk "
                                             "sslmode=verify-full. Empty: chats are kept on this computer only. "
                                             "Passwords belong in ~/.pgpass or the service file."));
    SchemaEdit = AddEdit(layout, QStringLiteral(" Schema "), QStringLiteral("TeamArchiveSchema"), 63);
    TestBtn = new QPushButton(QStringLiteral("&Test connection"), this);
    TestBtn->setObjectName(QStringLiteral("TestConnectionBtn"));
    Result = new QLabel(this);
    Result->setObjectName(QStringLiteral("TestConnectionResult"));
    Result->setTextFormat(Qt::PlainText);
    Result->setWordWrap(true);
    layout->addWidget(TestBtn, 0, Qt::AlignLeft);
    layout->addWidget(Result);
    layout->addStretch(1);
    connect(TestBtn, &QPushButton::clicked, this, [this] {
        QString error;
        if (TTeamDb::ConnectionString(TeamArchiveEdit->text(), &error).isEmpty()) {
            Result->setText(error);
            return;
        }
        TestBtn->setEnabled(false);
        Result->setText(QStringLiteral("Connecting…"));
        TTeamArchive::TestConnection(this, TeamArchiveEdit->text(), SchemaEdit->text(),
                                     [this](const QString &result, bool) {
                                         TestBtn->setEnabled(true);
                                         Result->setText(result);
                                     });
    });
}

void TTeamArchivePage::Fill(const TSettings &s)
{
    TeamArchiveEdit->setText(s.TeamArchive);
    SchemaEdit->setText(s.TeamArchiveSchema);
    Result->clear();
}

bool TTeamArchivePage::Collect(TSettings &s)
{
    QString error;
    const QString setting = TeamArchiveEdit->text().trimmed();
    if (!setting.isEmpty() && TTeamDb::ConnectionString(setting, &error).isEmpty()) {
        ShowBox(error, QStringLiteral("Team archive"), BoxIcon::Error);
        TeamArchiveEdit->setFocus();
        return false;
    }
    if (!CheckStorable(TeamArchiveEdit) || !CheckStorable(SchemaEdit))
        return false;
    s.TeamArchive = setting;
    s.TeamArchiveSchema = SchemaEdit->text().trimmed().isEmpty() ? QString::fromLatin1(kTeamDefaultSchema)
                                                                 : SchemaEdit->text().trimmed();
    return true;
}

} // namespace velmora
