// Channel strips (gain, constant-power pan, mute, solo) and the mix-down of
// one mono block per strip into interleaved stereo.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace tamlor::mixer {

// v clamped to lo..hi; a NaN stays NaN.
float clamp(float v, float lo, float hi);

// Left and right factors of the constant-power pan law at `pan`
// (-1 full left, 0 centre, 1 full right), in 32-bit floats.
struct PanFactors {
    float left;
    float right;
};
PanFactors pan_factors(float pan);

class MixerChannel {
public:
    explicit MixerChannel(std::string name) : name_(std::move(name)) {}

    const std::string& name() const { return name_; }
    void set_name(std::string name) { name_ = std::move(name); }
    float gain() const { return gain_; }
    // Clamped to 0..2.
    void set_gain(float gain) { gain_ = clamp(gain, 0.0f, 2.0f); }
    float pan() const { return pan_; }
    // Clamped to -1..1.
    void set_pan(float pan) { pan_ = clamp(pan, -1.0f, 1.0f); }
    bool mute() const { return mute_; }
    void set_mute(bool mute) { mute_ = mute; }
    // Only the mixer looks at solo; the strip itself ignores it.
    bool solo() const { return solo_; }
    void set_solo(bool solo) { solo_ = solo; }

    // (left, right) for one mono sample: silence when muted, else the sample
    // times the gain, panned.
    std::pair<float, float> process_sample(float sample) const;

    bool operator==(const MixerChannel&) const = default;

private:
    std::string name_;
    float gain_ = 0.8f;
    float pan_ = 0.0f;
    bool mute_ = false;
    bool solo_ = false;
};

class Mixer {
public:
    float master_gain() const { return master_gain_; }
    // Clamped to 0..2.
    void set_master_gain(float gain) { master_gain_ = clamp(gain, 0.0f, 2.0f); }

    std::size_t channel_count() const { return channels_.size(); }
    const std::vector<MixerChannel>& channels() const { return channels_; }
    std::vector<std::string> channel_names() const;

    // Appends a default strip; returns its index.
    std::size_t add_channel(std::string name);
    // Removes and returns the channel at `index`; later channels move down.
    // Nothing (and no change) when `index` is out of range.
    std::optional<MixerChannel> remove_channel(std::size_t index);
    // The channel at `index`; IndexError "Channel index {} out of range ({})".
    const MixerChannel& channel(std::size_t index) const;

    // IndexError "Channel index {} out of range" for an index beyond the end.
    void set_channel_gain(std::size_t index, float gain);
    void set_channel_pan(std::size_t index, float pan);
    void set_channel_mute(std::size_t index, bool mute);
    void set_channel_solo(std::size_t index, bool solo);

    // Whether mix_down reads channel `index`'s buffer: not when the channel
    // is muted, nor when some channel is soloed (muted or not) and this one
    // is not. Silenced channels contribute nothing, so their buffers are
    // never looked at.
    bool is_audible(std::size_t index) const { return is_audible(index, any_solo()); }
    // The same with any_solo() already known, for loops over all channels.
    bool is_audible(std::size_t index, bool any_solo) const;
    // Whether some channel, muted or not, is soloed.
    bool any_solo() const;

    // Mixes one buffer per channel, in channel order, into `out` (left,
    // right, left, ...). out.size() / 2 is the frame count N, which the
    // caller takes from the length of buffer 0; longer buffers are cut to N,
    // shorter ones stop early, and the buffers of silenced channels may be
    // empty views. Sums are formed in channel order from 0.0 in 32-bit floats
    // and then scaled by the master gain; nothing is clipped. A buffer count
    // other than the channel count is an internal error (std::logic_error).
    void mix_down(std::span<const std::span<const float>> buffers, std::span<float> out) const;
    // The same into a new output of 2 x (length of buffer 0) samples.
    std::vector<float> mix_down(std::span<const std::span<const float>> buffers) const;

private:
    [[noreturn]] static void out_of_range(std::size_t index);
    MixerChannel& at(std::size_t index);

    std::vector<MixerChannel> channels_;
    float master_gain_ = 0.8f;
};

}  // namespace tamlor::mixer
