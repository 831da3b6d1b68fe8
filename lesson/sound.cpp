#include "lesson/sound.h"

#include "lesson/sdl.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>

namespace lesson {

namespace {
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

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

// The output device and what plays on it; lives on the sound thread alone.
class Player
{
public:
    explicit Player(const SdlLibrary &lib)
        : m_lib(lib)
    { }
    ~Player() { closeAll(); }

    bool isOpen() const { return m_device != 0; }

    // Cuts short what plays and starts FILE, or STANDIN where FILE cannot be played, or SAMPLES
    // where given, asked for at `asked`.
    void play(const QString &file, const QString &standIn, std::vector<Uint8> samples,
        Clock::time_point asked)
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
        m_word = samples.empty() ? decodeWav(file, &reason) : std::move(samples);
        if (m_word.empty() && !standIn.isEmpty()) {
            // A family without its own word for this digit is the usual case, not worth a line.
            if (reason != notThere)
                qWarning("numeri: registrazione non usata, %s: %s", qUtf8Printable(file),
                    qUtf8Printable(reason));
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
        // SDL 3 answers the status under the lock its device holds while it writes, so a device
        // that stopped taking sound would hold this thread too. It is asked once the queue has
        // drained: a device SDL 2 found dead drains it too, dropping it at the pace of playing.
        if (now - m_progress > stalledAfter || deviceLeftTheList()
            || (queued == 0 && m_lib.SDL_GetAudioDeviceStatus(m_device) == SDL_AUDIO_STOPPED)) {
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
        closeCapture();
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

    // Gives what the microphone recorded. Its device is closed by closeCapture, which can take a
    // second or more on a sound server, so what it heard need not wait for that. Not paused first:
    // SDL 3 pauses under the lock its device holds while it reads, and a read may be slow.
    std::vector<qint16> stopCapture()
    {
        std::vector<qint16> samples;
        if (m_capture) {
            samples.resize(m_lib.SDL_GetQueuedAudioSize(m_capture) / sizeof(qint16));
            samples.resize(m_lib.SDL_DequeueAudio(
                               m_capture, samples.data(), Uint32(samples.size() * sizeof(qint16)))
                / sizeof(qint16));
        }
        m_capturing = false;
        return samples;
    }

    void closeCapture()
    {
        if (m_capture)
            m_lib.SDL_CloseAudioDevice(m_capture);
        m_capture = 0;
        m_capturing = false;
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
        m_devices = m_lib.SDL_GetNumAudioDevices(0);
        m_queued = 0;
        m_progress = m_busy = Clock::now();
        return true;
    }

    // SDL 3, which runs SDL 2 programs through sdl2-compat, keeps a lost device as a stand-in that
    // goes on taking sound at the device's pace, and says it plays: neither sign above ever shows.
    // A lost device leaves SDL's list of devices, though, on SDL 2 as on SDL 3. The list tells
    // nothing of which device is the default, so any device gone counts, the one in use perhaps
    // among them: a new device is one more start of a stream, and no sound lost.
    bool deviceLeftTheList()
    {
        const int devices = m_lib.SDL_GetNumAudioDevices(0);
        m_devices = std::max(m_devices, devices);
        return devices >= 0 && devices < m_devices;
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
    int m_devices = 0; // how many playback devices SDL knew of while this one was open
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
    std::vector<Uint8> samples;
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
            std::vector<Uint8> given = std::move(samples);
            const Clock::time_point when = this->asked;
            const bool listenNow = std::exchange(listenChanged, false);
            const bool listen = listening;
            lock.unlock();
            if (asked)
                player.play(file, instead, std::move(given), when);
            else
                player.watch();
            // A take ends with what it heard, also where the microphone never opened, and before
            // a new one begins where the window asked for both before this thread looked.
            if (listenNow && (player.isCapturing() || !listen)) {
                Take heard { Take::Done, player.stopCapture() };
                lock.lock();
                reports.push_back(std::move(heard));
                lock.unlock();
                player.closeCapture();
            }
            std::optional<Take> opened;
            if (listenNow && listen)
                opened = Take { player.openCapture() ? Take::Open : Take::Failed, {} };
            lock.lock();
            if (opened)
                reports.push_back(std::move(*opened));
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
    ask(file, standIn, {});
}

void SdlSound::play(std::vector<qint16> samples)
{
    std::vector<Uint8> bytes(samples.size() * sizeof(qint16));
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    ask({}, {}, std::move(bytes));
}

void SdlSound::ask(const QString &file, const QString &standIn, std::vector<Uint8> samples)
{
    start();
    const std::lock_guard lock(m_shared->mutex);
    m_shared->request = file;
    m_shared->standIn = standIn;
    m_shared->samples = std::move(samples);
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

} // namespace lesson
