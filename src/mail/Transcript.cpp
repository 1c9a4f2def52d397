#include "mail/Transcript.h"

#include "archive/ArchiveRecorder.h"
#include "config/Genfunc.h"
#include "config/Settings.h"
#include "diag/Boxes.h"
#include "diag/SafeText.h"
#include "mail/MailText.h"
#include "mail/Outbox.h"

#include <QDir>
#include <QRegularExpression>
#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

namespace velmora {
namespace {

constexpr qint64 kMaxTemplateBytes = 1 << 20;
const char kNotSupplied[] = "Not Supplied !";
constexpr int kMaxKeptAddress = 256;

// The chat's archive learns where its transcript went.
void NoteFate(qint32 sessionCount, const TMailRecord &record, archive::Fate fate, const QString &answer)
{
    if (TArchiveRecorder *recorder = ArchiveRecorder()) {
        const QString to = QStringList{record.ToAddr, record.CcAddr}.filter(QRegularExpression(QStringLiteral("\\S")))
                               .join(QStringLiteral(", "));
        recorder->SetTranscriptFate(sessionCount, TTranscriptFate{fate, 0, to, answer, record.RecordFile});
    }
}

} // namespace

QStringList TranscriptHeaderLines(const TTranscriptHeader &h)
{
    return {
        QStringLiteral("General Info:"),
        QStringLiteral("  Client e-mail address:  ") + h.ClientEmail,
        QStringLiteral("  Chat Started at: ") + h.StartTime,
        QStringLiteral("  Chat Ended at: ") + h.EndTime,
        QStringLiteral("  Support Person: ") + h.SupportName,
        QString(),
        QString(),
        QStringLiteral("Chat Transcript:"),
        QString(),
    };
}

std::optional<QStringList> LoadMailTemplate(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.read(kMaxTemplateBytes);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = QString::fromLatin1(bytes);
    text.remove(QLatin1Char('\r'));
    if (text.isEmpty())
        return QStringList();
    QStringList lines = text.split(QLatin1Char('\n'));
    if (text.endsWith(QLatin1Char('\n')))
        lines.removeLast();
    return lines;
}

std::optional<TRecipients> ChooseRecipients(const TTranscriptSource &source, const TSettings &s)
{
    if (source.HandedOver)
        return std::nullopt;
    const QString email = source.Email.trimmed();
    const bool given = !email.isEmpty() && email != QLatin1String(kNotSupplied);
    if (given && IsPlausibleAddress(email))
        return TRecipients{email, s.ReplyToMailAddr, s.CC_MailAddr, QString()};
    const bool haveCc = !s.CC_MailAddr.trimmed().isEmpty();
    if (given) {
        // The operator or the caller typed something that is no address: the
        // transcript must not vanish without a word.
        const QString why = QStringLiteral("'%1' is not an e-mail address").arg(OneLine(email).left(100));
        if (haveCc)
            return TRecipients{s.CC_MailAddr, QString(), QString(),
                               QStringLiteral("Transcript for chat with %1 sent to the CC address only: %2")
                                   .arg(OneLine(source.Name), why)};
        return TRecipients{QString(), QString(), QString(),
                           QStringLiteral("Transcript for chat with %1 not sent: %2, and there is no CC address")
                               .arg(OneLine(source.Name), why)};
    }
    if (s.ForceCC && haveCc)
        return TRecipients{s.CC_MailAddr, QString(), QString(), QString()};
    return std::nullopt;
}

std::optional<TMailRecord> TTranscriptComposer::Compose(const TTranscriptSource &source, const TSettings &s)
{
    // 3. The template.
    std::optional<QStringList> body = LoadMailTemplate(QDir(m_startDirectory).filePath(QString::fromLatin1(kMailTemplateFileName)));
    if (!body) {
        ShowBox(QStringLiteral("base_mail.txt file missing, cannot send chat transcript"), source.WarningCaption,
                BoxIcon::Warning);
        return std::nullopt;
    }
    // 4. Its first line becomes the greeting; an empty template is the greeting alone.
    const QString dear = QStringLiteral("Dear ") + OneLine(source.Name) + QLatin1Char(',');
    if (body->isEmpty())
        body->append(dear);
    else
        (*body)[0] = dear;

    // 6. The attachment's number is used up whether or not a mail results.
    const QString fileName = QStringLiteral("Chat") + QString::number(ChatFileCount) + QStringLiteral(".rtf");
    ++ChatFileCount;

    // 7, 8.
    const std::optional<TRecipients> to = ChooseRecipients(source, s);
    if (!to)
        return std::nullopt;
    TMailRecord record;
    record.Subject = QStringLiteral("Transcript for chat with ") + OneLine(source.Name);
    record.FromAddr = s.SupportMailAddr;
    // Nobody to send it to: the record keeps what was typed, for whoever
    // looks into the failed folder.
    const bool unsendable = to->to.isEmpty();
    record.ToAddr = unsendable ? OneLine(source.Email.trimmed()).left(kMaxKeptAddress) : to->to;
    record.ReplyToAddr = to->replyTo;
    record.CcAddr = to->cc;
    record.MailBody = *body;
    record.ClientName = OneLine(source.Name);
    QString note = to->note;

    // 9. The conversation goes to the attachment file, written whole or not at all.
    record.AttachName = fileName;
    if (m_outbox) {
        // A full outbox (the mail server out of reach for long) keeps the new
        // transcript aside as well: never lost, and no box at a chat's end.
        QString full;
        const bool setAside = unsendable || m_outbox->IsFull(source.Conversation.size(), &full);
        const QString answer = unsendable ? note : full;
        QString error;
        if (setAside ? !m_outbox->StoreFailed(record, source.Conversation, answer, &error)
                     : !m_outbox->Store(record, source.Conversation, &error)) {
            ShowBox(error, source.WarningCaption, BoxIcon::Warning);
            return std::nullopt;
        }
        NoteFate(source.SessionCount, record, setAside ? archive::Fate::SetAside : archive::Fate::Queued, answer);
        if (unsendable)
            note += QStringLiteral("; it is kept in ") + m_outbox->FailedFolder();
        else if (setAside)
            note = QStringLiteral("Transcript for chat with %1: %2 It is kept in %3")
                       .arg(OneLine(source.Name), full, m_outbox->FailedFolder());
        if (setAside) {
            if (OnAddressProblem)
                OnAddressProblem(note, true);
            return std::nullopt;
        }
    } else if (!unsendable) {
        const QString path = QDir(m_startDirectory).filePath(fileName);
        QSaveFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(source.Conversation) != source.Conversation.size()
            || !out.commit()) {
            ShowBox(QStringLiteral("Could not write the chat transcript file ") + path
                        + QStringLiteral(", the transcript is not sent."),
                    source.WarningCaption, BoxIcon::Warning);
            return std::nullopt;
        }
        record.AttachFile = path;
    }
    if (!note.isEmpty() && OnAddressProblem)
        OnAddressProblem(note, unsendable);
    if (unsendable)
        return std::nullopt;
    return record;
}

} // namespace velmora
