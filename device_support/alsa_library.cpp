#include "device_support/alsa_library.hpp"

#include <dlfcn.h>

namespace tamlor::devices::alsa {
namespace {

void ignore_error(const char*, int, const char*, int, const char*, va_list) {}

using SetLocal = QuietErrors::Handler (*)(QuietErrors::Handler);

SetLocal set_local() {
    static SetLocal fn = [] {
        SetLocal f = nullptr;
        bind("snd_lib_error_set_local", f);
        return f;
    }();
    return fn;
}

}  // namespace

void* library() {
    // Loaded once and never unloaded: the library keeps global configuration
    // state that must outlive every call that used it.
    static void* handle = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    return handle;
}

bool bind(const char* name, void*& fn) {
    void* lib = library();
    fn = lib ? dlsym(lib, name) : nullptr;
    return fn != nullptr;
}

QuietErrors::QuietErrors() {
    if (SetLocal f = set_local()) {
        previous_ = f(ignore_error);
        active_ = true;
    }
}

QuietErrors::~QuietErrors() {
    if (active_) set_local()(previous_);
}

}  // namespace tamlor::devices::alsa
