#include "lesson/sound.h"

#include <QFile>
#include <QFileInfo>
#include <SDL.h>
#include <bit>
#include <dlfcn.h>
#include <memory>

namespace lesson {

namespace {
// A spoken word is well under a second; anything bigger is not one of ours and is not read.
constexpr qint64 largestRecording = 16 * 1024 * 1024;
// Small device buffers keep the key-to-sound delay and the tail of a cut-short word short.
constexpr Uint16 deviceSamples = 512;
// With no sound server, trying again at every key would add its cost to every key.
constexpr std::chrono::milliseconds retryPause(500);

// SDL is loaded when first needed, not linked: Debian's SDL brings some thirty libraries (codecs,
// Wayland, DRM) whose loading would delay the window's first appearance by about 10 ms.
#define NUMERI_SDL_FUNCTIONS(F)                                                                    \
    F(SDL_SetHint)                                                                                 \
    F(SDL_InitSubSystem)                                                                           \
    F(SDL_QuitSubSystem)                                                                           \
    F(SDL_Quit)                                                                                    \
    F(SDL_CreateThread)                                                                            \
    F(SDL_WaitThread)                                                                              \
    F(SDL_OpenAudioDevice)                                                                         \
    F(SDL_CloseAudioDevice)                                                                        \
    F(SDL_GetAudioDeviceStatus)                                                                    \
    F(SDL_PauseAudioDevice)                                                                        \
    F(SDL_ClearQueuedAudio)                                                                        \
    F(SDL_QueueAudio)                                                                              \
    F(SDL_RWFromConstMem)                                                                          \
    F(SDL_LoadWAV_RW)                                                                              \
    F(SDL_FreeWAV)                                                                                 \
    F(SDL_NewAudioStream)                                                                          \
    F(SDL_AudioStreamPut)                                                                          \
    F(SDL_AudioStreamFlush)                                                                        \
    F(SDL_AudioStreamAvailable)                                                                    \
    F(SDL_AudioStreamGet)                                                                          \
    F(SDL_FreeAudioStream)

struct SdlLibrary
{
#define NUMERI_SDL_POINTER(name) decltype(&::name) name = nullptr;
    NUMERI_SDL_FUNCTIONS(NUMERI_SDL_POINTER)
#undef NUMERI_SDL_POINTER
};

// The loaded library, or null where it cannot be had: then every sound is silence.
const SdlLibrary *sdl()
{
    static const SdlLibrary *const loaded = []() -> const SdlLibrary * {
        void *handle = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return nullptr;
        static SdlLibrary library;
        bool complete = true;
#define NUMERI_SDL_RESOLVE(name)                                                                   \
    library.name = std::bit_cast<decltype(&::name)>(dlsym(handle, #name));                         \
    complete = complete && library.name;
        NUMERI_SDL_FUNCTIONS(NUMERI_SDL_RESOLVE)
#undef NUMERI_SDL_RESOLVE
        if (!complete)
            return nullptr;
        // SDL's audio pulls in its event subsystem, whose signal handlers would turn SIGTERM and
        // SIGINT into events that nobody reads: the program could then no longer be stopped.
        library.SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        return &library;
    }();
    return loaded;
}
} // namespace

SdlSound::SdlSound() = default;

void SdlSound::start()
{
    const SdlLibrary *lib = sdl();
    if (!lib || m_opening)
        return;
    m_sdlUsed = true;
    // Connecting to the sound server takes a while; the window does not wait for it. An SDL
    // thread, so that SDL frees what it keeps per thread when it ends.
    m_opening = lib->SDL_CreateThread(
        [](void *self) {
            auto *sound = static_cast<SdlSound *>(self);
            const std::lock_guard lock(sound->m_mutex);
            sound->ensureDevice();
            return 0;
        },
        "numeri-sound", this);
}

SdlSound::~SdlSound()
{
    // Not sdl(): a player that never played must not load the library just to close it.
    const SdlLibrary *lib = m_sdlUsed ? sdl() : nullptr;
    if (!lib)
        return;
    if (m_opening)
        lib->SDL_WaitThread(m_opening, nullptr);
    if (m_device)
        lib->SDL_CloseAudioDevice(m_device);
    // SDL is used for nothing else: all of it goes, hints and the subsystems audio brought in.
    lib->SDL_Quit();
}

bool SdlSound::hasDevice()
{
    const std::lock_guard lock(m_mutex);
    const SdlLibrary *lib = sdl();
    return lib && m_device && lib->SDL_GetAudioDeviceStatus(m_device) != SDL_AUDIO_STOPPED;
}

bool SdlSound::ensureDevice()
{
    const SdlLibrary *lib = sdl();
    if (!lib)
        return false;
    m_sdlUsed = true;
    // A device whose server went away reports itself stopped.
    if (m_device && lib->SDL_GetAudioDeviceStatus(m_device) != SDL_AUDIO_STOPPED)
        return true;
    const auto now = std::chrono::steady_clock::now();
    if (m_lastFailure != decltype(m_lastFailure) {} && now - m_lastFailure < retryPause)
        return false;

    if (m_device) {
        lib->SDL_CloseAudioDevice(m_device);
        m_device = 0;
    }
    // Starting the subsystem afresh lets SDL find a sound server that came up after us.
    lib->SDL_QuitSubSystem(SDL_INIT_AUDIO);
    if (lib->SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
        SDL_AudioSpec wanted {};
        wanted.freq = 22050;
        wanted.format = AUDIO_S16SYS;
        wanted.channels = 1;
        wanted.samples = deviceSamples;
        m_device = lib->SDL_OpenAudioDevice(nullptr, 0, &wanted, &m_spec, 0);
    }
    if (!m_device) {
        m_lastFailure = now;
        return false;
    }
    m_lastFailure = {};
    lib->SDL_PauseAudioDevice(m_device, 0);
    return true;
}

std::vector<Uint8> decodeWav(const QString &file, const SDL_AudioSpec &device)
{
    const SdlLibrary *lib = sdl();
    if (!lib)
        return {};
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
    if (!lib->SDL_LoadWAV_RW(lib->SDL_RWFromConstMem(bytes.constData(), int(bytes.size())), 1,
            &spec, &samples, &length))
        return {};
    const std::unique_ptr<Uint8, decltype(lib->SDL_FreeWAV)> wav(samples, lib->SDL_FreeWAV);

    const std::unique_ptr<SDL_AudioStream, decltype(lib->SDL_FreeAudioStream)> stream(
        lib->SDL_NewAudioStream(
            spec.format, spec.channels, spec.freq, device.format, device.channels, device.freq),
        lib->SDL_FreeAudioStream);
    // SDL's resampler holds back the last few tens of milliseconds even when flushed; the
    // silence behind the word is what stays behind instead.
    const std::vector<Uint8> tail(
        size_t(spec.freq / 10) * spec.channels * (SDL_AUDIO_BITSIZE(spec.format) / 8),
        spec.silence);
    if (!stream || lib->SDL_AudioStreamPut(stream.get(), wav.get(), int(length)) != 0
        || (spec.freq != device.freq
            && lib->SDL_AudioStreamPut(stream.get(), tail.data(), int(tail.size())) != 0)
        || lib->SDL_AudioStreamFlush(stream.get()) != 0)
        return {};
    std::vector<Uint8> converted(size_t(lib->SDL_AudioStreamAvailable(stream.get())));
    const int got = lib->SDL_AudioStreamGet(stream.get(), converted.data(), int(converted.size()));
    converted.resize(size_t(std::max(got, 0)));
    return converted;
}

void SdlSound::suona(const QString &file)
{
    const std::lock_guard lock(m_mutex);
    const SdlLibrary *lib = sdl();
    if (!ensureDevice())
        return;
    // What still plays stops now, also when the new file turns out to be silence.
    lib->SDL_ClearQueuedAudio(m_device);
    const std::vector<Uint8> pcm = decodeWav(file, m_spec);
    if (!pcm.empty())
        lib->SDL_QueueAudio(m_device, pcm.data(), Uint32(pcm.size()));
}

} // namespace lesson
