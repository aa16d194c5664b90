// copy, deepcopy and pickle for the value classes, and a clear refusal for the
// classes whose state Python cannot rebuild.
//
// A value class adds these rows to its method table:
//
//     def_reduce<step_reduce>(),      // __reduce__: constructor arguments + state
//     def_setstate<step_restore>(),   // __setstate__ (only with a state)
//     def_copy<Step>(), def_deepcopy<Step>(),
//
// where step_reduce(const Step&) gives a Reduced and step_restore(Step&,
// PyObject* state) applies a state. The native values hold no references to
// Python objects, so a shallow copy is already a deep one: both copy the
// native value directly.
//
// A class that cannot be rebuilt adds def_no_copy<T, "reason">(); copy.copy,
// copy.deepcopy and pickle then raise TypeError with that reason.
//
// Pickle finds a callable by its module and qualified name, and these classes
// live in "builtins" by design. So __reduce__ names its callable through a
// small ByName object that pickles as pkgutil.resolve_name("tamlor:<name>"),
// which every pickle protocol can store.
#pragma once

#include <string>

#include "kit/values.hpp"
#include "kit/wrap.hpp"

namespace tamlor::py::kit {

struct Reduced {
    // What to call on unpickling: the class itself (null) or a dotted name
    // inside the module, such as "MidiMessage.note_on".
    const char* callable = nullptr;
    Ref args;   // a tuple of arguments for the callable
    Ref state;  // passed to __setstate__ afterwards; null when there is none
};

// A callable object that looks up `dotted` in the module when called and
// pickles as that name. Returns a borrowed reference, kept for the life of
// the process (one per name).
PyObject* by_name(const char* dotted);
// The same inside another module of the package ("tamlor_fx").
PyObject* by_name(const char* module, const char* dotted);

// The module whose name the reducers of T's class use: "tamlor" unless the
// class's binding file names another.
template <class T>
inline constexpr const char* home_module = "tamlor";

// The tuple (callable, args[, state]) for a value of the class named `cls`.
PyObject* reduce_value(const char* cls, Reduced reduced);
PyObject* reduce_value(const char* module, const char* cls, Reduced reduced);

// The class name in a spec name ("builtins.Step" -> "Step").
const char* class_name(const PyType_Spec& spec);

// Raises TypeError "cannot copy or pickle {cls} objects: {reason}".
[[noreturn]] void refuse_copy(const char* cls, const char* reason);

// Raises TypeError "{cls}.__setstate__: {message}" for a malformed state.
[[noreturn]] void bad_state(const char* cls, const std::string& message);

// The state given to __setstate__: a tuple of a fixed number of items, each
// converted like an argument of that name. A tuple keeps its items alive
// while the caller holds it, so conversions that run Python code are safe.
class StateTuple {
public:
    // TypeError "{cls}.__setstate__: ..." unless `state` is a tuple of `n` items.
    StateTuple(const char* cls, PyObject* state, Py_ssize_t n);
    PyObject* operator[](Py_ssize_t i) const { return PyTuple_GetItem(state_, i); }
    template <class V>
    V get(Py_ssize_t i, const char* name) const {
        return from_py<V>((*this)[i], name);
    }

private:
    PyObject* state_;
};

template <auto Fn>
PyObject* reduce(PyObject* self, PyObject*) {
    using T = typename traits_of<Fn>::self;
    return read<T>(self, [](const T& v) { return reduce_value(home_module<T>, class_name(Class<T>::spec), Fn(v)); });
}

template <auto Fn>
PyObject* setstate(PyObject* self, PyObject* state) {
    using T = typename traits_of<Fn>::self;
    return write<T>(self, [&](T& v) { Fn(v, state); });
}

template <class T>
PyObject* copy(PyObject* self, PyObject*) {
    return read<T>(self, [](const T& v) { return wrap(T(v)); });
}

template <Name Reason>
struct Refusal {
    template <class T>
    static PyObject* reduce(PyObject* self, PyObject*) {
        return read<T>(self, [](const T&) -> PyObject* { refuse_copy(class_name(Class<T>::spec), Reason.text); });
    }
};

// ---------------------------------------------------------------------------
// Method table rows.

template <auto Fn>
PyMethodDef def_reduce() {
    return def("__reduce__", reduce<Fn>, "__reduce__($self)\n--\n\nThe constructor arguments and state, for pickle.");
}

template <auto Fn>
PyMethodDef def_setstate() {
    return PyMethodDef{"__setstate__", setstate<Fn>, METH_O,
                       "__setstate__($self, state, /)\n--\n\nRestore the state that __reduce__ gave, for pickle."};
}

template <class T>
PyMethodDef def_copy() {
    return def("__copy__", copy<T>, "__copy__($self)\n--\n\nA new object holding a copy of this value.");
}

template <class T>
PyMethodDef def_deepcopy() {
    return PyMethodDef{"__deepcopy__", copy<T>, METH_O,
                       "__deepcopy__($self, memo, /)\n--\n\nA new object holding a copy of this value."};
}

template <class T, Name Reason>
PyMethodDef def_no_copy() {
    return def("__reduce__", Refusal<Reason>::template reduce<T>,
               "__reduce__($self)\n--\n\nRaises TypeError: these objects cannot be copied or pickled.");
}

}  // namespace tamlor::py::kit
