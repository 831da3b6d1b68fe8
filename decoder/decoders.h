#pragma once

#include "pcm.h"

#include <dlfcn.h>
#include <memory>
#include <string>
#include <vector>

namespace decode {

// What a decoder made of a file.
enum class Result {
    Decoded,
    NotMine, // not a format this decoder knows: the next one may
    Broken, // its format, but it cannot be read through
    Missing, // its format, whose decoder is not installed
    TooLarge, // a picture larger than may be decoded here
};

// A picture, upright, as 8-bit RGB rows.
struct Picture
{
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

// F, the function NAME of the library LIBRARY opened with dlopen; false where either is missing.
template<typename F> bool take(void *library, const char *name, F &f)
{
    f = library ? reinterpret_cast<F>(dlsym(library, name)) : nullptr;
    return f != nullptr;
}

// libsndfile: WAV of any kind, FLAC, Ogg Vorbis and Opus, MP3. The file is FD, read from its start.
Result withSndfile(int fd, std::unique_ptr<Mono> &sound);

// FFmpeg's libraries, loaded only where a file needs them. False where they are not installed;
// then MISSING names the Debian package that brings them.
bool loadFfmpeg(std::string *missing);
// AAC in M4A or 3GP, AMR, and whatever else FFmpeg reads; call loadFfmpeg first.
Result withFfmpeg(int fd, std::unique_ptr<Mono> &sound);

// libheif, loaded where installed: HEIC from iPhones, AVIF. False where it is not; then MISSING
// names the Debian package.
bool loadHeif(std::string *missing);
// Reads FD whole (a photo's size at most) and decodes its primary image, turned as it says, into
// PICTURE no larger than WIDTH x HEIGHT; Missing, naming the packages in MISSING, where libheif
// has no decoder for its codec; TooLarge, with its size in PICTURE where the file tells it, where
// decoding it would take more memory than is allowed.
Result withHeif(int fd, int width, int height, Picture &picture, std::string *missing);

// The length FD's WAV header gives its sound, in seconds; 0 where it is no WAV or gives none.
double wavSeconds(int fd);
// Whether FD, an Ogg file, ends inside a page, or with no page marked as the last: Ogg gives no
// length of its own.
bool oggEndsMidway(int fd);

// Whether FD's first bytes are those of a format that only FFmpeg reads here (MP4, 3GP, AMR).
bool onlyFfmpegReads(int fd);

// Takes from this process whatever goes beyond reading the files it holds open: no file opened
// anew, none written, no memory or time past a bound. False where the kernel could not shut the
// file system away (a kernel without Landlock); the bounds stand all the same.
bool confine();
// Lets this process's memory grow by BYTES past what a sound's decoding is allowed, for a large
// picture; false where that passes the bound that confine() set for any file, and then nothing
// changes. Called once, before the file is decoded.
bool allowMemory(size_t bytes);

} // namespace decode
