#include "fx/dynamics.hpp"

#include <algorithm>
#include <cmath>

#include "fx/checks.hpp"

namespace tamlor::fx {
namespace {

double time_in_range(double seconds, const char* name) {
    positive(seconds, name);
    if (seconds > 10.0) bad_value(name, "at most 10 seconds", seconds);
    return seconds;
}

// The larger magnitude of a frame's samples (NaN when one is NaN).
inline double frame_peak(const float* frame, std::uint32_t channels) {
    double p = std::fabs(static_cast<double>(frame[0]));
    if (channels == 2) {
        const double q = std::fabs(static_cast<double>(frame[1]));
        p = q > p || q != q ? q : p;
    }
    return p;
}

}  // namespace

double compressor_curve(double x, double t, double r, double w) {
    if (2.0 * (x - t) < -w) return x;
    if (2.0 * (x - t) > w) return t + (x - t) / r;
    const double d = x - t + w / 2.0;
    return x + (1.0 / r - 1.0) * d * d / (2.0 * w);
}

// ---------------------------------------------------------------------------
// Compressor

Compressor::Compressor(double threshold_db, double ratio, double attack, double release, double knee_db,
                       double makeup_db, std::uint32_t sample_rate, std::uint32_t channels)
    : rate_(check_rate(sample_rate)), channels_(check_channels(channels)) {
    finite(threshold_db, "threshold_db");
    finite(ratio, "ratio");
    attack_ = time_in_range(attack, "attack");
    release_ = time_in_range(release, "release");
    finite(knee_db, "knee_db");
    finite(makeup_db, "makeup_db");
    threshold_.jump(std::clamp(threshold_db, -96.0, 0.0));
    ratio_.jump(std::clamp(ratio, 1.0, 100.0));
    knee_.jump(std::clamp(knee_db, 0.0, 48.0));
    makeup_.jump(std::clamp(makeup_db, -48.0, 48.0));
    attack_coef_ = time_coefficient(attack_, rate_);
    release_coef_ = time_coefficient(release_, rate_);
    update();
}

void Compressor::update() {
    knee_start_ = db_to_gain(threshold_.value - knee_.value / 2.0);
    makeup_gain_ = db_to_gain(makeup_.value);
}

void Compressor::set_threshold_db(double db) {
    threshold_.to(std::clamp(finite(db, "threshold_db"), -96.0, 0.0), glide_frames(rate_));
}
void Compressor::set_ratio(double r) { ratio_.to(std::clamp(finite(r, "ratio"), 1.0, 100.0), glide_frames(rate_)); }
void Compressor::set_knee_db(double db) { knee_.to(std::clamp(finite(db, "knee_db"), 0.0, 48.0), glide_frames(rate_)); }
void Compressor::set_makeup_db(double db) {
    makeup_.to(std::clamp(finite(db, "makeup_db"), -48.0, 48.0), glide_frames(rate_));
}
void Compressor::set_attack(double seconds) {
    attack_ = time_in_range(seconds, "attack");
    attack_coef_ = time_coefficient(attack_, rate_);
}
void Compressor::set_release(double seconds) {
    release_ = time_in_range(seconds, "release");
    release_coef_ = time_coefficient(release_, rate_);
}

void Compressor::reset() {
    envelope_ = 0.0;
    threshold_.jump(threshold_.target);
    ratio_.jump(ratio_.target);
    knee_.jump(knee_.target);
    makeup_.jump(makeup_.target);
    update();
}

// dB of 20 log10 per unit of log2, and its inverse.
constexpr double db_per_octave = 20.0 / (std::numbers::log2e * std::numbers::ln10);
constexpr double octaves_per_db = 1.0 / db_per_octave;

namespace {

// The static curve as one straight-line computation per frame: every part
// is computed and one is picked, so a loop over a block runs side by side.
struct Curve {
    double knee_start;  // linear level below which nothing is reduced
    double threshold;   // dB
    double slope;       // 1 / ratio - 1: the reduction per dB over the threshold
    double knee;        // knee width, dB
    double bend;        // slope / (2 knee) in the knee, 0 for a hard knee
};

// The gain reduction in dB (0 or below) the curve asks for at each level:
// 0 at or below the knee and for NaN (which then keeps the gain as it is).
[[gnu::always_inline]] inline void reductions(const double* level, double* out, std::size_t n, const Curve& c) {
    const double knee_start = c.knee_start, threshold = c.threshold, slope = c.slope, knee = c.knee,
                 half_knee = c.knee * 0.5, bend = c.bend;
    for (std::size_t i = 0; i < n; ++i) {
        const double over = quick_log2(level[i]) * db_per_octave - threshold;
        const double hard = over * slope;
        const double d = over + half_knee;
        const double soft = d * d * bend;
        const double twice = over + over;
        const double r = twice < -knee ? 0.0 : (twice > knee ? hard : soft);
        out[i] = level[i] > knee_start ? r : 0.0;
    }
}
// The gain of each applied level in dB.
[[gnu::always_inline]] inline void db_to_gains(const double* db, double* gain, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) gain[i] = quick_exp2(db[i] * octaves_per_db);
}

#if defined(__x86_64__) && defined(__GNUC__)
[[gnu::target("avx2")]] void reductions_avx2(const double* level, double* out, std::size_t n, const Curve& c) {
    reductions(level, out, n, c);
}
[[gnu::target("avx2")]] void db_to_gains_avx2(const double* db, double* gain, std::size_t n) {
    db_to_gains(db, gain, n);
}
bool has_avx2() {
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
}
#endif

// The same operations four lanes at a time where AVX2 is there, two
// otherwise: the same bits either way (no fused multiply-add).
void reductions_any(const double* level, double* out, std::size_t n, const Curve& c) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (has_avx2()) return reductions_avx2(level, out, n, c);
#endif
    reductions(level, out, n, c);
}
void db_to_gains_any(const double* db, double* gain, std::size_t n) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (has_avx2()) return db_to_gains_avx2(db, gain, n);
#endif
    db_to_gains(db, gain, n);
}

// The gain in dB to apply, kept where quick_exp2 is defined (a reduction of
// thousands of dB is silence either way).
inline double applied_db(double env, double makeup) {
    const double db = env + makeup;
    return db < -3000.0 ? -3000.0 : db;
}

}  // namespace

inline double Compressor::follow(double target, double env) const {
    const double coef = target < env ? attack_coef_ : release_coef_;
    return flush(target + (env - target) * coef);
}

void Compressor::process(float* data, std::size_t frames) {
    const std::uint32_t ch = channels_;
    constexpr std::size_t chunk = 256;
    double level[chunk], db[chunk], gain[chunk];
    const auto curve = [this] {
        const double slope = 1.0 / ratio_.value - 1.0;
        return Curve{knee_start_, threshold_.value, slope, knee_.value,
                     knee_.value > 0.0 ? slope / (2.0 * knee_.value) : 0.0};
    };
    Curve c = curve();
    std::size_t f = 0;
    while (f < frames) {
        float* block = data + f * ch;
        std::size_t n = std::min(chunk, frames - f);
        if (threshold_.moving() || ratio_.moving() || knee_.moving() || makeup_.moving()) {
            // One frame at a time while a parameter glides.
            threshold_.step(), ratio_.step(), knee_.step(), makeup_.step();
            update();
            c = curve();
            n = 1;
        }
        for (std::size_t i = 0; i < n; ++i) level[i] = frame_peak(block + i * ch, ch);
        reductions_any(level, db, n, c);
        double env = envelope_;
        const double makeup = makeup_.value;
        for (std::size_t i = 0; i < n; ++i) {
            env = follow(db[i], env);
            level[i] = env;  // reused: the envelope of each frame
            db[i] = applied_db(env, makeup);
        }
        envelope_ = env;
        db_to_gains_any(db, gain, n);
        for (std::size_t i = 0; i < n; ++i) {
            const double g = level[i] == 0.0 ? makeup_gain_ : gain[i];
            for (std::uint32_t k = 0; k < ch; ++k) block[i * ch + k] = static_cast<float>(block[i * ch + k] * g);
        }
        f += n;
    }
}

std::uint64_t Compressor::tail_frames() const { return 0; }

// ---------------------------------------------------------------------------
// Limiter

Limiter::Limiter(double ceiling_db, double release, double lookahead, std::uint32_t sample_rate,
                 std::uint32_t channels)
    : rate_(check_rate(sample_rate)), channels_(check_channels(channels)) {
    finite(ceiling_db, "ceiling_db");
    release_ = time_in_range(release, "release");
    non_negative(lookahead, "lookahead");
    if (lookahead > 1.0) bad_value("lookahead", "at most 1 second", lookahead);
    lookahead_ = lookahead;
    release_coef_ = time_coefficient(release_, rate_);
    ceiling_.jump(std::clamp(ceiling_db, -60.0, 0.0));
    const double lookahead_frames = std::floor(lookahead * rate_ + 0.5);
    check_line(lookahead_frames + 1.0, "lookahead");
    window_ = static_cast<std::uint32_t>(lookahead_frames) + 1;
    delayed_.assign(static_cast<std::size_t>(window_) * channels_, 0.0f);
    eased_.assign(window_, 1.0);
    hold_index_.assign(window_, 0);
    hold_value_.assign(window_, 1.0);
    reset();
}

void Limiter::set_ceiling_db(double db) {
    ceiling_.to(std::clamp(finite(db, "ceiling_db"), -60.0, 0.0), glide_frames(rate_));
}
void Limiter::set_release(double seconds) {
    release_ = time_in_range(seconds, "release");
    release_coef_ = time_coefficient(release_, rate_);
}

void Limiter::reset() {
    ceiling_.jump(ceiling_.target);
    std::fill(delayed_.begin(), delayed_.end(), 0.0f);
    std::fill(eased_.begin(), eased_.end(), 1.0);
    at_ = 0;
    hold_head_ = 0;
    hold_count_ = 0;
    smooth_ = 1.0;
    sum_ = static_cast<double>(window_);
    below_ = 0;
    frame_ = 0;
}

// The largest float not above `limit`.
static float float_at_most(double limit) {
    float f = static_cast<float>(limit);
    if (static_cast<double>(f) > limit) f = std::nextafter(f, 0.0f);
    return f;
}

void Limiter::process(float* data, std::size_t frames) {
    const std::uint32_t ch = channels_;
    const std::size_t w = window_;
    double ceiling = db_to_gain(ceiling_.value);
    float ceiling_f = float_at_most(ceiling);
    for (std::size_t f = 0; f < frames; ++f) {
        if (ceiling_.moving()) {
            ceiling = db_to_gain(ceiling_.step());
            ceiling_f = float_at_most(ceiling);
        }
        float* frame = data + f * ch;
        const double peak = frame_peak(frame, ch);
        const double need = peak > ceiling ? ceiling / peak : 1.0;

        // The lowest need over the window: a queue of rising needs.
        const std::uint64_t n = frame_;
        // Needs that left the window go first, so the queue never holds
        // more than window_ entries.
        while (hold_count_ > 0 && hold_index_[hold_head_] + w <= n) {
            hold_head_ = hold_head_ + 1 == w ? 0 : hold_head_ + 1;
            --hold_count_;
        }
        while (hold_count_ > 0) {
            const std::size_t back = (hold_head_ + hold_count_ - 1) % w;
            if (hold_value_[back] < need) break;
            --hold_count_;
        }
        const std::size_t slot = (hold_head_ + hold_count_) % w;
        hold_index_[slot] = n;
        hold_value_[slot] = need;
        ++hold_count_;
        const double hold = hold_value_[hold_head_];

        // Falls at once, recovers with the release time constant, and snaps
        // to the hold once within 1e-7 of it.
        if (hold < smooth_) {
            smooth_ = hold;
        } else {
            smooth_ = hold + (smooth_ - hold) * release_coef_;
            if (hold - smooth_ < 1e-7) smooth_ = hold;
        }

        // Eases over the window: the mean of the last window_ released gains.
        const double old = eased_[at_];
        eased_[at_] = smooth_;
        below_ += (smooth_ < 1.0) - (old < 1.0);
        sum_ += smooth_ - old;
        double gain = 1.0;
        if (below_ == 0) sum_ = static_cast<double>(w);
        else gain = sum_ / static_cast<double>(w);

        // The frame written now leaves window_ - 1 frames later.
        float* slot_frame = delayed_.data() + at_ * ch;
        const std::size_t out_at = at_ + 1 == w ? 0 : at_ + 1;
        const float* out_frame = delayed_.data() + out_at * ch;
        for (std::uint32_t c = 0; c < ch; ++c) slot_frame[c] = frame[c];
        for (std::uint32_t c = 0; c < ch; ++c) {
            const float x = out_frame[c];
            const float y = gain == 1.0 ? x : static_cast<float>(x * gain);
            frame[c] = std::clamp(y, -ceiling_f, ceiling_f);
        }
        at_ = out_at;
        ++frame_;
    }
}

}  // namespace tamlor::fx
