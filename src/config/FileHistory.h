#pragma once
// The recently used settings files: at most eight full paths, most recent
// first, kept in "history.lst" (one path a line, CR LF). The File menu that
// shows them belongs to the main window, which renders the list through
// IHistoryMenu whenever it changes.
#include <QString>
#include <QStringList>

namespace velmora {

inline constexpr const char *kHistoryFileName = "history.lst";

class IHistoryMenu {
public:
    virtual ~IHistoryMenu() = default;
    // Shows exactly these entries (none: no entries and no trailing separator).
    virtual void ShowHistoryEntries(const QStringList &paths) = 0;
};

class TFileHistory {
public:
    static constexpr int kMaxEntries = 8;
    // A history file larger than this is not ours; it is ignored.
    static constexpr qint64 kMaxFileSize = 64 * 1024;

    // `menu` may be null (no menu to keep up to date).
    TFileHistory(const QString &historyPath, IHistoryMenu *menu);

    const QStringList &Paths() const { return m_paths; }

    // Moves `path` to the front (an entry differing only in letter case is
    // replaced by it) and rebuilds the menu. An empty path only rebuilds.
    void Add(const QString &path);
    // Trims the list to its eight most recent entries and shows them.
    void RebuildMenu();
    // Reads the history file, if there is one; any error leaves the list empty.
    void Load();
    // Writes the list to the history file, replacing it; false when it could
    // not be written (the old file is then intact).
    bool Save();

    enum class ClearResult { Cleared, RemoveFailed };
    // Deletes the history file and empties the list. Where the file cannot be
    // removed the list stays.
    ClearResult Clear();

    // "&" + the 1-based position + two blanks + the path.
    static QString EntryCaption(int index, const QString &path);

private:
    QString m_historyPath;
    IHistoryMenu *m_menu;
    QStringList m_paths;
};

} // namespace velmora
