#include "app/EmailAddrEditDlg.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmora {

namespace {
// Longer than any real address, short enough to stay a one-line edit.
constexpr int kMaxEmailChars = 1024;
} // namespace

TEmailAddrEditDlg::TEmailAddrEditDlg(const QString &email, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("  User e-mail address editor"));
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    EmailEditText = new QLineEdit(this);
    EmailEditText->setMaxLength(kMaxEmailChars);
    EmailEditText->setText(email.left(kMaxEmailChars));
    EmailEditText->setMinimumWidth(260);
    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    OKBtn->setDefault(true);
    OKBtn->setAutoDefault(true);
    CancelBtn->setAutoDefault(false);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(EmailEditText);
    layout->addLayout(buttons);
    setFixedSize(sizeHint());
}

QString TEmailAddrEditDlg::Text() const
{
    return EmailEditText->text();
}

QString TEmailAddrEditDlg::Edit(const QString &email, QWidget *parent)
{
    TEmailAddrEditDlg dialog(email, parent);
    // OK keeps the edit; Cancel, Esc and the close box keep the old address.
    if (dialog.exec() != QDialog::Accepted)
        return email;
    return dialog.Text();
}

} // namespace velmora
