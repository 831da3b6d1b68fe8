#include "lesson/wav.h"

#include "lesson/sdl.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace lesson {

namespace {
// A spoken word is well under a second; anything bigger is not one of ours and is not read.
constexpr off_t largestRecording = 16 * 1024 * 1024;

// Read without Qt, as it runs on the sound thread; opened without blocking and then checked to be
// a regular file, because a FIFO or device named like a recording would never give an end.
QByteArray readRecording(const QString &file, QString *reason)
{
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *reason = errno == ENOENT ? notThere : QString::fromLocal8Bit(std::strerror(errno));
        return {};
    }
    QByteArray bytes;
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *reason = QStringLiteral("non è un file regolare");
    } else if (st.st_size > largestRecording) {
        *reason = QStringLiteral("troppo grande per una parola");
    } else {
        bytes.resize(qsizetype(st.st_size));
        qsizetype got = 0;
        ssize_t n = 0;
        while (got < bytes.size()
            && (n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got))) > 0)
            got += n;
        bytes.resize(got);
        if (bytes.isEmpty())
            *reason = QStringLiteral("il file è vuoto");
    }
    ::close(fd);
    return bytes;
}
} // namespace

const QString notThere = QStringLiteral("il file non esiste");

std::vector<Uint8> decodeWav(const QString &file, QString *reason)
{
    QString ignored;
    reason = reason ? reason : &ignored;
    const SdlLibrary *lib = sdl();
    if (!lib) {
        *reason = QStringLiteral("manca la libreria SDL");
        return {};
    }
    const QByteArray bytes = readRecording(file, reason);
    if (bytes.isEmpty())
        return {};

    SDL_AudioSpec spec {};
    Uint8 *samples = nullptr;
    Uint32 length = 0;
    if (!lib->SDL_LoadWAV_RW(lib->SDL_RWFromConstMem(bytes.constData(), int(bytes.size())), 1,
            &spec, &samples, &length)) {
        *reason = QStringLiteral("non è una registrazione WAV");
        return {};
    }
    const std::unique_ptr<Uint8, decltype(lib->SDL_FreeWAV)> wav(samples, lib->SDL_FreeWAV);

    const std::unique_ptr<SDL_AudioStream, decltype(lib->SDL_FreeAudioStream)> stream(
        lib->SDL_NewAudioStream(
            spec.format, spec.channels, spec.freq, playFormat, playChannels, playRate),
        lib->SDL_FreeAudioStream);
    // SDL's resampler holds back the last few tens of milliseconds even when flushed; the
    // silence behind the word is what stays behind instead.
    const std::vector<Uint8> tail(
        size_t(spec.freq / 10) * spec.channels * (SDL_AUDIO_BITSIZE(spec.format) / 8),
        spec.silence);
    if (!stream || lib->SDL_AudioStreamPut(stream.get(), wav.get(), int(length)) != 0
        || (spec.freq != playRate
            && lib->SDL_AudioStreamPut(stream.get(), tail.data(), int(tail.size())) != 0)
        || lib->SDL_AudioStreamFlush(stream.get()) != 0)
        return {};
    std::vector<Uint8> converted(size_t(lib->SDL_AudioStreamAvailable(stream.get())));
    const int got = lib->SDL_AudioStreamGet(stream.get(), converted.data(), int(converted.size()));
    converted.resize(size_t(std::max(got, 0)));
    return converted;
}

} // namespace lesson
