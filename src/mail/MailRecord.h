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
    // Given once, so that a second try (after a crash, or for a recipient
    // refused the first time) is recognisably the same message.
    QString MessageId;
    // The envelope's recipients when only some of To and Cc still wait for
    // it; empty: all of them.
    QStringList Recipients;
};

} // namespace velmora
