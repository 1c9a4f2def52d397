#pragma once
// The two lists of named shortcuts (canned answers, push URLs) and their data
// files. No widgets here: the editor and the selection dialog sit on top.
#include <QByteArray>
#include <QList>
#include <QString>

class QIODevice;

namespace velmora {

// Which list a dialog works on; picks its captions and checks.
enum class ShortcutMode { CannedMessages, PushUrls };

// Whether a URL may be pushed to a visitor's browser: it starts with
// "http://" or "https://", letter case as written. Anything else (a
// "javascript:" link among them) never leaves the console.
bool HasUrlPrefix(const QString &url);
inline constexpr const char *kMissingUrlPrefixText = "Missing http:// or https:// prefix in the supplied URL !.";

struct ShortcutRecord {
    QString Title; // 8-bit text, Windows-1252 on disk
    QString Text;  // canned message (CR LF between lines) or URL
    bool operator==(const ShortcutRecord &) const = default;
};

class TTitleDataClass {
public:
    // How the last load went; decides whether a save may replace the file.
    enum class LoadStatus { Missing, Loaded, Damaged, Unreadable };

    struct ParseResult {
        QList<ShortcutRecord> records; // every complete record before any damage
        bool complete = true;          // false: the data ended inside a record
    };

    // `fileName` is resolved against the current directory now, so the list
    // stays bound to the working folder even if the process changes directory.
    explicit TTitleDataClass(const QString &fileName);
    // Saves (see Save) and releases the records.
    ~TTitleDataClass();
    TTitleDataClass(const TTitleDataClass &) = delete;
    TTitleDataClass &operator=(const TTitleDataClass &) = delete;

    // Reads the file. A missing file leaves the list unchanged and succeeds; a
    // file that cannot be opened leaves it unchanged and fails; a damaged file
    // keeps the complete records before the damage and fails.
    bool Load();
    // Writes the whole list to a new file that replaces the old one only once
    // it is completely written. A file that was damaged or could not be read is
    // first kept aside as "<name>.bak"; an unreadable file that the operator
    // has not changed anything over is left alone (returns false).
    bool Save();

    int Count() const { return int(m_records.size()); }
    // An empty record for a position outside the list.
    ShortcutRecord Get(int index) const;
    void Add(const QString &title, const QString &text);
    bool Update(int index, const QString &title, const QString &text);
    bool Remove(int index);
    void Clear();

    QString FilePath() const { return m_path; }
    LoadStatus Status() const { return m_status; }

    // The file layout, usable without a file. The device must be open for
    // reading; nothing is allocated beyond the bytes it really holds.
    static ParseResult Parse(QIODevice &in);
    static ParseResult Parse(const QByteArray &bytes);
    static QByteArray Serialize(const QList<ShortcutRecord> &records);

private:
    bool KeepAsideAndSave();
    bool WriteFile();

    QString m_path;
    QList<ShortcutRecord> m_records;
    LoadStatus m_status = LoadStatus::Missing;
    bool m_changed = false; // edited since the last load or save
};

} // namespace velmora
