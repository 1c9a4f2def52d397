#include "Resources.h"

#include "config/Genfunc.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <array>
#include <mutex>

// Q_INIT_RESOURCE declares its function where it is used, so it must be used
// outside our namespace.
static void RegisterVelmoraResources()
{
    Q_INIT_RESOURCE(velmora);
}

namespace velmora {

void InitResources()
{
    static std::once_flag once;
    std::call_once(once, RegisterVelmoraResources);
}

QString StatusIconPath(int index)
{
    if (index < 0 || index >= StatusIconCount)
        return {};
    return QStringLiteral(":/icons/status%1.png").arg(index);
}

namespace {

QIcon BuildStatusIcon(int index)
{
    QIcon icon(StatusIconPath(index));
    // The tray images also come drawn at larger sizes for high-density trays.
    for (int size : {32, 64}) {
        const QString large = QStringLiteral(":/icons/status%1_%2.png").arg(index).arg(size);
        if (QFile::exists(large))
            icon.addFile(large, QSize(size, size));
    }
    return icon;
}

// The status icons, built once. Every list repaint and every chat window asks
// for them; a fresh QIcon each time would also be a fresh set of entries in
// Qt's pixmap cache. Used on the GUI thread only.
struct StatusIconCache {
    std::array<QIcon, StatusIconCount> icons;
    bool built = false;
};

StatusIconCache &IconCache()
{
    static StatusIconCache cache;
    return cache;
}

// Pixmaps must go while the application still exists, not among the static
// destructors after it.
void DropStatusIcons()
{
    IconCache() = StatusIconCache();
}

} // namespace

QIcon StatusIcon(int index)
{
    if (index < 0 || index >= StatusIconCount)
        return {};
    StatusIconCache &cache = IconCache();
    if (!cache.built) {
        InitResources();
        for (int i = 0; i < StatusIconCount; ++i)
            cache.icons[size_t(i)] = BuildStatusIcon(i);
        cache.built = true;
        qAddPostRoutine(DropStatusIcons);
    }
    return cache.icons[size_t(index)];
}

QString GlyphPath(const char *name)
{
    return QStringLiteral(":/glyphs/%1.png").arg(QLatin1String(name ? name : ""));
}

QPixmap Glyph(const char *name)
{
    InitResources();
    if (!name || !*name)
        return {};
    return QPixmap(GlyphPath(name));
}

QIcon AppIcon()
{
    InitResources();
    return QIcon(QString::fromLatin1(AppIconPath));
}

static bool InstallOne(const QString &resource, const QString &target)
{
    if (QFileInfo::exists(target))
        return true;
    // Copy through a temporary name so that a full disk never leaves a
    // truncated sound file that would later pass the "file exists" check.
    const QString partial = target + QStringLiteral(".part");
    QFile::remove(partial);
    if (!QFile::copy(resource, partial))
        return false;
    // Files copied out of the resources are read-only; the operator owns this one.
    QFile::setPermissions(partial, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                       | QFile::ReadOther);
    if (!QFile::rename(partial, target)) {
        QFile::remove(partial);
        return QFileInfo::exists(target);
    }
    return true;
}

bool InstallDefaultSounds(const QString &folder)
{
    InitResources();
    const QDir dir(folder);
    const bool ring = InstallOne(QString::fromLatin1(DefaultRingSoundPath),
                                 dir.filePath(QString::fromLatin1(kDefaultRingSoundName)));
    const bool chat = InstallOne(QString::fromLatin1(DefaultChatSoundPath),
                                 dir.filePath(QString::fromLatin1(kDefaultChatSoundName)));
    return ring && chat;
}

} // namespace velmora
