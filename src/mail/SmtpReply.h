#pragma once
// Cuts what an SMTP server sends into reply lines and reads their codes.
// The bytes are untrusted: no line grows past kMaxReplyLine (the rest of an
// over-long line is dropped), nothing reads past its input, and NUL or other
// control bytes are kept as they came (display code blanks them).
#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>

#include <deque>
#include <optional>

namespace velmora {

inline constexpr int kMaxReplyLine = 4096;

struct TSmtpReplyLine {
    int code = 0;      // the three digits at the start; 0 when there are none
    bool more = false; // "-" after the code: more lines of this reply follow
    bool Valid() const { return code >= 100 && code <= 599; }
};

TSmtpReplyLine ParseReplyLine(QByteArrayView line);

// One line of an EHLO reply: adds the mechanisms of an "AUTH " or "AUTH="
// line to `mechanisms` (each once, upper case) and notes STARTTLS.
void ReadEhloLine(const QString &line, QStringList &mechanisms, bool &startTls);

class TSmtpLineSplitter {
public:
    // Lines end at LF; a CR before it is dropped. A server that forgets the
    // CR is still understood.
    void Feed(QByteArrayView data);
    std::optional<QByteArray> TakeLine();
    void Clear();

private:
    QByteArray m_partial;
    std::deque<QByteArray> m_lines;
    bool m_discarding = false; // inside the dropped tail of an over-long line
};

} // namespace velmora
