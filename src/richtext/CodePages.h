#pragma once
// The single-byte Windows ANSI code pages that RTF text arrives in. Only the
// upper half differs from ASCII, so a page is 128 characters. Also RTF's
// default font size, which the reader and the writer share.
#include <array>

namespace velmora::rtf {

using HighHalf = std::array<char16_t, 128>;

// RTF's own default size, 12 pt, in the half points of \fs.
inline constexpr int kDefaultHalfPoints = 24;

// The characters of bytes 0x80..0xFF in `codePage`: 874 or 1250 to 1258. Any
// other page gets 1252, the page of the group's Windows consoles.
const HighHalf &CodePageTable(int codePage);
bool HasCodePageTable(int codePage);

// The Windows-1252 byte of `ch`, or -1 when that page has no such character.
int Cp1252Byte(char16_t ch);

} // namespace velmora::rtf
