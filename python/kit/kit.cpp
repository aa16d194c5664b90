#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "common/errors.hpp"
#include "kit/buffer.hpp"
#include "kit/values.hpp"
#include "kit/wrap.hpp"

namespace tamlor::py::kit {

// ---------------------------------------------------------------------------
// Errors

void throw_error_set() { throw ErrorSet{}; }

void check_signals() {
    if (PyErr_CheckSignals() < 0) throw ErrorSet{};
}

void raise(PyObject* type, const std::string& message) {
    PyErr_SetString(type, message.c_str());
    throw ErrorSet{};
}

void translate_current_exception() noexcept {
    try {
        throw;
    } catch (const ErrorSet&) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error return without exception set");
    } catch (const tamlor::ValueError& e) {
        PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const tamlor::IndexError& e) {
        PyErr_SetString(PyExc_IndexError, e.what());
    } catch (const tamlor::Interrupted&) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "interrupted without an exception set");
    } catch (const tamlor::MemoryError& e) {
        PyErr_SetString(PyExc_MemoryError, e.what());
    } catch (const tamlor::FileError& e) {
        errno = e.code;
        PyErr_SetFromErrnoWithFilename(PyExc_OSError, e.path.c_str());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::length_error&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "unexpected native exception");
    }
}

std::string type_name(PyObject* o) {
    Ref name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(o)), "__name__"));
    if (name) {
        Py_ssize_t n = 0;
        const char* s = PyUnicode_AsUTF8AndSize(name.get(), &n);
        if (s) return std::string(s, static_cast<std::size_t>(n));
    }
    PyErr_Clear();
    return "object";
}

void raise_no_deleter() { raise(PyExc_AttributeError, "property has no deleter"); }

// ---------------------------------------------------------------------------
// Types and threads

PyTypeObject* make_type(PyType_Spec* spec) {
    PyObject* type = PyType_FromSpec(spec);
    if (type) return reinterpret_cast<PyTypeObject*>(type);
    PyObject *etype, *evalue, *etb;
    PyErr_Fetch(&etype, &evalue, &etb);
    PyErr_NormalizeException(&etype, &evalue, &etb);
    const char* dot = std::strrchr(spec->name, '.');
    PyErr_Format(PyExc_RuntimeError, "An error occurred while initializing class %s",
                 dot ? dot + 1 : spec->name);
    if (evalue) {
        PyObject *ntype, *nvalue, *ntb;
        PyErr_Fetch(&ntype, &nvalue, &ntb);
        PyErr_NormalizeException(&ntype, &nvalue, &ntb);
        PyException_SetCause(nvalue, evalue);  // steals evalue
        PyErr_Restore(ntype, nvalue, ntb);
    }
    Py_XDECREF(etype);
    Py_XDECREF(etb);
    return nullptr;
}

std::uint64_t thread_identity() noexcept {
    static std::atomic<std::uint64_t> next{1};
    thread_local const std::uint64_t id = next.fetch_add(1, std::memory_order_relaxed);
    return id;
}

void check_owner_thread(PyObject* self, const char* path) {
    if (header(self)->owner != thread_identity()) {
        raise(PyExc_RuntimeError, std::string(path) + " is unsendable, but sent to another thread");
    }
}

void report_foreign_drop(PyObject* self, const char* path) noexcept {
    PyObject *t, *v, *tb;
    PyErr_Fetch(&t, &v, &tb);
    PyErr_Format(PyExc_RuntimeError, "%s is unsendable, but is being dropped on another thread", path);
    // The dying object cannot be handed to the hook; its type stands for it.
    PyErr_WriteUnraisable(reinterpret_cast<PyObject*>(Py_TYPE(self)));
    PyErr_Restore(t, v, tb);
}

// ---------------------------------------------------------------------------
// Argument conversion

void fail_argument(const char* name) {
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
        PyObject *t, *v, *tb;
        PyErr_Fetch(&t, &v, &tb);
        Ref text(v ? PyObject_Str(v) : nullptr);
        Py_XDECREF(t);
        Py_XDECREF(v);
        Py_XDECREF(tb);
        const char* msg = text ? PyUnicode_AsUTF8AndSize(text.get(), nullptr) : nullptr;
        if (!msg) PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "argument '%s': %s", name, msg ? msg : "invalid value");
    }
    throw ErrorSet{};
}

void type_error(const char* name, const std::string& message) {
    raise(PyExc_TypeError, std::string("argument '") + name + "': " + message);
}

double to_f64(PyObject* o, const char* name) {
    const double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) fail_argument(name);
    return v;
}

namespace {

// Any int (or __index__ object) in 0..max, else the narrow-width OverflowError.
// PyLong_AsLongLongAndOverflow applies __index__ itself and raises TypeError
// for anything else, so the common case makes one call.
unsigned long long to_narrow(PyObject* o, const char* name, unsigned long long max) {
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
    if (v == -1 && PyErr_Occurred()) fail_argument(name);
    if (overflow != 0 || v < 0 || static_cast<unsigned long long>(v) > max) {
        raise(PyExc_OverflowError, "out of range integral type conversion attempted");
    }
    return static_cast<unsigned long long>(v);
}

}  // namespace

std::uint8_t to_u8(PyObject* o, const char* name) {
    return static_cast<std::uint8_t>(to_narrow(o, name, UINT8_MAX));
}
std::uint16_t to_u16(PyObject* o, const char* name) {
    return static_cast<std::uint16_t>(to_narrow(o, name, UINT16_MAX));
}
std::uint32_t to_u32(PyObject* o, const char* name) {
    return static_cast<std::uint32_t>(to_narrow(o, name, UINT32_MAX));
}

std::uint64_t to_u64(PyObject* o, const char* name) {
    // __index__ runs once, here; everything after works on the int it gave.
    Ref index;
    if (!PyLong_CheckExact(o)) {
        index = Ref(PyNumber_Index(o));
        if (!index) fail_argument(name);
        o = index.get();
    }
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
    if (v == -1 && PyErr_Occurred()) fail_argument(name);
    if (overflow == 0 && v >= 0) return static_cast<std::uint64_t>(v);
    // Negative or beyond 63 bits: the unsigned conversion decides, with the
    // interpreter's own messages.
    const unsigned long long u = PyLong_AsUnsignedLongLong(o);
    if (u == static_cast<unsigned long long>(-1) && PyErr_Occurred()) fail_argument(name);
    return u;
}

bool to_bool(PyObject* o, const char* name) {
    if (o == Py_True) return true;
    if (o == Py_False) return false;
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(o));
    const std::string tname = type_name(o);
    Ref module(PyObject_GetAttrString(type, "__module__"));
    if (!module) PyErr_Clear();
    const char* mod = (module && PyUnicode_Check(module.get())) ? PyUnicode_AsUTF8AndSize(module.get(), nullptr) : nullptr;
    if (!mod) PyErr_Clear();
    const bool numpy_bool = mod && std::strcmp(mod, "numpy") == 0 && (tname == "bool_" || tname == "bool");
    Ref method(PyObject_GetAttrString(type, "__bool__"));
    if (!method) {
        PyErr_Clear();
        type_error(name, "object of type '" + tname + "' does not define a '__bool__' conversion");
    }
    if (!numpy_bool) type_error(name, "must be bool, not " + tname);
    Ref result(PyObject_CallFunctionObjArgs(method.get(), o, nullptr));
    if (!result) fail_argument(name);
    if (result.get() == Py_True) return true;
    if (result.get() == Py_False) return false;
    type_error(name, "__bool__ should return bool, returned " + type_name(result.get()));
}

std::string to_str(PyObject* o, const char* name) {
    if (!PyUnicode_Check(o)) type_error(name, "must be str, not " + type_name(o));
    Py_ssize_t n = 0;
    const char* s = PyUnicode_AsUTF8AndSize(o, &n);
    if (!s) fail_argument(name);
    return std::string(s, static_cast<std::size_t>(n));
}

std::string to_path(PyObject* o, const char* name) {
    PyObject* converted = nullptr;
    if (!PyUnicode_FSConverter(o, &converted)) fail_argument(name);
    Ref bytes(converted);
    char* data = nullptr;
    Py_ssize_t n = 0;
    if (PyBytes_AsStringAndSize(bytes.get(), &data, &n) < 0) fail_argument(name);
    return std::string(data, static_cast<std::size_t>(n));
}

Py_ssize_t sequence_length(PyObject* seq, const char* name) {
    if (PyUnicode_Check(seq)) type_error(name, "a str is not accepted as a sequence of numbers");
    if (PyList_CheckExact(seq)) return PyList_Size(seq);
    if (PyTuple_CheckExact(seq)) return PyTuple_Size(seq);
    if (!PySequence_Check(seq)) type_error(name, "'" + type_name(seq) + "' object cannot be converted to 'Sequence'");
    const Py_ssize_t n = PySequence_Size(seq);
    if (n < 0) fail_argument(name);
    return n;
}

void read_floats(PyObject* seq, const char* name, Py_ssize_t n, float* out) {
    for_each_item(seq, name, n, [&](Py_ssize_t i, PyObject* item) { out[i] = static_cast<float>(to_f64(item, name)); });
}

std::vector<float> to_f32_vector(PyObject* seq, const char* name) {
    // A buffer of floats is read as it lies in memory.
    if (std::vector<float> values; read_float_buffer(seq, values)) return values;
    const Py_ssize_t n = sequence_length(seq, name);
    std::vector<float> out;
    if (PyList_CheckExact(seq) || PyTuple_CheckExact(seq)) {
        // The length of a list or tuple is the number of items it holds.
        out.resize(static_cast<std::size_t>(n));
        read_floats(seq, name, n, out.data());
        return out;
    }
    // Any other sequence reports its own length, which may be false: it caps
    // the first reservation, and the rest grows as the items arrive.
    out.reserve(std::min(static_cast<std::size_t>(n), signal_interval));
    for_each_item(seq, name, n, [&](Py_ssize_t, PyObject* item) { out.push_back(static_cast<float>(to_f64(item, name))); });
    return out;
}

Ref new_list(std::size_t n) {
    if (n > static_cast<std::size_t>(PY_SSIZE_T_MAX)) raise(PyExc_OverflowError, "list too long");
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(n));
    if (!list && PyErr_ExceptionMatches(PyExc_MemoryError)) {
        PyErr_Clear();
        raise(PyExc_MemoryError, "a list of " + std::to_string(n) + " items does not fit in memory");
    }
    return Ref(check(list));
}

std::vector<float> sample_block(std::size_t n) {
    try {
        return std::vector<float>(n);
    } catch (const std::bad_alloc&) {
        raise(PyExc_MemoryError, "a block of " + std::to_string(n) + " samples does not fit in memory");
    } catch (const std::length_error&) {
        raise(PyExc_MemoryError, "a block of " + std::to_string(n) + " samples does not fit in memory");
    }
}

PyObject* fill_float_list(Ref list, const float* data, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), check(PyFloat_FromDouble(static_cast<double>(data[i]))));
        if ((i + 1) % signal_interval == 0) check_signals();
    }
    return list.release();
}

PyObject* float_list(const float* data, std::size_t n) { return fill_float_list(new_list(n), data, n); }

namespace {

bool same_bits(double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; }

}  // namespace

PyObject* recycled_pair(PyObject* self, double a, double b) {
    Header* h = header(self);
    PyObject* last = h->spare;
    Ref fa;
    if (last && same_bits(h->spare_value, a)) {
        Py_INCREF(h->spare_end);
        fa = Ref(h->spare_end);
    } else {
        fa = Ref(check(PyFloat_FromDouble(a)));
    }
    Ref fb(check(PyFloat_FromDouble(b)));
    PyObject* end = fb.get();
    if (last && Py_REFCNT(last) == 1) {
        // Only this object holds the tuple, so its items are still the ones
        // it was given: fill it anew (SetItem drops the old items).
        PyTuple_SetItem(last, 0, fa.release());
        PyTuple_SetItem(last, 1, fb.release());
    } else {
        last = check(PyTuple_Pack(2, fa.get(), fb.get()));
        Py_XDECREF(h->spare);
        h->spare = last;
    }
    h->spare_end = end;
    h->spare_value = b;
    Py_INCREF(last);
    return last;
}

// ---------------------------------------------------------------------------
// Params and Args

Params::Params(Kind kind, const char* function, std::initializer_list<const char*> params,
               const char* description)
    : kind_(kind), function_(function) {
    if (params.size() > static_cast<std::size_t>(max_params)) std::abort();  // a table error
    std::string sig = function_ + "(";
    if (kind == Kind::method) sig += params.size() ? "$self, " : "$self";
    for (const char* p : params) {
        const int i = count_++;
        if (i > 0) sig += ", ";
        sig += p;
        std::string spec(p);
        const auto eq = spec.find('=');
        names_[i] = spec.substr(0, eq);
        if (eq != std::string::npos) {
            has_default_[i] = true;
            std::string text = spec.substr(eq + 1);
            if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'')) text = text.substr(1, text.size() - 2);
            defaults_[i] = text;
            default_f64_[i] = std::strtod(text.c_str(), nullptr);
            default_u64_[i] = std::strtoull(text.c_str(), nullptr, 10);
        }
    }
    doc_ = sig + ")\n--\n\n";
    if (description) doc_ += description;
}

PyObject* Params::key(int i) {
    if (!keys_[i]) keys_[i] = check(PyUnicode_InternFromString(names_[i].c_str()));
    return keys_[i];
}

namespace {

[[noreturn]] void raise_too_many(const Params& params, Py_ssize_t nargs) {
    const std::string given = " (" + std::to_string(nargs) + " given)";
    if (params.count() == 0) raise(PyExc_TypeError, std::string(params.function()) + "() takes no arguments" + given);
    raise(PyExc_TypeError, std::string(params.function()) + "() takes at most " + std::to_string(params.count()) +
                               " argument" + (params.count() == 1 ? "" : "s") + given);
}

}  // namespace

void Args::bind(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const Params& params = params_;
    given_ = values_.data();
    if (nargs > params.count()) raise_too_many(params, nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) values_[static_cast<std::size_t>(i)] = args[i];
    for (int i = static_cast<int>(nargs); i < params.count(); ++i) values_[static_cast<std::size_t>(i)] = nullptr;
    if (kwnames) {
        const Py_ssize_t nkw = PyTuple_Size(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) bind_keyword(PyTuple_GetItem(kwnames, k), args[nargs + k], nargs);
    }
    finish();
}

Args::Args(Params& params, PyObject* args, PyObject* kwargs) : params_(params) {
    given_ = values_.data();
    const Py_ssize_t nargs = args ? PyTuple_Size(args) : 0;
    if (nargs > params.count()) raise_too_many(params, nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) values_[static_cast<std::size_t>(i)] = PyTuple_GetItem(args, i);
    for (int i = static_cast<int>(nargs); i < params.count(); ++i) values_[static_cast<std::size_t>(i)] = nullptr;
    if (kwargs) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value)) bind_keyword(key, value, nargs);
    }
    finish();
}

void Args::bind_keyword(PyObject* key, PyObject* value, Py_ssize_t nargs) {
    int found = -1;
    for (int i = 0; i < params_.count(); ++i) {
        if (params_.key(i) == key) {
            found = i;
            break;
        }
    }
    if (found < 0 && PyUnicode_Check(key)) {
        for (int i = 0; i < params_.count(); ++i) {
            if (PyUnicode_Compare(params_.key(i), key) == 0) {
                found = i;
                break;
            }
        }
    }
    if (found < 0) {
        Ref text(PyObject_Str(key));
        const char* k = text ? PyUnicode_AsUTF8AndSize(text.get(), nullptr) : nullptr;
        if (!k) throw_error_set();
        raise(PyExc_TypeError,
              std::string(params_.function()) + "() got an unexpected keyword argument '" + k + "'");
    }
    if (values_[static_cast<std::size_t>(found)]) {
        raise(PyExc_TypeError, std::string("argument for ") + params_.function() + "() given by name ('" +
                                   params_.name(found) + "') and position (" + std::to_string(found + 1) + ")");
    }
    (void)nargs;
    values_[static_cast<std::size_t>(found)] = value;
}

void Args::finish() {
    for (int i = 0; i < params_.count(); ++i) {
        if (!values_[static_cast<std::size_t>(i)] && !params_.has_default(i)) {
            raise(PyExc_TypeError, std::string(params_.function()) + "() missing required argument '" +
                                       params_.name(i) + "' (pos " + std::to_string(i + 1) + ")");
        }
    }
}

std::string Args::str(int i) const {
    return given(i) ? to_str(given_[i], name(i)) : params_.default_text(i);
}

}  // namespace tamlor::py::kit
