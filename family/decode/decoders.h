#pragma once

#include "pcm.h"

#include <memory>
#include <string>

namespace decode {

// What a decoder made of a file.
enum class Result {
    Decoded,
    NotMine, // not a format this decoder knows: the next one may
    Broken, // its format, but it cannot be read through
};

// libsndfile: WAV of any kind, FLAC, Ogg Vorbis and Opus, MP3. The file is FD, read from its start.
Result withSndfile(int fd, std::unique_ptr<Mono> &sound);

// FFmpeg's libraries, loaded only where a file needs them. False where they are not installed;
// then MISSING names the Debian package that brings them.
bool loadFfmpeg(std::string *missing);
// AAC in M4A or 3GP, AMR, and whatever else FFmpeg reads; call loadFfmpeg first.
Result withFfmpeg(int fd, std::unique_ptr<Mono> &sound);

// Whether FD's first bytes are those of a format that only FFmpeg reads here (MP4, 3GP, AMR).
bool onlyFfmpegReads(int fd);

// Takes from this process whatever goes beyond reading the files it holds open: no file opened
// anew, none written, no memory or time past a bound. False where the kernel could not shut the
// file system away (a kernel without Landlock); the bounds stand all the same.
bool confine();

} // namespace decode
