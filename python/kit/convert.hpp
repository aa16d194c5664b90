// Argument conversion (Python -> native, with the module's exact error texts)
// and result conversion (native -> Python).
//
// Conversion failures throw kit::ErrorSet with the Python error set. A
// TypeError is reworded to name the argument ("argument 'bpm': must be real
// number, not str"); range errors keep their own text.
#pragma once

#include <cstdint>
#include <optional>
#include <type_traits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kit/core.hpp"

namespace tamlor::py::kit {

// Raises the error in flight again, prefixing a TypeError with the argument name.
[[noreturn]] void fail_argument(const char* name);
// Raises TypeError "argument '{name}': {message}".
[[noreturn]] void type_error(const char* name, const std::string& message);

double to_f64(PyObject* o, const char* name);
inline float to_f32(PyObject* o, const char* name) { return static_cast<float>(to_f64(o, name)); }

// Narrow unsigned integers: anything outside the width, negatives included,
// raises OverflowError "out of range integral type conversion attempted".
std::uint8_t to_u8(PyObject* o, const char* name);
std::uint16_t to_u16(PyObject* o, const char* name);
std::uint32_t to_u32(PyObject* o, const char* name);
// 64-bit unsigned integers keep the interpreter's own overflow messages.
std::uint64_t to_u64(PyObject* o, const char* name);
inline std::size_t to_usize(PyObject* o, const char* name) {
    static_assert(sizeof(std::size_t) == sizeof(std::uint64_t));
    return static_cast<std::size_t>(to_u64(o, name));
}
// bool, or numpy's bool scalar through its type's __bool__.
bool to_bool(PyObject* o, const char* name);
// A str, as UTF-8.
std::string to_str(PyObject* o, const char* name);
// A file system path (str, bytes or os.PathLike) in the file system's
// encoding; a path holding a NUL character is a ValueError.
std::string to_path(PyObject* o, const char* name);

// A copy of the native value of an instance of exactly T's class.
template <class T>
T to_instance(PyObject* o, const char* name) {
    if (!is_exact<T>(o)) {
        if (PyErr_Occurred()) throw_error_set();
        const char* full = Class<T>::spec.name;
        const char* dot = std::char_traits<char>::find(full, std::char_traits<char>::length(full), '.');
        type_error(name, std::string("must be ") + (dot ? dot + 1 : full) + ", not " + type_name(o));
    }
    SharedBorrow guard(o);
    return value_of<T>(o);
}

// Calls `fn(i, item)` for each element of a sequence argument (a str is
// refused although it is a sequence). Lists and tuples are read in place;
// an element is held by a strong reference while `fn` runs, so a callback
// that mutates the sequence cannot free it underneath. A list that shrinks
// while it is read fails with RuntimeError. Long sequences can be
// interrupted by a signal.
Py_ssize_t sequence_length(PyObject* seq, const char* name);
template <class F>
void for_each_item(PyObject* seq, const char* name, Py_ssize_t n, F&& fn) {
    const bool is_list = PyList_CheckExact(seq);
    const bool is_tuple = PyTuple_CheckExact(seq);
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item;
        if (is_list) {
            if (PyList_Size(seq) <= i) raise(PyExc_RuntimeError, std::string("argument '") + name + "': sequence changed size during conversion");
            item = PyList_GetItem(seq, i);
            Py_INCREF(item);
        } else if (is_tuple) {
            item = PyTuple_GetItem(seq, i);
            Py_INCREF(item);
        } else {
            item = PySequence_GetItem(seq, i);
            if (!item) fail_argument(name);
        }
        Ref hold(item);
        fn(i, item);
        if ((i + 1) % static_cast<Py_ssize_t>(signal_interval) == 0) check_signals();
    }
}

// Reads the first `n` items of a sequence of numbers into out[0..n) as
// 32-bit floats.
void read_floats(PyObject* seq, const char* name, Py_ssize_t n, float* out);
// A sequence of numbers as 32-bit floats.
std::vector<float> to_f32_vector(PyObject* seq, const char* name);

// The conversion for a C++ type, as parameters and setters use it. An
// optional accepts None as "absent".
template <class V>
V from_py(PyObject* o, const char* name);

template <class V>
struct is_optional : std::false_type {};
template <class V>
struct is_optional<std::optional<V>> : std::true_type {};

template <class V>
V from_py(PyObject* o, const char* name) {
    if constexpr (std::is_same_v<V, double>) return to_f64(o, name);
    else if constexpr (std::is_same_v<V, float>) return to_f32(o, name);
    else if constexpr (std::is_same_v<V, bool>) return to_bool(o, name);
    else if constexpr (std::is_same_v<V, std::uint8_t>) return to_u8(o, name);
    else if constexpr (std::is_same_v<V, std::uint16_t>) return to_u16(o, name);
    else if constexpr (std::is_same_v<V, std::uint32_t>) return to_u32(o, name);
    else if constexpr (std::is_same_v<V, std::uint64_t>) return to_u64(o, name);
    else if constexpr (std::is_same_v<V, std::size_t>) return to_usize(o, name);
    else if constexpr (std::is_same_v<V, std::string>) return to_str(o, name);
    else if constexpr (is_optional<V>::value) {
        if (o == Py_None) return std::nullopt;
        return from_py<typename V::value_type>(o, name);
    } else return to_instance<V>(o, name);
}

// ---------------------------------------------------------------------------
// Results. Each returns a new reference, or null with the error set.

inline PyObject* to_py(PyObject* o) { return o; }
inline PyObject* to_py(double v) { return PyFloat_FromDouble(v); }
inline PyObject* to_py(float v) { return PyFloat_FromDouble(static_cast<double>(v)); }
inline PyObject* to_py(bool v) { return PyBool_FromLong(v); }
inline PyObject* to_py(std::uint8_t v) { return PyLong_FromUnsignedLong(v); }
inline PyObject* to_py(std::uint16_t v) { return PyLong_FromUnsignedLong(v); }
inline PyObject* to_py(std::uint32_t v) { return PyLong_FromUnsignedLong(v); }
inline PyObject* to_py(unsigned long v) { return PyLong_FromUnsignedLong(v); }
inline PyObject* to_py(unsigned long long v) { return PyLong_FromUnsignedLongLong(v); }
inline PyObject* to_py(int v) { return PyLong_FromLong(v); }
inline PyObject* to_py(long v) { return PyLong_FromLong(v); }
inline PyObject* to_py(long long v) { return PyLong_FromLongLong(v); }
inline PyObject* to_py(std::string_view s) {
    return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}
inline PyObject* to_py(const std::string& s) { return to_py(std::string_view(s)); }
inline PyObject* to_py(const char* s) { return PyUnicode_FromString(s); }
inline PyObject* none() { Py_RETURN_NONE; }

template <class A, class B>
PyObject* to_py(const std::pair<A, B>& p);
template <class V>
PyObject* to_py(const std::optional<V>& v);
template <class V>
PyObject* to_py(const std::vector<V>& v);

template <class A, class B>
PyObject* to_py(const std::pair<A, B>& p) {
    Ref a(check(to_py(p.first)));
    Ref b(check(to_py(p.second)));
    return PyTuple_Pack(2, a.get(), b.get());
}

template <class V>
PyObject* to_py(const std::optional<V>& v) {
    if (!v) return none();
    return to_py(*v);
}

// Builds a list of exactly `n` items, each from make(i); the list is created
// with its final size (no appends). A long one can be interrupted by a signal.
//
// new_list(n) makes the empty list alone, for callers that must know the
// allocation succeeded before they change any state.
Ref new_list(std::size_t n);

// n zeroed samples of scratch memory; MemoryError "a block of N samples does
// not fit in memory" when they cannot be had.
std::vector<float> sample_block(std::size_t n);

template <class F>
PyObject* build_list(std::size_t n, F&& make) {
    Ref list = new_list(n);
    for (std::size_t i = 0; i < n; ++i) {
        PyObject* item = check(make(i));
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);
        if ((i + 1) % signal_interval == 0) check_signals();
    }
    return list.release();
}

template <class V>
PyObject* to_py(const std::vector<V>& v) {
    return build_list(v.size(), [&](std::size_t i) { return to_py(v[i]); });
}

// A list of floats from 32-bit samples.
PyObject* float_list(const float* data, std::size_t n);
// Fills the n items of `list` (from new_list(n)) with floats from 32-bit samples.
PyObject* fill_float_list(Ref list, const float* data, std::size_t n);

}  // namespace tamlor::py::kit
