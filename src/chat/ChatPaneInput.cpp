// The chat pane's message input: the text to send as the wire will carry it,
// the keys that send, the typing notice's trigger, the "/" canned answers,
// and the mark on a line that never went.
#include "chat/ChatPane.h"

#include "chat/ChatHost.h"
#include "chat/ChatLines.h"
#include "config/Settings.h"
#include "diag/AnsiText.h"
#include "diag/Boxes.h"
#include "shortcuts/Canneddata.h"
#include "spell/SpellChecker.h"
#include "spell/SpellHighlighter.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCompleter>
#include <QKeyEvent>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QStandardItemModel>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>

namespace velmora {

QString TChatPane::InputPlainText() const
{
    return InputText->toPlainText();
}

QString TChatPane::MessageToSend()
{
    const QString text = OutgoingText();
    if (text.isEmpty()) {
        // Line breaks alone: nothing to send, and nothing left to go out
        // unseen in front of the next message.
        if (!InputPlainText().isEmpty())
            ClearInput();
        InputText->setFocus();
    }
    return text;
}

bool TChatPane::CloseWhileRemoteTypes(QWidget *owner)
{
    return ShowBox(QStringLiteral("Remote user still typing do you want to terminate anyway ? "),
                   QStringLiteral("Warning"), BoxIcon::Warning, BoxButtons::OkCancel, owner)
           != BoxAnswer::Cancel;
}

QString TChatPane::OutgoingText() const
{
    const QString text = InputPlainText();
    const auto isBreak = [](QChar c) { return c == QLatin1Char('\n') || c == QLatin1Char('\r'); };
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && isBreak(text.at(from)))
        ++from;
    while (to > from && isBreak(text.at(to - 1)))
        --to;
    return text.mid(from, to - from);
}

void TChatPane::ClearInput()
{
    InputText->clear();
}

void TChatPane::SetInputText(const QString &text)
{
    InputText->setPlainText(text);
    InputText->moveCursor(QTextCursor::End);
}

bool TChatPane::InputTextKeyPress(int key, Qt::KeyboardModifiers modifiers)
{
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return false;
    if (!Settings().UseEnterKeyToSendMessage)
        return false;
    if (modifiers & Qt::ShiftModifier) {
        // A line break inside the message, whatever the setting.
        InputText->insertPlainText(QStringLiteral("\n"));
        return true;
    }
    emit SendRequested();
    return true;
}

void TChatPane::OnInputTextChanged()
{
    if (m_trimmingInput)
        return;
    QString text = InputText->toPlainText();
    if (text.size() > kMaxInputChars) {
        // Drop what did not fit from the text just inserted (before the caret).
        QTextCursor cursor = InputText->textCursor();
        const int excess = int(text.size()) - kMaxInputChars;
        m_trimmingInput = true;
        cursor.setPosition(qMax(0, cursor.position() - excess));
        cursor.setPosition(cursor.position() + excess, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        if (InputText->document()->characterCount() - 1 > kMaxInputChars) {
            cursor.movePosition(QTextCursor::End);
            cursor.setPosition(kMaxInputChars, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        }
        m_trimmingInput = false;
        text = InputText->toPlainText();
    }
    MarkUncarried(text);
    emit InputChanged(text.isEmpty());
    OfferCannedAnswers();
}

void TChatPane::SetCannedAnswers(std::function<const TTitleDataClass *()> source)
{
    m_cannedSource = std::move(source);
    if (m_canned)
        return;
    m_canned = new QCompleter(new QStandardItemModel(this), this);
    m_canned->setWidget(InputText);
    // Matched on the title; the list shows the answer's start below it.
    m_canned->setCompletionRole(Qt::UserRole);
    m_canned->setCaseSensitivity(Qt::CaseInsensitive);
    m_canned->setFilterMode(Qt::MatchStartsWith);
    m_canned->setCompletionMode(QCompleter::PopupCompletion);
    connect(m_canned, qOverload<const QString &>(&QCompleter::activated), this,
            [this](const QString &title) { PutCannedAnswer(title); });
    // Ahead of the completer's own filter: the key that chooses must not
    // reach the input too, where Enter would send or break the line.
    m_canned->popup()->installEventFilter(this);
}

int TChatPane::CannedPrefixStart(QString *word) const
{
    const QTextCursor cursor = InputText->textCursor();
    const QString before = InputText->toPlainText().left(cursor.position());
    const qsizetype slash = before.lastIndexOf(QLatin1Char('/'));
    if (slash < 0 || (slash > 0 && !before.at(slash - 1).isSpace()))
        return -1;
    const QString typed = before.mid(slash + 1);
    if (typed.contains(QRegularExpression(QStringLiteral("\\s"))))
        return -1;
    *word = typed;
    return int(slash);
}

void TChatPane::OfferCannedAnswers()
{
    QString word;
    const TTitleDataClass *canned = m_cannedSource ? m_cannedSource() : nullptr;
    if (!m_canned || !canned || !InputText->hasFocus() || CannedPrefixStart(&word) < 0) {
        if (m_canned)
            m_canned->popup()->hide();
        return;
    }
    auto *model = static_cast<QStandardItemModel *>(m_canned->model());
    model->clear();
    const TPlaceholderValues values = m_placeholders ? m_placeholders() : TPlaceholderValues();
    for (int i = 0; i < canned->Count(); ++i) {
        const ShortcutRecord record = canned->Get(i);
        constexpr int kPreviewChars = 60;
        QString preview = FillPlaceholders(record.Text, values).Text.simplified();
        if (preview.size() > kPreviewChars)
            preview = preview.left(kPreviewChars - 1) + QChar(0x2026);
        auto *item = new QStandardItem(record.Title + QLatin1Char('\n') + QStringLiteral("    ") + preview);
        item->setData(record.Title, Qt::UserRole);
        item->setEditable(false);
        model->appendRow(item);
    }
    m_canned->setCompletionPrefix(word);
    if (m_canned->completionCount() == 0) {
        m_canned->popup()->hide();
        return;
    }
    QRect at = InputText->cursorRect();
    at.setWidth(m_canned->popup()->sizeHintForColumn(0) + 24);
    m_canned->complete(at);
    m_canned->popup()->setCurrentIndex(m_canned->completionModel()->index(0, 0));
}

void TChatPane::PutCannedAnswer(const QString &title)
{
    const TTitleDataClass *canned = m_cannedSource ? m_cannedSource() : nullptr;
    QString word;
    const int start = CannedPrefixStart(&word);
    if (!canned || start < 0)
        return;
    for (int i = 0; i < canned->Count(); ++i) {
        const ShortcutRecord record = canned->Get(i);
        if (record.Title != title)
            continue;
        PutAnswer(start, record.Text);
        emit CannedAnswerPut();
        return;
    }
}

void TChatPane::SetPlaceholderValues(std::function<TPlaceholderValues()> source)
{
    m_placeholders = std::move(source);
}

void TChatPane::PutAnswer(int from, const QString &answer)
{
    QString text = answer;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    const TFilledText filled = FillPlaceholders(text, m_placeholders ? m_placeholders() : TPlaceholderValues());
    QTextCursor cursor = InputText->textCursor();
    cursor.setPosition(qBound(0, from, cursor.position()), QTextCursor::KeepAnchor);
    const int start = qMin(cursor.anchor(), cursor.position());
    cursor.insertText(filled.Text); // plain text, as typed
    if (!filled.Unfilled.isEmpty()) {
        // Within the length limit the box may have cut the answer to.
        const int end = InputText->document()->characterCount() - 1;
        cursor.setPosition(qMin(end, start + filled.Unfilled.first().first));
        cursor.setPosition(qMin(end, start + filled.Unfilled.first().first + filled.Unfilled.first().second),
                           QTextCursor::KeepAnchor);
    }
    InputText->setTextCursor(cursor);
}

// --- spelling -------------------------------------------------------------------

void TChatPane::UseSpellChecker(ISpellChecker *checker)
{
    if (m_spell && (!checker || &m_spell->Checker() != checker)) {
        m_spell->setDocument(nullptr);
        delete m_spell;
        m_spell = nullptr;
    }
    if (checker && !m_spell) {
        m_spell = new TSpellHighlighter(InputText->document(), *checker);
        SetSpellNames(m_spellNames);
    }
}

void TChatPane::SetSpellNames(const QStringList &names)
{
    m_spellNames = names;
    if (m_spell)
        m_spell->SetNames(QStringList(names) << Settings().SupportName);
}

QMenu *TChatPane::InputMenu(int position)
{
    QMenu *menu = InputText->createStandardContextMenu();
    const std::optional<SpellWord> word = m_spell ? m_spell->MisspeltAt(position) : std::nullopt;
    if (!word || InputText->isReadOnly())
        return menu;
    const QString misspelt = InputText->document()->toPlainText().mid(word->start, word->length);
    QAction *first = menu->actions().value(0);
    const auto put = [&](QAction *action) { menu->insertAction(first, action); };
    constexpr int kMaxSuggestions = 6;
    const QStringList suggestions = m_spell->Checker().Suggest(misspelt, kMaxSuggestions);
    for (const QString &suggestion : suggestions) {
        auto *action = new QAction(suggestion, menu);
        QFont bold = action->font();
        bold.setBold(true);
        action->setFont(bold);
        connect(action, &QAction::triggered, this, [this, word, misspelt, suggestion] {
            // Only while the word is still there: the text may have changed under the menu.
            if (word->start + word->length > InputText->document()->characterCount() - 1)
                return;
            QTextCursor cursor(InputText->document());
            cursor.setPosition(word->start);
            cursor.setPosition(word->start + word->length, QTextCursor::KeepAnchor);
            if (cursor.selectedText() != misspelt)
                return;
            cursor.insertText(suggestion);
            InputText->setTextCursor(cursor);
        });
        put(action);
    }
    if (suggestions.isEmpty()) {
        auto *none = new QAction(QStringLiteral("(no suggestions)"), menu);
        none->setEnabled(false);
        put(none);
    }
    // "Add to dictionary" for good, "Ignore" until the console exits.
    for (const auto &[caption, remember] : {std::pair{"Add to dictionary", &ISpellChecker::Add},
                                            std::pair{"Ignore", &ISpellChecker::Ignore}}) {
        auto *action = new QAction(QString::fromLatin1(caption), menu);
        connect(action, &QAction::triggered, this, [this, misspelt, remember = remember] {
            if (!m_spell)
                return;
            (m_spell->Checker().*remember)(misspelt);
            m_spell->rehighlight();
        });
        put(action);
    }
    menu->insertSeparator(first);
    return menu;
}

void TChatPane::ShowInputMenu(int position, const QPoint &globalAt)
{
    QMenu *menu = InputMenu(position);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(globalAt);
}

void TChatPane::FollowSettings()
{
    const QString language = Settings().SpellLanguage;
    if (m_spellSetting != language) {
        m_spellSetting = language;
        UseSpellChecker(SpellCheckerFor(language));
    }
    ShowLineTimes(Settings().LineTimes);
}

void TChatPane::MarkUncarried(const QString &text)
{
    QList<QTextEdit::ExtraSelection> marks;
    const QList<qsizetype> positions = UncarriedPositions(text);
    for (const qsizetype at : positions) {
        QTextEdit::ExtraSelection mark;
        mark.cursor = QTextCursor(InputText->document());
        const int length = text.at(at).isHighSurrogate() && at + 1 < text.size() ? 2 : 1;
        mark.cursor.setPosition(int(at));
        mark.cursor.setPosition(int(at) + length, QTextCursor::KeepAnchor);
        mark.format.setBackground(QColor(255, 210, 210));
        mark.format.setUnderlineStyle(QTextCharFormat::WaveUnderline);
        mark.format.setUnderlineColor(Qt::red);
        mark.format.setToolTip(QStringLiteral("This character cannot be sent; it would arrive as \"?\"."));
        marks.append(mark);
    }
    InputText->setExtraSelections(marks);
    m_uncarriedInInput = int(positions.size());
    InputText->setToolTip(positions.isEmpty()
                              ? QStringLiteral("Write the message that will be send to the remote side.")
                              : QStringLiteral("Marked characters cannot be sent; they would arrive as \"?\": ")
                                    + UncarriedCharacters(text));
}

} // namespace velmora
