#include "fx/reverb.hpp"

#include <algorithm>
#include <cmath>

#include "fx/checks.hpp"

namespace tamlor::fx {
namespace {

// Line lengths in frames at 44.1 kHz: primes, 27 to 60 ms.
constexpr std::array<double, Reverb::lines> base_lengths = {1201, 1399, 1607, 1811, 2017, 2239, 2459, 2663};
// Output sign patterns: rows of an 8 x 8 Hadamard matrix, orthogonal to
// each other, so the two sides share no common part of the network.
constexpr std::array<float, Reverb::lines> left_taps = {1, 1, 1, 1, 1, 1, 1, 1};
constexpr std::array<float, Reverb::lines> right_taps = {1, -1, 1, -1, -1, 1, -1, 1};
// The wet level: an impulse's tail has about the energy of the impulse at a
// decay of one second.
constexpr float wet_gain = 0.25f;

// Damping shortens the decay of the whole signal as measured from an
// impulse (its energy decay curve from -5 to -35 dB), because the highs die
// first. These are the measured ratios of that decay to the low-frequency
// one, at damping 0, 0.1, ..., 1; the low-frequency decay is divided by
// them, so the measured decay is the one asked for.
constexpr std::array<double, 11> damping_ratio = {1.0,   0.915, 0.888, 0.882, 0.881, 0.881,
                                                  0.882, 0.883, 0.883, 0.884, 0.884};

double measured_ratio(double damping) {
    const double x = damping * 10.0;
    const auto i = std::min<std::size_t>(9, static_cast<std::size_t>(x));
    const double f = x - static_cast<double>(i);
    return damping_ratio[i] + (damping_ratio[i + 1] - damping_ratio[i]) * f;
}

}  // namespace

Reverb::Reverb(double decay, double predelay, double damping, double width, double mix, std::uint32_t sample_rate)
    : rate_(check_rate(sample_rate)) {
    positive(decay, "decay");
    non_negative(predelay, "predelay");
    finite(damping, "damping");
    finite(width, "width");
    finite(mix, "mix");
    predelay_time_ = std::min(predelay, 1.0);
    decay_.jump(std::clamp(decay, 0.05, 60.0));
    damping_.jump(std::clamp(damping, 0.0, 1.0));
    width_.jump(std::clamp(width, 0.0, 1.0));
    mix_.jump(std::clamp(mix, 0.0, 1.0));
    pre_max_ = static_cast<double>(rate_);
    check_line(pre_max_ + 2.0, "the reverb's predelay line");
    predelay_.jump(predelay_frames(predelay_time_));
    pre_size_ = static_cast<std::size_t>(rate_) + 2;
    pre_line_.assign(pre_size_ * 2, 0.0f);
    std::size_t total = 0;
    for (std::size_t i = 0; i < lines; ++i) {
        const double n = std::floor(base_lengths[i] * rate_ / 44100.0 + 0.5);
        length_[i] = std::max<std::size_t>(1, static_cast<std::size_t>(n));
        offset_[i] = total;
        total += length_[i];
    }
    line_.assign(total, 0.0f);
    design();
}

double Reverb::predelay_frames(double seconds) const { return std::min(seconds * rate_, pre_max_); }

// The loss filter of line i: gain g_low = 10^(-3 L / (decay x rate)) at
// 0 Hz and g_high at the Nyquist frequency, where highs decay (1 + 3 x
// damping) times faster; the one-pole b0 / (1 - pole z^-1) meets both.
void Reverb::design() {
    const double t = decay_.value / measured_ratio(damping_.value) * rate_;
    const double speed = 1.0 + 3.0 * damping_.value;
    for (std::size_t i = 0; i < lines; ++i) {
        const double l = static_cast<double>(length_[i]);
        const double exponent = -3.0 * l / t * (std::numbers::log2e * std::numbers::ln10);  // log2 of g_low
        const double g_low = exp2_det(exponent);
        const double g_high = exp2_det(exponent * speed);
        const double pole = (g_low - g_high) / (g_low + g_high);
        pole_[i] = static_cast<float>(pole);
        b0_[i] = static_cast<float>(g_low * (1.0 - pole));
    }
}

void Reverb::set_decay(double seconds) { decay_.to(std::clamp(positive(seconds, "decay"), 0.05, 60.0), glide_frames(rate_)); }
void Reverb::set_predelay(double seconds) {
    predelay_time_ = std::min(non_negative(seconds, "predelay"), 1.0);
    predelay_.to(predelay_frames(predelay_time_), glide_frames(rate_));
}
void Reverb::set_damping(double d) { damping_.to(std::clamp(finite(d, "damping"), 0.0, 1.0), glide_frames(rate_)); }
void Reverb::set_width(double w) { width_.to(std::clamp(finite(w, "width"), 0.0, 1.0), glide_frames(rate_)); }
void Reverb::set_mix(double m) { mix_.to(std::clamp(finite(m, "mix"), 0.0, 1.0), glide_frames(rate_)); }

void Reverb::reset() {
    std::fill(pre_line_.begin(), pre_line_.end(), 0.0f);
    std::fill(line_.begin(), line_.end(), 0.0f);
    pre_write_ = 0;
    pos_ = {};
    lowpass_ = {};
    decay_.jump(decay_.target);
    damping_.jump(damping_.target);
    width_.jump(width_.target);
    mix_.jump(mix_.target);
    predelay_.jump(predelay_.target);
    design();
}

void Reverb::process(float* data, std::size_t frames) {
    float* lines_data = line_.data();
    for (std::size_t f = 0; f < frames; ++f) {
        if (decay_.moving() || damping_.moving()) {
            decay_.step();
            damping_.step();
            design();
        }
        const double width = width_.step();
        const double mix = mix_.step();
        const double pre = predelay_.step();
        float* frame = data + 2 * f;
        const float in_l = frame[0], in_r = frame[1];

        // The predelay line: write, then read `pre` frames back (0 reads
        // what was just written).
        pre_line_[2 * pre_write_] = in_l;
        pre_line_[2 * pre_write_ + 1] = in_r;
        double pos = static_cast<double>(pre_write_) - pre;
        if (pos < 0.0) pos += static_cast<double>(pre_size_);
        const auto i0 = static_cast<std::size_t>(pos);
        const double frac = pos - static_cast<double>(i0);
        float send_l = pre_line_[2 * i0], send_r = pre_line_[2 * i0 + 1];
        if (frac != 0.0) {
            const std::size_t i1 = i0 + 1 == pre_size_ ? 0 : i0 + 1;
            send_l = static_cast<float>(send_l + (pre_line_[2 * i1] - send_l) * frac);
            send_r = static_cast<float>(send_r + (pre_line_[2 * i1 + 1] - send_r) * frac);
        }
        pre_write_ = pre_write_ + 1 == pre_size_ ? 0 : pre_write_ + 1;

        // The network: read each line's oldest sample through its loss filter.
        std::array<float, lines> v;
        float wet_l = 0.0f, wet_r = 0.0f;
        for (std::size_t i = 0; i < lines; ++i) {
            const float out = lines_data[offset_[i] + pos_[i]];
            const float y = flush(b0_[i] * out + pole_[i] * lowpass_[i]);
            lowpass_[i] = y;
            v[i] = y;
            wet_l += left_taps[i] * y;
            wet_r += right_taps[i] * y;
        }
        // Hadamard mixing in three butterfly stages, scaled to stay orthogonal.
        for (std::size_t h = 1; h < lines; h *= 2) {
            for (std::size_t i = 0; i < lines; i += 2 * h) {
                for (std::size_t j = i; j < i + h; ++j) {
                    const float a = v[j], b = v[j + h];
                    v[j] = a + b;
                    v[j + h] = a - b;
                }
            }
        }
        constexpr float norm = 0.35355339059327373f;  // 1 / sqrt(8)
        for (std::size_t i = 0; i < lines; ++i) {
            // Left feeds the even lines, right the odd ones.
            const float in = (i & 1) ? send_r : send_l;
            lines_data[offset_[i] + pos_[i]] = v[i] * norm + in;
            pos_[i] = pos_[i] + 1 == length_[i] ? 0 : pos_[i] + 1;
        }

        // Width between mono (0) and the full stereo of the network (1).
        const double mid = 0.5 * (static_cast<double>(wet_l) + wet_r);
        const double side = 0.5 * (static_cast<double>(wet_l) - wet_r) * width;
        const double out_l = (mid + side) * wet_gain;
        const double out_r = (mid - side) * wet_gain;
        frame[0] = static_cast<float>((1.0 - mix) * in_l + mix * out_l);
        frame[1] = static_cast<float>((1.0 - mix) * in_r + mix * out_r);
    }
}

std::uint64_t Reverb::tail_frames() const {
    const std::size_t longest = *std::max_element(length_.begin(), length_.end());
    const double low = decay_.target / measured_ratio(damping_.target);
    return static_cast<std::uint64_t>(std::ceil(predelay_.target + low * rate_)) + longest;
}

}  // namespace tamlor::fx
