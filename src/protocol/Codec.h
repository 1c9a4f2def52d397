#pragma once
// Frames and fields of every connection to the chat server.
// A frame is a 6-byte header (16-bit big-endian code, 32-bit big-endian body
// length) and a body of positional fields, each behind a 16-bit big-endian
// length prefix.
#include "diag/AnsiText.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

namespace velmora {

constexpr int kHeaderSize = 6;
// A peer announcing a larger body is broken or hostile; the connection is dropped.
constexpr quint32 kMaxBodyLength = 1024 * 1024;
// Largest image file that fits a data field of an IMAGE_DATA message.
constexpr qint64 kMaxImageBytes = 32748;
constexpr int kMaxTextField = 0xFFFF;

// Text on the wire is 8-bit Windows-1252, as the group's Windows consoles send
// it; what arrives may also be a visitor's browser's UTF-8 (see AnsiText.h).
inline QByteArray ToWire(const QString &text) { return ToAnsi(text); }
inline QString FromWire(const QByteArray &bytes) { return FromReceived(bytes); }

// The value of a text field, given either as wire bytes or as a QString; lets a
// builder take both without overload ambiguity on string literals.
struct WireText {
    WireText(const QByteArray &wire) : bytes(wire) {}
    WireText(const QString &text) : bytes(ToWire(text)) {}
    WireText(const char *wire) : bytes(wire) {}
    QByteArray bytes;
};

// --- building ---------------------------------------------------------------
// The buffer grows as fields are written; `position` is where the next field goes.
QByteArray BeginMessage(quint16 code);
// Returns false (and writes nothing) for a text longer than 65535 bytes.
bool PutTextField(QByteArray &buffer, qsizetype &position, const QByteArray &text);
void PutIntField(QByteArray &buffer, qsizetype &position, qint32 value);
bool PutDataField(QByteArray &buffer, qsizetype &position, const QByteArray &bytes);
// A raw block: an integer field holding n, then the n bytes with no prefix.
void PutRawBlock(QByteArray &buffer, qsizetype &position, const QByteArray &bytes);
// Writes the body length into the header and returns the total length.
qsizetype FinishMessage(QByteArray &buffer, qsizetype position);

// Convenience for the common case: a message built field by field.
class MessageBuilder {
public:
    explicit MessageBuilder(quint16 code);
    MessageBuilder &Text(const QByteArray &text);
    MessageBuilder &Text(const QString &text) { return Text(ToWire(text)); }
    MessageBuilder &Int(qint32 value);
    MessageBuilder &Flag(bool value) { return Int(value ? 1 : 0); }
    MessageBuilder &Data(const QByteArray &bytes);
    MessageBuilder &Raw(const QByteArray &bytes);
    // The finished frame, or nullopt when a field did not fit its prefix.
    std::optional<QByteArray> Finish();

private:
    QByteArray m_buffer;
    qsizetype m_position;
    bool m_ok = true;
};

// --- reading ----------------------------------------------------------------
// Getters never read past the body: a field that would is a protocol error
// (nullopt) and `position` is left unchanged.
std::optional<QByteArray> GetTextField(const QByteArray &body, qsizetype &position);
std::optional<qint32> GetIntField(const QByteArray &body, qsizetype &position);

// Sequential reader over one body; after the first failure every read fails
// and Ok() is false, so a decoder checks once at the end. The reader keeps its
// own (implicitly shared, so free) copy of the body: it may be built from a
// temporary and outlive it.
class FieldReader {
public:
    explicit FieldReader(QByteArray body, qsizetype position = 0)
        : m_body(std::move(body)), m_position(position) {}
    QByteArray Text();
    QString TextString() { return FromWire(Text()); }
    qint32 Int();
    // A one-byte value at the current position (used by the supporters list).
    quint8 Byte();
    // `n` bytes with no prefix.
    QByteArray Bytes(qint64 n);
    void Skip(qsizetype n);
    bool Ok() const { return m_ok; }
    qsizetype Remaining() const { return m_body.size() - m_position; }

private:
    QByteArray m_body;
    qsizetype m_position;
    bool m_ok = true;
};

// --- frames -----------------------------------------------------------------
struct Frame {
    quint16 code = 0;
    QByteArray body;
};

// Collects the bytes of one connection and hands out complete frames in order.
// Bytes are received straight into the buffer (Space, then Commit), and frames
// are cut out as they complete. A large body still arriving is received into
// an array of its own, which is then handed out as it is: the bulk of an
// image or a transfer is copied once, by the kernel.
class FrameBuffer {
public:
    enum class Result { Frame, NeedMore, TooLarge };

    // Where the next receive may write: up to two regions, filled in order.
    // No room at all after an oversized announcement: reading should stop.
    struct Room {
        char *data[2] = {};
        qsizetype size[2] = {};
    };
    Room Space();
    // `n` bytes were written into the regions of the last Space().
    void Commit(qsizetype n);

    void Append(const char *data, qsizetype size);
    void Append(const QByteArray &bytes) { Append(bytes.constData(), bytes.size()); }
    // Takes the next complete frame out of the buffer. TooLarge means the
    // header announced more than kMaxBodyLength: the connection must be dropped.
    Result TakeFrame(Frame &out);
    bool HasFrame() const { return !m_ready.empty(); }
    // Bytes received and not yet taken out as frames.
    qsizetype Pending() const;
    // A body handed out earlier that nobody holds any more: its array takes
    // the next large body, sparing the allocation and the fresh pages.
    void Recycle(QByteArray &&body);
    void Clear();

private:
    void Parse();
    bool EnsureRoom(qsizetype room);

    QByteArray m_data; // the receive area; [m_start, m_end) not yet parsed
    qsizetype m_start = 0;
    qsizetype m_end = 0;
    qsizetype m_room = 0;    // what a receive is offered
    qsizetype m_offered = 0; // what the last one was
    // The frame whose body arrives into an array of its own.
    Frame m_large;
    qsizetype m_largeFilled = 0;
    bool m_inLarge = false;
    QByteArray m_spare;
    std::deque<Frame> m_ready;
    qsizetype m_readyBytes = 0;
    bool m_tooLarge = false;
};

} // namespace velmora
