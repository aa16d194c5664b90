#include "kit/buffer.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string_view>

#if defined(__unix__) || defined(__APPLE__)
#include <dlfcn.h>
#define TAMLOR_RUNTIME_LOOKUP 1
#endif

namespace tamlor::py::kit {
namespace {

// Request flags of the buffer calls: the format, and shape and strides
// without indirection.
constexpr int request_format = 0x0004;
constexpr int request_strides = 0x0018;
// Access modes of memoryviews over our own memory.
constexpr int memory_read = 0x100;

struct BufferCalls {
    int (*get)(PyObject*, RawBuffer*, int) = nullptr;
    void (*release)(RawBuffer*) = nullptr;
    int (*check)(PyObject*) = nullptr;
    bool found() const { return get && release && check; }
};

#ifdef TAMLOR_RUNTIME_LOOKUP
template <class Fn>
void look_up(void* handle, const char* name, Fn& fn) {
    if (!fn) fn = reinterpret_cast<Fn>(dlsym(handle, name));
}

void look_up_all(void* handle, BufferCalls& c) {
    look_up(handle, "PyObject_GetBuffer", c.get);
    look_up(handle, "PyBuffer_Release", c.release);
    look_up(handle, "PyObject_CheckBuffer", c.check);
}
#endif

BufferCalls find_calls() {
    BufferCalls c;
    const char* route = std::getenv("TAMLOR_BUFFER_ROUTE");
    if (route && std::strcmp(route, "memoryview") == 0) return c;
#ifdef TAMLOR_RUNTIME_LOOKUP
    // The interpreter's own symbols are global in the usual case; an
    // interpreter loaded with local symbols is found through the library
    // that holds a call we link against.
    look_up_all(RTLD_DEFAULT, c);
    if (!c.found()) {
        Dl_info info;
        if (dladdr(reinterpret_cast<void*>(&PyFloat_FromDouble), &info) && info.dli_fname) {
            if (void* handle = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD)) {
                look_up_all(handle, c);
                dlclose(handle);
            }
        }
    }
    if (!c.found()) c = BufferCalls{};
#endif
    return c;
}

const BufferCalls& calls() {
    static const BufferCalls c = find_calls();  // once per process
    return c;
}

// The scalar of a struct-module format string of one item, in native byte order.
Scalar scalar_of(std::string_view f) {
    constexpr char native = std::endian::native == std::endian::little ? '<' : '>';
    if (!f.empty() && (f[0] == '@' || f[0] == '=' || f[0] == native || (native == '>' && f[0] == '!'))) {
        f.remove_prefix(1);
    }
    if (f == "f") return Scalar::f32;
    if (f == "d") return Scalar::f64;
    return Scalar::other;
}

// A refusal to export memory, as opposed to a failure to report.
bool is_refusal() {
    return PyErr_ExceptionMatches(PyExc_TypeError) || PyErr_ExceptionMatches(PyExc_BufferError) ||
           PyErr_ExceptionMatches(PyExc_ValueError);
}

// n contiguous elements of `s` at p as 32-bit floats. Loads go through
// memcpy: the memory need not be aligned.
void convert_contiguous(const char* p, Scalar s, std::size_t n, float* dst) {
    if (s == Scalar::f32) {
        if (n) std::memcpy(dst, p, n * sizeof(float));
        return;
    }
    for (std::size_t i = 0; i < n; ++i) {
        double v;
        std::memcpy(&v, p + i * sizeof(double), sizeof v);
        dst[i] = static_cast<float>(v);
    }
}

float load_float(const char* p, Scalar s) {
    if (s == Scalar::f32) {
        float v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    double v;
    std::memcpy(&v, p, sizeof v);
    return static_cast<float>(v);
}

Py_ssize_t as_ssize(PyObject* o) {
    const Py_ssize_t v = PyLong_AsSsize_t(o);
    if (v == -1 && PyErr_Occurred()) throw_error_set();
    return v;
}

Ref attribute(PyObject* o, const char* name) { return Ref(check(PyObject_GetAttrString(o, name))); }

bool overlaps(const void* a0, const void* a1, const void* b0, const void* b1) {
    const std::less<const void*> lt;
    return lt(a0, b1) && lt(b0, a1);
}

}  // namespace

// ---------------------------------------------------------------------------
// BufferView

BufferView::BufferView(BufferView&& o) noexcept { *this = std::move(o); }

BufferView& BufferView::operator=(BufferView&& o) noexcept {
    if (this != &o) {
        release();
        held_ = std::exchange(o.held_, false);
        raw_ = std::exchange(o.raw_, RawBuffer{});
        view_ = std::move(o.view_);
        data_ = o.data_;
        bytes_ = o.bytes_;
        scalar_ = o.scalar_;
        format_ = std::move(o.format_);
        ndim_ = o.ndim_;
        shape_ = o.shape_;
        strides_ = o.strides_;
        items_ = o.items_;
        readonly_ = o.readonly_;
        c_contiguous_ = o.c_contiguous_;
    }
    return *this;
}

void BufferView::release() noexcept {
    if (held_ && raw_.obj) calls().release(&raw_);
    raw_ = RawBuffer{};
    view_ = Ref();
    held_ = false;
}

bool BufferView::acquire(PyObject* o) {
    release();
    return calls().found() ? acquire_direct(o) : acquire_memoryview(o);
}

bool BufferView::acquire_direct(PyObject* o) {
    const BufferCalls& c = calls();
    if (!c.check(o)) return false;
    if (c.get(o, &raw_, request_format | request_strides) != 0) {
        raw_ = RawBuffer{};
        if (!is_refusal()) throw_error_set();
        PyErr_Clear();
        return false;
    }
    held_ = true;
    data_ = static_cast<char*>(raw_.buf);
    bytes_ = raw_.len;
    readonly_ = raw_.readonly != 0;
    describe(raw_.format ? raw_.format : "B", raw_.ndim, raw_.shape, raw_.strides);
    // Without strides the memory is C-contiguous; with them, it is when each
    // dimension of more than one element steps by the size of what follows.
    c_contiguous_ = true;
    if (raw_.strides) {
        Py_ssize_t expected = raw_.itemsize;
        for (int d = raw_.ndim - 1; d >= 0; --d) {
            if (raw_.shape[d] > 1 && raw_.strides[d] != expected) c_contiguous_ = false;
            expected *= raw_.shape[d];
        }
        if (items_ == 0) c_contiguous_ = true;
    }
    // An item size the format does not imply is something else.
    if ((scalar_ == Scalar::f32 && raw_.itemsize != 4) || (scalar_ == Scalar::f64 && raw_.itemsize != 8)) {
        scalar_ = Scalar::other;
    }
    return true;
}

bool BufferView::acquire_memoryview(PyObject* o) {
    if (PyList_CheckExact(o) || PyTuple_CheckExact(o) || PyUnicode_Check(o)) return false;
    Ref view(PyMemoryView_FromObject(o));
    if (!view) {
        if (!is_refusal()) throw_error_set();
        PyErr_Clear();
        return false;
    }
    held_ = true;
    Ref format = attribute(view.get(), "format");
    const char* f = PyUnicode_AsUTF8AndSize(format.get(), nullptr);
    if (!f) throw_error_set();
    const int ndim = static_cast<int>(as_ssize(attribute(view.get(), "ndim").get()));
    Ref shape_tuple = attribute(view.get(), "shape");
    Ref strides_tuple = attribute(view.get(), "strides");
    std::vector<Py_ssize_t> shape(static_cast<std::size_t>(ndim)), strides(static_cast<std::size_t>(ndim));
    for (int d = 0; d < ndim; ++d) {
        shape[static_cast<std::size_t>(d)] = as_ssize(PyTuple_GetItem(shape_tuple.get(), d));
        strides[static_cast<std::size_t>(d)] = as_ssize(PyTuple_GetItem(strides_tuple.get(), d));
    }
    describe(f, ndim, shape.data(), strides.data());
    readonly_ = PyObject_IsTrue(attribute(view.get(), "readonly").get()) != 0;
    c_contiguous_ = PyObject_IsTrue(attribute(view.get(), "c_contiguous").get()) != 0;
    const Py_ssize_t itemsize = as_ssize(attribute(view.get(), "itemsize").get());
    if ((scalar_ == Scalar::f32 && itemsize != 4) || (scalar_ == Scalar::f64 && itemsize != 8)) {
        scalar_ = Scalar::other;
    }
    view_ = std::move(view);
    return true;
}

void BufferView::describe(const char* format, int ndim, const Py_ssize_t* shape, const Py_ssize_t* strides) {
    format_ = format;
    scalar_ = scalar_of(format_);
    ndim_ = ndim;
    items_ = 1;
    for (int d = 0; d < ndim; ++d) items_ *= shape[d];
    shape_ = {1, 1};
    strides_ = {0, 0};
    for (int d = 0; d < ndim && d < 2; ++d) {
        shape_[static_cast<std::size_t>(d)] = shape[d];
        strides_[static_cast<std::size_t>(d)] = strides ? strides[d] : 0;
    }
    if (!strides && ndim >= 1) {
        // C order: the last dimension steps by one item.
        const Py_ssize_t item = scalar_ == Scalar::f64 ? 8 : 4;
        strides_[static_cast<std::size_t>(ndim >= 2 ? 1 : 0)] = item;
        if (ndim >= 2) strides_[0] = item * shape[1];
    }
}

float* BufferView::direct_floats() const {
    if (!data_ || scalar_ != Scalar::f32 || !c_contiguous_) return nullptr;
    if (reinterpret_cast<std::uintptr_t>(data_) % alignof(float) != 0) return nullptr;
    return reinterpret_cast<float*>(data_);
}

void BufferView::read_floats(float* dst) const {
    const auto n = static_cast<std::size_t>(items_);
    if (n == 0) return;
    if (!data_) {
        // The memoryview road: one C-ordered copy of the bytes.
        Ref bytes(check(PyObject_CallMethod(view_.get(), "tobytes", nullptr)));
        const char* p = PyBytes_AsString(bytes.get());
        if (!p) throw_error_set();
        convert_contiguous(p, scalar_, n, dst);
        return;
    }
    if (c_contiguous_ || ndim_ == 0) {
        convert_contiguous(data_, scalar_, n, dst);
        return;
    }
    const Py_ssize_t rows = ndim_ == 2 ? shape_[0] : 1;
    const Py_ssize_t cols = ndim_ == 2 ? shape_[1] : shape_[0];
    const Py_ssize_t row_step = ndim_ == 2 ? strides_[0] : 0;
    const Py_ssize_t col_step = ndim_ == 2 ? strides_[1] : strides_[0];
    for (Py_ssize_t r = 0; r < rows; ++r) {
        const char* row = data_ + r * row_step;
        for (Py_ssize_t c = 0; c < cols; ++c) *dst++ = load_float(row + c * col_step, scalar_);
    }
}

void BufferView::write_floats(const float* src) const {
    const auto n = static_cast<std::size_t>(items_);
    if (n == 0) return;
    if (data_) {
        std::memcpy(data_, src, n * sizeof(float));
        return;
    }
    // The memoryview road: our floats as bytes, assigned over the target's bytes.
    Ref target(check(PyObject_CallMethod(view_.get(), "cast", "s", "B")));
    Ref source(check(PyMemoryView_FromMemory(const_cast<char*>(reinterpret_cast<const char*>(src)),
                                             static_cast<Py_ssize_t>(n * sizeof(float)), memory_read)));
    Ref all(check(PySlice_New(nullptr, nullptr, nullptr)));
    if (PyObject_SetItem(target.get(), all.get(), source.get()) != 0) throw_error_set();
}

// ---------------------------------------------------------------------------
// Arguments

void raise_not_float_out(const char* name, const std::string& what) {
    raise(PyExc_TypeError, std::string(name) + " must be a writable contiguous buffer of 32-bit floats, not " + what);
}

BufferView writable_floats(PyObject* o, const char* name) {
    BufferView v;
    if (!v.acquire(o)) raise_not_float_out(name, type_name(o));
    if (v.scalar() != Scalar::f32) raise_not_float_out(name, "'" + v.format() + "'");
    if (v.readonly()) raise_not_float_out(name, "a read-only buffer");
    if (!v.c_contiguous()) raise_not_float_out(name, "a non-contiguous buffer");
    return v;
}

BufferView writable_mono_block(PyObject* o, const char* name) {
    BufferView v = writable_floats(o, name);
    if (v.ndim() != 1) {
        raise(PyExc_ValueError,
              std::string(name) + " must be one-dimensional, not " + std::to_string(v.ndim()) + "-dimensional");
    }
    return v;
}

std::string shape_text(const BufferView& v) {
    if (v.ndim() > 2) return "a " + std::to_string(v.ndim()) + "-dimensional buffer";
    std::string s = "shape (";
    for (int d = 0; d < v.ndim(); ++d) {
        if (d > 0) s += ", ";
        s += std::to_string(v.shape(d));
    }
    return s + (v.ndim() == 1 ? ",)" : ")");
}

bool read_float_buffer(PyObject* o, std::vector<float>& out) {
    if (PyList_CheckExact(o) || PyTuple_CheckExact(o)) return false;
    BufferView v;
    if (!v.acquire(o) || v.ndim() != 1 || v.scalar() == Scalar::other) return false;
    const auto n = static_cast<std::size_t>(v.items());
    // One slot to spare: a sample store appends a guard frame, which then
    // moves nothing.
    out.reserve(n + 1);
    if (const float* p = v.direct_floats()) {
        out.assign(p, p + n);
    } else {
        out.resize(n);
        v.read_floats(out.data());
    }
    return true;
}

// ---------------------------------------------------------------------------
// FloatRun

void FloatRun::detach_from(const char* begin, const char* end) {
    const bool in_place = view_.held() || shared_view_;
    if (!in_place || span_.empty() || !begin) return;
    if (!overlaps(span_.data(), span_.data() + span_.size(), begin, end)) return;
    owned_.assign(span_.begin(), span_.end());
    span_ = owned_;
    view_ = BufferView();
    shared_view_.reset();
}

FloatRun FloatRun::of_view(BufferView&& view) {
    FloatRun run;
    const auto n = static_cast<std::size_t>(view.items());
    if (const float* p = view.direct_floats()) {
        run.span_ = std::span<const float>(p, n);
        run.view_ = std::move(view);
    } else {
        run.owned_.resize(n);
        view.read_floats(run.owned_.data());
        run.span_ = run.owned_;
    }
    return run;
}

FloatRun FloatRun::of_sequence(PyObject* o, const char* name) {
    FloatRun run;
    run.owned_ = to_f32_vector(o, name);
    run.span_ = run.owned_;
    return run;
}

FloatRun FloatRun::read(PyObject* o, const char* name) {
    if (!PyList_CheckExact(o) && !PyTuple_CheckExact(o)) {
        BufferView view;
        if (view.acquire(o) && view.ndim() == 1 && view.scalar() != Scalar::other) return of_view(std::move(view));
    }
    return of_sequence(o, name);
}

std::optional<std::vector<FloatRun>> FloatRun::rows_of(PyObject* o) {
    if (PyList_CheckExact(o) || PyTuple_CheckExact(o)) return std::nullopt;
    auto view = std::make_shared<BufferView>();
    if (!view->acquire(o) || view->ndim() != 2 || view->scalar() == Scalar::other) return std::nullopt;
    const auto rows = static_cast<std::size_t>(view->shape(0));
    const auto cols = static_cast<std::size_t>(view->shape(1));
    std::vector<FloatRun> runs(rows);
    if (const float* p = view->direct_floats()) {
        for (std::size_t r = 0; r < rows; ++r) {
            runs[r].span_ = std::span<const float>(p + r * cols, cols);
            runs[r].shared_view_ = view;
        }
        return runs;
    }
    std::vector<float> all(rows * cols);
    view->read_floats(all.data());
    for (std::size_t r = 0; r < rows; ++r) {
        runs[r].owned_.assign(all.begin() + static_cast<std::ptrdiff_t>(r * cols),
                              all.begin() + static_cast<std::ptrdiff_t>((r + 1) * cols));
        runs[r].span_ = runs[r].owned_;
    }
    return runs;
}

std::vector<FloatRun> read_channel_runs(PyObject* o, const char* name) {
    if (auto rows = FloatRun::rows_of(o)) return std::move(*rows);
    const Py_ssize_t n = sequence_length(o, name);
    std::vector<FloatRun> runs;
    runs.reserve(static_cast<std::size_t>(std::min<Py_ssize_t>(n, 64)));  // a length may be false: capped
    for_each_item(o, name, n, [&](Py_ssize_t, PyObject* item) { runs.push_back(FloatRun::read(item, name)); });
    return runs;
}

FloatRun read_samples(PyObject* o, const char* name, std::size_t channels) {
    if (!PyList_CheckExact(o) && !PyTuple_CheckExact(o)) {
        BufferView view;
        if (view.acquire(o)) {
            if (view.scalar() == Scalar::other) {
                type_error(name, "a buffer of '" + view.format() + "' items holds no samples (32- or 64-bit floats expected)");
            }
            if (view.ndim() == 2) {
                if (static_cast<std::size_t>(view.shape(1)) != channels) {
                    raise(PyExc_ValueError, std::string("argument '") + name + "': a 2-D block must have shape (frames, " +
                                                std::to_string(channels) + "), not " + shape_text(view));
                }
            }
            if (view.ndim() == 1 || view.ndim() == 2) return FloatRun::of_view(std::move(view));
        }
    }
    return FloatRun::of_sequence(o, name);
}

}  // namespace tamlor::py::kit
