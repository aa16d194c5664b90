#include "kit/placeholder.hpp"

namespace tamlor::py::kit {
namespace {

PyObject* refuse(PyTypeObject*, PyObject*, PyObject*) {
    PyErr_SetString(PyExc_NotImplementedError, "this class is not available yet");
    return nullptr;
}

}  // namespace

PyTypeObject* placeholder(PyTypeObject*& cache, const char* qualified_name, const char* doc) {
    if (cache) return cache;
    PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>(doc)},
        {Py_tp_new, reinterpret_cast<void*>(refuse)},
        {0, nullptr},
    };
    PyType_Spec spec{qualified_name, static_cast<int>(sizeof(Header)), 0, Py_TPFLAGS_DEFAULT, slots};
    cache = make_type(&spec);
    return cache;
}

}  // namespace tamlor::py::kit
