#pragma once
// The text rules of a transcript mail: addresses, address lists, header
// encoding and the transfer encodings of the letter. Pure functions, so the
// SMTP client and the composition share them and tests reach them directly.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace velmora {

// The address in "Name <a@b>", "'Name' <a@b>", "Name a@b" or "a@b"; empty
// when the text holds none.
QString ExtractAddress(const QString &text);

// Splits at every "," or ";" outside double quotes; pieces trimmed, empty
// ones dropped.
QStringList SplitAddressList(const QString &text);

// local@domain in plain ASCII with no blanks, quotes, brackets or control
// characters: what may go into RCPT TO and a header without harm.
bool IsPlausibleAddress(const QString &address);

// A header value: controls become blanks; text outside printable ASCII is
// sent as RFC 2047 encoded words (ISO-8859-1 when it fits, else UTF-8), no
// line of them over 76 characters; long plain text is cut at blanks. The
// result is one or more pieces: the first goes behind the header's name
// (`prefixLength` characters with ": "), each further one on a line of its
// own behind one blank.
QStringList EncodeHeaderText(const QString &text, int prefixLength = 0);
// One piece of an address list: a display name is encoded as above, the
// address in angle brackets stays as it is.
QString EncodeAddressPiece(const QString &piece);

// How the letter travels: 7bit when every line is ASCII and short enough for
// SMTP, quoted-printable otherwise. The charset is ISO-8859-1 unless some
// character needs UTF-8.
struct TLetterEncoding {
    bool quotedPrintable = false;
    QByteArray charset = "iso-8859-1";
};
// The wire lines of one letter line: the line itself in 7bit, or its
// quoted-printable lines (soft breaks at 76 characters).
QList<QByteArray> EncodeLetterLine(const QString &line, const TLetterEncoding &encoding);
// Widens `encoding` so that `line` fits it.
void FitLetterEncoding(const QString &line, TLetterEncoding &encoding);

// "application/octet-stream" and the few types known by extension.
QString FileContentType(const QString &fileName);

// "Mon, 7 Dec 2026 10:48:29 GMT"
QString MailDate(const QDateTime &utc);
// The identifier of Message-ID (without angle brackets).
QString MessageIdentifier(const QDateTime &utc, const QString &host);
// "= Multipart Boundary " + local "MMddyyhhmm".
QString MultipartBoundary(const QDateTime &local);

// The local host name as a valid host name (anything but letters, digits,
// "-" and "." replaced by "-"), for HELO and Message-ID.
QString LocalHostName();
// The name given in EHLO and HELO: the sign-on setting with every character a
// host name may not hold replaced by "-" (servers refuse anything else), or
// the local host name when nothing of it is left. An address literal such as
// "[192.0.2.1]" goes as it is.
QString EhloName(const QString &signOn);
// What may stand between the angle brackets of a Message-ID header: it is
// read back from files, so it must not be able to carry anything else.
bool IsPlausibleMessageId(const QString &id);

} // namespace velmora
