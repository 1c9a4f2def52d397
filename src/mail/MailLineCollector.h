#pragma once
// The lines of the mail dialogue, kept without any widget. They are kept only
// while mail debugging is on, and then only the newest few thousand: the
// dialogue of a day's transcripts (base64 attachments included) would
// otherwise grow by tens of kilobytes a mail. Every line is still announced,
// so an open debug window follows the dialogue whatever the setting. A window
// follows LinesAdded: a line after a quiet spell at once, the lines that
// follow it in batches, so that a large attachment's thousands of lines cost
// the sending and the GUI a few appends, not one each.
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>

namespace velmora {

class TMailLineCollector : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t kMaxLines = 5000;
    static constexpr int kBatchMs = 100;

    explicit TMailLineCollector(QObject *parent = nullptr);

    // Off drops what was kept.
    void SetKeeping(bool on);

    void AddDebugLine(const QString &text);
    void ClearLines();
    // Asks whoever shows the lines to show them.
    void RequestShow() { emit ShowRequested(); }
    // Announces the lines not yet announced in a batch, now.
    void Flush();

    const std::deque<QString> &Lines() const { return m_lines; }

signals:
    void LineAdded(const QString &text);
    // The lines since the last batch, oldest first; at most kMaxLines.
    void LinesAdded(const QStringList &lines);
    void Cleared();
    void ShowRequested();

private:
    std::deque<QString> m_lines;
    QStringList m_pending;
    QTimer m_batch;
    bool m_keeping = false;
};

} // namespace velmora
