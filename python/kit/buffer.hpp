// Audio as arrays: the memory of objects that export it (NumPy arrays,
// array.array, memoryview, bytearray, ...) read and written directly.
//
// The module is built against the 3.10 stable ABI, whose headers do not
// declare the buffer calls. Every CPython exports them all the same, and the
// layout of the structure they fill has not changed since 3.3 (from 3.11 the
// stable ABI fixes it), so they are looked up once, at run time. Where the
// lookup finds nothing, a slower road through memoryview objects (which the
// 3.10 stable ABI does have) gives the same results. Setting the environment
// variable TAMLOR_BUFFER_ROUTE=memoryview before the first use takes that
// road everywhere, so that it can be tested.
//
// A held view pins the exporter's memory: while a BufferView lives, the
// exporter refuses to resize or free it (BufferError), whatever Python code
// runs meanwhile.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "kit/convert.hpp"

namespace tamlor::py::kit {

// The element types audio arrives in.
enum class Scalar { other, f32, f64 };

// The layout of the interpreter's buffer structure.
struct RawBuffer {
    void* buf = nullptr;
    PyObject* obj = nullptr;
    Py_ssize_t len = 0;
    Py_ssize_t itemsize = 0;
    int readonly = 0;
    int ndim = 0;
    char* format = nullptr;
    Py_ssize_t* shape = nullptr;
    Py_ssize_t* strides = nullptr;
    Py_ssize_t* suboffsets = nullptr;
    void* internal = nullptr;
};

class BufferView {
public:
    BufferView() = default;
    BufferView(BufferView&& o) noexcept;
    BufferView& operator=(BufferView&& o) noexcept;
    BufferView(const BufferView&) = delete;
    BufferView& operator=(const BufferView&) = delete;
    ~BufferView() { release(); }

    // Takes a view of `o`. False, with no error set, when `o` exports no
    // memory (or refuses to export it); other failures throw ErrorSet.
    bool acquire(PyObject* o);
    bool held() const { return held_; }

    Scalar scalar() const { return scalar_; }
    // The format as the exporter gives it ("f", "<d", "B", ...).
    const std::string& format() const { return format_; }
    int ndim() const { return ndim_; }
    // Extent and byte stride of dimension i (i < 2).
    Py_ssize_t shape(int i) const { return shape_[static_cast<std::size_t>(i)]; }
    Py_ssize_t items() const { return items_; }
    bool readonly() const { return readonly_; }
    bool c_contiguous() const { return c_contiguous_; }

    // The first element, when the memory can be addressed directly, is
    // contiguous and holds aligned 32-bit floats; else null (use the
    // copying calls below).
    float* direct_floats() const;
    // Address range of the memory, for overlap tests (empty on the
    // memoryview road, where nothing is written in place).
    const char* begin() const { return data_; }
    const char* end() const { return data_ ? data_ + bytes_ : nullptr; }

    // Every element in C order as 32-bit floats into dst[0..items()): 32-bit
    // values as they are, 64-bit ones rounded. Only for f32 / f64 views of
    // at most two dimensions.
    void read_floats(float* dst) const;
    // Copies items() floats from src into the memory (a writable, C-contiguous
    // 32-bit float view).
    void write_floats(const float* src) const;

private:
    void release() noexcept;
    void describe(const char* format, int ndim, const Py_ssize_t* shape, const Py_ssize_t* strides);
    bool acquire_direct(PyObject* o);
    bool acquire_memoryview(PyObject* o);

    bool held_ = false;
    RawBuffer raw_;  // the direct road
    Ref view_;       // the memoryview road
    char* data_ = nullptr;
    Py_ssize_t bytes_ = 0;
    Scalar scalar_ = Scalar::other;
    std::string format_;
    int ndim_ = 0;
    std::array<Py_ssize_t, 2> shape_{};
    std::array<Py_ssize_t, 2> strides_{};
    Py_ssize_t items_ = 0;
    bool readonly_ = true;
    bool c_contiguous_ = false;
};

// The text of an out-argument error: "{name} must be a writable contiguous
// buffer of 32-bit floats, not {what}".
[[noreturn]] void raise_not_float_out(const char* name, const std::string& what);

// `o` as a writable, C-contiguous buffer of 32-bit floats, else TypeError
// naming `name` (nothing else is checked: the caller checks the shape).
BufferView writable_floats(PyObject* o, const char* name);

// The same, one-dimensional: a mono block (ValueError otherwise).
BufferView writable_mono_block(PyObject* o, const char* name);

// "shape (4, 2)", "shape (7,)", "a 3-dimensional buffer": a view's shape in an error.
std::string shape_text(const BufferView& v);

// Runs fill(p, n) over the n = items() floats of a writable float view:
// in place where the memory is addressable, else through one scratch block
// that is copied in afterwards.
template <class F>
void fill_floats(const BufferView& out, F&& fill) {
    const auto n = static_cast<std::size_t>(out.items());
    if (n == 0) return;
    if (float* p = out.direct_floats()) {
        fill(p, n);
        return;
    }
    std::vector<float> scratch = sample_block(n);
    fill(scratch.data(), n);
    out.write_floats(scratch.data());
}

// A one-dimensional buffer of 32- or 64-bit floats read as 32-bit floats
// into `out`. False (out untouched) for anything else, which then takes the
// sequence road.
bool read_float_buffer(PyObject* o, std::vector<float>& out);

// Audio handed in as an argument: a view straight into a held buffer of
// 32-bit floats where that is possible, else the values converted (from a
// buffer of floats, or any sequence of numbers) into memory of its own.
class FloatRun {
public:
    FloatRun() = default;
    std::span<const float> span() const { return span_; }
    // Copies the values into memory of its own when they live in [begin, end).
    void detach_from(const char* begin, const char* end);

    // The values of `o` (a sequence or buffer of numbers); conversion errors
    // name `name`.
    static FloatRun read(PyObject* o, const char* name);
    // One run per row of a 2-D buffer of 32- or 64-bit floats; nullopt when
    // `o` is not such a buffer.
    static std::optional<std::vector<FloatRun>> rows_of(PyObject* o);
    // Every item of a held view of 32- or 64-bit floats (at most two
    // dimensions), in C order: in place where the memory holds contiguous
    // 32-bit floats, else converted into memory of its own.
    static FloatRun of_view(BufferView&& view);
    // The items of any other sequence of numbers, converted.
    static FloatRun of_sequence(PyObject* o, const char* name);

private:
    BufferView view_;                               // the buffer a 1-D run reads in place
    std::shared_ptr<const BufferView> shared_view_;  // or the one shared by the rows of a 2-D buffer
    std::vector<float> owned_;
    std::span<const float> span_;
};

// Samples to play or store, read as FloatRun::read reads them, except that
// a buffer of anything but floats (bytes, an integer array) is refused with
// TypeError "argument '{name}': a buffer of '{format}' items holds no
// samples (32- or 64-bit floats expected)": raw integer data taken as
// samples would be full-scale noise. A 2-D buffer of floats is read as
// interleaved frames when its shape is (frames, `channels`); any other 2-D
// shape raises ValueError.
FloatRun read_samples(PyObject* o, const char* name, std::size_t channels);

// The per-channel blocks of a mix: a 2-D buffer of floats, one row per
// channel, or a sequence whose items each convert by FloatRun::read. Every
// item is converted, whatever its channel.
std::vector<FloatRun> read_channel_runs(PyObject* o, const char* name);

}  // namespace tamlor::py::kit
