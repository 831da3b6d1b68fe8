// The parent's window hands sound files from outside the family's computer to this program, never
// decoding them itself: a file made to crash or hang a decoding library ends this process alone,
// which the window gives a time limit, and which can open no file beyond the one it was given.
//
//   numeri-decode FILE
// Writes FILE's sound to standard output in the play format (22050 Hz, one channel, 16-bit little
// endian), at most its first two minutes. Exit status 0 where it did, then standard error says
// "cut" where the file went on past that, and "short READ LENGTH" where it holds less than it says
// (in seconds; LENGTH 0 where it says none, but ends midway); 1 where FILE cannot be read as
// sound, standard error saying why in Italian; 3 where its decoder is not installed, naming the
// Debian package.
//   numeri-decode --picture WIDTH HEIGHT FILE
// Writes FILE's picture (HEIC, AVIF), upright and no larger than WIDTH x HEIGHT, as a binary PPM;
// the same exit statuses.
#include "decoders.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
int refuse(const char *why)
{
    std::fprintf(stderr, "%s\n", why);
    return 1;
}

int missing(const std::string &package)
{
    std::fprintf(stderr, "%s\n", package.c_str());
    return 3;
}

bool writeAll(const std::vector<unsigned char> &bytes)
{
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

bool writeAll(const std::vector<int16_t> &samples)
{
    std::vector<unsigned char> bytes(samples.size() * 2);
    for (size_t i = 0; i < samples.size(); ++i) {
        bytes[2 * i] = uint8_t(uint16_t(samples[i]) & 0xff);
        bytes[2 * i + 1] = uint8_t(uint16_t(samples[i]) >> 8);
    }
    return writeAll(bytes);
}

int picture(int fd, int width, int height)
{
    std::string package;
    const bool heif = decode::loadHeif(&package);
    decode::confine();
    if (!heif)
        return missing(package);
    decode::Picture photo;
    const decode::Result result = decode::withHeif(fd, width, height, photo, &package);
    if (result == decode::Result::Missing)
        return missing(package);
    if (result == decode::Result::TooLarge && photo.width > 0 && photo.height > 0)
        return refuse(("la figura è troppo grande (" + std::to_string(photo.width) + " × "
            + std::to_string(photo.height) + " pixel)")
                          .c_str());
    if (result == decode::Result::TooLarge)
        return refuse("la figura è troppo grande");
    if (result != decode::Result::Decoded)
        return refuse("il file è rovinato, o non è una foto HEIC o AVIF");
    const std::string head
        = "P6\n" + std::to_string(photo.width) + ' ' + std::to_string(photo.height) + "\n255\n";
    std::vector<unsigned char> bytes(head.begin(), head.end());
    bytes.insert(bytes.end(), photo.rgb.begin(), photo.rgb.end());
    return writeAll(bytes) ? 0 : refuse("non ho potuto passare la figura");
}
} // namespace

int main(int argc, char *argv[])
{
    const bool isPicture = argc == 5 && std::strcmp(argv[1], "--picture") == 0;
    if (argc != 2 && !isPicture)
        return refuse("uso: numeri-decode FILE | --picture WIDTH HEIGHT FILE");
    // Without waiting, then checked: a FIFO or a device named like a sound never gives an end.
    const int fd = open(argv[argc - 1], O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return refuse(errno == ENOENT ? "il file non c'è più" : "non ho il permesso di leggerlo");
    struct stat about
    {
    };
    if (fstat(fd, &about) != 0 || !S_ISREG(about.st_mode))
        return refuse("non è un file vero e proprio, e non si può leggere");
    if (about.st_size == 0)
        return refuse("il file è vuoto");
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (isPicture)
        return picture(fd, std::atoi(argv[2]), std::atoi(argv[3]));

    // FFmpeg is loaded before the door closes, where it is there; libsndfile is already in.
    std::string package;
    const bool ffmpeg = decode::loadFfmpeg(&package);
    decode::confine();
    decode::allowMemory(0);

    std::unique_ptr<decode::Mono> sound;
    decode::Result result = decode::withSndfile(fd, sound);
    if (result == decode::Result::NotMine && ffmpeg)
        result = decode::withFfmpeg(fd, sound);
    if (result == decode::Result::NotMine && !ffmpeg && decode::onlyFfmpegReads(fd))
        return missing(package);
    if (result == decode::Result::NotMine && decode::onlyFfmpegReads(fd))
        result = decode::Result::Broken; // its header says what it is, the rest is not there
    if (result == decode::Result::NotMine)
        return refuse("non è un file audio che conosco");
    if (result == decode::Result::Broken)
        return refuse("il file è rovinato o incompleto");
    if (!writeAll(sound->played()))
        return refuse("non ho potuto passare il suono");
    if (sound->cutShort())
        std::fputs("cut\n", stderr);
    if (const std::string cutOff = sound->interruption(); !cutOff.empty())
        std::fprintf(stderr, "%s\n", cutOff.c_str());
    return 0;
}
