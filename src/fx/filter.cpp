#include "fx/filter.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "fx/checks.hpp"

namespace tamlor::fx {
namespace {

constexpr std::array<const char*, 8> kind_names = {"lowpass", "highpass", "bandpass", "notch",
                                                    "peak",    "lowshelf", "highshelf", "allpass"};

}  // namespace

FilterKind filter_kind(std::string_view name) {
    for (std::size_t i = 0; i < kind_names.size(); ++i)
        if (name == kind_names[i]) return static_cast<FilterKind>(i);
    throw ValueError("kind must be one of lowpass, highpass, bandpass, notch, peak, lowshelf, highshelf, allpass, not '" +
                     std::string(name) + "'");
}

const char* filter_kind_name(FilterKind kind) { return kind_names[static_cast<std::size_t>(kind)]; }

Biquad design(FilterKind kind, double frequency, double q, double gain_db, double rate) {
    const double w0 = 2.0 * std::numbers::pi * frequency / rate;
    const double cw = cos_det(w0);
    const double alpha = sin_det(w0) / (2.0 * q);
    const double A = exp2_det(gain_db * (std::numbers::log2e * std::numbers::ln10 / 40.0));  // 10^(dB/40)
    double b0, b1, b2, a0, a1, a2;
    switch (kind) {
        case FilterKind::lowpass:
            b0 = b2 = (1.0 - cw) / 2.0;
            b1 = 1.0 - cw;
            a0 = 1.0 + alpha, a1 = -2.0 * cw, a2 = 1.0 - alpha;
            break;
        case FilterKind::highpass:
            b0 = b2 = (1.0 + cw) / 2.0;
            b1 = -(1.0 + cw);
            a0 = 1.0 + alpha, a1 = -2.0 * cw, a2 = 1.0 - alpha;
            break;
        case FilterKind::bandpass:  // 0 dB at the centre
            b0 = alpha, b1 = 0.0, b2 = -alpha;
            a0 = 1.0 + alpha, a1 = -2.0 * cw, a2 = 1.0 - alpha;
            break;
        case FilterKind::notch:
            b0 = 1.0, b1 = -2.0 * cw, b2 = 1.0;
            a0 = 1.0 + alpha, a1 = -2.0 * cw, a2 = 1.0 - alpha;
            break;
        case FilterKind::allpass:
            b0 = 1.0 - alpha, b1 = -2.0 * cw, b2 = 1.0 + alpha;
            a0 = 1.0 + alpha, a1 = -2.0 * cw, a2 = 1.0 - alpha;
            break;
        case FilterKind::peak:
            b0 = 1.0 + alpha * A, b1 = -2.0 * cw, b2 = 1.0 - alpha * A;
            a0 = 1.0 + alpha / A, a1 = -2.0 * cw, a2 = 1.0 - alpha / A;
            break;
        case FilterKind::lowshelf: {
            const double s = 2.0 * std::sqrt(A) * alpha;
            b0 = A * ((A + 1.0) - (A - 1.0) * cw + s);
            b1 = 2.0 * A * ((A - 1.0) - (A + 1.0) * cw);
            b2 = A * ((A + 1.0) - (A - 1.0) * cw - s);
            a0 = (A + 1.0) + (A - 1.0) * cw + s;
            a1 = -2.0 * ((A - 1.0) + (A + 1.0) * cw);
            a2 = (A + 1.0) + (A - 1.0) * cw - s;
            break;
        }
        default: {  // highshelf
            const double s = 2.0 * std::sqrt(A) * alpha;
            b0 = A * ((A + 1.0) + (A - 1.0) * cw + s);
            b1 = -2.0 * A * ((A - 1.0) + (A + 1.0) * cw);
            b2 = A * ((A + 1.0) + (A - 1.0) * cw - s);
            a0 = (A + 1.0) - (A - 1.0) * cw + s;
            a1 = 2.0 * ((A - 1.0) - (A + 1.0) * cw);
            a2 = (A + 1.0) - (A - 1.0) * cw - s;
            break;
        }
    }
    return Biquad{b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
}

Filter::Filter(FilterKind kind, double frequency, double q, double gain_db, std::uint32_t sample_rate,
               std::uint32_t channels)
    : kind_(kind), rate_(check_rate(sample_rate)), channels_(check_channels(channels)) {
    finite(frequency, "frequency");
    finite(q, "q");
    finite(gain_db, "gain_db");
    frequency_.jump(clamp_frequency(frequency));
    q_.jump(std::clamp(q, 0.1, 40.0));
    gain_db_.jump(std::clamp(gain_db, -60.0, 60.0));
    redesign();
}

double Filter::clamp_frequency(double hz) const { return std::min(std::max(hz, 10.0), 0.49 * rate_); }

void Filter::redesign() { coef_ = design(kind_, frequency_.value, q_.value, gain_db_.value, rate_); }

void Filter::set_kind(FilterKind kind) {
    kind_ = kind;
    redesign();
}
void Filter::set_frequency(double hz) { frequency_.to(clamp_frequency(finite(hz, "frequency")), glide_frames(rate_)); }
void Filter::set_q(double q) { q_.to(std::clamp(finite(q, "q"), 0.1, 40.0), glide_frames(rate_)); }
void Filter::set_gain_db(double db) { gain_db_.to(std::clamp(finite(db, "gain_db"), -60.0, 60.0), glide_frames(rate_)); }

void Filter::reset() {
    state_ = {};
    frequency_.jump(frequency_.target);
    q_.jump(q_.target);
    gain_db_.jump(gain_db_.target);
    redesign();
}

// One step of the direct-form-I recursion.
static inline float biquad_step(const Biquad& c, double& x1, double& x2, double& y1, double& y2, float in) {
    const double x = in;
    const double y = flush(c.b0 * x + c.b1 * x1 + c.b2 * x2 - c.a1 * y1 - c.a2 * y2);
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return static_cast<float>(y);
}

void Filter::process_gliding(float* data, std::size_t frames) {
    for (std::size_t f = 0; f < frames; ++f) {
        if (frequency_.moving() || q_.moving() || gain_db_.moving()) {
            frequency_.step();
            q_.step();
            gain_db_.step();
            redesign();
        }
        for (std::uint32_t ch = 0; ch < channels_; ++ch) {
            State& s = state_[ch];
            float& v = data[f * channels_ + ch];
            v = biquad_step(coef_, s.x1, s.x2, s.y1, s.y2, v);
        }
    }
}

void Filter::process(float* data, std::size_t frames) {
    std::size_t f = 0;
    // Frames while a parameter glides take the slow road, one design per frame.
    while (f < frames && (frequency_.moving() || q_.moving() || gain_db_.moving())) {
        process_gliding(data + f * channels_, 1);
        ++f;
    }
    if (f == frames) return;
    const Biquad c = coef_;
    float* p = data + f * channels_;
    const std::size_t n = frames - f;
    if (channels_ == 1) {
        State s = state_[0];
        for (std::size_t i = 0; i < n; ++i) p[i] = biquad_step(c, s.x1, s.x2, s.y1, s.y2, p[i]);
        state_[0] = s;
    } else {
        State l = state_[0], r = state_[1];
        for (std::size_t i = 0; i < n; ++i) {
            p[2 * i] = biquad_step(c, l.x1, l.x2, l.y1, l.y2, p[2 * i]);
            p[2 * i + 1] = biquad_step(c, r.x1, r.x2, r.y1, r.y2, p[2 * i + 1]);
        }
        state_[0] = l;
        state_[1] = r;
    }
}

std::uint64_t Filter::tail_frames() const {
    const Biquad c = design(kind_, frequency_.target, q_.target, gain_db_.target, rate_);
    // The largest pole radius of z^2 + a1 z + a2.
    const double disc = c.a1 * c.a1 - 4.0 * c.a2;
    double r;
    if (disc < 0.0) {
        r = std::sqrt(c.a2);
    } else {
        const double s = std::sqrt(disc);
        r = std::max(std::fabs((-c.a1 + s) / 2.0), std::fabs((-c.a1 - s) / 2.0));
    }
    if (!(r > 0.0)) return 2;
    if (r >= 1.0) return UINT64_MAX;
    // The envelope r^n falls by 60 dB; a resonant filter's peak gain (up to
    // q) and the two zeros add a little, covered by one extra factor of q.
    const double decades = 3.0 + std::max(0.0, log2_det(std::max(q_.target, 1.0)) / std::numbers::log2e / std::numbers::ln10);
    const double n = -decades / (log2_det(r) / (std::numbers::log2e * std::numbers::ln10));
    return static_cast<std::uint64_t>(std::ceil(n)) + 2;
}

}  // namespace tamlor::fx
