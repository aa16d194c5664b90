// Plays a pattern on a fixed grid of beats: for each half-open beat range it
// reports the note-on/note-off events of the active steps whose grid time
// falls inside, remembering the last grid time it visited so that adjoining
// ranges never report a step twice.
#pragma once

#include <cstdint>
#include <vector>

#include "sequencer/pattern.hpp"

namespace tamlor::sequencer {

enum class StepEventKind : std::uint8_t { NoteOn, NoteOff };

struct StepEvent {
    std::uint64_t time;  // millionths of a beat, truncated and saturated
    StepEventKind kind;
    std::uint8_t channel;
    std::uint8_t note;
    std::uint8_t velocity;  // 0 for a note-off
};

// The pattern position of grid time `t`: floor(t / sd), except that a
// quotient within a relative 1e-9 (and at most 0.05) of a whole number is
// that whole number.
// Grid times are sums of repeated additions, which for step durations that
// are not binary fractions land a hair below k * sd; plain floor would then
// play step k-1 twice and skip step k.
std::uint64_t grid_index(double t, double sd);

class StepSequencer {
public:
    // One call visits at most this many grid times, counting those skipped
    // before the range starts, and at most `max_grid_times_in_range` inside
    // the range: a range that needs more is refused with ValueError before
    // any work, so every call ends quickly with memory bounded by its result.
    static constexpr std::uint64_t max_grid_times = std::uint64_t{1} << 25;
    static constexpr std::uint64_t max_grid_times_in_range = std::uint64_t{1} << 20;

    // `channel` is already range-checked.
    StepSequencer(Pattern pattern, std::uint8_t channel);

    void set_pattern(Pattern pattern);
    void reset() {
        current_step_ = 0;
        last_step_beat_ = -1.0;
    }
    double step_duration() const { return step_duration_; }
    void set_step_duration(double sd) { step_duration_ = sd; }
    std::uint64_t current_step() const { return current_step_; }
    double last_step_beat() const { return last_step_beat_; }
    std::uint8_t channel() const { return channel_; }

    // The outcome of walking one range, not yet applied to the sequencer.
    struct Walk {
        std::vector<StepEvent> events;  // in the order found
        std::uint64_t current_step;
        double last_step_beat;
    };

    // Walks the grid through [start, end). Throws tamlor::ValueError when a
    // walk is needed and the step duration is not positive and finite, or
    // when the range needs more grid times than one call may visit.
    // `poll`, when given, is called every `poll_interval` grid times; it may
    // throw to abandon the walk (the sequencer is unchanged either way).
    static constexpr std::uint64_t poll_interval = 65536;
    Walk walk(double start, double end, void (*poll)() = nullptr) const;
    void commit(const Walk& walk) {
        current_step_ = walk.current_step;
        last_step_beat_ = walk.last_step_beat;
    }
    // walk() then commit().
    std::vector<StepEvent> process_beat_range(double start, double end);

private:
    Pattern pattern_;
    std::uint64_t active_steps_;  // cached count of the pattern's active cells
    std::uint64_t current_step_ = 0;
    double last_step_beat_ = -1.0;  // negative: nothing visited yet
    double step_duration_ = 0.25;
    std::uint8_t channel_;
};

}  // namespace tamlor::sequencer
