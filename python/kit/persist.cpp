#include "kit/persist.hpp"

#include <cstring>
#include <map>

#include "kit/values.hpp"

namespace tamlor::py::kit {
namespace {

// ByName: a dotted name inside the module ("tamlor:Note"). Calling it calls
// what the name resolves to; pickling it stores the name.
struct ByName {
    PyObject_HEAD
    PyObject* name;  // str, "tamlor:<dotted>"
};

// pkgutil.resolve_name, a plain module-level function that every pickle
// protocol can refer to.
PyObject* resolver() {
    Ref pkgutil(check(PyImport_ImportModule("pkgutil")));
    return check(PyObject_GetAttrString(pkgutil.get(), "resolve_name"));
}

PyObject* by_name_call(PyObject* self, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        Ref resolve(resolver());
        Ref target(check(PyObject_CallFunctionObjArgs(resolve.get(), reinterpret_cast<ByName*>(self)->name, nullptr)));
        return check(PyObject_Call(target.get(), args, kwargs));
    });
}

PyObject* by_name_reduce(PyObject* self, PyObject*) {
    return boundary([&] {
        Ref resolve(resolver());
        Ref args(check(PyTuple_Pack(1, reinterpret_cast<ByName*>(self)->name)));
        return check(PyTuple_Pack(2, resolve.get(), args.get()));
    });
}

PyObject* by_name_repr(PyObject* self) {
    return PyUnicode_FromFormat("ByName(%R)", reinterpret_cast<ByName*>(self)->name);
}

void by_name_dealloc(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    Py_CLEAR(reinterpret_cast<ByName*>(self)->name);
    auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(tp, Py_tp_free));
    free_fn(self);
    Py_DECREF(tp);
}

PyMethodDef by_name_methods[] = {
    def("__reduce__", by_name_reduce, "__reduce__($self)\n--\n\n"),
    end_methods,
};

PyType_Slot by_name_slots[] = {
    slot(Py_tp_doc, "A callable found by its name in the tamlor module; it pickles as that name."),
    slot(Py_tp_call, by_name_call),
    slot(Py_tp_repr, by_name_repr),
    slot(Py_tp_dealloc, by_name_dealloc),
    slot(Py_tp_methods, by_name_methods),
    end_slots,
};

// Made only by by_name(): a ByName without its name must never exist.
PyType_Spec by_name_spec{"builtins.ByName", sizeof(ByName), 0,
                         static_cast<unsigned int>(Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE |
                                                   Py_TPFLAGS_DISALLOW_INSTANTIATION),
                         by_name_slots};

}  // namespace

PyObject* by_name(const char* dotted) { return by_name("tamlor", dotted); }

PyObject* by_name(const char* module, const char* dotted) {
    static PyTypeObject* type = nullptr;  // created once per process
    static std::map<std::string, PyObject*> made;
    const std::string full = std::string(module) + ":" + dotted;
    if (auto it = made.find(full); it != made.end()) return it->second;
    if (!type) type = reinterpret_cast<PyTypeObject*>(check(PyType_FromSpec(&by_name_spec)));
    Ref name(check(PyUnicode_FromStringAndSize(full.data(), static_cast<Py_ssize_t>(full.size()))));
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* object = check(alloc(type, 0));
    reinterpret_cast<ByName*>(object)->name = name.release();
    made.emplace(full, object);
    return object;
}

const char* class_name(const PyType_Spec& spec) {
    const char* dot = std::strrchr(spec.name, '.');
    return dot ? dot + 1 : spec.name;
}

PyObject* reduce_value(const char* cls, Reduced reduced) { return reduce_value("tamlor", cls, std::move(reduced)); }

PyObject* reduce_value(const char* module, const char* cls, Reduced reduced) {
    PyObject* callable = by_name(module, reduced.callable ? reduced.callable : cls);
    if (reduced.state) return tuple(callable, reduced.args.get(), reduced.state.get());
    return tuple(callable, reduced.args.get());
}

void refuse_copy(const char* cls, const char* reason) {
    raise(PyExc_TypeError, std::string("cannot copy or pickle ") + cls + " objects: " + reason);
}

void bad_state(const char* cls, const std::string& message) {
    raise(PyExc_TypeError, std::string(cls) + ".__setstate__: " + message);
}

StateTuple::StateTuple(const char* cls, PyObject* state, Py_ssize_t n) : state_(state) {
    if (!PyTuple_CheckExact(state) || PyTuple_Size(state) != n) {
        const std::string got = PyTuple_CheckExact(state) ? std::to_string(PyTuple_Size(state)) + " items"
                                                          : type_name(state);
        bad_state(cls, "expected a tuple of " + std::to_string(n) + " items, got " + got);
    }
}

}  // namespace tamlor::py::kit
