#include "lesson/sound.h"

#include <QFile>
#include <QFileInfo>
#include <SDL.h>
#include <memory>

namespace lesson {

namespace {
// A spoken word is well under a second; anything bigger is not one of ours and is not read.
constexpr qint64 largestRecording = 16 * 1024 * 1024;
// Small device buffers keep the key-to-sound delay and the tail of a cut-short word short.
constexpr Uint16 deviceSamples = 512;
// With no sound server, trying again at every key would add its cost to every key.
constexpr std::chrono::milliseconds retryPause(500);

struct WavBuffer
{
    void operator()(Uint8 *data) const { SDL_FreeWAV(data); }
};
struct Stream
{
    void operator()(SDL_AudioStream *stream) const { SDL_FreeAudioStream(stream); }
};
} // namespace

SdlSound::SdlSound()
{
    // SDL's audio pulls in its event subsystem, whose signal handlers would turn SIGTERM and
    // SIGINT into events that nobody reads: the program could then no longer be stopped.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // Connecting to the sound server takes a while; the window does not wait for it. An SDL
    // thread, so that SDL frees what it keeps per thread when it ends.
    m_opening = SDL_CreateThread(
        [](void *self) {
            auto *sound = static_cast<SdlSound *>(self);
            const std::lock_guard lock(sound->m_mutex);
            sound->ensureDevice();
            return 0;
        },
        "numeri-sound", this);
    if (!m_opening) {
        const std::lock_guard lock(m_mutex);
        ensureDevice();
    }
}

SdlSound::~SdlSound()
{
    if (m_opening)
        SDL_WaitThread(m_opening, nullptr);
    if (m_device)
        SDL_CloseAudioDevice(m_device);
    // SDL is used for nothing else: all of it goes, hints and the subsystems audio brought in.
    SDL_Quit();
}

bool SdlSound::hasDevice()
{
    const std::lock_guard lock(m_mutex);
    return m_device && SDL_GetAudioDeviceStatus(m_device) != SDL_AUDIO_STOPPED;
}

bool SdlSound::ensureDevice()
{
    // A device whose server went away reports itself stopped.
    if (m_device && SDL_GetAudioDeviceStatus(m_device) != SDL_AUDIO_STOPPED)
        return true;
    const auto now = std::chrono::steady_clock::now();
    if (m_lastFailure != decltype(m_lastFailure) {} && now - m_lastFailure < retryPause)
        return false;

    if (m_device) {
        SDL_CloseAudioDevice(m_device);
        m_device = 0;
    }
    // Starting the subsystem afresh lets SDL find a sound server that came up after us.
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
        SDL_AudioSpec wanted {};
        wanted.freq = 22050;
        wanted.format = AUDIO_S16SYS;
        wanted.channels = 1;
        wanted.samples = deviceSamples;
        m_device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &m_spec, 0);
    }
    if (!m_device) {
        m_lastFailure = now;
        return false;
    }
    m_lastFailure = {};
    SDL_PauseAudioDevice(m_device, 0);
    return true;
}

std::vector<Uint8> decodeWav(const QString &file, const SDL_AudioSpec &device)
{
    // Read by Qt, so any file name works and nothing on the path is recoded; checked first,
    // because opening a FIFO or a device would block the window.
    const QFileInfo info(file);
    if (!info.isFile() || info.size() > largestRecording)
        return {};
    QFile input(file);
    if (!input.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = input.readAll();

    SDL_AudioSpec spec {};
    Uint8 *samples = nullptr;
    Uint32 length = 0;
    if (!SDL_LoadWAV_RW(SDL_RWFromConstMem(bytes.constData(), int(bytes.size())), 1, &spec,
                        &samples, &length))
        return {};
    const std::unique_ptr<Uint8, WavBuffer> wav(samples);

    const std::unique_ptr<SDL_AudioStream, Stream> stream(
        SDL_NewAudioStream(spec.format, spec.channels, spec.freq, device.format, device.channels,
                           device.freq));
    // SDL's resampler holds back the last few tens of milliseconds even when flushed; the
    // silence behind the word is what stays behind instead.
    const std::vector<Uint8> tail(size_t(spec.freq / 10) * spec.channels
                                      * (SDL_AUDIO_BITSIZE(spec.format) / 8),
                                  spec.silence);
    if (!stream || SDL_AudioStreamPut(stream.get(), wav.get(), int(length)) != 0
        || (spec.freq != device.freq
            && SDL_AudioStreamPut(stream.get(), tail.data(), int(tail.size())) != 0)
        || SDL_AudioStreamFlush(stream.get()) != 0)
        return {};
    std::vector<Uint8> converted(size_t(SDL_AudioStreamAvailable(stream.get())));
    const int got = SDL_AudioStreamGet(stream.get(), converted.data(), int(converted.size()));
    converted.resize(size_t(std::max(got, 0)));
    return converted;
}

void SdlSound::suona(const QString &file)
{
    const std::lock_guard lock(m_mutex);
    if (!ensureDevice())
        return;
    // What still plays stops now, also when the new file turns out to be silence.
    SDL_ClearQueuedAudio(m_device);
    const std::vector<Uint8> pcm = decodeWav(file, m_spec);
    if (!pcm.empty())
        SDL_QueueAudio(m_device, pcm.data(), Uint32(pcm.size()));
}

} // namespace lesson
