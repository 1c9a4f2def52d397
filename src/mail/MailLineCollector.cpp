#include "mail/MailLineCollector.h"

namespace velmora {

void TMailLineCollector::SetKeeping(bool on)
{
    m_keeping = on;
    if (!on)
        std::deque<QString>().swap(m_lines); // gives the memory back, not just the lines
}

void TMailLineCollector::AddDebugLine(const QString &text)
{
    if (m_keeping) {
        m_lines.push_back(text);
        if (m_lines.size() > kMaxLines)
            m_lines.pop_front();
    }
    emit LineAdded(text);
}

void TMailLineCollector::ClearLines()
{
    m_lines.clear();
    emit Cleared();
}

} // namespace velmora
