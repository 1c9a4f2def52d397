#include "diag/ui/DebugWinDlg.h"

#include "mail/MailLineCollector.h"

#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

namespace velmora {

TDebugWinDlg::TDebugWinDlg(TMailLineCollector &lines, QWidget *parent) : QDialog(parent), m_lines(lines)
{
    setObjectName(QStringLiteral("DebugWinDlg"));
    setWindowTitle(QStringLiteral("Mail Send View..."));
    // A fixed border with a title and no border icons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(false);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    DebugMemo = new QPlainTextEdit(this);
    DebugMemo->setObjectName(QStringLiteral("DebugMemo"));
    DebugMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    DebugMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    DebugMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    DebugMemo->setMaximumBlockCount(int(TMailLineCollector::kMaxLines));
    layout->addWidget(DebugMemo);
    setFixedSize(432, 147);
    FormCreate();

    // Hidden, the window holds no copy of the dialogue: it fills itself from
    // the collector when shown.
    connect(&lines, &TMailLineCollector::LinesAdded, this, [this](const QStringList &batch) {
        if (isVisible())
            AddDebugLine(batch.join(QLatin1Char('\n')));
    });
    connect(&lines, &TMailLineCollector::Cleared, this, &TDebugWinDlg::ClearLines);
    connect(&lines, &TMailLineCollector::ShowRequested, this, [this] {
        if (!isVisible())
            show();
    });
}

void TDebugWinDlg::FormCreate()
{
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->geometry().width() - width() - 5, 5);
}

void TDebugWinDlg::AddDebugLine(const QString &text)
{
    // Plain text: a server's reply is never read as markup.
    DebugMemo->appendPlainText(text);
}

void TDebugWinDlg::ClearLines() { DebugMemo->clear(); }

// Only the program's own show and hide: a window the desktop minimised and
// restored keeps what it showed.
void TDebugWinDlg::showEvent(QShowEvent *event)
{
    if (!event->spontaneous()) {
        m_lines.Flush(); // what it would add is in the replay below
        DebugMemo->clear();
        if (!m_lines.Lines().empty())
            AddDebugLine(QStringList(m_lines.Lines().begin(), m_lines.Lines().end()).join(QLatin1Char('\n')));
    }
    QDialog::showEvent(event);
}

void TDebugWinDlg::hideEvent(QHideEvent *event)
{
    if (!event->spontaneous())
        DebugMemo->clear();
    QDialog::hideEvent(event);
}

QStringList TDebugWinDlg::Lines() const
{
    const QString text = DebugMemo->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

} // namespace velmora
