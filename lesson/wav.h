#pragma once

#include <QString>
#include <SDL_audio.h>
#include <vector>

namespace lesson {

// The format every recording is converted to and played in: a spoken word needs no more.
inline constexpr int playRate = 22050;
inline constexpr SDL_AudioFormat playFormat = AUDIO_S16SYS;
inline constexpr Uint8 playChannels = 1;

// The samples of a WAV file in the play format; empty, with the reason where asked, for anything
// that is not a playable WAV file of reasonable size. Never blocks on a FIFO or device node.
std::vector<Uint8> decodeWav(const QString &file, QString *reason = nullptr);

// The reason decodeWav gives for a file that is not there.
extern const QString notThere;

} // namespace lesson
