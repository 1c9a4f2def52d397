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
