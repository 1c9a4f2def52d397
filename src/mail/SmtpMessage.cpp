#include "mail/SmtpMessage.h"

#include "diag/SafeText.h"
#include "Version.h"

#include <QDateTime>
#include <QFileInfo>

namespace velmora {
namespace {

QString QuotedName(const QString &name)
{
    QString n = OneLine(name);
    n.replace(QLatin1Char('"'), QLatin1Char('_'));
    return QLatin1Char('"') + n + QLatin1Char('"');
}

void AddAddressListHeader(std::deque<QByteArray> &out, const char *name, const QString &value)
{
    const QStringList pieces = SplitAddressList(value);
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        QString line = i == 0 ? QString::fromLatin1(name) + QStringLiteral(": ") : QStringLiteral("\t");
        line += EncodeAddressPiece(pieces[i]);
        if (i + 1 < pieces.size())
            line += QLatin1Char(',');
        out.push_back(line.toLatin1());
    }
}

} // namespace

TSmtpCli::TMessageLines::TMessageLines(TSmtpCli &client) : c(client)
{
    // The letter's encoding depends on every line, so look at them once
    // first; they are asked for again while sending.
    QString line;
    for (int k = 1; c.OnGetData && c.OnGetData(k, kGetDataBuffer, line); ++k)
        FitLetterEncoding(line.left(kGetDataBuffer - 1), m_encoding);
    m_multipart = !c.EmailFiles.isEmpty();
    m_boundary = MultipartBoundary(QDateTime::currentDateTime());
    if (!c.OwnHeaders)
        BuildHeaders();
}

bool TSmtpCli::TMessageLines::Next(QByteArray &line)
{
    while (m_pending.empty()) {
        if (!Refill())
            return false;
    }
    line = std::move(m_pending.front());
    m_pending.pop_front();
    return true;
}

QByteArray TSmtpCli::TMessageLines::Charset() const
{
    return m_encoding.charset == "utf-8" ? QByteArray("utf-8") : c.CharSet.toLatin1();
}

QByteArray TSmtpCli::TMessageLines::TextType() const
{
    return QByteArray("Content-Type: ") + (c.ContentType == smtpHtml ? "text/html" : "text/plain")
           + "; charset=\"" + Charset() + "\"";
}

QByteArray TSmtpCli::TMessageLines::TransferEncoding() const
{
    return m_encoding.quotedPrintable ? "Content-Transfer-Encoding: quoted-printable"
                                      : "Content-Transfer-Encoding: 7bit";
}

void TSmtpCli::TMessageLines::BuildHeaders()
{
    auto &o = m_pending;
    if (!c.HdrReplyTo.trimmed().isEmpty())
        AddAddressListHeader(o, "Reply-To", c.HdrReplyTo);
    if (!c.HdrReturnPath.trimmed().isEmpty())
        o.push_back("Return-Path: " + EncodeAddressPiece(c.HdrReturnPath).toLatin1());
    if (!c.HdrFrom.isEmpty())
        o.push_back("From: " + EncodeAddressPiece(c.HdrFrom).toLatin1());
    if (!c.HdrTo.isEmpty())
        AddAddressListHeader(o, "To", c.HdrTo);
    if (!c.HdrCc.isEmpty())
        AddAddressListHeader(o, "Cc", c.HdrCc);
    const QStringList subject = EncodeHeaderText(c.HdrSubject, 9); // "Subject: "
    for (qsizetype i = 0; i < subject.size(); ++i)
        o.push_back((i == 0 ? QStringLiteral("Subject: ") : QStringLiteral(" ")).toLatin1() + subject[i].toLatin1());
    if (!c.HdrSender.trimmed().isEmpty())
        o.push_back("Sender: " + EncodeAddressPiece(c.HdrSender).toLatin1());
    else if (!c.HdrFrom.trimmed().isEmpty())
        o.push_back("Sender: " + EncodeAddressPiece(c.HdrFrom).toLatin1());
    o.push_back("Mime-Version: 1.0");
    if (m_multipart) {
        o.push_back("Content-Type: multipart/mixed;");
        o.push_back("\tboundary=\"" + m_boundary.toLatin1() + "\"");
    } else {
        o.push_back(TextType());
        if (m_encoding.quotedPrintable)
            o.push_back(TransferEncoding());
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    o.push_back("Date: " + MailDate(now).toLatin1());
    const QString id = IsPlausibleMessageId(c.HdrMessageId) ? c.HdrMessageId : MessageIdentifier(now, LocalHostName());
    o.push_back("Message-ID: <" + id.toLatin1() + ">");
    o.push_back(QByteArrayLiteral("X-Mailer: Velmora transcript mailer ") + kVersion);
    o.push_back(QByteArray());
    if (m_multipart) {
        o.push_back("This is a multipart MIME message.");
        o.push_back(QByteArray());
        o.push_back("--" + m_boundary.toLatin1());
        o.push_back(TextType());
        o.push_back(TransferEncoding());
        o.push_back(QByteArray());
    }
}

bool TSmtpCli::TMessageLines::Refill()
{
    switch (m_phase) {
    case Phase::Letter: {
        QString line;
        if (c.OnGetData && c.OnGetData(m_letterLine, kGetDataBuffer, line)) {
            ++m_letterLine;
            for (QByteArray &wire : EncodeLetterLine(line.left(kGetDataBuffer - 1), m_encoding))
                m_pending.push_back(std::move(wire));
            return true;
        }
        m_phase = m_multipart ? Phase::FileStart : Phase::Done;
        return true;
    }
    case Phase::FileStart: {
        if (m_file >= c.EmailFiles.size()) {
            m_pending.push_back(QByteArray());
            m_pending.push_back("--" + m_boundary.toLatin1() + "--");
            m_phase = Phase::Done;
            return true;
        }
        const TSmtpAttachment &a = c.EmailFiles[m_file];
        m_handle.setFileName(a.path);
        if (!m_handle.open(QIODevice::ReadOnly)) {
            // The message ends after what has been sent so far.
            m_phase = Phase::Done;
            return false;
        }
        const QString name = a.name.isEmpty() ? QFileInfo(a.path).fileName() : a.name;
        m_pending.push_back(QByteArray());
        m_pending.push_back("--" + m_boundary.toLatin1());
        m_pending.push_back("Content-Type: " + FileContentType(name).toLatin1() + ";");
        m_pending.push_back("\tname=" + QuotedName(name).toLatin1());
        m_pending.push_back("Content-Transfer-Encoding: base64");
        m_pending.push_back("Content-Disposition: attachment;");
        m_pending.push_back("\tfilename=" + QuotedName(name).toLatin1());
        m_pending.push_back(QByteArray());
        m_phase = Phase::FileBody;
        return true;
    }
    case Phase::FileBody: {
        const QByteArray chunk = m_handle.read(54);
        if (!chunk.isEmpty())
            m_pending.push_back(chunk.toBase64());
        if (chunk.size() < 54) {
            m_handle.close();
            ++m_file;
            m_phase = Phase::FileStart;
        }
        return true;
    }
    case Phase::Done:
        return false;
    }
    return false;
}

} // namespace velmora
