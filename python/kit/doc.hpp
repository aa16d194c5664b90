// Method table rows whose doc carries text after the signature line.
#pragma once

#include "kit/wrap.hpp"

namespace tamlor::py::kit {

// `doc` begins with the signature the Params would give and goes on with the
// method's description: "mix($self, x)\n--\n\nMixes x.".
inline PyMethodDef def(const char* name, FastFn fn, const Params& params, const char* doc) {
    PyMethodDef row = def(name, fn, params);
    row.ml_doc = doc;
    return row;
}

}  // namespace tamlor::py::kit
