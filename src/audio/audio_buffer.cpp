#include "audio/audio_buffer.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

#include "common/errors.hpp"

namespace tamlor::audio {
namespace {

// frames x channels zeros. The product is checked before anything is
// allocated (a wrapped one would make a buffer of the wrong size); both a
// product beyond the address range and a failed allocation say what did not
// fit.
std::vector<float> zeros(std::uint64_t frames, std::uint16_t channels) {
    const std::string what = "AudioBuffer of " + std::to_string(frames) + " frames \u00d7 " +
                             std::to_string(channels) + " channels does not fit in memory";
    if (channels != 0 && frames > std::vector<float>().max_size() / channels) throw MemoryError(what);
    try {
        return std::vector<float>(static_cast<std::size_t>(frames * channels), 0.0f);
    } catch (const std::bad_alloc&) {
        throw MemoryError(what);
    }
}

}  // namespace

AudioBuffer::AudioBuffer(std::uint64_t frames, std::uint32_t sample_rate, std::uint16_t channels)
    : samples_(zeros(frames, channels)), sample_rate_(sample_rate), channels_(channels) {}

AudioBuffer::AudioBuffer(std::vector<float> samples, std::uint32_t sample_rate, std::uint16_t channels)
    : samples_(std::move(samples)), sample_rate_(sample_rate), channels_(channels) {
    if (channels_ == 0 || samples_.size() % channels_ != 0) {
        throw ValueError("sample count " + std::to_string(samples_.size()) + " is not a multiple of " +
                         std::to_string(channels_) + " channels");
    }
}

std::size_t AudioBuffer::position(std::uint64_t frame, std::uint64_t channel) const {
    if (channel >= channels_ || frame >= frames()) throw IndexError("Index out of bounds");
    return static_cast<std::size_t>(frame) * channels_ + static_cast<std::size_t>(channel);
}

float AudioBuffer::sample_at(std::uint64_t frame, std::uint64_t channel) const {
    return samples_[position(frame, channel)];
}

void AudioBuffer::set_sample(std::uint64_t frame, std::uint64_t channel, float value) {
    samples_[position(frame, channel)] = value;
}

std::vector<float> AudioBuffer::channel_samples(std::uint64_t channel) const {
    if (channel >= channels_) throw IndexError("Index out of bounds");
    std::vector<float> out(frames());
    for (std::size_t f = 0; f < out.size(); ++f) out[f] = samples_[f * channels_ + static_cast<std::size_t>(channel)];
    return out;
}

void AudioBuffer::clear() { std::fill(samples_.begin(), samples_.end(), 0.0f); }

}  // namespace tamlor::audio
