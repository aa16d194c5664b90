// Musical time: tempo, play position in beats, tick resolution and the
// stopped/playing/paused transport.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

namespace tamlor::sequencer {

enum class TransportState : std::uint8_t { Stopped = 0, Playing = 1, Paused = 2 };

// "stopped", "playing" or "paused".
std::string_view state_name(TransportState state);

class TransportClock {
public:
    // The tempo is stored as given; only the `set_bpm` path clamps it.
    explicit TransportClock(double bpm = 120.0) : bpm_(bpm) {}

    double bpm() const { return bpm_; }
    // Stores max(bpm, 1.0); NaN stores 1.0.
    void set_bpm(double bpm);
    double position() const { return position_; }
    std::uint32_t ticks_per_beat() const { return ticks_per_beat_; }
    void set_ticks_per_beat(std::uint32_t tpb) { ticks_per_beat_ = tpb; }
    TransportState state() const { return state_; }

    void play() { state_ = TransportState::Playing; }
    void pause() { state_ = TransportState::Paused; }
    void stop();
    // Puts back a position and state read from another clock, exactly:
    // unlike seek, any position is taken (advance_by_frames can leave a
    // negative or non-finite one behind).
    void restore(double position, TransportState state) {
        position_ = position;
        state_ = state;
    }
    // position := max(beat, 0.0); NaN gives 0.0.
    void seek(double beat);

    // The half-open beat range [start, end) covered by `frames` frames, moving
    // the position to its end; nothing while the transport is not playing.
    std::optional<std::pair<double, double>> advance_by_frames(std::uint64_t frames,
                                                               std::uint32_t sample_rate);
    // The same range without moving: a caller that must do more before the
    // move can still fail commits it with move_to_end_of.
    std::optional<std::pair<double, double>> next_range(std::uint64_t frames, std::uint32_t sample_rate) const;
    void move_to_end_of(const std::pair<double, double>& range) { position_ = range.second; }

    double beats_to_seconds(double beats) const { return (beats * 60.0) / bpm_; }
    double seconds_to_beats(double seconds) const { return (seconds * bpm_) / 60.0; }
    // Rounded half away from zero, saturated to 0..2^64-1 (NaN gives 0).
    std::uint64_t beats_to_ticks(double beats) const;
    double ticks_to_beats(std::uint64_t ticks) const {
        return static_cast<double>(ticks) / static_cast<double>(ticks_per_beat_);
    }

private:
    double bpm_;
    double position_ = 0.0;
    std::uint32_t ticks_per_beat_ = 480;
    TransportState state_ = TransportState::Stopped;
};

}  // namespace tamlor::sequencer
