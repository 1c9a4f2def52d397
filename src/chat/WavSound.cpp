#include "chat/WavSound.h"

#include <QFile>
#include <QtEndian>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <dlfcn.h>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace velmora {

namespace {

// Sounds are short: a bigger file is not one of ours.
constexpr qint64 kMaxWavBytes = 16 * 1024 * 1024;

// The few declarations of the sound server's simple playback interface we
// use; its library is opened at run time, so it needs no headers to build.
struct PaSampleLayout {
    int format;
    std::uint32_t rate;
    std::uint8_t channels;
};
enum : int { kPaU8 = 0, kPaS16Le = 3, kPaFloat32Le = 5, kPaS32Le = 7, kPaS24Le = 9 };
constexpr int kPaPlayback = 1;
using PaNew = void *(*)(const char *, const char *, int, const char *, const char *, const PaSampleLayout *,
                        const void *, const void *, int *);
using PaWrite = int (*)(void *, const void *, std::size_t, int *);
using PaLatency = std::uint64_t (*)(void *, int *);
using PaFree = void (*)(void *);

class Player {
public:
    static Player &Instance()
    {
        static Player player;
        return player;
    }

    void Play(const TWavClip &clip)
    {
        {
            std::lock_guard lock(m_mutex);
            // A burst of rings is heard as a ring or two, not as a minute of them.
            if (m_queue.size() >= 2)
                return;
            m_queue.push_back(clip);
            if (!m_thread.joinable())
                m_thread = std::thread([this] { Run(); });
        }
        m_wake.notify_one();
    }

    ~Player()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
            m_queue.clear();
        }
        m_wake.notify_one();
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    void Run()
    {
        pthread_setname_np(pthread_self(), "velmora-sound");
        // Never closed: the library stays for the program's life.
        void *library = dlopen("libpulse-simple.so.0", RTLD_NOW | RTLD_LOCAL);
        const auto open = library ? reinterpret_cast<PaNew>(dlsym(library, "pa_simple_new")) : nullptr;
        const auto write = library ? reinterpret_cast<PaWrite>(dlsym(library, "pa_simple_write")) : nullptr;
        const auto latency = library ? reinterpret_cast<PaLatency>(dlsym(library, "pa_simple_get_latency")) : nullptr;
        const auto close = library ? reinterpret_cast<PaFree>(dlsym(library, "pa_simple_free")) : nullptr;
        const bool usable = open && write && latency && close;
        for (;;) {
            TWavClip clip;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
                if (m_stop)
                    return;
                clip = std::move(m_queue.front());
                m_queue.pop_front();
            }
            if (usable)
                PlayOne(clip, open, write, latency, close);
        }
    }

    void PlayOne(const TWavClip &clip, PaNew open, PaWrite write, PaLatency latency, PaFree close)
    {
        PaSampleLayout layout{kPaS16Le, clip.rate, std::uint8_t(clip.channels)};
        switch (clip.bits) {
        case 8: layout.format = kPaU8; break;
        case 24: layout.format = kPaS24Le; break;
        case 32: layout.format = clip.floats ? kPaFloat32Le : kPaS32Le; break;
        default: break;
        }
        int error = 0;
        void *stream = open(nullptr, "Velmora", kPaPlayback, nullptr, "sound", &layout, nullptr, nullptr, &error);
        if (!stream)
            return; // no sound server: silence
        // In pieces of about 50 ms, so the program's exit never waits long.
        const std::size_t frame = std::size_t(clip.channels) * (clip.bits / 8);
        const std::size_t piece = std::max<std::size_t>(frame, std::size_t(clip.rate / 20) * frame);
        const char *data = clip.samples.constData();
        std::size_t left = std::size_t(clip.samples.size());
        while (left > 0 && !Stopping()) {
            const std::size_t n = std::min(left, piece);
            if (write(stream, data, n, &error) < 0)
                break;
            data += n;
            left -= n;
        }
        // What the server still holds plays out before the stream goes.
        for (int turn = 0; turn < 200 && !Stopping(); ++turn) {
            const std::uint64_t usec = latency(stream, &error);
            if (usec == std::uint64_t(-1) || usec < 1000)
                break;
            std::unique_lock lock(m_mutex);
            m_wake.wait_for(lock, std::chrono::microseconds(std::min<std::uint64_t>(usec, 50000)),
                            [this] { return m_stop; });
        }
        close(stream);
    }

    bool Stopping()
    {
        std::lock_guard lock(m_mutex);
        return m_stop;
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<TWavClip> m_queue;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace

std::optional<TWavClip> ParseWav(const QByteArray &file)
{
    if (file.size() < 12 || !file.startsWith("RIFF") || file.mid(8, 4) != "WAVE")
        return std::nullopt;
    const char *bytes = file.constData();
    const qsizetype size = file.size();
    TWavClip clip;
    bool haveFormat = false;
    qsizetype at = 12;
    while (at + 8 <= size) {
        const QByteArray id(bytes + at, 4);
        const quint32 length = qFromLittleEndian<quint32>(bytes + at + 4);
        const qsizetype body = at + 8;
        const qsizetype available = std::min<qsizetype>(qsizetype(length), size - body);
        if (id == "fmt ") {
            if (available < 16)
                return std::nullopt;
            const quint16 format = qFromLittleEndian<quint16>(bytes + body);
            clip.channels = qFromLittleEndian<quint16>(bytes + body + 2);
            clip.rate = qFromLittleEndian<quint32>(bytes + body + 4);
            clip.bits = qFromLittleEndian<quint16>(bytes + body + 14);
            clip.floats = format == 3;
            const bool pcm = format == 1 || (format == 3 && clip.bits == 32);
            const bool bits = clip.bits == 8 || clip.bits == 16 || clip.bits == 24 || clip.bits == 32;
            if (!pcm || !bits || clip.channels < 1 || clip.channels > 8 || clip.rate < 1000 || clip.rate > 384000)
                return std::nullopt;
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat)
                return std::nullopt;
            const qsizetype frame = qsizetype(clip.channels) * (clip.bits / 8);
            clip.samples = file.mid(body, available - available % frame);
            return clip.samples.isEmpty() ? std::nullopt : std::optional<TWavClip>(std::move(clip));
        }
        if (qsizetype(length) > size - body)
            break;
        at = body + qsizetype(length) + (length & 1); // chunks are padded to even sizes
    }
    return std::nullopt;
}

void TWavSound::SetFile(const QString &path)
{
    m_path = path;
    m_read = false;
    m_clip.reset();
}

void TWavSound::Play()
{
    if (!m_read) {
        m_read = true;
        QFile file(m_path);
        if (file.open(QIODevice::ReadOnly) && file.size() <= kMaxWavBytes)
            m_clip = ParseWav(file.readAll());
    }
    if (m_clip)
        Player::Instance().Play(*m_clip);
}

} // namespace velmora
