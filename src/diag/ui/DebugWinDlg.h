#pragma once
// "Mail Send View...": the SMTP dialogue of the transcript mails, line by
// line. While open it shows what the widget-free collector holds and follows
// it; it never owns the collector, and the collector never knows it.
#include <QDialog>
#include <QPointer>

class QPlainTextEdit;

namespace velmora {

class TMailLineCollector;

class TDebugWinDlg : public QDialog {
    Q_OBJECT
public:
    explicit TDebugWinDlg(TMailLineCollector &lines, QWidget *parent = nullptr);

    void AddDebugLine(const QString &text);
    void ClearLines();
    QStringList Lines() const;

    QPlainTextEdit *DebugMemo = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void FormCreate();

    TMailLineCollector &m_lines;
};

} // namespace velmora
