// Argument binding for METH_FASTCALL | METH_KEYWORDS methods and for __new__.
//
// A Params object is declared once per callable from its text signature's
// parameter list; the same list yields the __text_signature__ doc, the
// parameter names used in errors and the defaults:
//
//     kit::Params seek_params{kit::as_method, "seek", {"beat"}};
//     kit::Params new_params{kit::as_constructor, "TransportClock", {"bpm=120.0"}};
//
// Args binds one call against it (positional or keyword, missing, duplicate
// and unknown arguments) and converts each argument by position, applying the
// signature's default when it was not given. Convert arguments in separate
// statements, left to right: C++ leaves the order of function arguments open.
#pragma once

#include <array>
#include <initializer_list>
#include <string>

#include "kit/convert.hpp"

namespace tamlor::py::kit {

enum class Kind { method, static_method, constructor };
inline constexpr Kind as_method = Kind::method;
inline constexpr Kind as_static = Kind::static_method;
inline constexpr Kind as_constructor = Kind::constructor;

class Params {
public:
    static constexpr int max_params = 8;

    // Each parameter is "name" or "name=default", as the signature shows it;
    // the description, if any, follows the signature in the doc string.
    Params(Kind kind, const char* function, std::initializer_list<const char*> params,
           const char* description = nullptr);

    // "seek($self, beat)\n--\n\n": the doc string that carries the text signature.
    const char* doc() const { return doc_.c_str(); }
    const char* function() const { return function_.c_str(); }
    bool is_static() const { return kind_ == Kind::static_method; }
    int count() const { return count_; }
    const char* name(int i) const { return names_[i].c_str(); }
    bool has_default(int i) const { return has_default_[i]; }
    const std::string& default_text(int i) const { return defaults_[i]; }
    double default_f64(int i) const { return default_f64_[i]; }
    unsigned long long default_u64(int i) const { return default_u64_[i]; }

    // Interned parameter names, made on first use, for pointer comparison.
    PyObject* key(int i);

private:
    Kind kind_;
    std::string function_;
    std::string doc_;
    int count_ = 0;
    std::array<std::string, max_params> names_;
    std::array<bool, max_params> has_default_{};
    std::array<std::string, max_params> defaults_;
    std::array<double, max_params> default_f64_{};
    std::array<unsigned long long, max_params> default_u64_{};
    std::array<PyObject*, max_params> keys_{};
};

class Args {
public:
    // Vectorcall form (METH_FASTCALL | METH_KEYWORDS). A call that passes
    // every parameter by position reads the caller's array in place.
    Args(Params& params, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) : params_(params) {
        if (nargs == params.count() && !kwnames) {
            given_ = args;
            return;
        }
        bind(args, nargs, kwnames);
    }
    Args(const Args&) = delete;
    Args& operator=(const Args&) = delete;

    // The argument object (borrowed), or null when it was not given.
    PyObject* operator[](int i) const { return given_[i]; }
    bool given(int i) const { return given_[i] != nullptr; }
    const char* name(int i) const { return params_.name(i); }

    double f64(int i) const { return given(i) ? to_f64(given_[i], name(i)) : params_.default_f64(i); }
    float f32(int i) const { return static_cast<float>(f64(i)); }
    std::uint8_t u8(int i) const { return given(i) ? to_u8(given_[i], name(i)) : static_cast<std::uint8_t>(params_.default_u64(i)); }
    std::uint16_t u16(int i) const { return given(i) ? to_u16(given_[i], name(i)) : static_cast<std::uint16_t>(params_.default_u64(i)); }
    std::uint32_t u32(int i) const { return given(i) ? to_u32(given_[i], name(i)) : static_cast<std::uint32_t>(params_.default_u64(i)); }
    std::uint64_t u64(int i) const { return given(i) ? to_u64(given_[i], name(i)) : params_.default_u64(i); }
    std::size_t usize(int i) const { return static_cast<std::size_t>(u64(i)); }
    bool boolean(int i) const { return given(i) ? to_bool(given_[i], name(i)) : params_.default_text(i) == "True"; }
    std::string str(int i) const;
    template <class T>
    T instance(int i) const { return to_instance<T>(given_[i], name(i)); }
    std::vector<float> f32_vector(int i) const { return to_f32_vector(given_[i], name(i)); }

    // Conversion chosen by the C++ type, for the generic method wrappers.
    template <class V>
    std::remove_cvref_t<V> get(int i) const;

protected:
    // Binds the tp_new form (argument tuple and keyword dict, either may be
    // null); NewArgs is the one user.
    Args(Params& params, PyObject* args, PyObject* kwargs);

    void bind(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
    void bind_keyword(PyObject* key, PyObject* value, Py_ssize_t nargs);
    void finish();

    Params& params_;
    PyObject* const* given_ = nullptr;  // the arguments by position: the caller's array or values_
    std::array<PyObject*, Params::max_params> values_;  // the first count() are set when used
};

// The arguments of a tp_new call. The keyword dict is the interpreter's own
// and a conversion callback can reach it and empty it, so these hold a strong
// reference to every argument until the call is done. (Method calls get
// Args: their arguments are held by the caller for the whole call.)
class NewArgs : public Args {
public:
    NewArgs(Params& params, PyObject* args, PyObject* kwargs) : Args(params, args, kwargs) {
        // Binding is done and nothing below can fail.
        for (int i = 0; i < params_.count(); ++i) Py_XINCREF(values_[static_cast<std::size_t>(i)]);
    }
    ~NewArgs() {
        for (int i = 0; i < params_.count(); ++i) Py_XDECREF(values_[static_cast<std::size_t>(i)]);
    }
};

template <class V>
std::remove_cvref_t<V> Args::get(int i) const {
    using U = std::remove_cvref_t<V>;
    if (given(i)) return from_py<U>(given_[i], name(i));
    // Not given: the signature's default.
    if constexpr (std::is_floating_point_v<U>) return static_cast<U>(params_.default_f64(i));
    else if constexpr (std::is_same_v<U, bool>) return boolean(i);
    else if constexpr (std::is_integral_v<U>) return static_cast<U>(params_.default_u64(i));
    else if constexpr (std::is_same_v<U, std::string>) return params_.default_text(i);
    else return from_py<U>(given_[i], name(i));  // no default: binding reported it missing
}

}  // namespace tamlor::py::kit
