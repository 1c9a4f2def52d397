#pragma once
// One page of the settings dialog: Fill shows the settings record, Collect
// checks the fields and copies them into a record. The dialog applies a page
// as a whole: a field that does not convert stops it before anything changes.
#include "config/Settings.h"

#include <QWidget>

#include <limits>
#include <optional>

class QAbstractButton;
class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QVBoxLayout;

namespace velmora {

class TSetupPage : public QWidget {
    Q_OBJECT
public:
    explicit TSetupPage(QWidget *parent = nullptr) : QWidget(parent) {}

    virtual SettingsPage Page() const = 0;
    virtual QString Title() const = 0;
    virtual int HelpContext() const = 0;
    virtual void Fill(const TSettings &s) = 0;
    // False after telling the operator what is wrong; `s` may then be partly
    // written and is thrown away by the caller.
    virtual bool Collect(TSettings &s) = 0;

    // Texts longer than this are cut by the fields that have a limit.
    static constexpr int kMaxText = 145;

signals:
    // The operator changed something on the page.
    void Changed();

protected:
    // Every change of these enables "Apply".
    void Watch(QLineEdit *edit);
    void Watch(QComboBox *combo);
    void Watch(QAbstractButton *button);
    void Watch(QButtonGroup *group);

    QLineEdit *AddEdit(QVBoxLayout *layout, const QString &group, const QString &name, int maxLength,
                       const QString &hint = {});
    // A combo box with `items`; editable lists take any typed text besides.
    QComboBox *MakeCombo(const QString &name, const QStringList &items, bool editable);

    // The text of `field` (called `name` on the page) as a whole decimal
    // number from `min` to `max`. Otherwise a box that names the field and
    // this page, the field gets the keyboard, and nothing is returned.
    std::optional<qint32> ToInteger(QWidget *field, const QString &text, const QString &name,
                                    qint32 min = std::numeric_limits<qint32>::min(),
                                    qint32 max = std::numeric_limits<qint32>::max()) const;
    std::optional<qint32> ToInteger(QComboBox *field, const QString &name, qint32 min = std::numeric_limits<qint32>::min(),
                                    qint32 max = std::numeric_limits<qint32>::max()) const;
    // The settings file keeps 8-bit text: a character it cannot hold would be
    // lost, so the operator is told instead.
    static bool Storable(const QString &text);
    static bool CheckStorable(const QLineEdit *edit);
    // Shows the fixed list's item equal to `value`, or item `fallback`.
    static void SelectNumber(QComboBox *combo, qint32 value, int fallback);
};

} // namespace velmora
