// Checks of effect parameters, raising ValueError with the parameter's name.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>

#include "common/errors.hpp"
#include "common/float_text.hpp"

namespace tamlor::fx {

[[noreturn]] inline void bad_value(const char* name, const std::string& what, double v) {
    std::string s = name;
    s += " must be ";
    s += what;
    s += ", not ";
    text::append_shortest(s, v);
    throw ValueError(s);
}

inline double finite(double v, const char* name) {
    if (!std::isfinite(v)) bad_value(name, "a finite number", v);
    return v;
}

inline double non_negative(double v, const char* name) {
    if (!(v >= 0.0) || !std::isfinite(v)) bad_value(name, "a finite number of at least 0", v);
    return v;
}

inline double positive(double v, const char* name) {
    if (!(v > 0.0) || !std::isfinite(v)) bad_value(name, "a finite number above 0", v);
    return v;
}

inline std::uint32_t check_rate(std::uint32_t rate) {
    if (rate == 0) throw ValueError("sample_rate must be at least 1");
    return rate;
}

// Delay lines longer than this are refused: 2^31 frames is over 12 hours
// at 48 kHz, and a longer line would be tens of gigabytes.
inline constexpr double max_line_frames = 2147483648.0;

inline void check_line(double frames, const char* what) {
    if (!(frames <= max_line_frames))
        throw ValueError(std::string(what) + " needs more than 2^31 frames of memory at this sample rate");
}

inline std::uint32_t check_channels(std::uint32_t channels) {
    if (channels != 1 && channels != 2)
        throw ValueError("channels must be 1 or 2, not " + std::to_string(channels));
    return channels;
}

}  // namespace tamlor::fx
