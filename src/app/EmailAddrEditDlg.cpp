#include "app/EmailAddrEditDlg.h"

#include "mail/MailText.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmora {

namespace {
// Longer than any real address, short enough to stay a one-line edit.
constexpr int kMaxEmailChars = 1024;
// What the call list shows when the visitor gave no address: not a typing error.
const char kNotSupplied[] = "Not Supplied !";
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
    NotAnAddressLabel = new QLabel(
        QStringLiteral("This is not an e-mail address: the transcript cannot be sent to it."), this);
    NotAnAddressLabel->setObjectName(QStringLiteral("NotAnAddressLabel"));
    NotAnAddressLabel->setStyleSheet(QStringLiteral("color: #B00000;"));
    // Keeps its room when hidden, so the fixed-size dialog never jumps.
    QSizePolicy keep = NotAnAddressLabel->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    NotAnAddressLabel->setSizePolicy(keep);
    connect(EmailEditText, &QLineEdit::textChanged, this, &TEmailAddrEditDlg::CheckAddress);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(EmailEditText);
    layout->addWidget(NotAnAddressLabel);
    layout->addLayout(buttons);
    setFixedSize(sizeHint());
    CheckAddress();
}

void TEmailAddrEditDlg::CheckAddress()
{
    const QString text = EmailEditText->text().trimmed();
    const bool none = text.isEmpty() || text == QLatin1String(kNotSupplied);
    NotAnAddressLabel->setVisible(!none && !IsPlausibleAddress(text));
}

bool TEmailAddrEditDlg::WarningShown() const
{
    return !NotAnAddressLabel->isHidden();
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
