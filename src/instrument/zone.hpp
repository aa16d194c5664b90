// Zones of a sampled instrument: a block of recorded frames and everything
// that decides how one key and velocity play a part of it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <variant>
#include <vector>

namespace tamlor::instrument {

// Recorded frames, mono or interleaved stereo, shared by every zone and voice
// that plays them and never written once built. 16-bit frames stay 16-bit
// (a large sound bank keeps its size in memory); they read as value / 32768.
class SampleData {
public:
    SampleData(std::vector<float> frames, std::uint32_t channels);
    SampleData(std::vector<std::int16_t> frames, std::uint32_t channels);

    std::uint32_t channels() const { return channels_; }
    // Whole frames (values / channels).
    std::size_t frames() const { return frames_; }
    bool is_int16() const { return std::holds_alternative<Int16>(data_); }
    const float* floats() const { return std::get<Float>(data_)->data(); }
    const std::int16_t* int16s() const { return std::get<Int16>(data_)->data(); }

private:
    using Float = std::shared_ptr<const std::vector<float>>;
    using Int16 = std::shared_ptr<const std::vector<std::int16_t>>;
    std::variant<Float, Int16> data_;
    std::uint32_t channels_;
    std::size_t frames_;
};

enum class LoopMode : std::uint8_t {
    None,          // play from start to end once
    Continuous,    // repeat the loop for as long as the voice sounds
    UntilRelease,  // repeat the loop while the key is held, then play on to the end
    OneShot,       // play start to end; a note-off does not release it
};

enum class Curve : std::uint8_t {
    Linear,    // decay and release fall linearly in amplitude
    Decibels,  // decay and release fall linearly in decibels, 100 dB per stage time
};

// How one zone plays. Frames count from the start of the sample data; end
// and loop_end are one past the last frame played. The binding checks every
// field (finite, in range) before a zone reaches the player.
struct ZoneParams {
    std::uint8_t key_low = 0, key_high = 127;
    std::uint8_t velocity_low = 0, velocity_high = 127;
    std::uint8_t root_key = 60;
    double sample_rate = 44100.0;
    double tune_cents = 0.0;       // added to the pitch
    double key_tracking = 100.0;   // cents per key away from the root
    double level_db = 0.0;         // gain of the zone
    double pan = 0.0;              // -1 left .. 1 right
    LoopMode loop_mode = LoopMode::None;
    std::size_t start = 0, end = 0;
    std::size_t loop_start = 0, loop_end = 0;  // a loop only when loop_start < loop_end <= end
    double delay = 0.0, attack = 0.0, hold = 0.0, decay = 0.0, sustain = 1.0, release = 0.0;  // seconds; sustain a level 0..1
    Curve curve = Curve::Linear;
    std::uint32_t group = 0;   // a voice of this zone chokes sounding voices whose off_by is this group (0: none)
    std::uint32_t off_by = 0;  // a new voice of this group chokes this zone's voices (0: never)
    bool on_release = false;   // sounds when its key is released, not when pressed
    std::array<float, 128> velocity_db{};  // gain in dB for each note-on velocity

    bool contains(std::uint8_t key, std::uint8_t velocity) const {
        return key >= key_low && key <= key_high && velocity >= velocity_low && velocity <= velocity_high;
    }
};

struct Zone {
    SampleData data;
    ZoneParams params;
};

}  // namespace tamlor::instrument
