#pragma once
#include <QString>

namespace velmora {

// Text from the network or from files on its way into a log line, a mail
// header or an SMTP command: CR and LF (and other C0 controls but TAB) become
// blanks, so the text can never start a line or a header of its own.
QString OneLine(const QString &text);

// Untrusted text made fit for a short place (a notice, a tab): control
// characters and line breaks become spaces (kept when `keepLines`), and the
// text is cut to `max` characters with "…", never inside a surrogate pair.
QString ShortText(const QString &text, int max, bool keepLines = false);

} // namespace velmora
