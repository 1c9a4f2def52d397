#pragma once
// Shared text helpers of the configuration: the hexadecimal codec of stored
// binary values and the folder where all of the console's files live.
#include <QByteArray>
#include <QString>

namespace velmora {

// Each byte as two upper-case hexadecimal digits, in order.
QString HexEncode(const QByteArray &bytes);

// Reads the text in pairs from the start; a final odd character is ignored.
// A pair that is not hexadecimal still yields a byte (its non-hex digits count
// as 0): stored files are edited by hand and decoding must never fail.
QByteArray HexDecode(const QString &text);

// The working folder current at program start. Until SetStartDirectory is
// called it is the current directory at the first call.
void SetStartDirectory(const QString &dir);
const QString &StartDirectory();
// `name` inside the start folder, e.g. StartPath("Velmora.ini").
QString StartPath(const QString &name);

// The console's files in the start folder.
inline constexpr const char *kConfigFileName = "Velmora.ini";
inline constexpr const char *kLogFileName = "Velmora.log";
inline constexpr const char *kOutboxFolderName = "outbox";
inline constexpr const char *kCannedFileName = "CannedData.dat";
inline constexpr const char *kUrlFileName = "UrlScData.dat";
inline constexpr const char *kMailTemplateFileName = "base_mail.txt";
// The sounds a fresh set-up rings with; the console writes them to the start
// folder when they are missing.
inline constexpr const char *kDefaultRingSoundName = "ringin.wav";
inline constexpr const char *kDefaultChatSoundName = "Plugin.wav";

} // namespace velmora
