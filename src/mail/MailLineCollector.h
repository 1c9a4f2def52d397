#pragma once
// The lines of the mail dialogue, kept without any widget. They are kept only
// while mail debugging is on, and then only the newest few thousand: the
// dialogue of a day's transcripts (base64 attachments included) would
// otherwise grow by tens of kilobytes a mail. Every line is still announced,
// so an open debug window follows the dialogue whatever the setting.
#include <QObject>
#include <QString>

#include <deque>

namespace velmora {

class TMailLineCollector : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t kMaxLines = 5000;

    explicit TMailLineCollector(QObject *parent = nullptr) : QObject(parent) {}

    // Off drops what was kept.
    void SetKeeping(bool on);
    bool Keeping() const { return m_keeping; }

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
    bool m_keeping = false;
};

} // namespace velmora
