#pragma once
#include <QString>

namespace velmora {

// Text from the network or from files on its way into a log line, a mail
// header or an SMTP command: CR and LF (and other C0 controls but TAB) become
// blanks, so the text can never start a line or a header of its own.
QString OneLine(const QString &text);

} // namespace velmora
