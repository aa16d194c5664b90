// The machine's ALSA library, loaded at run time so that the module imports
// and works on machines without it (no sound support, containers). Only the
// few functions the device layers call are looked up; their handles are kept
// as opaque pointers.
#pragma once

#include <cstdarg>
#include <string>

namespace tamlor::devices::alsa {

// libasound.so.2, loaded on first use and kept for the life of the process;
// null when it cannot be loaded.
void* library();

// Looks `name` up in the library; false (and `fn` null) when it is missing.
bool bind(const char* name, void*& fn);
template <class F>
bool bind(const char* name, F*& fn) {
    void* p = nullptr;
    const bool found = bind(name, p);
    fn = reinterpret_cast<F*>(p);
    return found;
}

// While alive, the library prints no error messages from this thread (it
// would otherwise write to stderr whenever a device is missing).
class QuietErrors {
public:
    QuietErrors();
    ~QuietErrors();
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

    using Handler = void (*)(const char* file, int line, const char* function, int error, const char* format,
                             va_list args);

private:
    Handler previous_ = nullptr;
    bool active_ = false;
};

// While alive, the library's error messages from this thread are kept
// instead of printed: the first one, as the library would print it after its
// source location ("/dev/full write failed, file data may be corrupt: No
// space left on device"), so that a failure the library only reports there
// can be raised.
class CollectErrors {
public:
    CollectErrors();
    ~CollectErrors();
    CollectErrors(const CollectErrors&) = delete;
    CollectErrors& operator=(const CollectErrors&) = delete;

    // The first message since construction (or the last take()); empty
    // when there was none. Clears it.
    std::string take();

private:
    QuietErrors::Handler previous_ = nullptr;
    bool active_ = false;
};

// Frees what the library allocated (through the matching free or close
// function), on every way out.
template <class Free>
struct Owned {
    void* p = nullptr;
    Free free_fn;
    explicit Owned(Free f) : free_fn(f) {}
    ~Owned() {
        if (p) free_fn(p);
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
};

// Stream directions and open modes the layers use.
inline constexpr int pcm_stream_playback = 0;
inline constexpr int pcm_stream_capture = 1;
inline constexpr int pcm_nonblock = 1;
inline constexpr int seq_open_output = 1;
inline constexpr int seq_nonblock = 1;
inline constexpr unsigned seq_cap_read = 1u << 0;
inline constexpr unsigned seq_cap_subs_read = 1u << 5;
inline constexpr unsigned seq_cap_no_export = 1u << 7;
inline constexpr int seq_client_system = 0;

}  // namespace tamlor::devices::alsa
