#pragma once
// Short PCM WAV sounds (the ring, the chat sound), played on the desktop's
// sound server. The sound library is opened by the first sound played, on a
// thread of its own ("velmora-sound"), so neither start-up nor a console
// that never plays a sound pays for it; without a sound server nothing is
// heard and nothing waits.
#include <QByteArray>
#include <QString>

#include <optional>

namespace velmora {

struct TWavClip {
    quint32 rate = 0;
    quint16 channels = 0;
    quint16 bits = 0;  // per sample: 8, 16, 24 or 32
    bool floats = false; // 32-bit samples as floating point
    QByteArray samples;
};

// The samples of a RIFF/WAVE file of PCM samples; nothing for any other or a
// damaged file. A data chunk cut short keeps the samples that are there.
std::optional<TWavClip> ParseWav(const QByteArray &file);

// A sound file, read on its first play (and again after SetFile).
class TWavSound {
public:
    void SetFile(const QString &path);
    // Returns at once; a sound asked for while two wait is dropped.
    void Play();

private:
    QString m_path;
    bool m_read = false;
    std::optional<TWavClip> m_clip;
};

} // namespace velmora
