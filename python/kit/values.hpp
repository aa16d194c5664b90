// Small result helpers: tuples built with their final size, and strings made
// once per process (for texts a hot path hands out again and again).
#pragma once

#include "kit/convert.hpp"

namespace tamlor::py::kit {

// A new reference to a tuple item: objects are borrowed and gain a
// reference, native values are converted.
inline PyObject* tuple_item(PyObject* o) {
    Py_INCREF(o);
    return o;
}
template <class V>
PyObject* tuple_item(const V& v) {
    return to_py(v);
}

// A tuple of the values, left to right.
template <class... V>
PyObject* tuple(const V&... values) {
    Ref t(check(PyTuple_New(static_cast<Py_ssize_t>(sizeof...(V)))));
    Py_ssize_t i = 0;
    (PyTuple_SetItem(t.get(), i++, check(tuple_item(values))), ...);  // steals each item
    return t.release();
}

// The tuple (a, b) of two floats for a method of `self` that is called once
// per audio block. The tuple handed out last time is filled anew when nobody
// else holds it any more, as the interpreter's own iterators do with their
// result tuples, and a float equal (bit for bit) to the last second item is
// reused for the first: a block's start is the previous block's end.
PyObject* recycled_pair(PyObject* self, double a, double b);

// An interned str created on first use and kept for the life of the process.
class Interned {
public:
    explicit constexpr Interned(const char* text) : text_(text) {}
    // The string, borrowed: it lives until the process ends.
    PyObject* get() {
        if (!object_) object_ = check(PyUnicode_InternFromString(text_));
        return object_;
    }

private:
    const char* text_;
    PyObject* object_ = nullptr;
};

}  // namespace tamlor::py::kit
