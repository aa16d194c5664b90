#include "device_support/alsa_library.hpp"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "device_support/text.hpp"

namespace tamlor::devices::alsa {
namespace {

void ignore_error(const char*, int, const char*, int, const char*, va_list) {}

// The first message collected on this thread, and whether a collector is
// waiting for one.
thread_local std::string collected;
thread_local bool collecting = false;

void collect_error(const char*, int, const char*, int error, const char* format, va_list args) {
    if (!collecting || !collected.empty() || !format) return;
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    collected = text;
    if (error != 0) collected += std::string(": ") + std::strerror(error < 0 ? -error : error);
    if (collected.empty()) collected = "error " + std::to_string(error);
}

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

CollectErrors::CollectErrors() {
    if (SetLocal f = set_local()) {
        previous_ = f(collect_error);
        active_ = true;
        collected.clear();
        collecting = true;
    }
}

CollectErrors::~CollectErrors() {
    if (active_) {
        set_local()(previous_);
        collecting = false;
        collected.clear();
    }
}

std::string CollectErrors::take() {
    std::string text = sanitize_utf8(collected);
    collected.clear();
    return text;
}

}  // namespace tamlor::devices::alsa
