#include "mail/MailText.h"

#include "diag/SafeText.h"

#include <QFileInfo>
#include <QHostInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <optional>

namespace velmora {
namespace {

bool IsAtext(QChar c)
{
    const ushort u = c.unicode();
    if (u >= 0x80)
        return false;
    if (QChar::isLetterOrNumber(u))
        return true;
    return QByteArrayView("!#$%&'*+-/=?^_`{|}~").contains(char(u));
}

bool IsPrintableAscii(QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7f; }

// RFC 2047 words of at most 75 characters, the first at most `firstMax`.
QStringList EncodedWords(const QString &text, int firstMax = 75)
{
    constexpr int kMaxWord = 75;
    const auto limit = [&](const QStringList &done) { return done.isEmpty() ? std::min(firstMax, kMaxWord) : kMaxWord; };
    bool latin1 = true;
    for (QChar c : text)
        if (c.unicode() > 0xff)
            latin1 = false;
    QStringList words;
    if (latin1) {
        const QString head = QStringLiteral("=?iso-8859-1?Q?");
        QString word;
        for (QChar c : text) {
            QString enc;
            const ushort u = c.unicode();
            if (u == ' ')
                enc = QStringLiteral("_");
            else if (u > 0x20 && u < 0x7f && u != '=' && u != '?' && u != '_' && u != '"')
                enc = c;
            else
                enc = QString::asprintf("=%02X", u);
            if (head.size() + word.size() + enc.size() + 2 > limit(words) && !word.isEmpty()) {
                words << head + word + QStringLiteral("?=");
                word.clear();
            }
            word += enc;
        }
        if (!word.isEmpty() || words.isEmpty())
            words << head + word + QStringLiteral("?=");
        return words;
    }
    // Base64 of whole characters, so no word ends inside a UTF-8 sequence.
    const QString head = QStringLiteral("=?utf-8?B?");
    QByteArray chunk;
    auto flush = [&] {
        words << head + QString::fromLatin1(chunk.toBase64()) + QStringLiteral("?=");
        chunk.clear();
    };
    for (int i = 0; i < text.size(); ++i) {
        int len = 1;
        if (text[i].isHighSurrogate() && i + 1 < text.size())
            len = 2;
        const QByteArray bytes = text.mid(i, len).toUtf8();
        i += len - 1;
        if (head.size() + ((chunk.size() + bytes.size() + 2) / 3) * 4 + 2 > limit(words) && !chunk.isEmpty())
            flush();
        chunk += bytes;
    }
    if (!chunk.isEmpty() || words.isEmpty())
        flush();
    return words;
}

} // namespace

QString ExtractAddress(const QString &text)
{
    QString s = text;
    int i = 0;
    while (i < s.size() && s[i] == QLatin1Char(' '))
        ++i;
    s = s.mid(i);
    const qsizetype lt = s.indexOf(QLatin1Char('<'));
    if (lt >= 0) {
        // A quoted display name may itself hold "<": skip it first.
        qsizetype from = 0;
        if (!s.isEmpty() && (s[0] == QLatin1Char('"') || s[0] == QLatin1Char('\''))) {
            const qsizetype close = s.indexOf(s[0], 1);
            if (close > 0)
                from = close + 1;
        }
        const qsizetype open = s.indexOf(QLatin1Char('<'), from);
        if (open < 0)
            return QString();
        const qsizetype gt = s.indexOf(QLatin1Char('>'), open + 1);
        return (gt < 0 ? s.mid(open + 1) : s.mid(open + 1, gt - open - 1)).trimmed();
    }
    const QString t = s.trimmed();
    const qsizetype blank = t.indexOf(QLatin1Char(' '));
    if (blank > 0)
        return t.mid(blank + 1).trimmed();
    return t.contains(QLatin1Char('@')) ? t : QString();
}

QStringList SplitAddressList(const QString &text)
{
    QStringList out;
    QString piece;
    bool quoted = false;
    for (QChar c : text) {
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        if (!quoted && (c == QLatin1Char(',') || c == QLatin1Char(';'))) {
            if (!piece.trimmed().isEmpty())
                out << piece.trimmed();
            piece.clear();
            continue;
        }
        piece += c;
    }
    if (!piece.trimmed().isEmpty())
        out << piece.trimmed();
    return out;
}

bool IsPlausibleAddress(const QString &address)
{
    if (address.size() < 3 || address.size() > 254)
        return false;
    const qsizetype at = address.lastIndexOf(QLatin1Char('@'));
    if (at <= 0 || at == address.size() - 1 || address.indexOf(QLatin1Char('@')) != at)
        return false;
    const QString local = address.left(at);
    const QString domain = address.mid(at + 1);
    if (local.size() > 64 || local.startsWith(QLatin1Char('.')) || local.endsWith(QLatin1Char('.'))
        || local.contains(QStringLiteral("..")))
        return false;
    for (QChar c : local)
        if (!IsAtext(c) && c != QLatin1Char('.'))
            return false;
    const QStringList labels = domain.split(QLatin1Char('.'));
    for (const QString &label : labels) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith(QLatin1Char('-'))
            || label.endsWith(QLatin1Char('-')))
            return false;
        for (QChar c : label)
            if (c.unicode() >= 0x80 || !(c.isLetterOrNumber() || c == QLatin1Char('-')))
                return false;
    }
    return true;
}

namespace {

// Plain text cut at blanks so that every line stays within 78 characters
// where a blank allows it and within 998 always. Each piece after the first
// goes behind one blank on a line of its own; that blank is the one it was
// cut at, so the header reads as it was. nullopt: no such cut (a word too
// long, or a piece of blanks only), and encoded words must carry the text.
std::optional<QStringList> FoldAtBlanks(const QString &text, int prefixLength)
{
    constexpr qsizetype kRecommended = 78;
    constexpr qsizetype kMaximum = 998;
    QStringList pieces;
    QString rest = text;
    qsizetype used = prefixLength;
    while (used + rest.size() > kRecommended) {
        qsizetype cut = rest.lastIndexOf(QLatin1Char(' '), kRecommended - used);
        if (cut <= 0)
            cut = rest.indexOf(QLatin1Char(' '), 1);
        if (cut <= 0)
            break; // the rest is one word
        const QString piece = rest.left(cut);
        if (used + piece.size() > kMaximum || piece.trimmed().isEmpty())
            return std::nullopt;
        pieces << piece;
        rest = rest.mid(cut + 1);
        used = 1;
    }
    if (used + rest.size() > kMaximum || (!pieces.isEmpty() && rest.trimmed().isEmpty()))
        return std::nullopt;
    pieces << rest;
    return pieces;
}

} // namespace

QStringList EncodeHeaderText(const QString &text, int prefixLength)
{
    const QString clean = OneLine(text);
    bool plain = true;
    for (QChar c : clean)
        if (!IsPrintableAscii(c) && c != QLatin1Char('\t'))
            plain = false;
    // Printable ASCII that could be mistaken for an encoded word is encoded too.
    if (plain && !clean.contains(QStringLiteral("=?"))) {
        if (std::optional<QStringList> folded = FoldAtBlanks(clean, prefixLength))
            return *folded;
    }
    // Each line of encoded words within 76 characters: the first behind the
    // header's name, the others behind their blank.
    constexpr int kMaxEncodedLine = 76;
    return EncodedWords(clean, std::max(kMaxEncodedLine - prefixLength, 20));
}

QString EncodeAddressPiece(const QString &piece)
{
    const QString clean = OneLine(piece);
    bool plain = true;
    for (QChar c : clean)
        if (!IsPrintableAscii(c))
            plain = false;
    if (plain)
        return clean;
    const qsizetype lt = clean.lastIndexOf(QLatin1Char('<'));
    if (lt < 0)
        return EncodedWords(clean).join(QLatin1Char(' ')); // no address part: nothing better to do
    QString name = clean.left(lt).trimmed();
    if (name.size() >= 2 && name.startsWith(QLatin1Char('"')) && name.endsWith(QLatin1Char('"')))
        name = name.mid(1, name.size() - 2);
    return EncodedWords(name).join(QLatin1Char(' ')) + QLatin1Char(' ') + clean.mid(lt);
}

void FitLetterEncoding(const QString &line, TLetterEncoding &encoding)
{
    for (QChar c : line) {
        if (c.unicode() > 0xff)
            encoding.charset = "utf-8";
        if (c.unicode() >= 0x7f || (c.unicode() < 0x20 && c != QLatin1Char('\t')))
            encoding.quotedPrintable = true;
    }
    if (line.size() > 998)
        encoding.quotedPrintable = true;
}

QList<QByteArray> EncodeLetterLine(const QString &line, const TLetterEncoding &encoding)
{
    if (!encoding.quotedPrintable)
        return {line.toLatin1()};
    const QByteArray bytes = encoding.charset == "utf-8" ? line.toUtf8() : line.toLatin1();
    QList<QByteArray> out;
    QByteArray current;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const uchar b = uchar(bytes[i]);
        const bool last = i == bytes.size() - 1;
        QByteArray enc;
        if ((b >= 33 && b <= 126 && b != '=') || ((b == ' ' || b == '\t') && !last))
            enc = QByteArray(1, char(b));
        else
            enc = QByteArray("=") + QByteArray::number(b, 16).toUpper().rightJustified(2, '0');
        // 76 characters a line at most, the soft break's "=" included.
        if (current.size() + enc.size() > 75) {
            out << current + '=';
            current.clear();
        }
        current += enc;
    }
    out << current;
    return out;
}

QString FileContentType(const QString &fileName)
{
    const QString ext = QFileInfo(fileName).suffix().toLower();
    if (ext == QLatin1String("htm") || ext == QLatin1String("html"))
        return QStringLiteral("text/html");
    if (ext == QLatin1String("gif"))
        return QStringLiteral("image/gif");
    if (ext == QLatin1String("bmp"))
        return QStringLiteral("image/bmp");
    if (ext == QLatin1String("jpg") || ext == QLatin1String("jpeg"))
        return QStringLiteral("image/jpeg");
    if (ext == QLatin1String("txt"))
        return QStringLiteral("text/plain");
    return QStringLiteral("application/octet-stream");
}

QString MailDate(const QDateTime &utc)
{
    static const char *const days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDate d = utc.date();
    const QTime t = utc.time();
    return QString::asprintf("%s, %d %s %4d %02d:%02d:%02d GMT", days[d.dayOfWeek() - 1], d.day(),
                             months[d.month() - 1], d.year(), t.hour(), t.minute(), t.second());
}

QString MessageIdentifier(const QDateTime &utc, const QString &host)
{
    QString id = utc.toString(QStringLiteral("yyyyMMddhhmmsszzz")) + QLatin1Char('.');
    for (int i = 0; i < 4; ++i)
        id += QString::asprintf("%04X", QRandomGenerator::global()->bounded(32767));
    return id + QLatin1Char('@') + host;
}

QString MultipartBoundary(const QDateTime &local)
{
    return QStringLiteral("= Multipart Boundary ") + local.toString(QStringLiteral("MMddyyhhmm"));
}

namespace {

// Letters, digits and "-" in labels of at most 63 characters that neither
// start nor end with "-"; empty when nothing is left.
QString ValidHostName(const QString &text)
{
    QStringList labels;
    for (QString label : text.left(253).split(QLatin1Char('.'))) {
        for (QChar &c : label)
            if (c.unicode() >= 0x80 || !(c.isLetterOrNumber() || c == QLatin1Char('-')))
                c = QLatin1Char('-');
        label = label.left(63);
        while (label.startsWith(QLatin1Char('-')))
            label.remove(0, 1);
        while (label.endsWith(QLatin1Char('-')))
            label.chop(1);
        if (!label.isEmpty())
            labels << label;
    }
    return labels.join(QLatin1Char('.'));
}

} // namespace

QString LocalHostName()
{
    const QString name = ValidHostName(QHostInfo::localHostName());
    return name.isEmpty() ? QStringLiteral("localhost") : name;
}

QString EhloName(const QString &signOn)
{
    const QString text = OneLine(signOn).trimmed();
    static const QRegularExpression literal(QStringLiteral("^\\[(IPv6:)?[0-9A-Fa-f:.]{2,45}\\]$"));
    if (literal.match(text).hasMatch())
        return text;
    const QString name = ValidHostName(text);
    return name.isEmpty() ? LocalHostName() : name;
}

bool IsPlausibleMessageId(const QString &id)
{
    if (id.size() < 3 || id.size() > 250 || !id.contains(QLatin1Char('@')))
        return false;
    for (QChar c : id)
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7f || c == QLatin1Char('<') || c == QLatin1Char('>'))
            return false;
    return true;
}

} // namespace velmora
