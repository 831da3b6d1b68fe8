#include "pcm.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace decode {

namespace {
constexpr int lowestRate = 4000;
constexpr int highestRate = 384000;
// Zero crossings of the filter on each side: enough that a voice keeps no audible alias.
constexpr int crossings = 16;

double sinc(double x)
{
    return x == 0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
}
} // namespace

Mono::Mono(int rate)
    : m_rate(rate >= lowestRate && rate <= highestRate ? rate : 0)
    , m_limit(size_t(m_rate) * longestSeconds)
{ }

void Mono::add(float sample)
{
    if (m_samples.size() >= m_limit) {
        m_cutShort = m_rate > 0;
        return;
    }
    // A decoder's float may run past full scale, or be NaN in a broken file.
    m_samples.push_back(std::isfinite(sample) ? std::clamp(sample, -1.0f, 1.0f) : 0.0f);
}

void Mono::addInterleaved(const float *samples, long frames, int channels)
{
    for (long f = 0; f < frames; ++f) {
        float sum = 0;
        for (int c = 0; c < channels; ++c)
            sum += samples[f * channels + c];
        add(sum / float(channels));
    }
}

std::string Mono::interruption() const
{
    if (m_rate == 0 || m_cutShort)
        return {};
    const double read = double(m_samples.size()) / m_rate;
    // A codec's own delay and padding make the two differ by a few tens of milliseconds.
    const bool short_ = m_declared - read > std::max(0.1, m_declared * 0.02);
    if (!short_ && !m_endsMidway)
        return {};
    char line[64];
    std::snprintf(line, sizeof line, "short %.2f %.2f", read, short_ ? m_declared : 0.0);
    return line;
}

// A windowed sinc filter, its cut-off below the lower of the two rates' halves, read at each
// output sample's time: it resamples both ways without aliasing a voice. The filter is tabled once,
// finely enough that reading between two entries changes nothing audible.
std::vector<int16_t> Mono::played() const
{
    if (m_samples.empty())
        return {};
    const double step = double(m_rate) / playRate; // input samples per output sample
    const double cutoff = std::min(1.0, 1.0 / step) * 0.95;
    const double halfWidth = crossings / cutoff;
    constexpr int perSample = 512;
    std::vector<float> kernel(size_t(halfWidth * perSample) + 2);
    for (size_t k = 0; k < kernel.size(); ++k) {
        const double x = double(k) / perSample;
        const double window
            = x < halfWidth ? 0.5 + 0.5 * std::cos(std::numbers::pi * x / halfWidth) : 0;
        kernel[k] = float(cutoff * sinc(cutoff * x) * window);
    }
    const size_t count = size_t(double(m_samples.size()) / step);
    std::vector<int16_t> out(count);
    const long last = long(m_samples.size()) - 1;
    for (size_t i = 0; i < count; ++i) {
        const double at = double(i) * step;
        const long from = std::max(0L, long(std::ceil(at - halfWidth)));
        const long to = std::min(last, long(std::floor(at + halfWidth)));
        float sum = 0, weight = 0;
        for (long j = from; j <= to; ++j) {
            const double place = std::abs(double(j) - at) * perSample;
            const auto k = size_t(place);
            const float between = float(place - double(k));
            const float w = kernel[k] + (kernel[k + 1] - kernel[k]) * between;
            sum += w * m_samples[size_t(j)];
            weight += w;
        }
        const double value = weight != 0 ? double(sum / weight) : 0;
        out[i] = int16_t(std::lround(std::clamp(value * 32767.0, -32768.0, 32767.0)));
    }
    return out;
}

} // namespace decode
