#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace decode {

// The play format, as the lesson plays its words.
inline constexpr int playRate = 22050;
// The longest part of a file read: a voice message that holds a word for a child says it well
// within two minutes, and two minutes in the play format are 5 MiB.
inline constexpr int longestSeconds = 120;

// A sound as it comes out of a decoder, made into one channel at its own rate; it takes no more
// than the longest part read, and says when a file went on past it.
class Mono
{
public:
    // Where RATE is not a rate a sound file can hold, nothing is taken.
    explicit Mono(int rate);

    bool wantsMore() const { return m_samples.size() < m_limit; }
    bool cutShort() const { return m_cutShort; }
    int rate() const { return m_rate; }

    // FRAMES frames of CHANNELS interleaved channels, each channel weighed alike.
    void addInterleaved(const float *samples, long frames, int channels);
    // FRAMES frames given one channel at a time (planar).
    void addPlanar(const float *const *channels, int channelCount, long frames);
    // A frame of the mix, for decoders that give other sample types.
    void add(float sample);

    // The sound at the play rate in 16-bit samples.
    std::vector<int16_t> played() const;

private:
    int m_rate;
    std::size_t m_limit;
    bool m_cutShort = false;
    std::vector<float> m_samples;
};

} // namespace decode
