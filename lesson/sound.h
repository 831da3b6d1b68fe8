#pragma once

#include "lesson/wav.h"

#include <QString>
#include <SDL_audio.h>
#include <chrono>
#include <memory>
#include <vector>

struct SDL_Thread;

namespace lesson {

// Plays one recording at a time: starting one cuts short the one still playing.
class Sound
{
public:
    virtual ~Sound() = default;
    // Starts the WAV file and returns at once. A file that is missing or cannot be played is
    // silence, never an error: a child pressing a key must not meet a message. Where STANDIN is
    // given it plays in place of a FILE that cannot be (the installed word for a family's).
    virtual void suona(const QString &file, const QString &standIn = {}) = 0;
};

// What the microphone has done, as SdlSound::listen reports it.
struct Take
{
    enum State { Open, Failed, Done } state;
    std::vector<qint16> samples; // with Done: what it heard, in the play format
};

// Sound through SDL's audio subsystem, all of it on one thread of its own. The window only hands
// over the newest request: a sound server that is missing, hung or restarting never holds it up.
class SdlSound final : public Sound
{
public:
    SdlSound();
    ~SdlSound() override;
    SdlSound(const SdlSound &) = delete;
    SdlSound &operator=(const SdlSound &) = delete;

    // Loads SDL and starts the sound thread; the first sound does so itself where this was not
    // called.
    void start();

    void suona(const QString &file, const QString &standIn = {}) override;
    // Plays SAMPLES, in the play format, as suona plays a file.
    void play(std::vector<qint16> samples);

    // Records from the default microphone while ON, on the sound thread too, so that a sound
    // server that does not answer never holds the caller.
    void listen(bool on);
    // What the microphone did since last asked: Open once it records, Failed where it cannot,
    // Done with what it heard once it is closed again.
    std::vector<Take> microphone();

    // Ends the sound thread, waiting for it at most `patience`. False where it is stuck in a sound
    // server that does not answer: SDL is then left as it is, and the process must end without
    // unloading anything (std::_Exit).
    bool stop(std::chrono::milliseconds patience);

    // Whether an output device is open right now; for diagnostics and tests.
    bool hasDevice() const;

    struct Shared;

private:
    void ask(const QString &file, const QString &standIn, std::vector<Uint8> samples);

    std::shared_ptr<Shared> m_shared;
    SDL_Thread *m_thread = nullptr;
};

} // namespace lesson
