#include "generators/sine.hpp"

namespace tamlor::generators {
namespace {

[[gnu::always_inline]] inline void sines_loop(const double* x, double a, float* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<float>(sin_kernel(x[i]) * a);
}

bool all_in_range(const double* x, std::size_t n) {
    bool in_range = true;
    for (std::size_t i = 0; i < n; ++i) in_range &= (x[i] >= 0.0) & (x[i] <= 7.0);
    return in_range;
}

#if defined(__x86_64__) && defined(__GNUC__)
[[gnu::target("avx2")]] void sines_avx2(const double* x, double a, float* out, std::size_t n) {
    sines_loop(x, a, out, n);
}
#endif

}  // namespace

bool wide_sines_available() {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
#else
    return false;
#endif
}

void scaled_sines_portable(const double* x, double a, float* out, std::size_t n) { sines_loop(x, a, out, n); }

void scaled_sines_wide(const double* x, double a, float* out, std::size_t n) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (wide_sines_available()) {
        sines_avx2(x, a, out, n);
        return;
    }
#endif
    sines_loop(x, a, out, n);
}

void scaled_sines(const double* x, double a, float* out, std::size_t n) {
    if (!all_in_range(x, n)) {
        for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<float>(sin_of_angle(x[i]) * a);
        return;
    }
    scaled_sines_wide(x, a, out, n);
}

}  // namespace tamlor::generators
