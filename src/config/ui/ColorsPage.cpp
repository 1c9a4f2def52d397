#include "config/ui/SetupPages.h"

#include "config/ui/SetupDialogs.h"

#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>

namespace velmora {

namespace {
QString CssColor(quint32 bgr)
{
    return QStringLiteral("#%1%2%3")
        .arg(bgr & 0xFF, 2, 16, QLatin1Char('0'))
        .arg((bgr >> 8) & 0xFF, 2, 16, QLatin1Char('0'))
        .arg((bgr >> 16) & 0xFF, 2, 16, QLatin1Char('0'));
}
} // namespace

TColorsPage::TColorsPage(QWidget *parent) : TSetupPage(parent)
{
    auto *layout = new QVBoxLayout(this);
    auto *panel = new QFrame(this);
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setAutoFillBackground(true);
    panel->setStyleSheet(QStringLiteral("QFrame { background-color: white; }"));
    auto *grid = new QGridLayout(panel);
    auto make = [&](const QString &name, const QString &text, int row, int column) {
        auto *label = new QLabel(text, panel);
        label->setObjectName(name);
        label->setCursor(Qt::PointingHandCursor);
        QFont bold = label->font();
        bold.setBold(column == 0);
        label->setFont(bold);
        label->installEventFilter(this);
        grid->addWidget(label, row, column);
        return label;
    };
    SupportNameColor = make(QStringLiteral("SupportNameColor"), QStringLiteral("SupportName:"), 0, 0);
    SupportTextColor = make(QStringLiteral("SupportTextColor"), QStringLiteral("This is an example line"), 0, 1);
    UserNameColor = make(QStringLiteral("UserNameColor"), QStringLiteral("UserName:"), 1, 0);
    UserTextColor = make(QStringLiteral("UserTextColor"), QStringLiteral("This is an example line"), 1, 1);
    grid->setColumnStretch(1, 1);
    m_labels[0] = SupportNameColor;
    m_labels[1] = SupportTextColor;
    m_labels[2] = UserNameColor;
    m_labels[3] = UserTextColor;
    layout->addWidget(panel);
    auto *explanation = new QLabel(QStringLiteral("To change display colors place the mouse over the text and click "
                                                  "with the left button to open the color chooser dialog. "),
                                   this);
    explanation->setWordWrap(true);
    layout->addWidget(explanation);
    layout->addStretch(1);
}

void TColorsPage::SetColor(int index, quint32 bgr)
{
    m_colors[index] = bgr; // kept whole: an odd stored value survives an apply
    m_labels[index]->setStyleSheet(QStringLiteral("color: ") + CssColor(m_colors[index]));
}

void TColorsPage::Fill(const TSettings &s)
{
    SetColor(0, s.SupportNameColor);
    SetColor(1, s.SupportTextColor);
    SetColor(2, s.UserNameColor);
    SetColor(3, s.UserTextColor);
}

bool TColorsPage::Collect(TSettings &s)
{
    s.SupportNameColor = m_colors[0];
    s.SupportTextColor = m_colors[1];
    s.UserNameColor = m_colors[2];
    s.UserTextColor = m_colors[3];
    return true;
}

void TColorsPage::ChooseColor(int index)
{
    const std::optional<quint32> chosen = SetupDialogs().ChooseColor(this, m_colors[index]);
    if (!chosen)
        return;
    SetColor(index, *chosen);
    emit Changed();
}

bool TColorsPage::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        for (int i = 0; i < 4; ++i)
            if (watched == m_labels[i]) {
                ChooseColor(i);
                return true;
            }
    }
    return TSetupPage::eventFilter(watched, event);
}

} // namespace velmora
