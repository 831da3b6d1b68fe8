#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
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
    // A frame of the mix, for decoders that give other sample types.
    void add(float sample);

    // The length the file's header gives, in seconds, where it gives one.
    void declare(double seconds) { m_declared = seconds; }
    // The file ends where its format says it cannot, though it gives no length.
    void endsMidway() { m_endsMidway = true; }
    // Where the file is shorter than it says, or ends midway: "short READ" and the length it
    // says, in seconds, for the window to tell the parent; else empty.
    std::string interruption() const;

    // The sound at the play rate in 16-bit samples.
    std::vector<int16_t> played() const;

private:
    int m_rate;
    std::size_t m_limit;
    bool m_cutShort = false;
    double m_declared = 0;
    bool m_endsMidway = false;
    std::vector<float> m_samples;
};

} // namespace decode
