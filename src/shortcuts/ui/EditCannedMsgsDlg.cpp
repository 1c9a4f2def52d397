#include "shortcuts/ui/EditCannedMsgsDlg.h"

#include "config/Settings.h"
#include "diag/AnsiText.h"
#include "shortcuts/Placeholders.h"
#include "diag/HelpContexts.h"
#include "diag/Boxes.h"

#include <QComboBox>
#include <QGroupBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTextEdit>
#include <QVBoxLayout>

namespace velmora {
namespace {

const char kCrLf[] = "\r\n";

QPushButton *MakeButton(const QString &caption, const QString &hint, QWidget *parent)
{
    auto *button = new QPushButton(caption, parent);
    button->setToolTip(hint);
    // Enter in the fields must not press a button behind the operator's back.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

} // namespace

TEditCannedMsgsDlg::TEditCannedMsgsDlg(QWidget *parent, Mode mode, TTitleDataClass &list)
    : QDialog(parent), m_mode(mode), m_list(list)
{
    const bool urls = mode == Mode::PushUrls;
    setProperty("helpContext", HelpContext()); // for F1
    setWindowTitle(urls ? QStringLiteral("  Push URL shortcuts editor")
                        : QStringLiteral("  Canned messages shortcuts editor"));
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    TitleGroup = new QGroupBox(QStringLiteral(" Shortcut "), this);
    TitleEdit = new QComboBox(TitleGroup);
    TitleEdit->setObjectName(QStringLiteral("TitleEdit"));
    TitleEdit->setEditable(true);
    // The entry follows the typing; Qt must neither add entries nor complete.
    TitleEdit->setInsertPolicy(QComboBox::NoInsert);
    TitleEdit->setCompleter(nullptr);
    TitleEdit->setToolTip(QStringLiteral("Type here the shortcut name/string"));
    auto *titleLayout = new QVBoxLayout(TitleGroup);
    titleLayout->addWidget(TitleEdit);

    MessageGroup = new QGroupBox(urls ? QStringLiteral(" URL (do not forget to add  http:// or https://  prefix !) ")
                                      : QStringLiteral(" Message "),
                                 this);
    MessageGroup->setToolTip(urls ? QStringLiteral("Write here the actual URL.")
                                  : QStringLiteral("Write here the message itself."));
    MessageEdit = new QPlainTextEdit(MessageGroup);
    MessageEdit->setObjectName(QStringLiteral("MessageEdit"));
    MessageEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MessageEdit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff); // lines wrap
    auto *messageLayout = new QVBoxLayout(MessageGroup);
    messageLayout->addWidget(MessageEdit);
    if (!urls) {
        QStringList help;
        for (const auto &[placeholder, meaning] : PlaceholderHelp())
            help << placeholder + QStringLiteral("  ") + meaning;
        PlaceholdersLabel = new QLabel(QStringLiteral("Filled in for each chat:\n") + help.join(QLatin1Char('\n')),
                                       MessageGroup);
        PlaceholdersLabel->setTextFormat(Qt::PlainText);
        PreviewLabel = new QLabel(MessageGroup);
        PreviewLabel->setObjectName(QStringLiteral("PreviewLabel"));
        PreviewLabel->setTextFormat(Qt::PlainText); // the answer's own text, never markup
        PreviewLabel->setWordWrap(true);
        PreviewLabel->setFrameShape(QFrame::StyledPanel);
        messageLayout->addWidget(PlaceholdersLabel);
        messageLayout->addWidget(PreviewLabel);
    }

    AddBtn = MakeButton(QStringLiteral("Add"), QStringLiteral("Add a new shortcut "), this);
    RemoveBtn = MakeButton(QStringLiteral("Remove"), QStringLiteral("Remove current shortcut "), this);
    UpdateBtn = MakeButton(QStringLiteral("Update"), QStringLiteral("Update current shortcut "), this);
    CancelBtn = MakeButton(QStringLiteral("Cancel"), QStringLiteral("Cancel changes to current shortcut "), this);
    CloseBtn = MakeButton(QStringLiteral("Close"), QStringLiteral("Close dialog and save unsaved data."), this);

    auto *buttons = new QHBoxLayout;
    for (QPushButton *b : {AddBtn, RemoveBtn, UpdateBtn, CancelBtn})
        buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(CloseBtn);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(TitleGroup);
    layout->addWidget(MessageGroup, 1);
    layout->addLayout(buttons);
    resize(460, urls ? 300 : 470);

    connect(AddBtn, &QPushButton::clicked, this, &TEditCannedMsgsDlg::AddBtnClick);
    connect(RemoveBtn, &QPushButton::clicked, this, &TEditCannedMsgsDlg::RemoveBtnClick);
    connect(UpdateBtn, &QPushButton::clicked, this, &TEditCannedMsgsDlg::UpdateBtnClick);
    connect(CancelBtn, &QPushButton::clicked, this, &TEditCannedMsgsDlg::CancelBtnClick);
    connect(CloseBtn, &QPushButton::clicked, this, &TEditCannedMsgsDlg::CloseBtnClick);
    // textEdited fires for the operator's typing only, never for our setText.
    connect(TitleEdit->lineEdit(), &QLineEdit::textEdited, this, [this] {
        if (m_filling)
            return;
        FieldEdited();
        TitleEditChange();
    });
    connect(TitleEdit, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_filling)
            TitleEditChange();
    });
    connect(MessageEdit, &QPlainTextEdit::textChanged, this, [this] {
        MarkUncarried();
        ShowPreview();
        if (!m_filling)
            FieldEdited();
    });

    FormShow();
}

int TEditCannedMsgsDlg::HelpContext() const
{
    return m_mode == Mode::PushUrls ? UrlEditorContext : CannedEditorContext;
}

void TEditCannedMsgsDlg::EditShortcuts(QWidget *parent, Mode mode, TTitleDataClass &list)
{
    {
        TEditCannedMsgsDlg dialog(parent, mode, list);
        dialog.exec();
    }
    list.Save();
}

void TEditCannedMsgsDlg::FormShow()
{
    QScopedValueRollback guard(m_filling, true);
    m_current = 0;
    if (m_list.Count() == 0) {
        SetFieldsEnabled(false);
        SetModified(false);
        return;
    }
    SetFieldsEnabled(true);
    for (int i = 0; i < m_list.Count(); ++i)
        TitleEdit->addItem(m_list.Get(i).Title);
    ShowRecord();
}

void TEditCannedMsgsDlg::setVisible(bool visible)
{
    QDialog::setVisible(visible);
    // Showing a dialog hands its focus widget a tab-focus event, which selects
    // the whole title; the caret goes after it so typing extends the name.
    if (visible && TitleEdit->isEnabled())
        TitleEdit->lineEdit()->setCursorPosition(int(TitleEdit->currentText().size()));
}

void TEditCannedMsgsDlg::ShowRecord()
{
    QScopedValueRollback guard(m_filling, true);
    const ShortcutRecord record = m_list.Get(m_current);
    // The entry may carry typed text that is now dropped.
    TitleEdit->setItemText(m_current, record.Title);
    TitleEdit->setCurrentIndex(m_current);
    TitleEdit->setEditText(record.Title);
    QString text = record.Text;
    text.replace(QLatin1String(kCrLf), QStringLiteral("\n"));
    MessageEdit->setPlainText(text);
    TitleEdit->lineEdit()->setCursorPosition(int(record.Title.size()));
    TitleEdit->setFocus();
    SetModified(false);
}

void TEditCannedMsgsDlg::SetFieldsEnabled(bool enabled)
{
    TitleEdit->setEnabled(enabled);
    MessageEdit->setEnabled(enabled);
    RemoveBtn->setEnabled(enabled);
}

void TEditCannedMsgsDlg::SetModified(bool modified)
{
    UpdateBtn->setEnabled(modified);
    CancelBtn->setEnabled(modified);
}

QString TEditCannedMsgsDlg::MessageText() const
{
    QString text = MessageEdit->toPlainText();
    text.replace(QLatin1Char('\n'), QLatin1String(kCrLf));
    return text;
}

void TEditCannedMsgsDlg::ShowPreview()
{
    if (!PreviewLabel)
        return;
    TPlaceholderValues sample;
    sample.Visitor = QStringLiteral("Anna Lindqvist");
    sample.Email = QStringLiteral("anna@example.com");
    sample.Site = QStringLiteral("www.example.com");
    sample.Operator = Settings().SupportName;
    SetPlaceholderClock(sample, QDateTime::currentDateTime());
    PreviewLabel->setText(QStringLiteral("Anna Lindqvist would read:\n")
                          + FillPlaceholders(MessageEdit->toPlainText(), sample).Text);
}

void TEditCannedMsgsDlg::MarkUncarried()
{
    // The characters the file cannot hold, marked as the chat input marks them.
    QList<QTextEdit::ExtraSelection> marks;
    const QString text = MessageEdit->toPlainText();
    for (const qsizetype at : UncarriedPositions(text)) {
        QTextEdit::ExtraSelection mark;
        mark.cursor = QTextCursor(MessageEdit->document());
        mark.cursor.setPosition(int(at));
        mark.cursor.setPosition(int(at) + (text.at(at).isHighSurrogate() && at + 1 < text.size() ? 2 : 1),
                                QTextCursor::KeepAnchor);
        mark.format.setBackground(QColor(255, 210, 210));
        mark.format.setUnderlineStyle(QTextCharFormat::WaveUnderline);
        mark.format.setUnderlineColor(Qt::red);
        marks.append(mark);
    }
    MessageEdit->setExtraSelections(marks);
}

bool TEditCannedMsgsDlg::StoreFields()
{
    const QString title = TitleEdit->currentText();
    const QString text = MessageText();
    // The file is 8-bit: nothing turns into "?" without the operator knowing.
    const QString lost = UncarriedCharacters(title + text);
    if (!lost.isEmpty()) {
        const BoxAnswer answer =
            ShowBox(QStringLiteral("These characters cannot be saved and would be stored as \"?\": ") + lost
                        + QStringLiteral("\n\nSave anyway?"),
                    QStringLiteral("Warning"), BoxIcon::Warning, BoxButtons::OkCancel);
        if (answer != BoxAnswer::Ok)
            return false;
    }
    m_list.Update(m_current, title, text);
    return true;
}

void TEditCannedMsgsDlg::FieldEdited()
{
    if (TitleEdit->isEnabled())
        SetModified(true);
}

void TEditCannedMsgsDlg::TitleEditChange()
{
    if (m_list.Count() == 0)
        return;
    const int picked = TitleEdit->currentIndex();
    if (picked == m_current || picked < 0) {
        // Typing: the entry of the current shortcut follows the text at once.
        QScopedValueRollback guard(m_filling, true);
        QLineEdit *line = TitleEdit->lineEdit();
        const QString typed = line->text();
        const int caret = line->cursorPosition();
        TitleEdit->setItemText(m_current, typed);
        TitleEdit->setCurrentIndex(m_current);
        if (line->text() != typed)
            line->setText(typed);
        line->setCursorPosition(caret);
        return;
    }
    if (UpdateBtn->isEnabled()) {
        {
            QScopedValueRollback guard(m_filling, true);
            TitleEdit->setCurrentIndex(m_current);
        }
        ShowBox(QStringLiteral("Data has not been saved, click Apply, Cancel or Remove"),
                QStringLiteral("ERROR"), BoxIcon::None, BoxButtons::Ok);
        return;
    }
    m_current = picked;
    ShowRecord();
}

void TEditCannedMsgsDlg::UpdateBtnClick()
{
    if (m_current < 0 || m_current >= m_list.Count())
        return;
    if (!StoreFields())
        return; // the edits stay in the fields
    ShowRecord();
}

void TEditCannedMsgsDlg::CancelBtnClick()
{
    if (m_current < 0 || m_current >= m_list.Count())
        return;
    ShowRecord();
}

void TEditCannedMsgsDlg::AddBtnClick()
{
    if (UpdateBtn->isEnabled()) {
        UpdateBtnClick();
        if (UpdateBtn->isEnabled())
            return; // not stored: the operator goes on editing this one
    }
    QScopedValueRollback guard(m_filling, true);
    m_list.Add(QString(), QString());
    TitleEdit->addItem(QString());
    m_current = m_list.Count() - 1;
    TitleEdit->setCurrentIndex(m_current);
    TitleEdit->setEditText(QString());
    MessageEdit->clear();
    SetFieldsEnabled(true);
    TitleEdit->setFocus();
    // The new record must be stored (or removed) before another can be picked.
    UpdateBtn->setEnabled(true);
    CancelBtn->setEnabled(false);
}

void TEditCannedMsgsDlg::RemoveBtnClick()
{
    if (m_current < 0 || m_current >= m_list.Count())
        return;
    QScopedValueRollback guard(m_filling, true);
    m_list.Remove(m_current);
    TitleEdit->removeItem(m_current);
    if (m_list.Count() > 0) {
        if (m_current >= m_list.Count())
            m_current = m_list.Count() - 1;
        ShowRecord();
        return;
    }
    m_current = 0;
    TitleEdit->setEditText(QString());
    MessageEdit->clear();
    SetFieldsEnabled(false);
    SetModified(false);
}

void TEditCannedMsgsDlg::CloseBtnClick()
{
    if (UpdateBtn->isEnabled() && m_current >= 0 && m_current < m_list.Count()) {
        if (!StoreFields())
            return; // the dialog stays open with the edits
        // A shortcut left with neither title nor text (an "Add" never filled
        // in) would only be a blank line in the lists.
        const ShortcutRecord stored = m_list.Get(m_current);
        if (stored.Title.isEmpty() && stored.Text.isEmpty())
            m_list.Remove(m_current);
        SetModified(false);
    }
    QDialog::accept();
}

void TEditCannedMsgsDlg::reject()
{
    CloseBtnClick();
}

} // namespace velmora
