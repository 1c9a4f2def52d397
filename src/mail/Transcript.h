#pragma once
// Composing a transcript mail when a customer chat ends: the letter from the
// template "base_mail.txt", the header block at the top of the conversation,
// the recipients, and the attachment file. Widget-free: the chat window hands
// over a plain record of what it knows.
#include "mail/MailRecord.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace velmora {

struct TSettings;
class TOutbox;

// What the composition needs from an ending chat.
struct TTranscriptSource {
    qint32 SessionCount = 0;
    QString Name;            // the caller's name as the window holds it at the end
    QString Email;           // the caller's address as the window holds it (the recipient)
    bool HandedOver = false; // transferred: the receiving console mails it
    QString WarningCaption;  // the chat window's caption for its boxes
    QByteArray Conversation; // the transcript view as RTF, header block included
};

// The values of the header block, from the call list row.
struct TTranscriptHeader {
    QString ClientEmail;
    QString StartTime;
    QString EndTime;
    QString SupportName;
};

// The nine lines of the header block at the top of the conversation.
QStringList TranscriptHeaderLines(const TTranscriptHeader &header);

// The template's lines; UTF-8 when the file is valid UTF-8, else Latin-1.
// nullopt when it cannot be read.
std::optional<QStringList> LoadMailTemplate(const QString &path);

struct TRecipients {
    QString to; // empty: there is nobody to send it to, `note` says why
    QString replyTo;
    QString cc;
    QString note; // for the operator, when the caller's address was no address
};
// Who gets the transcript; nullopt: nobody, as the operator expects (no
// address given, or handed over). A caller's address that is not a plausible
// address sends it to the CC address alone, which would have had a copy
// anyway; without one, `to` is empty and `note` tells.
std::optional<TRecipients> ChooseRecipients(const TTranscriptSource &source, const TSettings &settings);

class TTranscriptComposer {
public:
    // `startDirectory` holds base_mail.txt. The attachment goes to `outbox`
    // with the record, or without an outbox into `startDirectory`.
    explicit TTranscriptComposer(QString startDirectory, TOutbox *outbox = nullptr)
        : m_startDirectory(std::move(startDirectory)), m_outbox(outbox)
    {
    }

    // Steps 3 onwards of the composition; the box for a missing template is
    // shown here. nullopt: no mail for this chat.
    std::optional<TMailRecord> Compose(const TTranscriptSource &source, const TSettings &settings);

    int ChatFileCount = 0; // number of the next attachment file
    // Told when the caller's address was no address, or the outbox was full:
    // the text, and whether the transcript stays unsent (kept in the
    // outbox's failed folder).
    std::function<void(const QString &text, bool notSent)> OnAddressProblem;

private:
    QString m_startDirectory;
    TOutbox *m_outbox;
};

} // namespace velmora
