// A class that is registered (name, text signature, place in __all__) before
// its engine is bound: constructing it raises NotImplementedError.
#pragma once

#include "kit/core.hpp"

namespace tamlor::py::kit {

PyTypeObject* placeholder(PyTypeObject*& cache, const char* qualified_name, const char* doc);

}  // namespace tamlor::py::kit

#define TAMLOR_PLACEHOLDER(getter, qualified_name, doc)                     \
    PyTypeObject* tamlor::py::types::getter() {                             \
        static PyTypeObject* cache = nullptr;                               \
        return tamlor::py::kit::placeholder(cache, qualified_name, doc);    \
    }
