// A MIDI message stamped with a caller-supplied time in microseconds.
#pragma once

#include <cstdint>

#include "midi/message.hpp"

namespace tamlor::midi {

struct Event {
    Message message;
    std::uint64_t timestamp_us = 0;  // no epoch: whatever the caller supplies
};

}  // namespace tamlor::midi
