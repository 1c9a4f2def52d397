#pragma once
// The outbox: every queued transcript kept on disk until it is delivered, so
// that an exit, a kill or a crash loses nothing. One folder, "outbox" in the
// working folder; per transcript an attachment "<id>.rtf" and a record
// "<id>.mail" (JSON), both written whole or not at all, the record last. Mails
// the server refused for good go to "outbox/failed" with its answer.
//
// Record files are read back as untrusted input: size-bounded, and a record
// that cannot be read goes to "failed" instead of stopping the queue.
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
    // Every waiting record, oldest first.
    QList<TMailRecord> Load();
    // Delivered or dropped: the record first, so a crash in between leaves an
    // orphan attachment rather than a record without one.
    void Remove(const TMailRecord &record);
    // Refused for good: both files to "failed", the server's answer in the record.
    void MoveToFailed(const TMailRecord &record, const QString &answer);

    int Count() const;
    qint64 Bytes() const;

    int MaxMails = kDefaultMaxMails;
    qint64 MaxBytes = kDefaultMaxBytes;

private:
    QString NewId();
    bool WriteRecord(const QString &path, const TMailRecord &record, const QString &answer);

    QString m_folder;
    int m_sequence = 0;
};

} // namespace velmora
