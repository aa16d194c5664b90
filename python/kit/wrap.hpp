// Generic entry points: a class's binding file is its tables plus thin
// wrappers built from these.
//
//   kit::read<T>(self, fn)   runs fn(const T&) under a shared borrow
//   kit::write<T>(self, fn)  runs fn(T&) under an exclusive borrow
//   kit::get<Fn>, kit::set<Fn, "param">        property slots (Fn may be a data member)
//   kit::method<Fn, params>, kit::noargs<Fn>    method slots bound to an engine call
//   kit::repr<Fn>, kit::richcompare<T>          special methods
//
// Each runs inside the exception boundary, checks thread affinity first for
// thread-bound classes, then takes its borrow, then converts arguments, so a
// failure leaves the object untouched. Results go through to_py.
#pragma once

#include <algorithm>
#include <functional>
#include <tuple>

#include "kit/args.hpp"

namespace tamlor::py::kit {

// ---------------------------------------------------------------------------
// What a callable takes and gives.

template <class F>
struct fn_traits : fn_traits<decltype(&F::operator())> {};

template <class R, class C, class... A>
struct fn_traits<R (C::*)(A...)> {  // member function of the engine type
    using self = C;
    static constexpr bool is_const = false;
    using result = R;
    using args = std::tuple<A...>;
};
template <class R, class C, class... A>
struct fn_traits<R (C::*)(A...) const> {
    using self = C;
    static constexpr bool is_const = true;
    using result = R;
    using args = std::tuple<A...>;
};
template <class M, class C>
    requires(!std::is_function_v<M>)
struct fn_traits<M C::*> {  // data member of the engine type: read, or assigned by a setter
    using self = C;
    static constexpr bool is_const = true;
    using result = const M&;
    using args = std::tuple<M>;
};
template <class R, class S, class... A>
struct fn_traits<R (*)(S&, A...)> {  // free function taking the value first
    using self = std::remove_const_t<S>;
    static constexpr bool is_const = std::is_const_v<S>;
    using result = R;
    using args = std::tuple<A...>;
};
template <class R, class L, class S, class... A>
struct fn_traits<R (L::*)(S&, A...) const> {  // lambda taking the value first
    using self = std::remove_const_t<S>;
    static constexpr bool is_const = std::is_const_v<S>;
    using result = R;
    using args = std::tuple<A...>;
};

template <auto Fn>
using traits_of = fn_traits<decltype(Fn)>;

// Calls fn and converts its result; void gives None.
template <class F, class... A>
PyObject* result_of(F&& fn, A&&... args) {
    using R = std::invoke_result_t<F, A...>;
    if constexpr (std::is_void_v<R>) {
        std::invoke(std::forward<F>(fn), std::forward<A>(args)...);
        return none();
    } else {
        return to_py(std::invoke(std::forward<F>(fn), std::forward<A>(args)...));
    }
}

// ---------------------------------------------------------------------------
// Borrowing entry points.

template <class T, class F>
PyObject* read(PyObject* self, F&& fn) noexcept {
    return boundary([&]() -> PyObject* {
        check_affinity<T>(self);
        SharedBorrow guard(self);
        return result_of(fn, std::as_const(value_of<T>(self)));
    });
}

template <class T, class F>
PyObject* write(PyObject* self, F&& fn) noexcept {
    return boundary([&]() -> PyObject* {
        check_affinity<T>(self);
        ExclusiveBorrow guard(self);
        return result_of(fn, value_of<T>(self));
    });
}

template <class T, bool Shared, class F>
PyObject* borrow(PyObject* self, F&& fn) noexcept {
    if constexpr (Shared) return read<T>(self, std::forward<F>(fn));
    else return write<T>(self, std::forward<F>(fn));
}

// ---------------------------------------------------------------------------
// Properties.

// A string usable as a template argument: the parameter name of a setter.
template <std::size_t N>
struct Name {
    char text[N];
    constexpr Name(const char (&s)[N]) { std::copy_n(s, N, text); }
};

template <auto Fn>
PyObject* get(PyObject* self, void*) {
    using Tr = traits_of<Fn>;
    return read<typename Tr::self>(self, [](const typename Tr::self& v) { return std::invoke(Fn, v); });
}

[[noreturn]] void raise_no_deleter();

// Converts the assigned value under the name `Param` and passes it to Fn.
template <auto Fn, Name Param>
int set(PyObject* self, PyObject* value, void*) {
    using Tr = traits_of<Fn>;
    using T = typename Tr::self;
    using V = std::remove_cvref_t<std::tuple_element_t<0, typename Tr::args>>;
    return boundary_status([&] {
        if (!value) raise_no_deleter();
        check_affinity<T>(self);
        ExclusiveBorrow guard(self);
        V converted = from_py<V>(value, Param.text);
        if constexpr (std::is_member_object_pointer_v<decltype(Fn)>) value_of<T>(self).*Fn = std::move(converted);
        else std::invoke(Fn, value_of<T>(self), std::move(converted));
    });
}

// ---------------------------------------------------------------------------
// Methods bound straight to an engine call: the borrow kind follows the
// callable's constness, arguments convert by their C++ types in order.

template <auto Fn, Params& P>
PyObject* method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    using Tr = traits_of<Fn>;
    using T = typename Tr::self;
    return borrow<T, Tr::is_const>(self, [&](auto& value) {
        Args a(P, args, nargs, kwnames);
        return [&]<std::size_t... I>(std::index_sequence<I...>) {
            // Braced initialisation converts left to right.
            std::tuple<std::remove_cvref_t<std::tuple_element_t<I, typename Tr::args>>...> converted{
                a.template get<std::tuple_element_t<I, typename Tr::args>>(static_cast<int>(I))...};
            return std::apply([&](auto&... xs) { return result_of(Fn, value, xs...); }, converted);
        }(std::make_index_sequence<std::tuple_size_v<typename Tr::args>>{});
    });
}

template <auto Fn>
PyObject* noargs(PyObject* self, PyObject*) {
    using Tr = traits_of<Fn>;
    return borrow<typename Tr::self, Tr::is_const>(self, [](auto& value) { return result_of(Fn, value); });
}

// ---------------------------------------------------------------------------
// Special methods.

// __repr__ / __str__ from a function giving the text.
template <auto Fn>
PyObject* repr(PyObject* self) {
    using Tr = traits_of<Fn>;
    return read<typename Tr::self>(self, [](const typename Tr::self& v) { return std::invoke(Fn, v); });
}

// __len__ from a function giving the count.
template <auto Fn>
Py_ssize_t length(PyObject* self) {
    using Tr = traits_of<Fn>;
    Py_ssize_t n = -1;
    PyObject* r = read<typename Tr::self>(self, [&](const typename Tr::self& v) {
        n = static_cast<Py_ssize_t>(std::invoke(Fn, v));
        return none();
    });
    if (!r) return -1;
    Py_DECREF(r);
    return n;
}

// == and != by T's operator== for two instances of exactly T's class;
// NotImplemented for anything else and for ordering.
template <class T>
PyObject* richcompare(PyObject* a, PyObject* b, int op) {
    return boundary([&]() -> PyObject* {
        if ((op != Py_EQ && op != Py_NE) || !is_exact<T>(a) || !is_exact<T>(b)) {
            Py_RETURN_NOTIMPLEMENTED;
        }
        SharedBorrow ga(a);
        SharedBorrow gb(b);
        const bool equal = value_of<T>(a) == value_of<T>(b);
        return to_py(op == Py_EQ ? equal : !equal);
    });
}

// ---------------------------------------------------------------------------
// Method table rows.

using FastFn = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
using NoArgsFn = PyObject* (*)(PyObject*, PyObject*);

inline PyMethodDef def(const char* name, FastFn fn, const Params& params) {
    const int flags = METH_FASTCALL | METH_KEYWORDS | (params.is_static() ? METH_STATIC : 0);
    return PyMethodDef{name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn)), flags,
                       params.doc()};
}
// A method with no arguments; `doc` is its text signature doc, e.g.
// "play($self)\n--\n\n".
inline PyMethodDef def(const char* name, NoArgsFn fn, const char* doc) {
    return PyMethodDef{name, fn, METH_NOARGS, doc};
}
// A static method with no arguments ("clock()\n--\n\n").
inline PyMethodDef def_static(const char* name, NoArgsFn fn, const char* doc) {
    return PyMethodDef{name, fn, METH_NOARGS | METH_STATIC, doc};
}
inline constexpr PyMethodDef end_methods{nullptr, nullptr, 0, nullptr};

inline PyGetSetDef property(const char* name, ::getter get_fn, ::setter set_fn = nullptr) {
    return PyGetSetDef{name, get_fn, set_fn, nullptr, nullptr};
}
inline constexpr PyGetSetDef end_properties{nullptr, nullptr, nullptr, nullptr, nullptr};

}  // namespace tamlor::py::kit
