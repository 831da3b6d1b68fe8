#pragma once

#include <QString>
#include <SDL_audio.h>
#include <optional>
#include <vector>

namespace lesson {

// The format every recording is converted to and played in: a spoken word needs no more.
inline constexpr int playRate = 22050;
inline constexpr SDL_AudioFormat playFormat = AUDIO_S16SYS;
inline constexpr Uint8 playChannels = 1;

// The samples of a WAV file in the play format; empty, with the reason where asked, for anything
// that is not a playable WAV file of reasonable size. Never blocks on a FIFO or device node.
std::vector<Uint8> decodeWav(const QString &file, QString *reason = nullptr);

// FILE's bytes, read without Qt (it runs on the sound thread too) and without blocking: it is
// opened without waiting, then checked to be a regular file, because a FIFO or a device named
// like one would never give an end. Null, with the reason, where it is anything else, is larger
// than LARGEST bytes, or cannot be read; the reason is notThere where there is no such file.
std::optional<QByteArray> readRegularFile(const QString &file, qint64 largest, QString *reason);

// The reason decodeWav and readRegularFile give for a file that is not there.
extern const QString notThere;

} // namespace lesson
