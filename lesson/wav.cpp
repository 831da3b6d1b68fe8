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
constexpr qint64 largestRecording = 16 * 1024 * 1024;
} // namespace

std::optional<QByteArray> readRegularFile(const QString &file, qint64 largest, QString *reason)
{
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *reason = errno == ENOENT ? notThere : QString::fromLocal8Bit(std::strerror(errno));
        return std::nullopt;
    }
    std::optional<QByteArray> bytes;
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *reason = QStringLiteral("non è un file regolare");
    } else if (st.st_size > largest) {
        *reason = QStringLiteral("il file è troppo grande");
    } else {
        QByteArray read(qsizetype(st.st_size), 0);
        qsizetype got = 0;
        ssize_t n = 0;
        while (
            got < read.size() && (n = ::read(fd, read.data() + got, size_t(read.size() - got))) > 0)
            got += n;
        if (n < 0)
            *reason = QString::fromLocal8Bit(std::strerror(errno));
        else
            bytes = read.left(got);
    }
    ::close(fd);
    return bytes;
}

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
    const QByteArray bytes = readRegularFile(file, largestRecording, reason).value_or(QByteArray());
    if (bytes.isEmpty()) {
        *reason = reason->isEmpty() ? QStringLiteral("il file è vuoto") : *reason;
        return {};
    }

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
