// Errors the engine reports for bad values. The binding layer turns each into
// the Python exception of the same name with the same message.
#pragma once

#include <stdexcept>

namespace tamlor {

struct ValueError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct IndexError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace tamlor
