// SMTP replies from an untrusted server: cut into lines, codes read, EHLO
// lines searched for mechanisms. Must never read past its input, never grow a
// line past the limit, and never crash.
#include "mail/SmtpReply.h"

#include <QString>

#include <cstdlib>

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    TSmtpLineSplitter split;
    QStringList mechanisms;
    bool startTls = false;
    // The first byte picks how the input is chunked, as reads would cut it.
    const size_t chunk = size > 0 ? (data[0] % 17) + 1 : 1;
    for (size_t at = size > 0 ? 1 : 0; at < size; at += chunk) {
        const size_t n = std::min(chunk, size - at);
        split.Feed(QByteArrayView(reinterpret_cast<const char *>(data + at), qsizetype(n)));
        while (std::optional<QByteArray> line = split.TakeLine()) {
            if (line->size() > kMaxReplyLine)
                std::abort();
            const TSmtpReplyLine reply = ParseReplyLine(*line);
            if (reply.code < 0 || reply.code > 999)
                std::abort();
            ReadEhloLine(QString::fromLatin1(*line), mechanisms, startTls);
        }
    }
    for (const QString &m : mechanisms)
        if (m.isEmpty())
            std::abort();
    return 0;
}
