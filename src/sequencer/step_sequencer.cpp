#include "sequencer/step_sequencer.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "common/errors.hpp"
#include "common/float_text.hpp"
#include "common/saturate.hpp"

namespace tamlor::sequencer {

std::uint64_t grid_index(double t, double sd) {
    const double q = t / sd;
    const double whole = std::round(q);
    // The relative tolerance reaches 0.05 of a step near index 5e7, where the
    // drift of repeated additions outgrows it anyway; capping it there keeps
    // a time that lies between grid points (after a change of step duration)
    // from being rounded up to the next step at very large indices.
    const double tolerance = std::min(1e-9 * whole, 0.05);
    if (std::fabs(q - whole) <= tolerance) return saturate_u64(whole);
    return saturate_u64(std::floor(q));
}

StepSequencer::StepSequencer(Pattern pattern, std::uint8_t channel)
    : pattern_(std::move(pattern)), active_steps_(pattern_.active_count()), channel_(channel) {}

void StepSequencer::set_pattern(Pattern pattern) {
    const std::uint64_t active = pattern.active_count();
    pattern_ = std::move(pattern);
    active_steps_ = active;
}

namespace {

[[noreturn]] void refuse_range(const char* what, std::uint64_t limit, double sd, double from, double end) {
    throw ValueError(std::string("beat range needs more than ") + std::to_string(limit) + " grid times " + what +
                     " (step_duration " + text::shortest(sd) + ", from beat " + text::shortest(from) +
                     " to " + text::shortest(end) + "); use shorter ranges");
}

}  // namespace

StepSequencer::Walk StepSequencer::walk(double start, double end, void (*poll)()) const {
    Walk w{{}, current_step_, last_step_beat_};
    if (start >= end) return w;
    const std::uint64_t length = pattern_.length();
    if (length == 0) return w;
    // A NaN bound can match no grid time: a NaN end fails every end > t and
    // a NaN start every t >= start.
    if (std::isnan(start) || std::isnan(end)) return w;

    const double sd = step_duration_;
    if (!(sd > 0.0) || std::isinf(sd)) {
        throw ValueError("step_duration must be positive and finite to walk the grid, not " + text::shortest(sd));
    }

    double t = 0.0;
    if (last_step_beat_ >= 0.0) {
        t = last_step_beat_ + sd;
        // The grid has stopped advancing (sd is below half a unit in the last
        // place of the last grid time): there is no later grid time.
        if (!(t > last_step_beat_)) return w;
    }
    if (!(end > t)) return w;

    // Refuse, before any work, a range that needs too many grid times. The
    // counts are estimates; repeated addition can make the walk up to about
    // 1.5 times longer, which the hard stop below allows for.
    if (!((end - t) / sd <= static_cast<double>(max_grid_times))) {
        refuse_range("in one call", max_grid_times, sd, t, end);
    }
    const double first_inside = std::max(t, start);
    const double inside = (end - first_inside) / sd;
    if (!(inside <= static_cast<double>(max_grid_times_in_range))) {
        refuse_range("inside the range", max_grid_times_in_range, sd, first_inside, end);
    }

    // Reserve for the most events the range can hold: each active cell
    // sounds at most once per pass over the pattern.
    if (active_steps_ > 0 && inside > 0.0) {
        const std::uint64_t slots = static_cast<std::uint64_t>(inside) + 2;
        const std::uint64_t passes = slots / length + 2;
        w.events.reserve(2 * std::min(slots, active_steps_ * passes));
    }

    const std::uint64_t hard_stop = 2 * max_grid_times + 2;
    std::uint64_t visited = 0;
    while (end > t) {
        if (t >= start) {
            const std::uint64_t index = grid_index(t, sd) % length;
            const Step& step = pattern_[static_cast<std::size_t>(index)];
            if (step.active) {
                w.events.push_back(
                    StepEvent{saturate_u64(t * 1000000.0), StepEventKind::NoteOn, channel_, step.note, step.velocity});
                const double off = static_cast<double>(step.duration_ticks) * sd + t;
                w.events.push_back(
                    StepEvent{saturate_u64(off * 1000000.0), StepEventKind::NoteOff, channel_, step.note, 0});
            }
            w.current_step = index;
            w.last_step_beat = t;
        }
        const double next = t + sd;  // repeated addition, as the grid is defined
        if (next == t) break;         // the grid no longer advances
        t = next;
        if (++visited > hard_stop) refuse_range("in one call", max_grid_times, sd, t, end);
        if (poll && visited % poll_interval == 0) poll();
    }
    return w;
}

std::vector<StepEvent> StepSequencer::process_beat_range(double start, double end) {
    Walk w = walk(start, end);
    commit(w);
    return std::move(w.events);
}

}  // namespace tamlor::sequencer
