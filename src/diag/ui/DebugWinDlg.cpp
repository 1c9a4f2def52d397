#include "diag/ui/DebugWinDlg.h"

#include "mail/MailLineCollector.h"

#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScreen>
#include <QVBoxLayout>

namespace velmora {

TDebugWinDlg::TDebugWinDlg(TMailLineCollector &lines, QWidget *parent) : QDialog(parent)
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

    for (const QString &line : lines.Lines())
        AddDebugLine(line);
    connect(&lines, &TMailLineCollector::LineAdded, this, &TDebugWinDlg::AddDebugLine);
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

QStringList TDebugWinDlg::Lines() const
{
    const QString text = DebugMemo->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

} // namespace velmora
