#pragma once
// The lines of the mail dialogue, kept without any widget: the transcript
// queue writes here at all times, and the debug window (when there is one)
// replays what was collected and then follows new lines.
#include <QObject>
#include <QString>

#include <deque>

namespace velmora {

class TMailLineCollector : public QObject {
    Q_OBJECT
public:
    // A long-running console must not grow without end: the oldest lines go.
    static constexpr std::size_t kMaxLines = 50000;

    explicit TMailLineCollector(QObject *parent = nullptr) : QObject(parent) {}

    void AddDebugLine(const QString &text);
    void ClearLines();
    // Asks whoever shows the lines to show them.
    void RequestShow() { emit ShowRequested(); }

    const std::deque<QString> &Lines() const { return m_lines; }

signals:
    void LineAdded(const QString &text);
    void Cleared();
    void ShowRequested();

private:
    std::deque<QString> m_lines;
};

} // namespace velmora
