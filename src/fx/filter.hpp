// A biquad filter of eight kinds, its coefficients from the well-known audio
// EQ cookbook formulas (q is the cookbook's Q for every kind, shelves
// included). The recursion runs in 64-bit floats, the samples in and out are
// 32-bit. Frequency is clamped to 10 Hz .. 0.49 x sample rate, q to
// 0.1 .. 40 and gain_db to -60 .. 60, so the filter is always stable.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fx/math.hpp"

namespace tamlor::fx {

enum class FilterKind { lowpass, highpass, bandpass, notch, peak, lowshelf, highshelf, allpass };

// The kind named by `name`; ValueError for any other name.
FilterKind filter_kind(std::string_view name);
const char* filter_kind_name(FilterKind kind);

struct Biquad {
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;  // normalised: a0 = 1
};

// The cookbook coefficients (arguments already clamped).
Biquad design(FilterKind kind, double frequency, double q, double gain_db, double rate);

class Filter {
public:
    Filter(FilterKind kind, double frequency, double q, double gain_db, std::uint32_t sample_rate,
           std::uint32_t channels);

    FilterKind kind() const { return kind_; }
    double frequency() const { return frequency_.target; }
    double q() const { return q_.target; }
    double gain_db() const { return gain_db_.target; }
    std::uint32_t sample_rate() const { return rate_; }
    std::uint32_t channels() const { return channels_; }
    const Biquad& coefficients() const { return coef_; }

    // Setters clamp to the stable range and glide to the new value.
    void set_kind(FilterKind kind);
    void set_frequency(double hz);
    void set_q(double q);
    void set_gain_db(double db);

    // Filters `frames` interleaved frames of `data` in place.
    void process(float* data, std::size_t frames);
    // Returns to the state just after construction (parameters kept).
    void reset();
    // Frames for an impulse to decay by 60 dB at the current settings.
    std::uint64_t tail_frames() const;

    template <class A>
    void visit(A& a) {
        auto k = static_cast<std::uint32_t>(kind_);
        a(k);
        if (k > static_cast<std::uint32_t>(FilterKind::allpass)) a.fail();
        kind_ = static_cast<FilterKind>(k);
        frequency_.visit(a);
        q_.visit(a);
        gain_db_.visit(a);
        a(coef_.b0), a(coef_.b1), a(coef_.b2), a(coef_.a1), a(coef_.a2);
        for (auto& s : state_) a(s.x1), a(s.x2), a(s.y1), a(s.y2);
    }

private:
    struct State {
        double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
    };
    double clamp_frequency(double hz) const;
    void redesign();
    void process_gliding(float* data, std::size_t frames);

    FilterKind kind_;
    std::uint32_t rate_;
    std::uint32_t channels_;
    Glide frequency_, q_, gain_db_;
    Biquad coef_;
    std::array<State, 2> state_{};
};

}  // namespace tamlor::fx
