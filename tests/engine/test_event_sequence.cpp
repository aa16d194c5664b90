#include <gtest/gtest.h>

#include <cmath>

#include "sequencer/event_sequence.hpp"

using namespace tamlor::sequencer;

namespace {

TEST(EventSequence, InsertionPlace) {
    EventSequence s;
    EXPECT_EQ(s.insertion_place(1.0), 0u);
    for (double p : {1.0, 2.0, 2.0, 3.0}) s.add_event(NoteEvent{p, 0.0, 60, 0});
    EXPECT_EQ(s.insertion_place(0.5), 0u);
    EXPECT_EQ(s.insertion_place(1.0), 1u);
    EXPECT_EQ(s.insertion_place(2.0), 3u);
    EXPECT_EQ(s.insertion_place(9.0), 4u);
    EXPECT_EQ(s.insertion_place(std::nan("")), 0u);
}

TEST(EventSequence, TiesKeepInsertionOrder) {
    EventSequence s;
    for (std::uint8_t n = 0; n < 50; ++n) s.add_event(NoteEvent{static_cast<double>(n % 5), 0.0, n, 0});
    for (std::size_t i = 1; i < s.size(); ++i) {
        const auto& a = s.events()[i - 1];
        const auto& b = s.events()[i];
        ASSERT_TRUE(a.beat_position < b.beat_position || (a.beat_position == b.beat_position && a.note < b.note));
    }
}

TEST(EventSequence, RemoveAndQueries) {
    EventSequence s;
    s.add_event(NoteEvent{0.0, 1.0, 1, 0});
    s.add_event(NoteEvent{1.0, 1.0, 2, 0});
    s.add_event(NoteEvent{2.0, 0.5, 3, 0});
    EXPECT_EQ(s.events_in_range(1.0, 2.0).size(), 1u);
    EXPECT_EQ(s.events_in_range(0.5, 2.0).size(), 2u);
    EXPECT_EQ(s.events_starting_in_range(1.0, 2.0).size(), 1u);
    EXPECT_EQ(s.duration(), 2.5);
    EXPECT_FALSE(s.remove_event(3));
    EXPECT_EQ(s.remove_event(1)->note, 2);
    EXPECT_EQ(s.size(), 2u);
}

TEST(EventSequence, DurationSkipsNaNEnds) {
    EventSequence s;
    EXPECT_EQ(s.duration(), 0.0);
    s.add_event(NoteEvent{-4.0, 1.0, 1, 0});
    EXPECT_EQ(s.duration(), 0.0);
    s.add_event(NoteEvent{INFINITY, -INFINITY, 1, 0});
    s.add_event(NoteEvent{1.0, std::nan(""), 1, 0});
    EXPECT_EQ(s.duration(), 0.0);
    EXPECT_FALSE(std::signbit(s.duration()));
}

}  // namespace
