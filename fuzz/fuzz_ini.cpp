// Settings files are edited by hand and copied between machines: any bytes
// must load, answer every lookup and survive writes and a save without a
// crash, and what was written must read back.
#include "config/ProgramConfig.h"
#include "config/Settings.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

using namespace velmora;

namespace {

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

bool OpensSection(const QString &text)
{
    for (const QChar c : text)
        if (c.unicode() > ' ')
            return c == QLatin1Char('[');
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    TProgramConfig store;
    store.LoadFromData(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));

    // Saving and loading again keeps every line.
    TProgramConfig again;
    again.LoadFromData(store.SaveToData());
    Check(again.Lines() == store.Lines());

    TSettings first;
    ReadSettings(store, first);

    // Look up and rewrite keys named by the input itself, in the section
    // line last seen above them.
    const QList<QByteArray> lines = store.Lines();
    QString section;
    for (qsizetype i = 0; i < lines.size() && i < 16; ++i) {
        const QByteArray &line = lines[i];
        const qsizetype eq = line.indexOf('=');
        if (eq < 0) {
            section = QString::fromLatin1(line);
            continue;
        }
        const QString key = QString::fromLatin1(line.left(eq));
        // An entry line that opens with "[" ends its section, so such a key
        // can be written but never found.
        const bool findable = !OpensSection(key);
        const QString value = store.ReadString(section, key, QString());
        store.ReadBool(section, key, true);
        store.ReadInteger(section, key, -1);
        const QByteArray raw = line.mid(eq + 1);
        switch (i % 4) {
        case 0: {
            QString reversed = value;
            std::reverse(reversed.begin(), reversed.end());
            store.WriteString(section, key, reversed);
            Check(!findable || store.ReadString(section, key, QString()) == reversed);
            break;
        }
        case 1: {
            const qint32 n = TProgramConfig::ParseInteger(raw);
            store.WriteInteger(section, key, n);
            Check(!findable || store.ReadInteger(section, key, n ^ 1) == n);
            break;
        }
        case 2: {
            const quint32 n = quint32(TProgramConfig::ParseInteger(raw));
            store.WriteUnsigned(section, key, n);
            Check(!findable || quint32(store.ReadInteger(section, key, 0)) == n);
            break;
        }
        default: {
            const bool b = raw.size() % 2;
            store.WriteBool(section, key, b);
            Check(!findable || store.ReadBool(section, key, !b) == b);
            break;
        }
        }
    }

    // Writing the record read from a file and reading it back changes nothing.
    TSettings settings;
    ReadSettings(store, settings);
    WriteSettings(store, settings);
    TSettings reread;
    ReadSettings(store, reread);
    Check(reread == settings);

    again.LoadFromData(store.SaveToData());
    Check(again.Lines() == store.Lines());
    return 0;
}
