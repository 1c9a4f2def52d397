#include "config/ui/SetupPages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace velmora {

namespace {
const char kIntervalCaption[] = " Re connect time intervals (Sec) ";
const char kRetriesCaption[] = " Re connect retries count ";
} // namespace

TReconnectPage::TReconnectPage(QWidget *parent) : TSetupPage(parent)
{
    auto *layout = new QVBoxLayout(this);
    EnaReConnectNetErr = new QCheckBox(QStringLiteral(" Enable reconnect after network error !"), this);
    EnaReConnectNetErr->setObjectName(QStringLiteral("EnaReConnectNetErr"));
    Watch(EnaReConnectNetErr);
    connect(EnaReConnectNetErr, &QCheckBox::toggled, this, &TReconnectPage::ApplyEnablingRules);
    layout->addWidget(EnaReConnectNetErr);

    auto *group = new QGroupBox(QStringLiteral(" Re connect  settings "), this);
    auto *column = new QVBoxLayout(group);
    EnaNetErrorMsgsCheckBox = new QCheckBox(QStringLiteral("Display main application network error messages !"), group);
    EnaNetErrorMsgsCheckBox->setObjectName(QStringLiteral("EnaNetErrorMsgsCheckBox"));
    Watch(EnaNetErrorMsgsCheckBox);
    column->addWidget(EnaNetErrorMsgsCheckBox);

    QStringList intervals;
    for (int i = 1; i <= 10; ++i)
        intervals << QString::number(i);
    QStringList retries;
    for (int i = 5; i <= 60; i += 5)
        retries << QString::number(i);
    NetIntEditCombo = MakeCombo(QStringLiteral("NetIntEditCombo"), intervals, false);
    NetReConnetcRetCountCombo = MakeCombo(QStringLiteral("NetReConnetcRetCountCombo"), retries, false);
    auto addCombo = [&](const QString &caption, QComboBox *combo) {
        auto *box = new QGroupBox(caption, group);
        auto *row = new QHBoxLayout(box);
        row->addWidget(combo);
        column->addWidget(box);
    };
    addCombo(QString::fromLatin1(kIntervalCaption), NetIntEditCombo);
    addCombo(QString::fromLatin1(kRetriesCaption), NetReConnetcRetCountCombo);
    layout->addWidget(group);
    layout->addStretch(1);
}

void TReconnectPage::ApplyEnablingRules()
{
    const bool on = EnaReConnectNetErr->isChecked();
    NetIntEditCombo->setEnabled(on);
    NetReConnetcRetCountCombo->setEnabled(on);
    EnaNetErrorMsgsCheckBox->setEnabled(on);
}

void TReconnectPage::Fill(const TSettings &s)
{
    EnaReConnectNetErr->setChecked(s.ReConnectAfterNetError);
    EnaNetErrorMsgsCheckBox->setChecked(s.DisplayNetworkMessages);
    SelectNumber(NetIntEditCombo, s.ReConnectIntervals, 3);
    SelectNumber(NetReConnetcRetCountCombo, s.ReConnectRetriesVal, 2);
    ApplyEnablingRules();
}

bool TReconnectPage::Collect(TSettings &s)
{
    const std::optional<qint32> interval = ToInteger(NetIntEditCombo, QString::fromLatin1(kIntervalCaption));
    const std::optional<qint32> retries =
        interval ? ToInteger(NetReConnetcRetCountCombo, QString::fromLatin1(kRetriesCaption)) : std::nullopt;
    if (!interval || !retries)
        return false;
    s.ReConnectAfterNetError = EnaReConnectNetErr->isChecked();
    s.DisplayNetworkMessages = EnaNetErrorMsgsCheckBox->isChecked();
    s.ReConnectIntervals = *interval;
    s.ReConnectRetriesVal = *retries;
    return true;
}

} // namespace velmora
