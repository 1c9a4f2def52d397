#pragma once
// The choice of a supporter of the same group, for a transfer or a supporter
// chat: one row per online supporter, "Open Selected" or "Cancel".
#include "diag/Boxes.h"

#include <QDialog>

class QPushButton;
class QTreeWidget;

namespace velmora {

class TOnlineSupportersDlg : public QDialog {
    Q_OBJECT
public:
    // `caption` says what the choice is for (a transfer or a supporter chat).
    explicit TOnlineSupportersDlg(const QList<SupporterRow> &rows, const QString &caption = {},
                                  QWidget *parent = nullptr);

    // The chosen row, or -1 (Cancel, or not closed by "Open Selected").
    int Chosen() const { return m_chosen; }

    // Shows the dialog modally and returns the choice.
    static int Choose(const QList<SupporterRow> &rows, const QString &caption = {});

    void OpenSelectedClick();

    QTreeWidget *SupportListView = nullptr;
    QPushButton *OpenBtn = nullptr;
    QPushButton *CancelBtn = nullptr;

private:
    int m_chosen = -1;
};

} // namespace velmora
