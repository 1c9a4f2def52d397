#include "config/ui/SetupPage.h"

#include "diag/AnsiText.h"
#include "diag/Boxes.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QVBoxLayout>

namespace velmora {

void TSetupPage::Watch(QLineEdit *edit)
{
    // textEdited: only the operator's typing, not Fill's setText.
    connect(edit, &QLineEdit::textEdited, this, &TSetupPage::Changed);
}

void TSetupPage::Watch(QComboBox *combo)
{
    if (combo->isEditable())
        connect(combo->lineEdit(), &QLineEdit::textEdited, this, &TSetupPage::Changed);
    connect(combo, &QComboBox::activated, this, &TSetupPage::Changed);
}

void TSetupPage::Watch(QAbstractButton *button)
{
    connect(button, &QAbstractButton::clicked, this, &TSetupPage::Changed);
}

void TSetupPage::Watch(QButtonGroup *group)
{
    connect(group, &QButtonGroup::buttonClicked, this, &TSetupPage::Changed);
}

QLineEdit *TSetupPage::AddEdit(QVBoxLayout *layout, const QString &group, const QString &name, int maxLength,
                               const QString &hint)
{
    auto *box = new QGroupBox(group, this);
    auto *inner = new QVBoxLayout(box);
    inner->setContentsMargins(6, 2, 6, 4);
    auto *edit = new QLineEdit(box);
    edit->setObjectName(name);
    if (maxLength > 0)
        edit->setMaxLength(maxLength);
    if (!hint.isEmpty())
        edit->setToolTip(hint);
    inner->addWidget(edit);
    layout->addWidget(box);
    Watch(edit);
    return edit;
}

QComboBox *TSetupPage::MakeCombo(const QString &name, const QStringList &items, bool editable)
{
    auto *combo = new QComboBox(this);
    combo->setObjectName(name);
    combo->setEditable(editable);
    if (editable)
        combo->setInsertPolicy(QComboBox::NoInsert);
    combo->addItems(items);
    Watch(combo);
    return combo;
}

std::optional<qint32> TSetupPage::ToInteger(QWidget *field, const QString &text, const QString &name, qint32 min,
                                            qint32 max) const
{
    bool ok = false;
    const qint32 value = text.trimmed().toInt(&ok, 10);
    if (ok && value >= min && value <= max)
        return value;
    QString why = ok ? QStringLiteral("'%1' is out of range").arg(text)
                     : QStringLiteral("'%1' is not a valid integer value").arg(text);
    if (ok && max == std::numeric_limits<qint32>::max())
        why += QStringLiteral(": the smallest value is %1").arg(min);
    else if (ok)
        why += QStringLiteral(": it must be a number from %1 to %2").arg(min).arg(max);
    // Where to look: the dialog has seven pages of fields.
    ShowBox(why + QStringLiteral("\n\nField: %1\nPage: %2").arg(name.trimmed(), Title()), QStringLiteral("Error"),
            BoxIcon::Error);
    if (field)
        field->setFocus(Qt::OtherFocusReason);
    return std::nullopt;
}

std::optional<qint32> TSetupPage::ToInteger(QComboBox *field, const QString &name, qint32 min, qint32 max) const
{
    return ToInteger(field, field->currentText(), name, min, max);
}

bool TSetupPage::Storable(const QString &text)
{
    // The settings file is Windows-1252, like the other consoles' files.
    return UncarriedPositions(text).isEmpty();
}

bool TSetupPage::CheckStorable(const QLineEdit *edit)
{
    if (Storable(edit->text()))
        return true;
    ShowBox(QStringLiteral("'%1' contains characters that the settings file cannot hold, please change it.")
                .arg(edit->text()),
            QStringLiteral("Error"), BoxIcon::Error);
    return false;
}

void TSetupPage::SelectNumber(QComboBox *combo, qint32 value, int fallback)
{
    const int index = combo->findText(QString::number(value));
    combo->setCurrentIndex(index >= 0 ? index : fallback);
}

} // namespace velmora
