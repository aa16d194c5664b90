#include "sequencer/event_sequence.hpp"

namespace tamlor::sequencer {
namespace {

// x < y, counting an unordered pair (either side NaN) as true.
bool before(double x, double y) { return !(x >= y); }

// Copies of the events that pass `keep`, counted first so the result is
// allocated once.
template <class Keep>
std::vector<NoteEvent> select(const std::vector<NoteEvent>& events, Keep keep) {
    std::size_t n = 0;
    for (const NoteEvent& e : events) n += keep(e) ? 1 : 0;
    std::vector<NoteEvent> out;
    out.reserve(n);
    for (const NoteEvent& e : events) {
        if (keep(e)) out.push_back(e);
    }
    return out;
}

}  // namespace

std::size_t EventSequence::insertion_place(double x) const {
    const std::size_t n = events_.size();
    if (n == 0) return 0;
    std::size_t base = 0;
    std::size_t size = n;
    while (size > 1) {
        const std::size_t half = size / 2;
        const std::size_t mid = base + half;
        if (!before(x, events_[mid].beat_position)) base = mid;
        size -= half;
    }
    return before(x, events_[base].beat_position) ? base : base + 1;
}

void EventSequence::add_event(const NoteEvent& event) {
    events_.insert(events_.begin() + static_cast<std::ptrdiff_t>(insertion_place(event.beat_position)), event);
}

std::optional<NoteEvent> EventSequence::remove_event(std::uint64_t index) {
    if (index >= events_.size()) return std::nullopt;
    const auto at = events_.begin() + static_cast<std::ptrdiff_t>(index);
    NoteEvent removed = *at;
    events_.erase(at);
    return removed;
}

std::vector<NoteEvent> EventSequence::events_in_range(double start, double end) const {
    return select(events_, [&](const NoteEvent& e) {
        return end > e.beat_position && e.beat_position + e.duration > start;
    });
}

std::vector<NoteEvent> EventSequence::events_starting_in_range(double start, double end) const {
    return select(events_, [&](const NoteEvent& e) { return e.beat_position >= start && end > e.beat_position; });
}

double EventSequence::duration() const {
    double latest = 0.0;
    for (const NoteEvent& e : events_) {
        const double end = e.beat_position + e.duration;
        if (end > latest) latest = end;  // a NaN end fails the test and is skipped
    }
    return latest;
}

}  // namespace tamlor::sequencer
