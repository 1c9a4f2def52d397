#include "config/ProgramConfig.h"

#include "diag/AnsiText.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace velmora {

namespace {

char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool EqualNoCase(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    return true;
}

// A line that, after its leading blanks, opens a section ends the one before.
bool StartsSection(const QByteArray &line)
{
    qsizetype i = 0;
    while (i < line.size() && static_cast<unsigned char>(line[i]) <= ' ')
        ++i;
    return i < line.size() && line[i] == '[';
}

bool IsSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A line break inside a written text would split the entry on the next load
// and could even forge a section line; it is stored as a blank instead.
QByteArray OneStoredLine(QByteArray text)
{
    for (char &c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    return text;
}

} // namespace

qsizetype TProgramConfig::FindSection(const QByteArray &section) const
{
    for (qsizetype i = 0; i < m_lines.size(); ++i)
        if (EqualNoCase(m_lines[i], section))
            return i;
    return -1;
}

qsizetype TProgramConfig::FindEntry(qsizetype sectionLine, const QByteArray &key) const
{
    for (qsizetype i = sectionLine + 1; i < m_lines.size(); ++i) {
        const QByteArray &line = m_lines[i];
        if (StartsSection(line))
            break;
        const qsizetype eq = line.indexOf('=');
        if (eq == key.size() && line.startsWith(key))
            return i;
    }
    return -1;
}

TProgramConfig::FindResult TProgramConfig::FindValue(const QString &section, const QString &key) const
{
    FindResult r;
    const qsizetype s = FindSection(ToAnsi(section));
    if (s < 0)
        return r;
    const QByteArray k = ToAnsi(key);
    const qsizetype e = FindEntry(s, k);
    if (e < 0) {
        r.result = Lookup::KeyMissing;
        return r;
    }
    r.result = Lookup::Found;
    r.value = m_lines[e].mid(k.size() + 1);
    return r;
}

QString TProgramConfig::ReadString(const QString &section, const QString &key, const QString &def) const
{
    const FindResult r = FindValue(section, key);
    return r.result == Lookup::Found ? FromAnsi(r.value) : def;
}

bool TProgramConfig::ReadBool(const QString &section, const QString &key, bool def) const
{
    const FindResult r = FindValue(section, key);
    return r.result == Lookup::Found ? r.value == "true" : def;
}

qint32 TProgramConfig::ReadInteger(const QString &section, const QString &key, qint32 def) const
{
    const FindResult r = FindValue(section, key);
    return r.result == Lookup::Found ? ParseInteger(r.value) : def;
}

qint32 TProgramConfig::ParseInteger(const QByteArray &raw)
{
    const QByteArray value = raw.toUpper();
    quint32 acc = 0; // unsigned, so overflow wraps modulo 2^32 by definition
    if (value.startsWith("0X")) {
        for (qsizetype i = 2; i < value.size(); ++i) {
            const int d = HexDigit(value[i]);
            if (d < 0)
                break;
            acc = acc * 16u + quint32(d);
        }
        return static_cast<qint32>(acc);
    }
    qsizetype i = 0;
    while (i < value.size() && IsSpace(value[i]))
        ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) {
        negative = value[i] == '-';
        ++i;
    }
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i)
        acc = acc * 10u + quint32(value[i] - '0');
    if (negative)
        acc = 0u - acc;
    return static_cast<qint32>(acc);
}

void TProgramConfig::WriteValue(const QString &section, const QString &key, const QByteArray &value)
{
    const QByteArray sec = OneStoredLine(ToAnsi(section));
    const QByteArray k = ToAnsi(key);
    const QByteArray entry = OneStoredLine(k + '=' + value);
    const qsizetype s = FindSection(sec);
    if (s < 0) {
        m_lines.insert(0, QByteArray());
        m_lines.insert(0, entry);
        m_lines.insert(0, sec);
        return;
    }
    const qsizetype e = FindEntry(s, k);
    if (e >= 0)
        m_lines[e] = entry;
    else
        m_lines.insert(s + 1, entry);
}

void TProgramConfig::WriteString(const QString &section, const QString &key, const QString &text)
{
    WriteValue(section, key, ToAnsi(text));
}

void TProgramConfig::WriteBool(const QString &section, const QString &key, bool flag)
{
    WriteValue(section, key, flag ? "true" : "false");
}

void TProgramConfig::WriteInteger(const QString &section, const QString &key, qint32 number)
{
    WriteValue(section, key, QByteArray::number(number));
}

void TProgramConfig::WriteUnsigned(const QString &section, const QString &key, quint32 number)
{
    WriteValue(section, key, QByteArray::number(number));
}

void TProgramConfig::LoadFromData(const QByteArray &data)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < data.size()) {
        const char c = data[i];
        if (c == '\r' || c == '\n') {
            lines.append(data.mid(start, i - start));
            i += (c == '\r' && i + 1 < data.size() && data[i + 1] == '\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < data.size())
        lines.append(data.mid(start));
    m_lines = std::move(lines);
}

QByteArray TProgramConfig::SaveToData() const
{
    qsizetype total = 0;
    for (const QByteArray &line : m_lines)
        total += line.size() + 2;
    QByteArray out;
    out.reserve(total);
    for (const QByteArray &line : m_lines) {
        out += line;
        out += "\r\n";
    }
    return out;
}

bool TProgramConfig::LoadFromFile(const QString &path)
{
    // Devices and pipes could be endless or block; only plain files qualify.
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > kMaxConfigFileSize)
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // The file may grow between the size check and the read.
    const QByteArray data = file.read(kMaxConfigFileSize + 1);
    if (file.error() != QFileDevice::NoError || data.size() > kMaxConfigFileSize)
        return false;
    LoadFromData(data);
    return true;
}

bool TProgramConfig::SaveToFile(const QString &path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray data = SaveToData();
    if (file.write(data) != data.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace velmora
