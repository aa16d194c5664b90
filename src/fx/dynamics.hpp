// Level control: a compressor with a soft knee and a look-ahead limiter.
// Both follow the louder channel of each frame, so stereo keeps its image.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fx/math.hpp"

namespace tamlor::fx {

// The static curve, in dB: input level x, threshold t, ratio r, knee width w
// (the textbook soft knee, a quadratic joining the two straight lines).
double compressor_curve(double x, double t, double r, double w);

// A feed-forward compressor. The level of each frame (the larger magnitude
// of its samples, in dB) goes through the static curve; the gain reduction
// is smoothed in dB by one-pole filters with the attack time constant while
// it grows and the release one while it shrinks, and applied with the makeup
// gain. Level and gain run in 64-bit floats. threshold_db is clamped to
// -96 .. 0, ratio to 1 .. 100, knee_db to 0 .. 48, makeup_db to -48 .. 48;
// attack and release must be positive (at most 10 s).
class Compressor {
public:
    Compressor(double threshold_db, double ratio, double attack, double release, double knee_db, double makeup_db,
               std::uint32_t sample_rate, std::uint32_t channels);

    double threshold_db() const { return threshold_.target; }
    double ratio() const { return ratio_.target; }
    double attack() const { return attack_; }
    double release() const { return release_; }
    double knee_db() const { return knee_.target; }
    double makeup_db() const { return makeup_.target; }
    std::uint32_t sample_rate() const { return rate_; }
    std::uint32_t channels() const { return channels_; }
    // The gain reduction now, in dB (0 or below).
    double reduction_db() const { return envelope_; }

    void set_threshold_db(double db);
    void set_ratio(double ratio);
    void set_attack(double seconds);
    void set_release(double seconds);
    void set_knee_db(double db);
    void set_makeup_db(double db);

    void process(float* data, std::size_t frames);
    void reset();
    std::uint64_t tail_frames() const;

    template <class A>
    void visit(A& a) {
        a(attack_), a(release_), a(attack_coef_), a(release_coef_);
        threshold_.visit(a), ratio_.visit(a), knee_.visit(a), makeup_.visit(a);
        a(envelope_);
        update();
    }

private:
    void update();
    double follow(double target, double env) const;

    std::uint32_t rate_;
    std::uint32_t channels_;
    double attack_, release_;
    double attack_coef_ = 0.0, release_coef_ = 0.0;
    Glide threshold_, ratio_, knee_, makeup_;
    double envelope_ = 0.0;  // smoothed gain reduction, dB
    double knee_start_ = 0.0;  // linear level below which the curve is flat
    double makeup_gain_ = 1.0;
};

// A look-ahead brickwall limiter. Each frame's gain is the lowest needed by
// any frame in the next `lookahead` seconds, eased in over that time and
// released with the `release` time constant; the output is the input
// delayed by the lookahead times that gain, so no sample leaves above the
// ceiling, and a signal that never crosses it comes out unchanged but for
// the delay. ceiling_db is clamped to -60 .. 0; the lookahead (0 .. 1 s) is
// fixed at construction.
class Limiter {
public:
    Limiter(double ceiling_db, double release, double lookahead, std::uint32_t sample_rate, std::uint32_t channels);

    double ceiling_db() const { return ceiling_.target; }
    double release() const { return release_; }
    double lookahead() const { return lookahead_; }
    std::uint32_t lookahead_frames() const { return window_ - 1; }
    std::uint32_t sample_rate() const { return rate_; }
    std::uint32_t channels() const { return channels_; }

    void set_ceiling_db(double db);
    void set_release(double seconds);

    void process(float* data, std::size_t frames);
    void reset();
    std::uint64_t tail_frames() const { return window_ - 1; }

    template <class A>
    void visit(A& a) {
        a(release_), a(release_coef_);
        ceiling_.visit(a);
        a(delayed_);
        a.index(at_, window_);
        a(eased_);
        a.index(hold_head_, window_);
        a(hold_count_);
        if (hold_count_ > window_) a.fail();
        a(hold_index_);
        a(hold_value_);
        a(smooth_);
        a(sum_);
        a(below_);
        if (below_ > window_) a.fail();
        a(frame_);
    }

private:
    std::uint32_t rate_;
    std::uint32_t channels_;
    double lookahead_;
    double release_;
    double release_coef_;
    Glide ceiling_;            // dB
    std::uint32_t window_;     // lookahead frames + 1
    std::vector<float> delayed_;   // the last window_ input frames, interleaved
    std::size_t at_ = 0;           // where the next frame goes in the rings
    std::vector<double> eased_;    // the released gains of the last window_ frames
    // A monotonic queue of (frame, needed gain) for the lowest need in the window.
    std::vector<std::uint64_t> hold_index_;
    std::vector<double> hold_value_;
    std::size_t hold_head_ = 0;
    std::uint64_t hold_count_ = 0;
    double smooth_ = 1.0;      // the released gain
    double sum_ = 0.0;         // sum of eased_ over the window
    std::uint64_t below_ = 0;  // how many of eased_ are below 1
    std::uint64_t frame_ = 0;  // frames processed
};

}  // namespace tamlor::fx
