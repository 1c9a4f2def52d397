#pragma once
// Socket errors travel through the console as Windows Sockets numbers, so the
// message tables the operators know apply unchanged on every platform.
#include <QString>

namespace velmora {

// Well-known numbers used outside the mapping below.
constexpr int kWsaHostNotFound = 11001;
constexpr int kWsaConnectionRefused = 10061;
constexpr int kWsaConnectionReset = 10054;
constexpr int kWsaConnectionAborted = 10053;

// Maps a POSIX errno value to its Windows Sockets number. An errno with no
// Windows counterpart is returned unchanged (it is far below the 10000 range,
// so it can never be mistaken for one of the table entries).
int WsaFromErrno(int err);

// The text shown for a socket error on the server connection; unknown codes
// give "TMainForm.Error = " + code.
QString ServerSocketErrorText(int wsaCode);

// The text shown for a socket error on a per-call connection (waiting call or
// chat window); unknown codes, 10049 included, give
// "TOneChatWindow.Error = " + code.
QString ChatSocketErrorText(int wsaCode);

} // namespace velmora
