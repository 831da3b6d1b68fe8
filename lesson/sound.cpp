#include "lesson/sound.h"

#include <QFile>
#include <SDL.h>
#include <bit>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace lesson {

namespace {
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A spoken word is well under a second; anything bigger is not one of ours and is not read.
constexpr off_t largestRecording = 16 * 1024 * 1024;
// Small device buffers keep the key-to-sound delay and the tail of a cut-short word short.
constexpr Uint16 deviceSamples = 512;
// How often the sound thread looks at an open device.
constexpr auto watchEvery = 50ms;
// Queued sound that does not drain for this long means the device is gone, whatever SDL says of it
// (its PipeWire driver goes on reporting a dead stream as playing).
constexpr auto stalledAfter = 400ms;
// A silent program closes its device: no stream held, the server free to suspend the card.
constexpr auto idleAfter = 3s;
// A word asked for longer ago than this, while the server did not answer, is no longer wanted.
constexpr auto staleAfter = 1s;

// SDL is loaded when first needed, not linked: Debian's SDL brings some thirty libraries (codecs,
// Wayland, DRM) whose loading would delay the window's first appearance by about 10 ms.
#define NUMERI_SDL_FUNCTIONS(F)                                                                    \
    F(SDL_SetHint)                                                                                 \
    F(SDL_InitSubSystem)                                                                           \
    F(SDL_QuitSubSystem)                                                                           \
    F(SDL_Quit)                                                                                    \
    F(SDL_CreateThread)                                                                            \
    F(SDL_WaitThread)                                                                              \
    F(SDL_DetachThread)                                                                            \
    F(SDL_OpenAudioDevice)                                                                         \
    F(SDL_CloseAudioDevice)                                                                        \
    F(SDL_GetAudioDeviceStatus)                                                                    \
    F(SDL_PauseAudioDevice)                                                                        \
    F(SDL_ClearQueuedAudio)                                                                        \
    F(SDL_QueueAudio)                                                                              \
    F(SDL_GetQueuedAudioSize)                                                                      \
    F(SDL_DequeueAudio)                                                                            \
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

const QString notThere = QStringLiteral("il file non esiste");

// Read without Qt, as it runs on the sound thread; opened without blocking and then checked to be
// a regular file, because a FIFO or device named like a recording would never give an end.
QByteArray readRecording(const QString &file, QString *reason)
{
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *reason = errno == ENOENT ? notThere : QString::fromLocal8Bit(std::strerror(errno));
        return {};
    }
    QByteArray bytes;
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *reason = QStringLiteral("non è un file regolare");
    } else if (st.st_size > largestRecording) {
        *reason = QStringLiteral("troppo grande per una parola");
    } else {
        bytes.resize(qsizetype(st.st_size));
        qsizetype got = 0;
        ssize_t n = 0;
        while (got < bytes.size()
            && (n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got))) > 0)
            got += n;
        bytes.resize(got);
        if (bytes.isEmpty())
            *reason = QStringLiteral("il file è vuoto");
    }
    ::close(fd);
    return bytes;
}

// The output device and what plays on it; lives on the sound thread alone.
class Player
{
public:
    explicit Player(const SdlLibrary &lib)
        : m_lib(lib)
    { }
    ~Player() { closeAll(); }

    bool isOpen() const { return m_device != 0; }

    // Cuts short what plays and starts FILE, or STANDIN where FILE cannot be played, asked for
    // at `asked`.
    void play(const QString &file, const QString &standIn, Clock::time_point asked)
    {
        if (m_device && m_lib.SDL_GetAudioDeviceStatus(m_device) == SDL_AUDIO_STOPPED)
            lost();
        if (!m_device && !open())
            return;
        m_lib.SDL_ClearQueuedAudio(m_device);
        m_word.clear();
        // Opening may have waited on a server that did not answer.
        if (Clock::now() - asked > staleAfter)
            return;
        QString reason;
        m_word = decodeWav(file, &reason);
        if (m_word.empty() && !standIn.isEmpty()) {
            // A family without its own word for this digit is the usual case, not worth a line.
            if (reason != notThere)
                std::fprintf(stderr, "numeri: registrazione non usata, %s: %s\n",
                    qUtf8Printable(file), qUtf8Printable(reason));
            m_word = decodeWav(standIn);
        }
        m_asked = asked;
        queueWord();
    }

    // Looked at while the device is open: a device that stopped taking sound is closed, and so is
    // one that has been silent for a while.
    void watch()
    {
        if (!m_device)
            return;
        const auto now = Clock::now();
        const Uint32 queued = m_lib.SDL_GetQueuedAudioSize(m_device);
        if (queued > 0)
            m_busy = now;
        if (queued == 0 || queued < m_queued)
            m_progress = now;
        m_queued = queued;
        if (m_lib.SDL_GetAudioDeviceStatus(m_device) == SDL_AUDIO_STOPPED
            || now - m_progress > stalledAfter) {
            lost();
            // The word that met a dead device is played on a new one while still wanted.
            if (!m_word.empty() && now - m_asked < staleAfter && open())
                queueWord();
        } else if (now - m_busy > idleAfter) {
            closeDevice();
        }
    }

    void closeAll()
    {
        closeDevice();
        if (m_capture)
            m_lib.SDL_CloseAudioDevice(m_capture);
        m_capture = 0;
        if (m_subsystem)
            m_lib.SDL_QuitSubSystem(SDL_INIT_AUDIO);
        m_subsystem = false;
    }

    bool isCapturing() const { return m_capturing; }

    // Opens the default microphone; it records into SDL's queue until closed.
    bool openCapture()
    {
        const SDL_AudioSpec wanted = spec();
        if (!m_subsystem)
            m_subsystem = m_lib.SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
        if (m_subsystem)
            m_capture = m_lib.SDL_OpenAudioDevice(nullptr, 1, &wanted, nullptr, 0);
        if (m_capture)
            m_lib.SDL_PauseAudioDevice(m_capture, 0);
        m_capturing = m_capture != 0;
        return m_capturing;
    }

    // Closes the microphone and gives what it recorded.
    std::vector<qint16> closeCapture()
    {
        std::vector<qint16> samples;
        if (m_capture) {
            samples.resize(m_lib.SDL_GetQueuedAudioSize(m_capture) / sizeof(qint16));
            samples.resize(m_lib.SDL_DequeueAudio(
                               m_capture, samples.data(), Uint32(samples.size() * sizeof(qint16)))
                / sizeof(qint16));
            m_lib.SDL_CloseAudioDevice(m_capture);
        }
        m_capture = 0;
        m_capturing = false;
        return samples;
    }

private:
    static SDL_AudioSpec spec()
    {
        SDL_AudioSpec wanted {};
        wanted.freq = playRate;
        wanted.format = playFormat;
        wanted.channels = playChannels;
        wanted.samples = deviceSamples;
        return wanted;
    }

    bool open()
    {
        const SDL_AudioSpec wanted = spec();
        // Twice at most: SDL finds a sound server that came up, or came back, only when its audio
        // starts afresh.
        for (int attempt = 0; attempt < 2 && !m_device; ++attempt) {
            if (attempt > 0)
                closeAll();
            if (!m_subsystem)
                m_subsystem = m_lib.SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
            if (m_subsystem)
                m_device = m_lib.SDL_OpenAudioDevice(nullptr, 0, &wanted, nullptr, 0);
        }
        if (!m_device)
            return false;
        m_lib.SDL_PauseAudioDevice(m_device, 0);
        m_queued = 0;
        m_progress = m_busy = Clock::now();
        return true;
    }

    void queueWord()
    {
        if (!m_word.empty())
            m_lib.SDL_QueueAudio(m_device, m_word.data(), Uint32(m_word.size()));
        m_queued = m_lib.SDL_GetQueuedAudioSize(m_device);
        m_progress = m_busy = Clock::now();
    }

    void lost()
    {
        // The next device comes from a fresh start of SDL's audio, which finds the server anew;
        // not while the microphone records, which that would close.
        if (m_capture)
            closeDevice();
        else
            closeAll();
    }

    void closeDevice()
    {
        if (m_device)
            m_lib.SDL_CloseAudioDevice(m_device);
        m_device = 0;
    }

    const SdlLibrary &m_lib;
    bool m_subsystem = false;
    SDL_AudioDeviceID m_device = 0;
    SDL_AudioDeviceID m_capture = 0;
    bool m_capturing = false; // asked to record, whether or not the microphone opened
    std::vector<Uint8> m_word; // what plays now, kept to be played again on a new device
    Clock::time_point m_asked {};
    Uint32 m_queued = 0;
    Clock::time_point m_progress {}; // the last time the queue drained, or was empty
    Clock::time_point m_busy {}; // the last time anything was queued
};
} // namespace

// What the window and the sound thread share; only ever held for a moment, never across SDL.
struct SdlSound::Shared
{
    std::mutex mutex;
    std::condition_variable wake;
    QString request;
    QString standIn;
    Clock::time_point asked {};
    bool pending = false;
    bool listening = false;
    bool listenChanged = false;
    std::vector<Take> reports;
    bool quit = false;
    bool finished = false;
    bool deviceOpen = false;

    void run()
    {
        Player player(*sdl());
        std::unique_lock lock(mutex);
        while (!quit) {
            const auto wanted = [this] { return pending || listenChanged || quit; };
            if (player.isOpen() || player.isCapturing())
                wake.wait_for(lock, watchEvery, wanted);
            else
                wake.wait(lock, wanted);
            if (quit)
                break;
            const bool asked = std::exchange(pending, false);
            const QString file = request;
            const QString instead = standIn;
            const Clock::time_point when = this->asked;
            const bool listenNow = std::exchange(listenChanged, false);
            const bool listen = listening;
            lock.unlock();
            if (asked)
                player.play(file, instead, when);
            else
                player.watch();
            std::optional<Take> take;
            if (listenNow && listen && !player.isCapturing())
                take = Take { player.openCapture() ? Take::Open : Take::Failed, {} };
            else if (listenNow && !listen)
                take = Take { Take::Done, player.closeCapture() };
            lock.lock();
            if (take)
                reports.push_back(std::move(*take));
            deviceOpen = player.isOpen();
        }
        lock.unlock();
        player.closeAll();
        lock.lock();
        deviceOpen = false;
        finished = true;
        wake.notify_all();
    }
};

SdlSound::SdlSound()
    : m_shared(std::make_shared<Shared>())
{ }

SdlSound::~SdlSound()
{
    stop(std::chrono::seconds(5));
}

void SdlSound::start()
{
    const SdlLibrary *lib = sdl();
    if (!lib || m_thread)
        return;
    // An SDL thread, so that SDL frees what it keeps per thread when it ends. It holds the shared
    // state itself, so that it may outlive this object when a hung server will not let it go.
    m_thread = lib->SDL_CreateThread(
        [](void *data) {
            const std::unique_ptr<std::shared_ptr<Shared>> shared(
                static_cast<std::shared_ptr<Shared> *>(data));
            (*shared)->run();
            return 0;
        },
        "numeri-sound", new std::shared_ptr<Shared>(m_shared));
}

void SdlSound::suona(const QString &file, const QString &standIn)
{
    start();
    const std::lock_guard lock(m_shared->mutex);
    m_shared->request = file;
    m_shared->standIn = standIn;
    m_shared->asked = Clock::now();
    m_shared->pending = true;
    m_shared->wake.notify_all();
}

void SdlSound::listen(bool on)
{
    start();
    const std::lock_guard lock(m_shared->mutex);
    if (!m_thread) {
        m_shared->reports.push_back(Take { on ? Take::Failed : Take::Done, {} });
        return;
    }
    m_shared->listening = on;
    m_shared->listenChanged = true;
    m_shared->wake.notify_all();
}

std::vector<Take> SdlSound::microphone()
{
    const std::lock_guard lock(m_shared->mutex);
    return std::exchange(m_shared->reports, {});
}

bool SdlSound::stop(std::chrono::milliseconds patience)
{
    if (!m_thread)
        return true;
    const SdlLibrary *lib = sdl();
    std::unique_lock lock(m_shared->mutex);
    m_shared->quit = true;
    m_shared->wake.notify_all();
    if (!m_shared->wake.wait_for(lock, patience, [this] { return m_shared->finished; })) {
        lib->SDL_DetachThread(m_thread);
        m_thread = nullptr;
        return false;
    }
    lock.unlock();
    lib->SDL_WaitThread(m_thread, nullptr);
    m_thread = nullptr;
    // SDL is used for nothing else: all of it goes, hints and the subsystems audio brought in.
    lib->SDL_Quit();
    return true;
}

bool SdlSound::hasDevice() const
{
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->deviceOpen;
}

std::vector<Uint8> decodeWav(const QString &file, QString *reason)
{
    QString ignored;
    reason = reason ? reason : &ignored;
    const SdlLibrary *lib = sdl();
    if (!lib) {
        *reason = QStringLiteral("manca la libreria SDL");
        return {};
    }
    const QByteArray bytes = readRecording(file, reason);
    if (bytes.isEmpty())
        return {};

    SDL_AudioSpec spec {};
    Uint8 *samples = nullptr;
    Uint32 length = 0;
    if (!lib->SDL_LoadWAV_RW(lib->SDL_RWFromConstMem(bytes.constData(), int(bytes.size())), 1,
            &spec, &samples, &length)) {
        *reason = QStringLiteral("non è una registrazione WAV");
        return {};
    }
    const std::unique_ptr<Uint8, decltype(lib->SDL_FreeWAV)> wav(samples, lib->SDL_FreeWAV);

    const std::unique_ptr<SDL_AudioStream, decltype(lib->SDL_FreeAudioStream)> stream(
        lib->SDL_NewAudioStream(
            spec.format, spec.channels, spec.freq, playFormat, playChannels, playRate),
        lib->SDL_FreeAudioStream);
    // SDL's resampler holds back the last few tens of milliseconds even when flushed; the
    // silence behind the word is what stays behind instead.
    const std::vector<Uint8> tail(
        size_t(spec.freq / 10) * spec.channels * (SDL_AUDIO_BITSIZE(spec.format) / 8),
        spec.silence);
    if (!stream || lib->SDL_AudioStreamPut(stream.get(), wav.get(), int(length)) != 0
        || (spec.freq != playRate
            && lib->SDL_AudioStreamPut(stream.get(), tail.data(), int(tail.size())) != 0)
        || lib->SDL_AudioStreamFlush(stream.get()) != 0)
        return {};
    std::vector<Uint8> converted(size_t(lib->SDL_AudioStreamAvailable(stream.get())));
    const int got = lib->SDL_AudioStreamGet(stream.get(), converted.data(), int(converted.size()));
    converted.resize(size_t(std::max(got, 0)));
    return converted;
}

} // namespace lesson
