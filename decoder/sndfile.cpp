#include "decoders.h"

#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

namespace decode {

Result withSndfile(int fd, std::unique_ptr<Mono> &sound)
{
    lseek(fd, 0, SEEK_SET);
    SF_INFO info {};
    // A copy of FD, closed by libsndfile: it closes what it was given when it cannot open it.
    const int own = dup(fd);
    SNDFILE *file = own >= 0 ? sf_open_fd(own, SFM_READ, &info, SF_TRUE) : nullptr;
    if (!file)
        return sf_error(nullptr) == SF_ERR_UNRECOGNISED_FORMAT ? Result::NotMine : Result::Broken;
    if (info.channels < 1 || info.channels > 64) {
        sf_close(file);
        return Result::Broken;
    }
    sound = std::make_unique<Mono>(info.samplerate);
    // libsndfile gives a WAV cut off as long as what is there, and an Ogg file no length at all.
    const int container = info.format & SF_FORMAT_TYPEMASK;
    if (container == SF_FORMAT_WAV)
        sound->declare(wavSeconds(fd));
    else if (container == SF_FORMAT_OGG && oggEndsMidway(fd))
        sound->endsMidway();
    else if (container == SF_FORMAT_FLAC && info.frames > 0 && info.frames != SF_COUNT_MAX)
        sound->declare(double(info.frames) / info.samplerate);
    // Integer samples read as floats come scaled to -1..1, whatever their width.
    std::vector<float> block(size_t(4096) * size_t(info.channels));
    bool failed = false, any = false;
    while (sound->wantsMore()) {
        const sf_count_t frames = sf_readf_float(file, block.data(), 4096);
        if (frames <= 0) {
            failed = sf_error(file) != SF_ERR_NO_ERROR;
            break;
        }
        any = true;
        sound->addInterleaved(block.data(), long(frames), info.channels);
    }
    // A FLAC file cut off fails where it stops: what came before is its sound, and the parent is
    // told that the rest is missing.
    if (failed && any && !sound->interruption().empty())
        failed = false;
    // Past the longest part, one more block tells whether the file goes on.
    if (!sound->wantsMore() && sf_readf_float(file, block.data(), 1) > 0)
        sound->add(0);
    sf_close(file);
    return failed || sound->rate() == 0 ? Result::Broken : Result::Decoded;
}

} // namespace decode
