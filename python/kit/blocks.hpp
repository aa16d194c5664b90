// Rendered sample blocks handed back to Python as lists of floats.
#pragma once

#include <cstddef>
#include <vector>

#include "kit/convert.hpp"

namespace tamlor::py::kit {

// A list of `n` floats rendered by `render(float* buffer, n)` into one zeroed
// 32-bit buffer. The list is allocated first, with its final size, so a size
// that cannot be had fails (OverflowError / MemoryError) before `render` runs
// and changes any state, and no partial list is ever returned. One buffer
// per call; nothing is allocated per sample except the float objects.
template <class F>
PyObject* render_float_list(std::size_t n, F&& render) {
    Ref list = new_list(n);
    std::vector<float> buffer(n);
    render(buffer.data(), n);
    return fill_float_list(std::move(list), buffer.data(), n);
}

}  // namespace tamlor::py::kit
