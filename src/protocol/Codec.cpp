#include "protocol/Codec.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace velmora {
namespace {

void EnsureSize(QByteArray &buffer, qsizetype size)
{
    if (buffer.size() < size)
        buffer.resize(size);
}

void Put16(QByteArray &buffer, qsizetype position, quint16 value)
{
    qToBigEndian<quint16>(value, buffer.data() + position);
}

void Put32(QByteArray &buffer, qsizetype position, quint32 value)
{
    qToBigEndian<quint32>(value, buffer.data() + position);
}

} // namespace

QByteArray BeginMessage(quint16 code)
{
    QByteArray buffer(kHeaderSize, '\0');
    Put16(buffer, 0, code);
    return buffer;
}

bool PutTextField(QByteArray &buffer, qsizetype &position, const QByteArray &text)
{
    return PutDataField(buffer, position, text);
}

void PutIntField(QByteArray &buffer, qsizetype &position, qint32 value)
{
    EnsureSize(buffer, position + 6);
    Put16(buffer, position, 4);
    Put32(buffer, position + 2, quint32(value));
    position += 6;
}

bool PutDataField(QByteArray &buffer, qsizetype &position, const QByteArray &bytes)
{
    if (bytes.size() > kMaxTextField)
        return false;
    EnsureSize(buffer, position + 2 + bytes.size());
    Put16(buffer, position, quint16(bytes.size()));
    if (!bytes.isEmpty())
        memcpy(buffer.data() + position + 2, bytes.constData(), size_t(bytes.size()));
    position += 2 + bytes.size();
    return true;
}

void PutRawBlock(QByteArray &buffer, qsizetype &position, const QByteArray &bytes)
{
    PutIntField(buffer, position, qint32(bytes.size()));
    EnsureSize(buffer, position + bytes.size());
    if (!bytes.isEmpty())
        memcpy(buffer.data() + position, bytes.constData(), size_t(bytes.size()));
    position += bytes.size();
}

qsizetype FinishMessage(QByteArray &buffer, qsizetype position)
{
    EnsureSize(buffer, position);
    buffer.truncate(position);
    Put32(buffer, 2, quint32(position - kHeaderSize));
    return position;
}

MessageBuilder::MessageBuilder(quint16 code) : m_buffer(BeginMessage(code)), m_position(kHeaderSize) {}

MessageBuilder &MessageBuilder::Text(const QByteArray &text)
{
    m_ok = PutTextField(m_buffer, m_position, text) && m_ok;
    return *this;
}

MessageBuilder &MessageBuilder::Int(qint32 value)
{
    PutIntField(m_buffer, m_position, value);
    return *this;
}

MessageBuilder &MessageBuilder::Data(const QByteArray &bytes)
{
    m_ok = PutDataField(m_buffer, m_position, bytes) && m_ok;
    return *this;
}

MessageBuilder &MessageBuilder::Raw(const QByteArray &bytes)
{
    PutRawBlock(m_buffer, m_position, bytes);
    return *this;
}

std::optional<QByteArray> MessageBuilder::Finish()
{
    if (!m_ok)
        return std::nullopt;
    FinishMessage(m_buffer, m_position);
    return m_buffer;
}

std::optional<QByteArray> GetTextField(const QByteArray &body, qsizetype &position)
{
    if (position < 0 || body.size() - position < 2)
        return std::nullopt;
    const quint16 n = qFromBigEndian<quint16>(body.constData() + position);
    if (body.size() - position - 2 < n)
        return std::nullopt;
    QByteArray text = body.mid(position + 2, n);
    position += 2 + n;
    return text;
}

std::optional<qint32> GetIntField(const QByteArray &body, qsizetype &position)
{
    if (position < 0 || body.size() - position < 6)
        return std::nullopt;
    const qint32 value = qint32(qFromBigEndian<quint32>(body.constData() + position + 2));
    position += 6;
    return value;
}

QByteArray FieldReader::Text()
{
    if (!m_ok)
        return {};
    auto text = GetTextField(m_body, m_position);
    if (!text) {
        m_ok = false;
        return {};
    }
    return *text;
}

qint32 FieldReader::Int()
{
    if (!m_ok)
        return 0;
    auto value = GetIntField(m_body, m_position);
    if (!value) {
        m_ok = false;
        return 0;
    }
    return *value;
}

quint8 FieldReader::Byte()
{
    if (!m_ok || Remaining() < 1) {
        m_ok = false;
        return 0;
    }
    return quint8(m_body.at(m_position++));
}

QByteArray FieldReader::Bytes(qint64 n)
{
    if (!m_ok || n < 0 || n > Remaining()) {
        m_ok = false;
        return {};
    }
    QByteArray bytes = m_body.mid(m_position, qsizetype(n));
    m_position += qsizetype(n);
    return bytes;
}

void FieldReader::Skip(qsizetype n)
{
    if (!m_ok || n < 0 || n > Remaining()) {
        m_ok = false;
        return;
    }
    m_position += n;
}

namespace {

// What one receive may take into the buffer: little for a quiet connection,
// growing while receives fill what they are offered.
constexpr qsizetype kMinReceiveRoom = 4 * 1024;
constexpr qsizetype kMaxReceiveRoom = 64 * 1024;
// Bodies from this size on arrive in arrays of their own: below it a copy
// costs less than the extra receive call per frame.
constexpr quint32 kOwnArrayBody = 16 * 1024;

} // namespace

bool FrameBuffer::EnsureRoom(qsizetype room)
{
    if (m_data.size() - m_end >= room)
        return true;
    if (m_start > 0) {
        std::memmove(m_data.data(), m_data.constData() + m_start, size_t(m_end - m_start));
        m_end -= m_start;
        m_start = 0;
    }
    if (m_data.size() - m_end < room)
        m_data.resize(m_end + room);
    return true;
}

FrameBuffer::Room FrameBuffer::Space()
{
    Room room;
    if (m_tooLarge)
        return room;
    if (m_inLarge) {
        // The rest of the body, then the next header only: what follows it
        // may be another large body, which should not land here.
        room.data[0] = m_large.body.data() + m_largeFilled;
        room.size[0] = m_large.body.size() - m_largeFilled;
        EnsureRoom(kHeaderSize);
        room.data[1] = m_data.data() + m_end;
        room.size[1] = kHeaderSize;
        return room;
    }
    EnsureRoom(std::max(m_room, kMinReceiveRoom));
    room.data[0] = m_data.data() + m_end;
    room.size[0] = m_data.size() - m_end;
    m_offered = room.size[0];
    return room;
}

void FrameBuffer::Commit(qsizetype n)
{
    if (n <= 0)
        return;
    if (m_inLarge) {
        const qsizetype body = std::min(n, m_large.body.size() - m_largeFilled);
        m_largeFilled += body;
        n -= body;
    } else if (n >= m_offered) {
        m_room = std::min(2 * std::max(m_room, kMinReceiveRoom), kMaxReceiveRoom);
    }
    m_end += n;
    Parse();
}

void FrameBuffer::Append(const char *data, qsizetype size)
{
    while (size > 0) {
        const Room room = Space();
        qsizetype copied = 0;
        for (int i = 0; i < 2 && copied < size; ++i) {
            const qsizetype take = std::min(room.size[i], size - copied);
            if (take > 0)
                std::memcpy(room.data[i], data + copied, size_t(take));
            copied += take;
        }
        if (copied == 0)
            return; // an oversized announcement: nothing more is taken
        Commit(copied);
        data += copied;
        size -= copied;
    }
}

void FrameBuffer::Parse()
{
    while (!m_tooLarge) {
        if (m_inLarge) {
            if (m_largeFilled < m_large.body.size())
                break;
            m_readyBytes += kHeaderSize + m_large.body.size();
            m_ready.push_back(std::move(m_large));
            m_inLarge = false;
            continue;
        }
        const qsizetype pending = m_end - m_start;
        if (pending < kHeaderSize)
            break;
        const char *header = m_data.constData() + m_start;
        const quint32 length = qFromBigEndian<quint32>(header + 2);
        if (length > kMaxBodyLength) {
            m_tooLarge = true;
            break;
        }
        const quint16 code = qFromBigEndian<quint16>(header);
        const qsizetype have = pending - kHeaderSize;
        if (have >= qsizetype(length)) {
            m_ready.push_back(Frame{code, QByteArray(header + kHeaderSize, qsizetype(length))});
            m_readyBytes += kHeaderSize + qsizetype(length);
            m_start += kHeaderSize + qsizetype(length);
            continue;
        }
        if (length < kOwnArrayBody)
            break;
        // Everything after this header belongs to its body.
        m_large.code = code;
        if (m_spare.capacity() >= qsizetype(length)) {
            m_large.body = std::move(m_spare);
            m_large.body.resize(qsizetype(length));
        } else {
            m_large.body = QByteArray(qsizetype(length), Qt::Uninitialized);
        }
        std::memcpy(m_large.body.data(), header + kHeaderSize, size_t(have));
        m_largeFilled = have;
        m_inLarge = true;
        m_start = m_end = 0;
    }
    if (m_start == m_end)
        m_start = m_end = 0;
}

FrameBuffer::Result FrameBuffer::TakeFrame(Frame &out)
{
    if (!m_ready.empty()) {
        out = std::move(m_ready.front());
        m_ready.pop_front();
        m_readyBytes -= kHeaderSize + out.body.size();
        return Result::Frame;
    }
    return m_tooLarge ? Result::TooLarge : Result::NeedMore;
}

qsizetype FrameBuffer::Pending() const
{
    return m_readyBytes + (m_end - m_start) + (m_inLarge ? kHeaderSize + m_largeFilled : 0);
}

void FrameBuffer::Recycle(QByteArray &&body)
{
    if (body.isDetached() && body.capacity() >= qsizetype(kOwnArrayBody) && body.capacity() > m_spare.capacity())
        m_spare = std::move(body);
}

void FrameBuffer::Clear()
{
    *this = FrameBuffer();
}

} // namespace velmora
