#include "protocol/Codec.h"

#include <QtEndian>

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

void FrameBuffer::Append(const char *data, qsizetype size)
{
    if (size <= 0)
        return;
    // Drop consumed bytes before growing, so the buffer stays near one frame.
    if (m_start > 0 && (m_start == m_data.size() || m_start >= 64 * 1024)) {
        m_data.remove(0, m_start);
        m_start = 0;
    }
    m_data.append(data, size);
}

FrameBuffer::Result FrameBuffer::TakeFrame(Frame &out)
{
    const qsizetype pending = Pending();
    if (pending < kHeaderSize)
        return Result::NeedMore;
    const char *header = m_data.constData() + m_start;
    const quint32 length = qFromBigEndian<quint32>(header + 2);
    if (length > kMaxBodyLength)
        return Result::TooLarge;
    if (pending - kHeaderSize < qsizetype(length))
        return Result::NeedMore;
    out.code = qFromBigEndian<quint16>(header);
    out.body = m_data.mid(m_start + kHeaderSize, qsizetype(length));
    m_start += kHeaderSize + qsizetype(length);
    if (m_start == m_data.size()) {
        m_data.clear();
        m_start = 0;
    }
    return Result::Frame;
}

void FrameBuffer::Clear()
{
    m_data.clear();
    m_start = 0;
}

} // namespace velmora
