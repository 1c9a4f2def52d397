#include "shortcuts/Canneddata.h"

#include "diag/AnsiText.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QtEndian>

namespace velmora {
namespace {

constexpr qint64 kChunk = 64 * 1024;

bool ReadInt(QIODevice &in, qint32 &value)
{
    char bytes[4];
    if (in.read(bytes, 4) != 4)
        return false;
    value = qFromLittleEndian<qint32>(bytes);
    return true;
}

// Length-prefixed 8-bit string. The length is never trusted: on a random-access
// device it is checked against the bytes left, otherwise the bytes are read in
// chunks so a false length costs no more memory than the data present.
bool ReadString(QIODevice &in, QString &out)
{
    qint32 length = 0;
    if (!ReadInt(in, length))
        return false;
    out.clear();
    if (length <= 0)
        return true;
    if (!in.isSequential() && length > in.size() - in.pos())
        return false;
    QByteArray bytes;
    qint64 left = length;
    while (left > 0) {
        const QByteArray chunk = in.read(qMin(left, kChunk));
        if (chunk.isEmpty())
            return false;
        bytes += chunk;
        left -= chunk.size();
    }
    out = FromAnsi(bytes);
    return true;
}

void WriteInt(QByteArray &out, qint32 value)
{
    char bytes[4];
    qToLittleEndian<qint32>(value, bytes);
    out.append(bytes, 4);
}

void WriteString(QByteArray &out, const QString &text)
{
    const QByteArray bytes = ToAnsi(text);
    WriteInt(out, qint32(bytes.size()));
    out.append(bytes);
}

} // namespace

bool HasUrlPrefix(const QString &url)
{
    return url.startsWith(QLatin1String("http://")) || url.startsWith(QLatin1String("https://"));
}

TTitleDataClass::TTitleDataClass(const QString &fileName)
    : m_path(QDir::current().absoluteFilePath(fileName))
{
    Load();
}

TTitleDataClass::~TTitleDataClass()
{
    Save();
}

ShortcutRecord TTitleDataClass::Get(int index) const
{
    if (index < 0 || index >= m_records.size())
        return {};
    return m_records.at(index);
}

void TTitleDataClass::Add(const QString &title, const QString &text)
{
    m_records.append({title, text});
    m_changed = true;
}

bool TTitleDataClass::Update(int index, const QString &title, const QString &text)
{
    if (index < 0 || index >= m_records.size())
        return false;
    m_records[index] = {title, text};
    m_changed = true;
    return true;
}

bool TTitleDataClass::Remove(int index)
{
    if (index < 0 || index >= m_records.size())
        return false;
    m_records.removeAt(index);
    m_changed = true;
    return true;
}

void TTitleDataClass::Clear()
{
    m_records.clear();
    m_changed = true;
}

bool TTitleDataClass::Load()
{
    QFile file(m_path);
    if (!file.exists()) {
        m_status = LoadStatus::Missing;
        return true;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        m_status = LoadStatus::Unreadable;
        return false;
    }
    ParseResult parsed = Parse(file);
    m_records = std::move(parsed.records);
    m_status = parsed.complete ? LoadStatus::Loaded : LoadStatus::Damaged;
    m_changed = false;
    return parsed.complete;
}

bool TTitleDataClass::Save()
{
    switch (m_status) {
    case LoadStatus::Missing:
    case LoadStatus::Loaded:
        return WriteFile();
    case LoadStatus::Unreadable:
        // Writing an unchanged (empty) list would only wipe what we could not read.
        if (!m_changed)
            return false;
        return KeepAsideAndSave();
    case LoadStatus::Damaged:
        return KeepAsideAndSave();
    }
    return false;
}

// The part of a damaged or unreadable file we could not load stays on disk as
// "<name>.bak" (the latest such file), and comes back if the new one cannot
// be written.
bool TTitleDataClass::KeepAsideAndSave()
{
    const QString backup = m_path + QStringLiteral(".bak");
    const bool keptAside = QFile::exists(m_path)
                           && (!QFile::exists(backup) || QFile::remove(backup))
                           && QFile::rename(m_path, backup);
    if (WriteFile())
        return true;
    if (keptAside && !QFile::exists(m_path))
        QFile::rename(backup, m_path);
    return false;
}

bool TTitleDataClass::WriteFile()
{
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = Serialize(m_records);
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit())
        return false;
    m_status = LoadStatus::Loaded;
    m_changed = false;
    return true;
}

TTitleDataClass::ParseResult TTitleDataClass::Parse(QIODevice &in)
{
    ParseResult result;
    qint32 count = 0;
    if (!ReadInt(in, count)) {
        result.complete = false;
        return result;
    }
    // No reserve(count): the count is as untrusted as the lengths. Every
    // record takes at least 8 bytes, so the loop ends with the data.
    for (qint32 i = 0; i < count; ++i) {
        ShortcutRecord record;
        if (!ReadString(in, record.Title) || !ReadString(in, record.Text)) {
            result.complete = false;
            break;
        }
        result.records.append(std::move(record));
    }
    return result;
}

TTitleDataClass::ParseResult TTitleDataClass::Parse(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return Parse(buffer);
}

QByteArray TTitleDataClass::Serialize(const QList<ShortcutRecord> &records)
{
    QByteArray out;
    WriteInt(out, qint32(records.size()));
    for (const ShortcutRecord &record : records) {
        WriteString(out, record.Title);
        WriteString(out, record.Text);
    }
    return out;
}

} // namespace velmora
