#pragma once
// Break opportunities in unbroken runs of text. Qt lays a word out in time
// that grows with the square of its length, so one line of tens of thousands
// of letters from a visitor would freeze the window for seconds; an invisible
// zero-width space every so often keeps the layout linear and shows the same
// characters. Words shorter than the limit (addresses and links included)
// are left as they are.
#include <QChar>
#include <QString>

namespace velmora {

inline constexpr int kMaxUnbrokenRun = 512;
inline constexpr char16_t kZeroWidthSpace = 0x200B;

// Counts `ch` into the run of characters without a break; true when a break
// must go before it. `unbroken` carries the run across pieces of text.
bool BreakBefore(QChar ch, int &unbroken);

// `text` with a zero-width space wherever BreakBefore asks for one.
QString WithWordBreaks(const QString &text, int &unbroken);

} // namespace velmora
