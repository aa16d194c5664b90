#include "kit/module.hpp"

namespace tamlor::py::kit {
namespace {

// The module's __all__ list, created on first use.
PyObject* all_list(PyObject* module) {
    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (all) return all;
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return nullptr;
    PyErr_Clear();
    all = PyList_New(0);
    if (all && PyObject_SetAttrString(module, "__all__", all) < 0) Py_CLEAR(all);
    return all;
}

}  // namespace

int add_classes(PyObject* module, std::span<const ModuleClass> classes) {
    if (!PyModule_Check(module)) {
        PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'PyModule'", type_name(module).c_str());
        return -1;
    }
    Ref all(all_list(module));
    if (!all) return -1;
    for (const ModuleClass& entry : classes) {
        PyTypeObject* type = entry.type();
        if (!type) return -1;
        Ref name(PyUnicode_FromString(entry.name));
        if (!name) return -1;
        if (PyList_Append(all.get(), name.get()) < 0) {
            PyErr_SetString(PyExc_SystemError, "could not append __name__ to __all__");
            return -1;
        }
        if (PyObject_SetAttr(module, name.get(), reinterpret_cast<PyObject*>(type)) < 0) return -1;
    }
    return 0;
}

}  // namespace tamlor::py::kit
