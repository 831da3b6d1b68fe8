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
// In a message of several words: a pause this long (in windows) parts two words, and a word is
// a stretch of sound from 0.3 to 1.5 s; a longer stretch gives its end.
constexpr int pauseBetweenWords = 20;
constexpr int shortestWord = 30;
constexpr int longestWord = 150;

double rms(const qint16 *samples, int count)
{
    double sum = 0;
    for (int i = 0; i < count; ++i)
        sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / count);
}
} // namespace

namespace {
// The 10 ms windows of SAMPLES that stand above the room's own sound.
std::vector<bool> voicedWindows(const std::vector<qint16> &samples, std::vector<double> *levels)
{
    const int windows = int(samples.size() / window);
    levels->resize(size_t(windows));
    if (windows == 0)
        return {};
    for (int w = 0; w < windows; ++w)
        (*levels)[size_t(w)] = rms(samples.data() + w * window, window);
    // The room's own sound: what the quietest tenth of the recording holds.
    std::vector<double> sorted = *levels;
    std::nth_element(sorted.begin(), sorted.begin() + windows / 10, sorted.end());
    const double threshold = std::max(sorted[size_t(windows / 10)] * aboveRoom, quietest);
    std::vector<bool> voiced(static_cast<size_t>(windows));
    for (int w = 0; w < windows; ++w)
        voiced[size_t(w)] = (*levels)[size_t(w)] > threshold;
    return voiced;
}

// Windows FIRST to LAST (included) widened by the margins that keep a word's soft edges.
Span widened(int first, int last, size_t total)
{
    return { size_t(std::max(0, first - windowsBefore)) * window,
        std::min(total, size_t(last + 1 + windowsAfter) * window) };
}
} // namespace

Span voicedSpan(const std::vector<qint16> &heard)
{
    std::vector<double> levels;
    const std::vector<bool> voiced = voicedWindows(heard, &levels);
    int first = -1, last = -1, count = 0;
    for (int w = 0; w < int(voiced.size()); ++w) {
        if (voiced[size_t(w)]) {
            first = first < 0 ? w : first;
            last = w;
            ++count;
        }
    }
    return count < fewestVoicedWindows ? Span {} : widened(first, last, heard.size());
}

Span lastWord(const std::vector<qint16> &message)
{
    std::vector<double> levels;
    const std::vector<bool> voiced = voicedWindows(message, &levels);
    // Stretches of sound, a pause shorter than a gap between words (the stop in "sette", a breath)
    // bridged; read from the end, the first one long enough to be a word is it.
    int last = -1;
    for (int w = int(voiced.size()) - 1; w >= 0; --w) {
        if (!voiced[size_t(w)])
            continue;
        if (last < 0)
            last = w;
        int gap = 0;
        while (w - 1 - gap >= 0 && !voiced[size_t(w - 1 - gap)])
            ++gap;
        if (w - 1 - gap >= 0 && gap < pauseBetweenWords) {
            w -= gap;
            continue;
        }
        if (last - w + 1 >= shortestWord)
            return widened(std::max(w, last + 1 - longestWord), last, message.size());
        last = -1;
        w -= gap;
    }
    return voicedSpan(message);
}

std::vector<qint16> levelWord(const std::vector<qint16> &sound, Span part)
{
    part.end = std::min(part.end, sound.size());
    if (part.begin >= part.end)
        return {};
    std::vector<double> levels;
    const std::vector<bool> voiced = voicedWindows(sound, &levels);
    double voicedEnergy = 0;
    int count = 0;
    for (size_t w = part.begin / window; w < voiced.size() && (w + 1) * window <= part.end; ++w) {
        if (voiced[w]) {
            voicedEnergy += levels[w] * levels[w];
            ++count;
        }
    }
    if (count == 0)
        return {};
    std::vector<qint16> word(
        sound.begin() + qsizetype(part.begin), sound.begin() + qsizetype(part.end));
    int peak = 1;
    for (const qint16 s : word)
        peak = std::max(peak, std::abs(int(s)));
    const double gain
        = std::min(wordLoudness / std::sqrt(voicedEnergy / count), loudestPeak / peak);
    const int total = int(word.size());
    for (int i = 0; i < total; ++i) {
        const double fade = std::min({ 1.0, double(i) / fadeIn, double(total - 1 - i) / fadeOut });
        word[size_t(i)]
            = qint16(std::lround(std::clamp(word[size_t(i)] * gain * fade, -32767.0, 32767.0)));
    }
    return word;
}

std::vector<qint16> shapeWord(const std::vector<qint16> &heard)
{
    const Span span = voicedSpan(heard);
    return span.end == span.begin ? std::vector<qint16>() : levelWord(heard, span);
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
