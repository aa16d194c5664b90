// A sample format (rate and channel count) and a fixed-size, zero-filled
// buffer of interleaved 32-bit float samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tamlor::audio {

struct AudioFormat {
    std::uint32_t sample_rate = 44100;
    std::uint16_t channels = 2;

    bool operator==(const AudioFormat&) const = default;
};

// Frame f, channel c sits at f x channels + c. The sample count is fixed at
// construction; only sample values change afterwards.
class AudioBuffer {
public:
    // frames x channels samples, all 0.0. MemoryError "AudioBuffer of F
    // frames x C channels does not fit in memory" when they cannot be had.
    AudioBuffer(std::uint64_t frames, std::uint32_t sample_rate = 44100, std::uint16_t channels = 1);
    // Takes interleaved samples as they are; their count must be a multiple
    // of `channels` (at least 1), else ValueError.
    AudioBuffer(std::vector<float> samples, std::uint32_t sample_rate, std::uint16_t channels);

    std::uint32_t sample_rate() const { return sample_rate_; }
    std::uint16_t channels() const { return channels_; }
    AudioFormat format() const { return {sample_rate_, channels_}; }
    // Samples / channels, or 0 without channels.
    std::size_t frames() const { return channels_ == 0 ? 0 : samples_.size() / channels_; }
    // frames x channels.
    std::size_t size() const { return samples_.size(); }
    const float* data() const { return samples_.data(); }

    // IndexError "Index out of bounds" unless channel < channels and
    // frame < frames.
    float sample_at(std::uint64_t frame, std::uint64_t channel) const;
    void set_sample(std::uint64_t frame, std::uint64_t channel, float value);
    void clear();
    // The samples of one channel, frame by frame; IndexError "Index out of
    // bounds" unless channel < channels.
    std::vector<float> channel_samples(std::uint64_t channel) const;

private:
    std::size_t position(std::uint64_t frame, std::uint64_t channel) const;

    std::vector<float> samples_;
    std::uint32_t sample_rate_;
    std::uint16_t channels_;
};

}  // namespace tamlor::audio
