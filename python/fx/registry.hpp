// The classes of the tamlor_fx module, one type getter each, in registry
// order. module.cpp is the only place that registers them.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tamlor::py::fx_types {

PyTypeObject* filter();
PyTypeObject* delay();
PyTypeObject* reverb();
PyTypeObject* compressor();
PyTypeObject* limiter();

// The module's private functions (the song layer's mixing helpers).
PyMethodDef* functions();

}  // namespace tamlor::py::fx_types
