#pragma once
// The settings store: an ordered list of 8-bit text lines with INI-style reads
// and writes of its own. Lines are kept byte for byte, so a file we load and
// save again differs only in its line ends (always CR LF on writing).
#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace velmora {

// Anything larger is not a settings file (a real one holds a few KiB); it is
// refused rather than read into memory.
inline constexpr qint64 kMaxConfigFileSize = 1 << 20;

class TProgramConfig {
public:
    enum class Lookup { SectionMissing, KeyMissing, Found };
    struct FindResult {
        Lookup result = Lookup::SectionMissing;
        QByteArray value; // meaningful when result == Found
    };

    // Sections are passed with their brackets ("[SoundSetup]"), keys without.
    // Texts are taken and given as Windows-1252, one character per stored byte.
    FindResult FindValue(const QString &section, const QString &key) const;

    QString ReadString(const QString &section, const QString &key, const QString &def) const;
    // True only for the exact lower-case text "true".
    bool ReadBool(const QString &section, const QString &key, bool def) const;
    qint32 ReadInteger(const QString &section, const QString &key, qint32 def) const;

    void WriteString(const QString &section, const QString &key, const QString &text);
    void WriteBool(const QString &section, const QString &key, bool flag);
    void WriteInteger(const QString &section, const QString &key, qint32 number);
    // The 32 bits as unsigned decimal; ReadInteger gives the same bits back.
    void WriteUnsigned(const QString &section, const QString &key, quint32 number);

    void Clear() { m_lines.clear(); }

    // Replaces the lines by the file's. A file that is missing, unreadable, not
    // a regular file or larger than kMaxConfigFileSize leaves the store as it
    // was and gives false.
    bool LoadFromFile(const QString &path);
    // Writes every line followed by CR LF through a temporary file that only
    // replaces `path` once it is complete; false leaves the old file intact.
    bool SaveToFile(const QString &path) const;

    // The same as the file operations, on bytes in memory.
    void LoadFromData(const QByteArray &data);
    QByteArray SaveToData() const;

    const QList<QByteArray> &Lines() const { return m_lines; }

    // The decimal/hexadecimal reading of ReadInteger, on a raw value.
    static qint32 ParseInteger(const QByteArray &value);

private:
    void WriteValue(const QString &section, const QString &key, const QByteArray &value);
    qsizetype FindSection(const QByteArray &section) const;
    // Index of the entry `key` in the section starting at `sectionLine`, or -1.
    qsizetype FindEntry(qsizetype sectionLine, const QByteArray &key) const;

    QList<QByteArray> m_lines;
};

} // namespace velmora
