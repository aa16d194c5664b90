// Errors the engine reports for bad values and failed file operations. The
// binding layer turns each into the Python exception of the same name with
// the same message.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace tamlor {

struct ValueError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct IndexError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Memory for something named in the message could not be had ("AudioBuffer
// of 2**40 frames x 2 channels does not fit in memory"): MemoryError.
struct MemoryError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A long call gave way: the callback it asks between two pieces of work
// answered false (in the module: a signal handler raised, and its exception
// is already set).
struct Interrupted {};

// A file could not be opened, read or written: `code` is the errno value,
// `path` the file. The binding layer raises the matching OSError subclass.
struct FileError : std::runtime_error {
    FileError(int code, std::string path) : std::runtime_error(path), code(code), path(std::move(path)) {}
    int code;
    std::string path;
};

}  // namespace tamlor
