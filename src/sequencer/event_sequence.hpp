// Freely timed notes and a sequence that keeps them ordered by start beat.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace tamlor::sequencer {

struct NoteEvent {
    double beat_position = 0.0;  // start, in beats; any value is stored
    double duration = 0.0;       // length, in beats; any value is stored
    std::uint8_t note = 60;
    std::uint8_t velocity = 0;

    double end_position() const { return beat_position + duration; }
    // Floats compare by IEEE equality: a NaN field makes events unequal.
    friend bool operator==(const NoteEvent&, const NoteEvent&) = default;
};

class EventSequence {
public:
    std::size_t size() const { return events_.size(); }
    const std::vector<NoteEvent>& events() const { return events_; }

    // Inserts after every stored event whose position is less than or equal
    // to the new one's, found by repeated halving; a NaN on either side of a
    // comparison counts as "less than".
    void add_event(const NoteEvent& event);
    // The removed event, or nothing (and no change) beyond the end.
    std::optional<NoteEvent> remove_event(std::uint64_t index);
    void clear() { events_.clear(); }
    // Replaces every event with `events`, which must already be in the order
    // the sequence keeps (as events() hands them out).
    void assign(std::vector<NoteEvent> events) { events_ = std::move(events); }

    // Events with beat_position < end and end_position() > start.
    std::vector<NoteEvent> events_in_range(double start, double end) const;
    // Events with start <= beat_position < end.
    std::vector<NoteEvent> events_starting_in_range(double start, double end) const;
    // The latest end, at least 0.0; NaN ends are skipped.
    double duration() const;

    // The place add_event would insert at for a start position `x`.
    std::size_t insertion_place(double x) const;

private:
    std::vector<NoteEvent> events_;
};

}  // namespace tamlor::sequencer
