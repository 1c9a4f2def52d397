#include "session/WsaErrors.h"

#include <cerrno>

namespace velmora {

int WsaFromErrno(int err)
{
    switch (err) {
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: return 10024;
    case EAGAIN: return 10035; // EWOULDBLOCK is the same value on Linux
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case EPIPE: return 10053; // writing after the connection broke
    case ECONNRESET: return 10054;
    case ENOBUFS: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    default: return err;
    }
}

namespace {

// Texts shared by both tables; nullptr when the code has no entry.
const char *CommonText(int code)
{
    switch (code) {
    case 10024: return "Too many open files, check program params ? !";
    case 10039: return "Destination address required, check program params !";
    case 10048: return "Address already in use, check program params !";
    case 10050: return "Network is down !!!!";
    case 10051: return "Network is unreachable !!!!";
    case 10052: return "Network dropped connection !!!!";
    case 10053:
        return "Software caused connection abort, check program params !\n"
               "Could also be that the server was reseted !.";
    case 10054: return "Connection reset by peer, check program params, or try later !";
    case 10055: return "No buffer space available !!!!";
    case 10060: return "Connection timed out !!!!";
    case 10061: return "Connection refused or not available, check program params !";
    case 10065: return "No route to host, check program params or network ? !";
    case 10091:
    case 10093: return "Network sub-system is unavailable, check program params ?!";
    case 11001: return "Host not found, check program params ?!";
    default: return nullptr;
    }
}

} // namespace

QString ServerSocketErrorText(int wsaCode)
{
    if (wsaCode == 10049)
        return QStringLiteral("Cannot assign requested address, check program params ?!");
    if (const char *text = CommonText(wsaCode))
        return QString::fromLatin1(text);
    return QStringLiteral("TMainForm.Error = ") + QString::number(wsaCode);
}

QString ChatSocketErrorText(int wsaCode)
{
    if (const char *text = CommonText(wsaCode))
        return QString::fromLatin1(text);
    return QStringLiteral("TOneChatWindow.Error = ") + QString::number(wsaCode);
}

} // namespace velmora
