#pragma once
// The outbox: every queued transcript kept on disk until it is delivered, so
// that an exit, a kill or a crash loses nothing. One folder, "outbox" in the
// working folder; per transcript an attachment "<id>.rtf" and a record
// "<id>.mail" (JSON), both written whole or not at all, the record last. Mails
// the server refused for good go to "outbox/failed" with its answer.
//
// Record files are read back as untrusted input: size-bounded, and a record
// that cannot be read goes to "failed" instead of stopping the queue. The
// files hold visitors' addresses and chats: readable by their user only.
#include "mail/MailRecord.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace velmora {

class TOutbox {
public:
    static constexpr int kDefaultMaxMails = 1000;
    static constexpr qint64 kDefaultMaxBytes = 200LL * 1024 * 1024;

    explicit TOutbox(QString folder);

    const QString &Folder() const { return m_folder; }
    QString FailedFolder() const;

    // Writes the attachment and the record; fills AttachFile and RecordFile.
    // False, with `error` saying why, when the outbox is full or the disk
    // refuses; nothing already stored is touched then.
    bool Store(TMailRecord &record, const QByteArray &attachment, QString *error);
    // No room for a transcript of `bytes` more; `why` says so for the operator.
    bool IsFull(qint64 bytes, QString *why = nullptr) const;
    // Straight into "failed" with `answer`, for a transcript that cannot wait
    // in the outbox; fills AttachFile and RecordFile like Store.
    bool StoreFailed(TMailRecord &record, const QByteArray &attachment, const QString &answer, QString *error);
    // Every waiting record, oldest first; one without a Message-ID is given
    // one and written back, so every later try carries the same.
    QList<TMailRecord> Load();
    // Writes the record again (its Message-ID, or the recipients still due).
    bool Update(const TMailRecord &record);
    // Delivered or dropped: the record first, so a crash in between leaves an
    // orphan attachment rather than a record without one.
    void Remove(const TMailRecord &record);
    // Refused for good: both files to "failed", the server's answer in the record.
    void MoveToFailed(const TMailRecord &record, const QString &answer);
    // A copy of the record and its attachment in "failed" for `recipients`
    // alone, the others having had it.
    bool SetAsideCopy(const TMailRecord &record, const QStringList &recipients, const QString &answer);

    int Count() const;
    qint64 Bytes() const;

    int MaxMails = kDefaultMaxMails;
    qint64 MaxBytes = kDefaultMaxBytes;

private:
    QString NewId();
    bool WriteRecord(const QString &path, const TMailRecord &record, const QString &answer);
    // Writes `attachment` and then the record under a new name in `folder`.
    bool StoreIn(const QString &folder, TMailRecord &record, const QByteArray &attachment, const QString &answer,
                 QString *error);

    QString m_folder;
    int m_sequence = 0;
};

} // namespace velmora
