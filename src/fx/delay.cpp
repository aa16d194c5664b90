#include "fx/delay.hpp"

#include <algorithm>
#include <cmath>

#include "fx/checks.hpp"

namespace tamlor::fx {

Delay::Delay(double time, double feedback, double mix, std::uint32_t sample_rate, std::uint32_t channels,
             double max_time, bool ping_pong)
    : rate_(check_rate(sample_rate)),
      channels_(check_channels(channels)),
      max_time_(non_negative(max_time, "max_time")),
      ping_pong_(ping_pong) {
    if (ping_pong && channels != 2) throw ValueError("ping_pong needs channels=2");
    if (max_time > 3600.0) bad_value("max_time", "at most 3600 seconds", max_time);
    max_frames_ = std::max(1.0, std::ceil(max_time * rate_));
    check_line(max_frames_, "max_time");
    non_negative(time, "time");
    if (time > max_time) bad_value("time", "at most max_time", time);
    finite(feedback, "feedback");
    finite(mix, "mix");
    time_ = time;
    delay_.jump(frames_of(time));
    feedback_.jump(std::clamp(feedback, -0.99, 0.99));
    mix_.jump(std::clamp(mix, 0.0, 1.0));
    size_ = static_cast<std::size_t>(max_frames_) + 2;
    line_.assign(size_ * channels_, 0.0f);
}

double Delay::frames_of(double seconds) const { return std::clamp(seconds * rate_, 1.0, max_frames_); }

void Delay::set_time(double seconds) {
    non_negative(seconds, "time");
    if (seconds > max_time_) bad_value("time", "at most max_time", seconds);
    time_ = seconds;
    delay_.to(frames_of(seconds), glide_frames(rate_));
}
void Delay::set_feedback(double feedback) {
    feedback_.to(std::clamp(finite(feedback, "feedback"), -0.99, 0.99), glide_frames(rate_));
}
void Delay::set_mix(double mix) { mix_.to(std::clamp(finite(mix, "mix"), 0.0, 1.0), glide_frames(rate_)); }

void Delay::reset() {
    std::fill(line_.begin(), line_.end(), 0.0f);
    write_ = 0;
    delay_.jump(delay_.target);
    feedback_.jump(feedback_.target);
    mix_.jump(mix_.target);
}

void Delay::process(float* data, std::size_t frames) {
    const std::size_t ch = channels_;
    const double size = static_cast<double>(size_);
    for (std::size_t f = 0; f < frames; ++f) {
        const double d = delay_.step();
        const double fb = feedback_.step();
        const double mix = mix_.step();
        // The read position d frames behind the write position.
        double pos = static_cast<double>(write_) - d;
        if (pos < 0.0) pos += size;
        const auto i0 = static_cast<std::size_t>(pos);
        const double frac = pos - static_cast<double>(i0);
        const std::size_t i1 = i0 + 1 == size_ ? 0 : i0 + 1;
        std::array<double, 2> wet{};
        for (std::size_t c = 0; c < ch; ++c) {
            const double a = line_[i0 * ch + c];
            wet[c] = frac == 0.0 ? a : a + (line_[i1 * ch + c] - a) * frac;
        }
        float* frame = data + f * ch;
        for (std::size_t c = 0; c < ch; ++c) {
            const double back = ping_pong_ ? wet[1 - c] : wet[c];
            const double in = frame[c];
            line_[write_ * ch + c] = flush(static_cast<float>(in + fb * back));
            frame[c] = static_cast<float>((1.0 - mix) * in + mix * wet[c]);
        }
        write_ = write_ + 1 == size_ ? 0 : write_ + 1;
    }
}

std::uint64_t Delay::tail_frames() const {
    const double d = std::ceil(delay_.target);
    const double fb = std::fabs(feedback_.target);
    if (fb == 0.0) return static_cast<std::uint64_t>(d) + 1;
    // Repeats until feedback^k falls below 1/1000.
    const double repeats = std::ceil(-3.0 / (log2_det(fb) / (std::numbers::log2e * std::numbers::ln10)));
    return static_cast<std::uint64_t>(d * (repeats + 1.0)) + 1;
}

}  // namespace tamlor::fx
