#pragma once
// Compiled-in images, sounds and help pages, under stable ":/..." paths.
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace velmora {

// Registers the compiled-in resource data. The data lives in a static library,
// where the linker drops it unless something references it: call this once at
// program start (the helpers below call it too). Safe to call repeatedly.
void InitResources();

// The main window's image list: indexes 0..9 (see the call-list statuses).
inline constexpr int StatusIconCount = 10;
inline constexpr int TrayOnlineIcon = 7;
inline constexpr int TrayOfflineIcon = 9;
inline constexpr int WaitingIcon = 6;

// ":/icons/status<N>.png", or empty when `index` is out of range.
QString StatusIconPath(int index);
// The icon of one image-list index (with larger sizes for the tray images);
// a null icon when `index` is out of range.
QIcon StatusIcon(int index);

// ":/glyphs/<name>.png" for a button bitmap such as "COMP_L_OK".
QString GlyphPath(const char *name);
// The bitmap; a null pixmap for an unknown name.
QPixmap Glyph(const char *name);

QIcon AppIcon();

inline constexpr const char *BusyAnimationPath = ":/anim/ANIYIN.gif";
inline constexpr const char *DefaultRingSoundPath = ":/sounds/ringin.wav";
inline constexpr const char *DefaultChatSoundPath = ":/sounds/Plugin.wav";
inline constexpr const char *AppIconPath = ":/app/velmora.png";
inline constexpr const char *HelpFolder = ":/help/";

// The sound settings name plain files ("ringin.wav", "Plugin.wav") in the
// working folder. Writes the built-in defaults there when they are missing,
// never replacing a file the operator put there. Returns true when both files
// exist afterwards.
bool InstallDefaultSounds(const QString &folder);

} // namespace velmora
