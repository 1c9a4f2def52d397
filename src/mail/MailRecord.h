#pragma once
#include <QString>
#include <QStringList>

namespace velmora {

// One queued transcript, owned by the queue from AddMail until it is sent or
// dropped.
struct TMailRecord {
    QString Subject;
    QString FromAddr;
    QString ReplyToAddr;
    QString ToAddr;
    QString CcAddr;
    QStringList MailBody;
    QString AttachFile;  // the file on disk
    QString AttachName;  // its name in the mail; empty: the file's own name
    QString ClientName;  // for the log line of the delivery
    QString RecordFile;  // its record in the outbox; empty when it has none
};

} // namespace velmora
