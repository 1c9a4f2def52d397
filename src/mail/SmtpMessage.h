#pragma once
// The message of the SMTP client, one wire line at a time (before
// dot-stuffing): the headers, the letter and the attached files in base64.
#include "mail/MailText.h"
#include "mail/SmtpCli.h"

#include <QFile>

#include <deque>

namespace velmora {

class TSmtpCli::TMessageLines {
public:
    explicit TMessageLines(TSmtpCli &client);
    bool Next(QByteArray &line);

private:
    QByteArray Charset() const;
    QByteArray TextType() const;
    QByteArray TransferEncoding() const;
    void BuildHeaders();
    bool Refill();

    enum class Phase { Letter, FileStart, FileBody, Done };
    TSmtpCli &c;
    std::deque<QByteArray> m_pending;
    Phase m_phase = Phase::Letter;
    TLetterEncoding m_encoding;
    bool m_multipart = false;
    QString m_boundary;
    int m_letterLine = 1;
    qsizetype m_file = 0;
    QFile m_handle;
};

} // namespace velmora
