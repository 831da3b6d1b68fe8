#include "family/voice.h"

#include "lesson/sound.h"

#include <QtEndian>
#include <algorithm>
#include <cmath>

namespace family {

namespace {
constexpr int window = lesson::playRate / 100; // 10 ms
// The installed words, measured over their voiced windows: RMS about 8100, peaks at -1 dBFS.
constexpr double wordLoudness = 8100;
constexpr double loudestPeak = 29200;
// A word stands well above the room's own sound, and above a floor that no room noise reaches.
constexpr double aboveRoom = 4;
constexpr double quietest = 0.015 * 32768;
// Shorter than the shortest syllable: a click or a knock, not a word.
constexpr int fewestVoicedWindows = 8;
// Kept around the voiced part, so that a soft beginning and a trailing breath are not cut.
constexpr int windowsBefore = 5;
constexpr int windowsAfter = 10;
constexpr int fadeIn = lesson::playRate / 200; // 5 ms
constexpr int fadeOut = lesson::playRate / 50; // 20 ms

double rms(const qint16 *samples, int count)
{
    double sum = 0;
    for (int i = 0; i < count; ++i)
        sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / count);
}
} // namespace

std::vector<qint16> shapeWord(const std::vector<qint16> &heard)
{
    const int windows = int(heard.size() / window);
    if (windows == 0)
        return {};
    std::vector<double> levels(static_cast<size_t>(windows));
    for (int w = 0; w < windows; ++w)
        levels[size_t(w)] = rms(heard.data() + w * window, window);
    // The room's own sound: what the quietest tenth of the recording holds.
    std::vector<double> sorted = levels;
    std::nth_element(sorted.begin(), sorted.begin() + windows / 10, sorted.end());
    const double threshold = std::max(sorted[size_t(windows / 10)] * aboveRoom, quietest);

    int first = -1, last = -1, voiced = 0;
    double voicedEnergy = 0;
    for (int w = 0; w < windows; ++w) {
        if (levels[size_t(w)] > threshold) {
            first = first < 0 ? w : first;
            last = w;
            ++voiced;
            voicedEnergy += levels[size_t(w)] * levels[size_t(w)];
        }
    }
    if (voiced < fewestVoicedWindows)
        return {};

    const size_t begin = size_t(std::max(0, first - windowsBefore)) * window;
    const size_t end = std::min(heard.size(), size_t(last + 1 + windowsAfter) * window);
    std::vector<qint16> word(heard.begin() + qsizetype(begin), heard.begin() + qsizetype(end));
    int peak = 1;
    for (const qint16 s : word)
        peak = std::max(peak, std::abs(int(s)));
    const double gain
        = std::min(wordLoudness / std::sqrt(voicedEnergy / voiced), loudestPeak / peak);
    const int count = int(word.size());
    for (int i = 0; i < count; ++i) {
        const double fade = std::min({ 1.0, double(i) / fadeIn, double(count - 1 - i) / fadeOut });
        word[size_t(i)]
            = qint16(std::lround(std::clamp(word[size_t(i)] * gain * fade, -32767.0, 32767.0)));
    }
    return word;
}

QByteArray wavFile(const std::vector<qint16> &samples)
{
    const auto le = [](quint32 v, int size) {
        QByteArray b(4, 0);
        qToLittleEndian(v, b.data());
        return b.left(size);
    };
    const quint32 data = quint32(samples.size() * sizeof(qint16));
    constexpr quint32 block = lesson::playChannels * sizeof(qint16);
    QByteArray pcm(qsizetype(data), 0);
    qToLittleEndian<qint16>(samples.data(), qsizetype(samples.size()), pcm.data());
    return "RIFF" + le(36 + data, 4) + "WAVEfmt " + le(16, 4) + le(1, 2)
        + le(lesson::playChannels, 2) + le(lesson::playRate, 4) + le(lesson::playRate * block, 4)
        + le(block, 2) + le(16, 2) + "data" + le(data, 4) + pcm;
}

} // namespace family
