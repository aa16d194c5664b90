#include "midi/values.hpp"

#include "common/errors.hpp"

namespace tamlor::midi {
namespace {

std::uint8_t check(std::uint8_t value, std::uint8_t max, const char* what) {
    if (value > max) {
        // The bounds are joined by an en dash.
        throw ValueError(std::string(what) + " out of range: " + std::to_string(value) +
                         " (must be 0\u2013" + std::to_string(max) + ")");
    }
    return value;
}

}  // namespace

std::uint8_t check_note(std::uint8_t value) { return check(value, 127, "Note"); }
std::uint8_t check_velocity(std::uint8_t value) { return check(value, 127, "Velocity"); }
std::uint8_t check_channel(std::uint8_t value) { return check(value, 15, "MidiChannel"); }
std::uint8_t check_control(std::uint8_t value) { return check(value, 127, "ControlNumber"); }

}  // namespace tamlor::midi
