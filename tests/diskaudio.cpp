#include "diskaudio.h"

#include "lesson/wav.h"
#include "testkit.h"

#include <SDL.h>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>

namespace testkit {

DiskFormat diskFormat(bool microphone)
{
    static const std::array<DiskFormat, 2> formats = [] {
        std::array<DiskFormat, 2> said;
        said.fill({ lesson::playRate, lesson::playChannels });
        const QByteArray driver = qgetenv("SDL_AUDIODRIVER");
        qputenv("SDL_AUDIODRIVER", "disk");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
            // SDL 2's disk driver says nothing, and keeps to what it is asked.
            for (const int capture : { 0, 1 }) {
                SDL_AudioSpec spec {};
                if (SDL_GetDefaultAudioInfo(nullptr, &spec, capture) == 0) {
                    if (spec.format != AUDIO_S16LSB || spec.freq % lesson::playRate)
                        qFatal("SDL's disk driver at %d Hz, format %#x", spec.freq, spec.format);
                    said[size_t(capture)] = { spec.freq, spec.channels };
                }
            }
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
        }
        qputenv("SDL_AUDIODRIVER", driver);
        return said;
    }();
    return formats[microphone ? 1 : 0];
}

QByteArray forMicrophone(const QByteArray &sound)
{
    const DiskFormat format = diskFormat(true);
    const auto *in = reinterpret_cast<const qint16 *>(sound.constData());
    const std::vector<qint16> samples(in, in + sound.size() / 2);
    const int times = format.rate / lesson::playRate;
    std::vector<qint16> read;
    for (size_t i = 0; i < samples.size(); ++i) {
        const int next = i + 1 < samples.size() ? samples[i + 1] : samples[i];
        for (int t = 0; t < times; ++t) {
            const auto sample = qint16(samples[i] + (next - samples[i]) * t / times);
            read.insert(read.end(), size_t(format.channels), sample);
        }
    }
    return raw(read);
}

int timesHeard(const QByteArray &written, const std::vector<qint16> &word)
{
    // SDL 3 resamples by whole steps here: every other sample it writes is one of the word's own.
    const auto step = size_t(diskFormat(false).step());
    const auto channels = size_t(diskFormat(false).channels);
    const auto *heard = reinterpret_cast<const qint16 *>(written.constData());
    const auto count = size_t(written.size() / 2);
    // SDL 3 converts through floating point, which may round a sample by one or two.
    constexpr int rounding = 4;
    int times = 0;
    for (size_t at = 0; !word.empty() && at + (word.size() - 1) * step < count;) {
        size_t i = 0;
        while (i < word.size() && std::abs(heard[at + i * step] - word[i]) <= rounding)
            ++i;
        if (i == word.size()) {
            ++times;
            at += word.size() * step;
        } else {
            at += channels;
        }
    }
    return times;
}

std::vector<qint16> spokenFour()
{
    std::mt19937 random(20261207);
    std::normal_distribution<double> hiss(0, 60);
    std::vector<qint16> spoken(size_t(lesson::playRate * 0.4)); // silence before
    for (const qint16 s : pcm(testkit::builtMedia() + u"/4.wav"))
        spoken.push_back(qint16(s / 5));
    spoken.resize(spoken.size() + size_t(lesson::playRate * 0.6));
    for (qint16 &s : spoken)
        s = qint16(s + hiss(random));
    return spoken;
}

double voicedLoudness(const std::vector<qint16> &word)
{
    double energy = 0;
    int voiced = 0;
    for (size_t at = 0; at + 220 <= word.size(); at += 220) {
        double sum = 0;
        for (size_t i = at; i < at + 220; ++i)
            sum += double(word[i]) * word[i];
        if (std::sqrt(sum / 220) > 0.015 * 32768 * 2) {
            energy += sum / 220;
            ++voiced;
        }
    }
    return voiced ? std::sqrt(energy / voiced) : 0;
}

std::vector<qint16> pcm(const QString &file)
{
    const std::vector<Uint8> bytes = lesson::decodeWav(file);
    std::vector<qint16> samples(bytes.size() / 2);
    // A file that cannot be played has no data to copy from, not even an empty run of it.
    if (!samples.empty())
        std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

QByteArray raw(const std::vector<qint16> &samples)
{
    return QByteArray(
        reinterpret_cast<const char *>(samples.data()), qsizetype(samples.size() * 2));
}

} // namespace testkit
