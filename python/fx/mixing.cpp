// Private helpers of the song layer's effect routing: summing and scaling
// stereo blocks of 32-bit floats in place, so that no sample is touched by a
// Python loop. Each sample is computed in 64-bit floats and rounded once.
#include <string>

#include "fx/registry.hpp"
#include "kit/buffer.hpp"
#include "kit/kit.hpp"

namespace tamlor::py {
namespace {

using namespace kit;

Params add_params{as_method, "_add_scaled", {"dst", "src", "gain"}};
Params scale_params{as_method, "_scale", {"buffer", "gain"}};

// A writable buffer of 32-bit floats addressed directly (the song layer's
// own arrays always are).
float* direct(const BufferView& view, const char* name) {
    float* p = view.direct_floats();
    if (!p && view.items() > 0) raise(PyExc_TypeError, std::string(name) + " must be addressable in place");
    return p;
}

PyObject* add_scaled(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary([&] {
        Args a(add_params, args, nargs, kwnames);
        const BufferView dst = writable_floats(a[0], "dst");
        const BufferView src = writable_floats(a[1], "src");
        const double gain = a.f64(2);
        if (dst.items() != src.items()) raise(PyExc_ValueError, "dst and src must hold as many samples");
        float* d = direct(dst, "dst");
        const float* s = direct(src, "src");
        const auto n = static_cast<std::size_t>(dst.items());
        for (std::size_t i = 0; i < n; ++i) d[i] = static_cast<float>(d[i] + s[i] * gain);
        return none();
    });
}

PyObject* scale(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary([&] {
        Args a(scale_params, args, nargs, kwnames);
        const BufferView buf = writable_floats(a[0], "buffer");
        const double gain = a.f64(1);
        float* p = direct(buf, "buffer");
        const auto n = static_cast<std::size_t>(buf.items());
        for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<float>(p[i] * gain);
        return none();
    });
}

PyMethodDef module_function(const char* name, FastFn fn, const char* doc) {
    return PyMethodDef{name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn)),
                       METH_FASTCALL | METH_KEYWORDS, doc};
}

PyMethodDef functions[] = {
    module_function("_add_scaled", add_scaled,
                    "_add_scaled($module, dst, src, gain)\n--\n\n"
                    "dst[i] += src[i] * gain, for two buffers of 32-bit floats of the same length."),
    module_function("_scale", scale, "_scale($module, buffer, gain)\n--\n\nbuffer[i] *= gain, for a buffer of 32-bit floats."),
    end_methods,
};

}  // namespace

PyMethodDef* fx_types::functions() { return tamlor::py::functions; }

}  // namespace tamlor::py
