#include "mail/SmtpReply.h"

namespace velmora {

TSmtpReplyLine ParseReplyLine(QByteArrayView line)
{
    TSmtpReplyLine out;
    if (line.size() < 3)
        return out;
    int code = 0;
    for (int i = 0; i < 3; ++i) {
        const char c = line[i];
        if (c < '0' || c > '9')
            return out;
        code = code * 10 + (c - '0');
    }
    out.code = code;
    out.more = line.size() > 3 && line[3] == '-';
    return out;
}

void ReadEhloLine(const QString &line, QStringList &mechanisms, bool &startTls)
{
    if (line.size() <= 4)
        return;
    const QString rest = line.trimmed().toUpper().mid(4);
    if (rest == QLatin1String("STARTTLS") || rest.startsWith(QLatin1String("STARTTLS ")))
        startTls = true;
    if (!rest.startsWith(QLatin1String("AUTH ")) && !rest.startsWith(QLatin1String("AUTH=")))
        return;
    QString names = rest.mid(5);
    names.replace(QLatin1Char('='), QLatin1Char(' '));
    for (const QString &name : names.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        if (!mechanisms.contains(name))
            mechanisms << name;
}

void TSmtpLineSplitter::Feed(QByteArrayView data)
{
    for (const char c : data) {
        if (c == '\n') {
            if (!m_discarding) {
                if (m_partial.endsWith('\r'))
                    m_partial.chop(1);
                m_lines.push_back(std::exchange(m_partial, QByteArray()));
            }
            m_discarding = false;
            continue;
        }
        if (m_discarding)
            continue;
        m_partial.append(c);
        if (m_partial.size() >= kMaxReplyLine) {
            // Hand on what fits and drop the rest of the line.
            m_lines.push_back(std::exchange(m_partial, QByteArray()));
            m_discarding = true;
        }
    }
}

std::optional<QByteArray> TSmtpLineSplitter::TakeLine()
{
    if (m_lines.empty())
        return std::nullopt;
    QByteArray line = std::move(m_lines.front());
    m_lines.pop_front();
    return line;
}

void TSmtpLineSplitter::Clear()
{
    m_partial.clear();
    m_lines.clear();
    m_discarding = false;
}

} // namespace velmora
