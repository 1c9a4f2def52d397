#include "AboutBox.h"

#include "Resources.h"
#include "Version.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmora {

TAboutBox::TAboutBox(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("About %1").arg(QLatin1String(ProductName)));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto *icon = new QLabel;
    icon->setPixmap(AppIcon().pixmap(64, 64));
    icon->setAlignment(Qt::AlignTop);

    auto *name = new QLabel(QLatin1String(ProductName));
    QFont big = name->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.6);
    name->setFont(big);

    auto *product = new QLabel(tr("KORVA Support console"));
    auto *version = new QLabel(tr("Version %1").arg(QLatin1String(kVersion)));
    auto *what = new QLabel(tr("The operator console of the KORVA live web-chat help desk: "
                               "answer your web site's visitors, chat with them and your "
                               "colleagues, and mail them the transcripts."));
    what->setWordWrap(true);
    what->setMinimumWidth(300);

    auto *text = new QVBoxLayout;
    text->addWidget(name);
    text->addWidget(product);
    text->addWidget(version);
    text->addSpacing(8);
    text->addWidget(what);
    text->addStretch(1);

    auto *top = new QHBoxLayout;
    top->addWidget(icon);
    top->addSpacing(12);
    top->addLayout(text, 1);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    OKBtn = buttons->button(QDialogButtonBox::Ok);
    OKBtn->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TAboutBox::Execute(QWidget *parent)
{
    TAboutBox box(parent);
    box.exec();
}

} // namespace velmora
