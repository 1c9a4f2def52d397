#include "mail/Outbox.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSaveFile>

namespace velmora {
namespace {

constexpr qint64 kMaxRecordBytes = 4 * 1024 * 1024;
const QString kRecordSuffix = QStringLiteral(".mail");
const QString kAttachSuffix = QStringLiteral(".rtf");

QString Field(const QJsonObject &o, const char *name) { return o.value(QLatin1String(name)).toString(); }

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
    if (!answer.isEmpty())
        o.insert(QStringLiteral("Answer"), answer);
    QSaveFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(QJsonDocument(o).toJson()) >= 0 && out.commit();
}

bool TOutbox::Store(TMailRecord &record, const QByteArray &attachment, QString *error)
{
    if (!QDir().mkpath(m_folder)) {
        if (error)
            *error = QStringLiteral("Could not create the mail folder ") + m_folder;
        return false;
    }
    if (Count() >= MaxMails || Bytes() + attachment.size() > MaxBytes) {
        if (error)
            *error = QStringLiteral("The mail outbox is full (%1 transcripts, %2 MB waiting), this transcript is not "
                                    "sent. Check the mail settings so that the waiting transcripts can go.")
                         .arg(Count())
                         .arg(Bytes() / (1024 * 1024));
        return false;
    }
    const QString id = NewId();
    const QString attach = QDir(m_folder).filePath(id + kAttachSuffix);
    const QString recordFile = QDir(m_folder).filePath(id + kRecordSuffix);
    QSaveFile out(attach);
    if (!out.open(QIODevice::WriteOnly) || out.write(attachment) != attachment.size() || !out.commit()) {
        if (error)
            *error = QStringLiteral("Could not write the chat transcript file ") + attach;
        return false;
    }
    record.AttachFile = attach;
    record.RecordFile = recordFile;
    if (!WriteRecord(recordFile, record, QString())) {
        QFile::remove(attach);
        record.AttachFile.clear();
        record.RecordFile.clear();
        if (error)
            *error = QStringLiteral("Could not write the mail record ") + recordFile;
        return false;
    }
    return true;
}

QList<TMailRecord> TOutbox::Load()
{
    QList<TMailRecord> out;
    QDir dir(m_folder);
    const QStringList names = dir.entryList({QLatin1Char('*') + kRecordSuffix}, QDir::Files, QDir::Name);
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
    QDir().mkpath(FailedFolder());
    const QDir failed(FailedFolder());
    if (!record.RecordFile.isEmpty()) {
        const QString target = failed.filePath(QFileInfo(record.RecordFile).fileName());
        // The record gets the server's answer; a record that could not be read
        // is moved as it is.
        if (record.ToAddr.isEmpty() || !WriteRecord(target, record, answer)) {
            QFile::remove(target);
            QFile::rename(record.RecordFile, target);
        }
        QFile::remove(record.RecordFile);
    }
    if (!record.AttachFile.isEmpty()) {
        const QString target = failed.filePath(QFileInfo(record.AttachFile).fileName());
        QFile::remove(target);
        QFile::rename(record.AttachFile, target);
    }
}

} // namespace velmora
