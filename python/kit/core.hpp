// The binding kit's core: the exception boundary, the instance layout, borrow
// guards, thread affinity and type creation. Every class of the module uses
// these the same way; nothing here knows about a particular class.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

namespace tamlor::py::kit {

// ---------------------------------------------------------------------------
// Errors

// Thrown once a Python exception has been set; the boundary returns the error
// indicator to the interpreter.
struct ErrorSet {};

[[noreturn]] void throw_error_set();
[[noreturn]] void raise(PyObject* type, const std::string& message);

// Maps the exception in flight to a Python one: ErrorSet keeps what is set,
// tamlor::ValueError / IndexError become ValueError / IndexError,
// tamlor::FileError the OSError subclass of its errno with its file name,
// std::bad_alloc and std::length_error become MemoryError, any other
// std::exception a RuntimeError and anything else a SystemError.
void translate_current_exception() noexcept;

// The one exception boundary: every entry point runs its body through one of
// these, so no C++ exception ever reaches the interpreter.
template <class F>
PyObject* boundary(F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        translate_current_exception();
        return nullptr;
    }
}

// Runs pending signal handlers (Ctrl-C, signal.alarm); when one raises,
// throws ErrorSet with its exception set. Long loops call this at a coarse
// interval so that they can be interrupted.
void check_signals();

// Work units (frames, items, grid times) between two checks for signals.
inline constexpr std::size_t signal_interval = 65536;

template <class F>
int boundary_status(F&& body) noexcept {
    try {
        body();
        return 0;
    } catch (...) {
        translate_current_exception();
        return -1;
    }
}

// Releases the interpreter lock for its lifetime, so other threads run while
// this one waits on a device or a file; the code inside touches no Python
// object. An exception leaving the scope takes the lock back first.
class Unlocked {
public:
    Unlocked() : state_(PyEval_SaveThread()) {}
    ~Unlocked() { PyEval_RestoreThread(state_); }
    Unlocked(const Unlocked&) = delete;
    Unlocked& operator=(const Unlocked&) = delete;

    // Takes the lock back for a moment to run the interpreter's signal
    // handlers (Ctrl+C); false, with the exception set, when one raised.
    bool signals_ok() {
        PyEval_RestoreThread(state_);
        const bool ok = PyErr_CheckSignals() == 0;
        state_ = PyEval_SaveThread();
        return ok;
    }

private:
    PyThreadState* state_;
};

// Owns one strong reference.
class Ref {
public:
    Ref() = default;
    explicit Ref(PyObject* p) : p_(p) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ref& operator=(Ref&& o) noexcept {
        if (this != &o) {
            Py_XDECREF(p_);
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }
    PyObject* get() const { return p_; }
    PyObject* release() { return std::exchange(p_, nullptr); }
    explicit operator bool() const { return p_ != nullptr; }

private:
    PyObject* p_ = nullptr;
};

// Throws ErrorSet when `p` is null (a failed C API call), else returns it.
inline PyObject* check(PyObject* p) {
    if (!p) throw_error_set();
    return p;
}

// The bare class name of `o`'s type ("int", "TransportClock").
std::string type_name(PyObject* o);

// ---------------------------------------------------------------------------
// Instance layout: a header, then the native value at its own alignment.

struct Header {
    PyObject_HEAD
    std::int32_t borrow;  // > 0: shared borrows; -1: one exclusive borrow
    std::uint64_t owner;  // the creating thread (see thread_identity)
    PyObject* spare;      // a result this object may hand out again (see recycled_pair)
    PyObject* spare_end;  // spare's second item (borrowed from it)
    double spare_value;   // and that item's value
};

template <class T>
inline constexpr std::size_t value_offset = (sizeof(Header) + alignof(T) - 1) / alignof(T) * alignof(T);

template <class T>
inline constexpr int basic_size = static_cast<int>(value_offset<T> + sizeof(T));

inline Header* header(PyObject* self) { return reinterpret_cast<Header*>(self); }

template <class T>
T& value_of(PyObject* self) {
    return *std::launder(reinterpret_cast<T*>(reinterpret_cast<char*>(self) + value_offset<T>));
}

// ---------------------------------------------------------------------------
// Classes: one specialisation of Class<T>::spec per bound engine type.

template <class T>
struct Class {
    static PyType_Spec spec;  // defined by the class's binding file
    static PyTypeObject* type();
};

// Creates a type from its spec; on failure raises "An error occurred while
// initializing class X" with the original error as its cause.
PyTypeObject* make_type(PyType_Spec* spec);

template <class T>
PyTypeObject* Class<T>::type() {
    static PyTypeObject* cached = nullptr;  // created once per process
    if (!cached) cached = make_type(&spec);
    return cached;
}

template <class T>
bool is_exact(PyObject* o) {
    PyTypeObject* tp = Class<T>::type();
    return tp && Py_IS_TYPE(o, tp);
}

// This thread's identity: a number drawn from a process-wide counter the
// first time a thread asks, so it is never reused within the process (the
// operating system's thread ids are, once a thread has ended).
std::uint64_t thread_identity() noexcept;

// Thread-bound classes name their type path here; the others leave it null.
template <class T>
inline constexpr const char* thread_bound = nullptr;

// What a thread-bound value still has to do when it is leaked on a foreign
// thread: close what it holds open (a device stream), so nothing outlives
// the Python object but the value's memory. Nothing by default.
template <class T>
void release_on_foreign_drop(T&) noexcept {}

void check_owner_thread(PyObject* self, const char* path);
void report_foreign_drop(PyObject* self, const char* path) noexcept;

template <class T>
void check_affinity(PyObject* self) {
    if constexpr (thread_bound<T> != nullptr) check_owner_thread(self, thread_bound<T>);
}

// ---------------------------------------------------------------------------
// Borrow guards: taken first thing by every getter, setter and method.

class SharedBorrow {
public:
    explicit SharedBorrow(PyObject* self) : h_(header(self)) {
        if (h_->borrow < 0) raise(PyExc_RuntimeError, "Already mutably borrowed");
        ++h_->borrow;
    }
    ~SharedBorrow() { --h_->borrow; }
    SharedBorrow(const SharedBorrow&) = delete;
    SharedBorrow& operator=(const SharedBorrow&) = delete;

private:
    Header* h_;
};

class ExclusiveBorrow {
public:
    explicit ExclusiveBorrow(PyObject* self) : h_(header(self)) {
        if (h_->borrow != 0) raise(PyExc_RuntimeError, "Already borrowed");
        h_->borrow = -1;
    }
    ~ExclusiveBorrow() { h_->borrow = 0; }
    ExclusiveBorrow(const ExclusiveBorrow&) = delete;
    ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;

private:
    Header* h_;
};

// ---------------------------------------------------------------------------
// Lifecycle

// Allocates an instance of `type` holding `value` (moved in).
template <class T>
PyObject* create(PyTypeObject* type, T&& value) {
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* self = check(alloc(type, 0));
    header(self)->borrow = 0;
    header(self)->owner = thread_identity();
    header(self)->spare = nullptr;
    static_assert(std::is_nothrow_move_constructible_v<std::decay_t<T>>);
    new (&value_of<std::decay_t<T>>(self)) std::decay_t<T>(std::forward<T>(value));
    return self;
}

// A new instance of T's own class: how results hand out copies.
template <class T>
PyObject* wrap(T value) {
    PyTypeObject* tp = Class<T>::type();
    if (!tp) throw_error_set();
    return create<T>(tp, std::move(value));
}

template <class T>
void dealloc(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    bool destroy = true;
    if constexpr (thread_bound<T> != nullptr) {
        if (header(self)->owner != thread_identity()) {
            // The native value belongs to its thread: leak it rather than
            // destroy it here.
            report_foreign_drop(self, thread_bound<T>);
            release_on_foreign_drop(value_of<T>(self));
            destroy = false;
        }
    }
    if (destroy) value_of<T>(self).~T();
    Py_CLEAR(header(self)->spare);
    auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(tp, Py_tp_free));
    free_fn(self);
    Py_DECREF(tp);
}

// A spec for T: the type is "builtins.<Class>", not subclassable and
// immutable, so no one can replace its __new__ (or any other attribute) with
// one that hands out instances whose native value was never constructed.
template <class T>
PyType_Spec spec(const char* qualified_name, PyType_Slot* slots,
                 unsigned int extra_flags = 0) {
    return PyType_Spec{qualified_name, basic_size<T>, 0,
                       static_cast<unsigned int>(Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE) | extra_flags, slots};
}

template <class F>
PyType_Slot slot(int id, F* fn) {
    return PyType_Slot{id, reinterpret_cast<void*>(fn)};
}
inline PyType_Slot slot(int id, const char* text) {
    return PyType_Slot{id, const_cast<char*>(text)};
}
inline PyType_Slot slot(int id, PyMethodDef* table) { return PyType_Slot{id, table}; }
inline PyType_Slot slot(int id, PyGetSetDef* table) { return PyType_Slot{id, table}; }
inline constexpr PyType_Slot end_slots{0, nullptr};

}  // namespace tamlor::py::kit
