// Periodic waveforms (sine, square, sawtooth) and seeded noise, rendered block
// by block so that consecutive blocks continue one signal without a seam.
//
// Each generator hands out a Cursor: a copy of its running state that yields
// one sample per next() call. A block is rendered by drawing samples from a
// cursor and committing the cursor back afterwards, so a caller that fails
// half-way through a block (for example while storing the samples) simply
// drops the cursor and leaves the generator as it was.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <type_traits>

#include "generators/sine.hpp"

namespace tamlor::generators {

// floor(x), exactly as std::floor gives it, without a library call on the
// per-sample path: below 2^51 in magnitude, adding and subtracting 1.5 x 2^52
// rounds to the nearest integer, which is then corrected downwards. Larger
// magnitudes, infinities and NaN go to std::floor.
inline double floor_of(double x) {
    if (!(std::fabs(x) < 2251799813685248.0)) return std::floor(x);
    const double r = (x + 6755399441055744.0) - 6755399441055744.0;
    if (r == x) return x;  // already whole; keeps the sign of -0.0
    return r > x ? r - 1.0 : r;
}

// The value of one waveform at phase p (a fraction of a cycle) for amplitude a,
// in 64-bit floats.
struct SineShape {
    static double value(double p, double a) { return sin_of_angle((p + p) * std::numbers::pi) * a; }
};
struct SquareShape {
    // Exactly at p = 0.5, and for a NaN phase, the output is the low half.
    static double value(double p, double a) { return p < 0.5 ? a : -a; }
};
struct SawShape {
    // A rising ramp from -a at p = 0 towards +a.
    static double value(double p, double a) { return ((p + p) - 1.0) * a; }
};

template <class Shape>
class Oscillator {
public:
    explicit Oscillator(double frequency = 440.0, double amplitude = 1.0, std::uint32_t sample_rate = 44100)
        : frequency_(frequency), amplitude_(amplitude), sample_rate_(sample_rate) {}

    double frequency() const { return frequency_; }
    double amplitude() const { return amplitude_; }
    std::uint32_t sample_rate() const { return sample_rate_; }
    // The fraction of a cycle the next sample is taken at: 0 <= phase < 1,
    // or NaN for good once a zero sample rate has been rendered.
    double phase() const { return phase_; }

    class Cursor {
    public:
        // The sample at the current phase, then the phase moves on one step
        // and wraps with floor (which also serves negative increments).
        float next() {
            const double sample = Shape::value(phase_, amplitude_);
            phase_ = wrap(phase_ + increment_);
            return static_cast<float>(sample);
        }
        // The next n samples into out[0..n), as n calls of next() give them.
        // Kept out of line: inlined into a large caller, the phase tends to
        // be spilled to memory, which lengthens the chain from one sample
        // to the next.
        [[gnu::noinline]] void render(float* out, std::size_t n) {
            double phase = phase_;  // locals, so the loop keeps them in registers
            const double increment = increment_;
            const double amplitude = amplitude_;
            if constexpr (std::is_same_v<Shape, SineShape>) {
                // The phases of a chunk first (a short serial chain), then
                // all their sines at once, which the sine kernel runs side
                // by side. The same values as next() gives.
                constexpr std::size_t chunk = 128;
                double angles[chunk];
                for (std::size_t done = 0; done < n; done += chunk) {
                    const std::size_t k = n - done < chunk ? n - done : chunk;
                    for (std::size_t i = 0; i < k; ++i) {
                        angles[i] = (phase + phase) * std::numbers::pi;
                        phase = wrap(phase + increment);
                    }
                    scaled_sines(angles, amplitude, out + done, k);
                }
            } else {
                for (std::size_t i = 0; i < n; ++i) {
                    out[i] = static_cast<float>(Shape::value(phase, amplitude));
                    phase = wrap(phase + increment);
                }
            }
            phase_ = phase;
        }
        double phase() const { return phase_; }

    private:
        friend class Oscillator;
        Cursor(double phase, double increment, double amplitude)
            : phase_(phase), increment_(increment), amplitude_(amplitude) {}
        double phase_;
        double increment_;
        double amplitude_;
    };

    // x - floor(x). A phase below one plus an increment below one is below
    // two, so the common step needs no floor: the result is x itself, or x
    // minus one (the same bits, as floor gives exactly 0.0 or 1.0 there).
    // This keeps the chain from one sample's phase to the next short.
    static double wrap(double x) {
        if (x > 0.0 && x < 1.0) return x;
        if (x >= 1.0 && x < 2.0) return x - 1.0;
        return x - floor_of(x);
    }

    // The increment is frequency / sample rate: infinite or NaN at a zero
    // sample rate, which the first step turns into a NaN phase.
    Cursor cursor() const {
        return Cursor(phase_, frequency_ / static_cast<double>(sample_rate_), amplitude_);
    }
    void commit(const Cursor& c) { phase_ = c.phase(); }

private:
    double frequency_;
    double amplitude_;
    std::uint32_t sample_rate_;
    double phase_ = 0.0;
};

using SineOscillator = Oscillator<SineShape>;
using SquareOscillator = Oscillator<SquareShape>;
using SawOscillator = Oscillator<SawShape>;

// Uniform noise from a 64-bit linear congruential generator. The seed is the
// initial state as given (0 included). Samples are one-sided: they spread
// over -amplitude..0.
class NoiseSource {
public:
    explicit NoiseSource(double amplitude = 1.0, std::uint64_t seed = 42) : amplitude_(amplitude), state_(seed) {}

    double amplitude() const { return amplitude_; }
    std::uint64_t state() const { return state_; }

    class Cursor {
    public:
        float next() {
            state_ = state_ * 6364136223846793005ULL + 1ULL;  // wraps modulo 2^64
            const std::uint64_t r = state_ >> 33;                // 0 .. 2^31 - 1
            const double u = static_cast<double>(r) / 2147483647.0;
            return static_cast<float>((u - 1.0) * amplitude_);
        }
        // The next n samples into out[0..n), as n calls of next() give them.
        void render(float* out, std::size_t n) {
            Cursor c = *this;
            for (std::size_t i = 0; i < n; ++i) out[i] = c.next();
            *this = c;
        }
        std::uint64_t state() const { return state_; }

    private:
        friend class NoiseSource;
        Cursor(std::uint64_t state, double amplitude) : state_(state), amplitude_(amplitude) {}
        std::uint64_t state_;
        double amplitude_;
    };

    Cursor cursor() const { return Cursor(state_, amplitude_); }
    void commit(const Cursor& c) { state_ = c.state(); }

private:
    double amplitude_;
    std::uint64_t state_;
};

}  // namespace tamlor::generators
