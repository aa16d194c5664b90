// An echo: a delay line per channel with feedback and a dry/wet crossfade.
// The line holds 32-bit samples; the delay time is kept in 64-bit frames and
// read with linear interpolation, so a whole number of frames reads a sample
// exactly and a fractional or gliding time interpolates. With ping_pong the
// feedback crosses over, so repeats alternate between left and right.
//
//   wet  = line delayed by time x sample_rate frames
//   line <- input + feedback x wet (the other side's wet with ping_pong)
//   out  = (1 - mix) x input + mix x wet
//
// time is 1 frame .. max_time, feedback is clamped to -0.99 .. 0.99 and mix
// to 0 .. 1.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fx/math.hpp"

namespace tamlor::fx {

class Delay {
public:
    Delay(double time, double feedback, double mix, std::uint32_t sample_rate, std::uint32_t channels,
          double max_time, bool ping_pong);

    double time() const { return time_; }
    double feedback() const { return feedback_.target; }
    double mix() const { return mix_.target; }
    double max_time() const { return max_time_; }
    bool ping_pong() const { return ping_pong_; }
    std::uint32_t sample_rate() const { return rate_; }
    std::uint32_t channels() const { return channels_; }

    void set_time(double seconds);
    void set_feedback(double feedback);
    void set_mix(double mix);

    void process(float* data, std::size_t frames);
    void reset();
    std::uint64_t tail_frames() const;

    template <class A>
    void visit(A& a) {
        a(time_);
        delay_.visit(a);
        feedback_.visit(a);
        mix_.visit(a);
        a(line_);
        a.index(write_, size_);
        if (!delay_.within(1.0, max_frames_)) a.fail();
    }

private:
    double frames_of(double seconds) const;

    std::uint32_t rate_;
    std::uint32_t channels_;
    double max_time_;
    double max_frames_;
    bool ping_pong_;
    double time_;         // as set, in seconds
    Glide delay_;         // in frames
    Glide feedback_;
    Glide mix_;
    std::size_t size_;    // frames in the line
    std::vector<float> line_;  // size_ frames, interleaved
    std::size_t write_ = 0;
};

}  // namespace tamlor::fx
