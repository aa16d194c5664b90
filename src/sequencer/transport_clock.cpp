#include "sequencer/transport_clock.hpp"

#include <cmath>

#include "common/saturate.hpp"

namespace tamlor::sequencer {

std::string_view state_name(TransportState state) {
    switch (state) {
        case TransportState::Playing: return "playing";
        case TransportState::Paused: return "paused";
        case TransportState::Stopped: break;
    }
    return "stopped";
}

void TransportClock::set_bpm(double bpm) {
    bpm_ = (bpm >= 1.0) ? bpm : 1.0;  // NaN fails the comparison and clamps too
}

void TransportClock::stop() {
    state_ = TransportState::Stopped;
    position_ = 0.0;
}

void TransportClock::seek(double beat) {
    position_ = (beat > 0.0) ? beat : 0.0;  // negatives, -0.0 and NaN give 0.0
}

std::optional<std::pair<double, double>> TransportClock::next_range(std::uint64_t frames,
                                                                    std::uint32_t sample_rate) const {
    if (state_ != TransportState::Playing) return std::nullopt;
    const double start = position_;
    // The order of operations fixes the last bit of the result.
    double d = static_cast<double>(frames) / static_cast<double>(sample_rate);
    d = d * bpm_;
    d = d / 60.0;
    const double end = d + start;
    return std::pair{start, end};
}

std::optional<std::pair<double, double>> TransportClock::advance_by_frames(std::uint64_t frames,
                                                                           std::uint32_t sample_rate) {
    const auto range = next_range(frames, sample_rate);
    if (range) move_to_end_of(*range);
    return range;
}

std::uint64_t TransportClock::beats_to_ticks(double beats) const {
    const double x = beats * static_cast<double>(ticks_per_beat_);
    return saturate_u64(std::round(x));
}

}  // namespace tamlor::sequencer
