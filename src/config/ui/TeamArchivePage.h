#pragma once
// "Team archive": the team's shared PostgreSQL archive, tried from the page
// without waiting for it.
#include "config/ui/SetupPage.h"
#include "diag/HelpContexts.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace velmora {

class TTeamArchivePage final : public TSetupPage {
    Q_OBJECT
public:
    explicit TTeamArchivePage(QWidget *parent = nullptr);
    SettingsPage Page() const override { return SettingsPage::TeamArchive; }
    QString Title() const override { return QStringLiteral("Team archive"); }
    int HelpContext() const override { return TeamArchiveSetupContext; }
    void Fill(const TSettings &s) override;
    bool Collect(TSettings &s) override;

    QLineEdit *TeamArchiveEdit;
    QLineEdit *SchemaEdit;
    QPushButton *TestBtn;
    QLabel *Result;
};

} // namespace velmora
