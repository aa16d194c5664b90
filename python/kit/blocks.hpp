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
    if (n > static_cast<std::size_t>(PY_SSIZE_T_MAX)) raise(PyExc_OverflowError, "list too long");
    Ref list(check(PyList_New(static_cast<Py_ssize_t>(n))));
    std::vector<float> buffer(n);
    render(buffer.data(), n);
    for (std::size_t i = 0; i < n; ++i) {
        PyObject* item = check(PyFloat_FromDouble(static_cast<double>(buffer[i])));
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

}  // namespace tamlor::py::kit
