#pragma once

#include <QString>
#include <SDL_audio.h>
#include <SDL_thread.h>
#include <chrono>
#include <mutex>
#include <vector>

namespace lesson {

// Plays one recording at a time: starting one cuts short the one still playing.
class Sound
{
public:
    virtual ~Sound() = default;
    // Starts the WAV file and returns at once. A file that is missing or cannot be played is
    // silence, never an error: a child pressing a key must not meet a message.
    virtual void suona(const QString &file) = 0;
};

// The samples of a WAV file converted to `device`'s format; empty for anything that is not a
// playable WAV file of reasonable size. Never blocks on a FIFO or device node.
std::vector<Uint8> decodeWav(const QString &file, const SDL_AudioSpec &device);

// Sound through SDL's audio subsystem alone; no SDL window or event loop is involved.
class SdlSound final : public Sound
{
public:
    SdlSound();
    ~SdlSound() override;
    SdlSound(const SdlSound &) = delete;
    SdlSound &operator=(const SdlSound &) = delete;

    // Loads SDL and opens the output device in the background. Until then, or without it, the
    // first sound does both itself.
    void start();

    void suona(const QString &file) override;

    // Whether an output device is open right now; for diagnostics and tests.
    bool hasDevice();

private:
    bool ensureDevice();

    std::mutex m_mutex; // SDL audio calls come from the opening thread and the UI thread
    SDL_Thread *m_opening = nullptr;
    bool m_sdlUsed = false; // nothing to shut down where SDL was never started
    SDL_AudioDeviceID m_device = 0;
    SDL_AudioSpec m_spec {};
    std::chrono::steady_clock::time_point m_lastFailure {};
};

} // namespace lesson
