#include "mail/MailLineCollector.h"

namespace velmora {

void TMailLineCollector::AddDebugLine(const QString &text)
{
    m_lines.push_back(text);
    if (m_lines.size() > kMaxLines)
        m_lines.pop_front();
    emit LineAdded(text);
}

void TMailLineCollector::ClearLines()
{
    m_lines.clear();
    emit Cleared();
}

} // namespace velmora
