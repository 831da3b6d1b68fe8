// What a file's own container says of its length, beside what its decoder read: a download cut
// off midway decodes well up to where it stops, and only this tells the parent it is not whole.
#include "decoders.h"

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace decode {

namespace {
uint32_t le32(const unsigned char *b)
{
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

off_t sizeOf(int fd)
{
    struct stat about
    {
    };
    return fstat(fd, &about) == 0 ? about.st_size : 0;
}
} // namespace

double wavSeconds(int fd)
{
    unsigned char head[12];
    if (pread(fd, head, sizeof head, 0) != ssize_t(sizeof head) || std::memcmp(head, "RIFF", 4) != 0
        || std::memcmp(head + 8, "WAVE", 4) != 0)
        return 0;
    uint32_t bytesPerSecond = 0;
    off_t at = 12;
    const off_t end = sizeOf(fd);
    // The chunks in order, up to the sound's: the format's comes first.
    for (unsigned char chunk[20]; at + 20 <= end && pread(fd, chunk, 20, at) == 20;) {
        const uint32_t size = le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0)
            bytesPerSecond = le32(chunk + 16); // after the format, channels and rate
        if (std::memcmp(chunk, "data", 4) == 0) {
            // A writer that could not go back to its header (a pipe) leaves 0 or the most there.
            if (bytesPerSecond == 0 || size == 0 || size >= 0xfffffff0u)
                return 0;
            return double(size) / bytesPerSecond;
        }
        at += 8 + off_t(size) + (size & 1);
    }
    return 0;
}

bool oggEndsMidway(int fd)
{
    const off_t end = sizeOf(fd);
    off_t at = 0;
    unsigned char last = 0; // the last page's header flags
    // Each page: "OggS", version, flags, granule, serial, sequence, checksum, then the sizes of its
    // segments, then the segments.
    while (at < end) {
        unsigned char page[27 + 255];
        const ssize_t n = pread(fd, page, sizeof page, at);
        if (n < 0)
            return false;
        if (n < 27)
            return true; // the file ends inside a page's header
        if (std::memcmp(page, "OggS", 4) != 0)
            return false; // not pages: the decoder judges that
        const int segments = page[26];
        if (n < 27 + segments)
            return true;
        off_t size = 27 + segments;
        for (int s = 0; s < segments; ++s)
            size += page[27 + s];
        last = page[5];
        at += size;
    }
    // The last page is marked as the end of its stream, and whole.
    return at > end || !(last & 0x04);
}

} // namespace decode
