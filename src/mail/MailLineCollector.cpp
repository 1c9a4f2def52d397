#include "mail/MailLineCollector.h"

namespace velmora {

TMailLineCollector::TMailLineCollector(QObject *parent) : QObject(parent)
{
    m_batch.setSingleShot(true);
    m_batch.setInterval(kBatchMs);
    connect(&m_batch, &QTimer::timeout, this, &TMailLineCollector::Flush);
}

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
    // A window keeps no more than kMaxLines either.
    m_pending.append(text);
    if (std::size_t(m_pending.size()) > kMaxLines)
        m_pending.remove(0, m_pending.size() - qsizetype(kMaxLines));
    // The first line after a quiet spell goes at once; what follows it
    // within the batch time waits for the batch.
    if (!m_batch.isActive()) {
        Flush();
        m_batch.start();
    }
    emit LineAdded(text);
}

void TMailLineCollector::Flush()
{
    m_batch.stop();
    if (m_pending.isEmpty())
        return;
    emit LinesAdded(std::exchange(m_pending, QStringList()));
}

void TMailLineCollector::ClearLines()
{
    m_lines.clear();
    m_pending.clear();
    m_batch.stop();
    emit Cleared();
}

} // namespace velmora
