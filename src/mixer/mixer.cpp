#include "mixer/mixer.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

#include "common/errors.hpp"

namespace tamlor::mixer {

float clamp(float v, float lo, float hi) {
    if (v < lo) return lo;
    if (v > hi) return hi;
    return v;  // in range, or NaN
}

PanFactors pan_factors(float pan) {
    const float theta = ((pan + 1.0f) * 0.25f) * std::numbers::pi_v<float>;
    return {std::cos(theta), std::sin(theta)};
}

std::pair<float, float> MixerChannel::process_sample(float sample) const {
    if (mute_) return {0.0f, 0.0f};
    const float s = sample * gain_;
    const PanFactors f = pan_factors(pan_);
    return {f.left * s, f.right * s};
}

std::vector<std::string> Mixer::channel_names() const {
    std::vector<std::string> names;
    names.reserve(channels_.size());
    for (const MixerChannel& c : channels_) names.push_back(c.name());
    return names;
}

std::size_t Mixer::add_channel(std::string name) {
    channels_.emplace_back(std::move(name));
    return channels_.size() - 1;
}

std::optional<MixerChannel> Mixer::remove_channel(std::size_t index) {
    if (index >= channels_.size()) return std::nullopt;
    MixerChannel removed = std::move(channels_[index]);
    channels_.erase(channels_.begin() + static_cast<std::ptrdiff_t>(index));
    return removed;
}

const MixerChannel& Mixer::channel(std::size_t index) const {
    if (index >= channels_.size()) {
        throw IndexError("Channel index " + std::to_string(index) + " out of range (" +
                         std::to_string(channels_.size()) + ")");
    }
    return channels_[index];
}

void Mixer::out_of_range(std::size_t index) {
    throw IndexError("Channel index " + std::to_string(index) + " out of range");
}

MixerChannel& Mixer::at(std::size_t index) {
    if (index >= channels_.size()) out_of_range(index);
    return channels_[index];
}

void Mixer::set_channel_gain(std::size_t index, float gain) { at(index).set_gain(gain); }
void Mixer::set_channel_pan(std::size_t index, float pan) { at(index).set_pan(pan); }
void Mixer::set_channel_mute(std::size_t index, bool mute) { at(index).set_mute(mute); }
void Mixer::set_channel_solo(std::size_t index, bool solo) { at(index).set_solo(solo); }

bool Mixer::any_solo() const {
    return std::any_of(channels_.begin(), channels_.end(), [](const MixerChannel& c) { return c.solo(); });
}

bool Mixer::is_audible(std::size_t index, bool any_solo) const {
    const MixerChannel& c = channels_[index];
    return !c.mute() && (c.solo() || !any_solo);
}

void Mixer::mix_down(std::span<const std::span<const float>> buffers, std::span<float> out) const {
    if (buffers.size() != channels_.size()) {
        throw std::logic_error("Number of buffers must match number of channels");
    }
    // The heard channels' factors, once per call.
    struct Heard {
        std::span<const float> in;
        float left;  // pan factors
        float right;
        float gain;
    };
    std::vector<Heard> heard;
    const bool solo = any_solo();
    for (std::size_t c = 0; c < channels_.size(); ++c) {
        if (!is_audible(c, solo)) continue;
        const MixerChannel& ch = channels_[c];
        const PanFactors f = pan_factors(ch.pan());
        heard.push_back({buffers[c], f.left, f.right, ch.gain()});
    }
    // Frames go in chunks through two planar sums (left, right), each formed
    // in channel order from 0.0 exactly as one interleaved sum would be; the
    // loops over frames are then plain enough to run several frames wide.
    const std::size_t frames = out.size() / 2;
    constexpr std::size_t chunk = 256;
    float left[chunk];
    float right[chunk];
    for (std::size_t start = 0; start < frames; start += chunk) {
        const std::size_t k = std::min(chunk, frames - start);
        std::fill(left, left + k, 0.0f);
        std::fill(right, right + k, 0.0f);
        for (const Heard& h : heard) {
            // A buffer shorter than the output stops early.
            const std::size_t n = h.in.size() > start ? std::min(k, h.in.size() - start) : 0;
            const float* in = h.in.data() + start;
            for (std::size_t j = 0; j < n; ++j) {
                const float s = in[j] * h.gain;
                left[j] += s * h.left;
                right[j] += s * h.right;
            }
        }
        float* o = out.data() + 2 * start;
        for (std::size_t j = 0; j < k; ++j) {
            o[2 * j] = left[j] * master_gain_;
            o[2 * j + 1] = right[j] * master_gain_;
        }
    }
    // An odd last sample (an output of odd length) holds no frame: silence.
    if (out.size() % 2) out.back() = 0.0f * master_gain_;
}

std::vector<float> Mixer::mix_down(std::span<const std::span<const float>> buffers) const {
    const std::size_t frames = buffers.empty() ? 0 : buffers[0].size();
    std::vector<float> out(2 * frames);
    mix_down(buffers, out);
    return out;
}

}  // namespace tamlor::mixer
