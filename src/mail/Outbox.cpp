#include "mail/Outbox.h"

#include "mail/MailText.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSaveFile>

#include <sys/stat.h>

namespace velmora {
namespace {

constexpr qint64 kMaxRecordBytes = 4 * 1024 * 1024;
constexpr int kMaxRecipients = 100;
const QString kRecordSuffix = QStringLiteral(".mail");
const QString kAttachSuffix = QStringLiteral(".rtf");
constexpr QFile::Permissions kPrivateFile = QFile::ReadOwner | QFile::WriteOwner;

QString Field(const QJsonObject &o, const char *name) { return o.value(QLatin1String(name)).toString(); }

bool MakePrivateFolder(const QString &folder)
{
    return QDir().mkpath(folder)
           && QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Whole or not at all, and private from its first byte on disk.
bool WritePrivate(const QString &path, const QByteArray &bytes)
{
    QSaveFile out(path);
    return out.open(QIODevice::WriteOnly) && ::fchmod(out.handle(), 0600) == 0 && out.write(bytes) == bytes.size()
           && out.commit();
}

QString NewMessageId() { return MessageIdentifier(QDateTime::currentDateTimeUtc(), LocalHostName()); }

} // namespace

TOutbox::TOutbox(QString folder) : m_folder(std::move(folder)) {}

QString TOutbox::FailedFolder() const { return QDir(m_folder).filePath(QStringLiteral("failed")); }

QString TOutbox::NewId()
{
    // Sorts by time of creation; the sequence and the random part keep two
    // consoles' or two runs' names apart within one millisecond.
    return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-hhmmss-zzz"))
           + QStringLiteral("-%1-%2")
                 .arg(++m_sequence, 4, 10, QLatin1Char('0'))
                 .arg(QRandomGenerator::global()->bounded(0x10000), 4, 16, QLatin1Char('0'));
}

int TOutbox::Count() const
{
    return int(QDir(m_folder).entryList({QLatin1Char('*') + kRecordSuffix}, QDir::Files).size());
}

qint64 TOutbox::Bytes() const
{
    qint64 total = 0;
    for (const QFileInfo &f : QDir(m_folder).entryInfoList(QDir::Files))
        total += f.size();
    return total;
}

bool TOutbox::IsFull(qint64 bytes, QString *why) const
{
    const int count = Count();
    const qint64 total = Bytes();
    if (count < MaxMails && total + bytes <= MaxBytes)
        return false;
    if (why)
        *why = QStringLiteral("The mail outbox is full (%1 transcripts, %2 MB waiting), this transcript is not "
                              "sent. Check the mail settings so that the waiting transcripts can go.")
                   .arg(count)
                   .arg(total / (1024 * 1024));
    return true;
}

bool TOutbox::WriteRecord(const QString &path, const TMailRecord &r, const QString &answer)
{
    QJsonObject o;
    o.insert(QStringLiteral("Subject"), r.Subject);
    o.insert(QStringLiteral("FromAddr"), r.FromAddr);
    o.insert(QStringLiteral("ReplyToAddr"), r.ReplyToAddr);
    o.insert(QStringLiteral("ToAddr"), r.ToAddr);
    o.insert(QStringLiteral("CcAddr"), r.CcAddr);
    o.insert(QStringLiteral("MailBody"), QJsonArray::fromStringList(r.MailBody));
    o.insert(QStringLiteral("AttachName"), r.AttachName);
    o.insert(QStringLiteral("ClientName"), r.ClientName);
    if (!r.MessageId.isEmpty())
        o.insert(QStringLiteral("MessageId"), r.MessageId);
    if (!r.Recipients.isEmpty())
        o.insert(QStringLiteral("Recipients"), QJsonArray::fromStringList(r.Recipients));
    if (!answer.isEmpty())
        o.insert(QStringLiteral("Answer"), answer);
    return WritePrivate(path, QJsonDocument(o).toJson());
}

bool TOutbox::StoreIn(const QString &folder, TMailRecord &record, const QByteArray &attachment,
                      const QString &answer, QString *error)
{
    if (!MakePrivateFolder(folder)) {
        if (error)
            *error = QStringLiteral("Could not create the mail folder ") + folder;
        return false;
    }
    if (record.MessageId.isEmpty())
        record.MessageId = NewMessageId();
    const QString id = NewId();
    const QString attach = QDir(folder).filePath(id + kAttachSuffix);
    const QString recordFile = QDir(folder).filePath(id + kRecordSuffix);
    if (!WritePrivate(attach, attachment)) {
        if (error)
            *error = QStringLiteral("Could not write the chat transcript file ") + attach;
        return false;
    }
    record.AttachFile = attach;
    record.RecordFile = recordFile;
    if (!WriteRecord(recordFile, record, answer)) {
        QFile::remove(attach);
        record.AttachFile.clear();
        record.RecordFile.clear();
        if (error)
            *error = QStringLiteral("Could not write the mail record ") + recordFile;
        return false;
    }
    return true;
}

bool TOutbox::Store(TMailRecord &record, const QByteArray &attachment, QString *error)
{
    if (IsFull(attachment.size(), error))
        return false;
    return StoreIn(m_folder, record, attachment, QString(), error);
}

bool TOutbox::StoreFailed(TMailRecord &record, const QByteArray &attachment, const QString &answer, QString *error)
{
    MakePrivateFolder(m_folder);
    return StoreIn(FailedFolder(), record, attachment, answer, error);
}

bool TOutbox::Update(const TMailRecord &record)
{
    return !record.RecordFile.isEmpty() && WriteRecord(record.RecordFile, record, QString());
}

QList<TMailRecord> TOutbox::Load()
{
    QList<TMailRecord> out;
    QDir dir(m_folder);
    const QStringList names = dir.entryList({QLatin1Char('*') + kRecordSuffix}, QDir::Files, QDir::Name);
    if (!names.isEmpty())
        MakePrivateFolder(m_folder); // an outbox of an older version was readable by all
    for (const QString &name : names) {
        const QString path = dir.filePath(name);
        QFile f(path);
        QJsonObject o;
        if (f.open(QIODevice::ReadOnly) && f.size() <= kMaxRecordBytes)
            o = QJsonDocument::fromJson(f.read(kMaxRecordBytes)).object();
        f.close();
        TMailRecord r;
        r.RecordFile = path;
        const QString attach = dir.filePath(name.left(name.size() - kRecordSuffix.size()) + kAttachSuffix);
        r.AttachFile = attach;
        if (o.isEmpty() || Field(o, "ToAddr").isEmpty()) {
            MoveToFailed(r, QStringLiteral("The mail record could not be read"));
            continue;
        }
        r.Subject = Field(o, "Subject");
        r.FromAddr = Field(o, "FromAddr");
        r.ReplyToAddr = Field(o, "ReplyToAddr");
        r.ToAddr = Field(o, "ToAddr");
        r.CcAddr = Field(o, "CcAddr");
        for (const QJsonValue &line : o.value(QStringLiteral("MailBody")).toArray())
            r.MailBody << line.toString();
        r.AttachName = Field(o, "AttachName");
        r.ClientName = Field(o, "ClientName");
        for (const QJsonValue &to : o.value(QStringLiteral("Recipients")).toArray())
            if (r.Recipients.size() < kMaxRecipients && !to.toString().trimmed().isEmpty())
                r.Recipients << to.toString();
        r.MessageId = Field(o, "MessageId");
        QFile::setPermissions(path, kPrivateFile);
        QFile::setPermissions(attach, kPrivateFile);
        if (!IsPlausibleMessageId(r.MessageId)) {
            // A record of an older version: from now on it keeps this one.
            r.MessageId = NewMessageId();
            Update(r);
        }
        if (!QFile::exists(attach))
            r.AttachFile.clear(); // the letter still goes
        out << r;
    }
    return out;
}

void TOutbox::Remove(const TMailRecord &record)
{
    if (!record.RecordFile.isEmpty())
        QFile::remove(record.RecordFile);
    if (!record.AttachFile.isEmpty())
        QFile::remove(record.AttachFile);
}

void TOutbox::MoveToFailed(const TMailRecord &record, const QString &answer)
{
    MakePrivateFolder(FailedFolder());
    const QDir failed(FailedFolder());
    if (!record.RecordFile.isEmpty()) {
        const QString target = failed.filePath(QFileInfo(record.RecordFile).fileName());
        // The record gets the server's answer; a record that could not be read
        // is moved as it is.
        if (record.ToAddr.isEmpty() || !WriteRecord(target, record, answer)) {
            QFile::remove(target);
            QFile::rename(record.RecordFile, target);
            QFile::setPermissions(target, kPrivateFile);
        }
        QFile::remove(record.RecordFile);
    }
    if (!record.AttachFile.isEmpty()) {
        const QString target = failed.filePath(QFileInfo(record.AttachFile).fileName());
        QFile::remove(target);
        QFile::rename(record.AttachFile, target);
        QFile::setPermissions(target, kPrivateFile);
    }
}

bool TOutbox::SetAsideCopy(const TMailRecord &record, const QStringList &recipients, const QString &answer)
{
    TMailRecord copy = record;
    copy.Recipients = recipients;
    QByteArray attachment;
    if (!record.AttachFile.isEmpty()) {
        QFile f(record.AttachFile);
        if (f.open(QIODevice::ReadOnly))
            attachment = f.readAll();
    }
    if (!StoreIn(FailedFolder(), copy, attachment, answer, nullptr))
        return false;
    if (record.AttachFile.isEmpty())
        QFile::remove(copy.AttachFile); // there was none to keep
    return true;
}

} // namespace velmora
