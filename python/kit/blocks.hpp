// Rendered sample blocks handed back to Python as lists of floats.
#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "kit/convert.hpp"

namespace tamlor::py::kit {

// Runs render(out + done, k) over consecutive chunks of `n` frames, checking
// for signals between chunks, so a long render can be interrupted. A chunk
// holds about signal_interval units of work, at `cost` units per frame.
template <class F>
void render_in_chunks(float* out, std::size_t n, std::size_t cost, F&& render) {
    const std::size_t chunk = std::max<std::size_t>(1, signal_interval / std::max<std::size_t>(1, cost));
    for (std::size_t done = 0; done < n;) {
        const std::size_t k = std::min(chunk, n - done);
        render(out + done, k);
        done += k;
        if (done < n) check_signals();
    }
}

// A list of `n` floats rendered from a staged copy of `state` by
// `render(staged, float* buffer, k)` over consecutive chunks of one zeroed
// 32-bit buffer (`cost(staged)` units of work per frame, see
// render_in_chunks). The list is allocated first, with its final size, and
// the copy replaces `state` only once every float exists: whatever fails
// (a size that cannot be had, a signal handler that raises, the floats
// themselves) leaves `state` as it was and returns no partial list.
template <class S, class Cost, class F>
PyObject* render_float_list(S& state, std::size_t n, Cost&& cost, F&& render) {
    Ref list = new_list(n);
    std::vector<float> buffer = sample_block(n);
    S staged = state;
    render_in_chunks(buffer.data(), n, cost(staged), [&](float* out, std::size_t k) { render(staged, out, k); });
    PyObject* result = fill_float_list(std::move(list), buffer.data(), n);
    state = std::move(staged);
    return result;
}

}  // namespace tamlor::py::kit
