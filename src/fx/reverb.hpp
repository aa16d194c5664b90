// A stereo algorithmic reverb: a feedback delay network of eight delay lines
// of mutually prime lengths (27 to 60 ms at 44.1 kHz, scaled with the sample
// rate) mixed through an orthogonal Hadamard matrix. Each line loses
// 60 dB per `decay` seconds at low frequencies through a one-pole loss filter
// whose high-frequency loss grows with `damping`, so highs die sooner. Left
// and right are taken from the lines with orthogonal sign patterns, which
// keeps them decorrelated; `width` narrows them towards mono, `predelay`
// holds the input back before the network, `mix` crossfades dry and wet.
//
// The lines and the samples are 32-bit, the delay time of the predelay is
// 64-bit frames (interpolated while it glides). decay is clamped to
// 0.05 .. 60 s, predelay to 0 .. 1 s, damping, width and mix to 0 .. 1.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fx/math.hpp"

namespace tamlor::fx {

class Reverb {
public:
    static constexpr std::size_t lines = 8;

    Reverb(double decay, double predelay, double damping, double width, double mix, std::uint32_t sample_rate);

    double decay() const { return decay_.target; }
    double predelay() const { return predelay_time_; }
    double damping() const { return damping_.target; }
    double width() const { return width_.target; }
    double mix() const { return mix_.target; }
    std::uint32_t sample_rate() const { return rate_; }
    std::uint32_t channels() const { return 2; }

    void set_decay(double seconds);
    void set_predelay(double seconds);
    void set_damping(double damping);
    void set_width(double width);
    void set_mix(double mix);

    // Processes `frames` interleaved stereo frames in place.
    void process(float* data, std::size_t frames);
    void reset();
    std::uint64_t tail_frames() const;

    template <class A>
    void visit(A& a) {
        a(predelay_time_);
        decay_.visit(a);
        damping_.visit(a);
        width_.visit(a);
        mix_.visit(a);
        predelay_.visit(a);
        if (!predelay_.within(0.0, pre_max_)) a.fail();
        a(pre_line_);
        a.index(pre_write_, pre_size_);
        a(line_);
        for (std::size_t i = 0; i < lines; ++i) a.index(pos_[i], length_[i]);
        for (std::size_t i = 0; i < lines; ++i) a(b0_[i]), a(pole_[i]), a(lowpass_[i]);
    }

private:
    void design();
    double predelay_frames(double seconds) const;

    std::uint32_t rate_;
    double predelay_time_;
    Glide decay_, damping_, width_, mix_, predelay_;
    double pre_max_;                   // the longest predelay, in frames
    std::size_t pre_size_;
    std::vector<float> pre_line_;      // interleaved stereo
    std::size_t pre_write_ = 0;
    std::array<std::size_t, lines> length_{};
    std::array<std::size_t, lines> offset_{};  // where each line starts in line_
    std::vector<float> line_;
    std::array<std::size_t, lines> pos_{};     // read = write position of each line
    std::array<float, lines> b0_{}, pole_{}, lowpass_{};
};

}  // namespace tamlor::fx
