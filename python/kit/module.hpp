// The execution step every public native module shares: add a table of
// classes to the module, in order, and list their names in __all__.
#pragma once

#include <span>

#include "kit/core.hpp"

namespace tamlor::py::kit {

// One class of a module: the name it is known by and the function that
// creates (or returns) its type.
struct ModuleClass {
    const char* name;
    PyTypeObject* (*type)();
};

// Sets each class as an attribute of `module` under its name and appends the
// name to the module's __all__, which is created when the module has none.
// Returns 0, or -1 with a Python error set.
int add_classes(PyObject* module, std::span<const ModuleClass> classes);

}  // namespace tamlor::py::kit
