// Audio output devices: the platform interface each backend implements, the
// service written once against it (per-thread setup, the process-wide
// enumerator, the listing and the default device), and the output handle
// that Python's AudioOutput holds.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tamlor::audio_output {

// What an endpoint does with audio, as far as the listing needs to know.
enum class Flow {
    render,             // plays audio: an output device
    capture,            // records audio
    missing_interface,  // the endpoint interface cannot be reached
    unreadable,         // the endpoint cannot say
};

// One endpoint of the platform; the last reference releases it.
class Device {
public:
    virtual ~Device() = default;
    virtual Flow data_flow() = 0;
    // The display name as UTF-8, or nullopt when it cannot be read.
    virtual std::optional<std::string> name() = 0;
};

// A snapshot of the active endpoints of every data flow.
class Collection {
public:
    virtual ~Collection() = default;
    virtual std::optional<std::uint32_t> count() = 0;
    // Null when the device cannot be fetched.
    virtual std::shared_ptr<Device> item(std::uint32_t index) = 0;
};

class Enumerator {
public:
    virtual ~Enumerator() = default;
    // The default output device; null when there is none or the platform fails.
    virtual std::shared_ptr<Device> default_output() = 0;
    // Null when the platform cannot enumerate.
    virtual std::unique_ptr<Collection> active_endpoints() = 0;
};

// The result of preparing a thread for the service.
struct ThreadSetup {
    enum Kind {
        done,       // prepared; must be undone when the thread ends
        no_undo,    // usable as it is (e.g. another threading model was chosen already)
        failed,     // the thread cannot use the service
    };
    Kind kind = done;
    std::string error;  // the system's text for a failure
};

class Platform {
public:
    virtual ~Platform() = default;
    virtual ThreadSetup setup_thread() = 0;
    virtual void undo_thread_setup() = 0;
    // The enumerator, or null with `error` set to the system's text.
    virtual std::unique_ptr<Enumerator> create_enumerator(std::string& error) = 0;
};

// The algorithms, written once. Every operation first prepares the calling
// thread (once per thread; undone when the thread ends) and then uses the
// one enumerator, created at first need under a lock and created again by
// the next operation if its creation failed. Failures that end a call throw
// devices::DeviceError.
class Service {
public:
    explicit Service(std::shared_ptr<Platform> platform) : platform_(std::move(platform)) {}

    // The default output device, or null when there is none.
    std::shared_ptr<Device> default_output();
    // The names of the active output devices in the platform's order; devices
    // without a readable name are left out; empty when the platform cannot
    // enumerate.
    std::vector<std::string> output_names();

private:
    void prepare_thread();
    Enumerator& enumerator();

    std::shared_ptr<Platform> platform_;
    std::mutex mutex_;
    std::unique_ptr<Enumerator> enumerator_;  // set once, then kept
};

// This machine's service (the build's backend), kept for the whole process.
Service& system_service();

// The handle on an output device: bound to the default device at
// construction, never playing. The requested stream settings are kept as
// given; no stream is opened.
class Output {
public:
    // Throws devices::DeviceError "No default audio output device found"
    // when the service has no default output device.
    Output(Service& service, std::uint32_t sample_rate, std::uint16_t channels, std::uint32_t buffer_size);

    // The bound device's name, or "Unknown" when it cannot be read.
    std::string device_name() const;
    bool is_playing() const { return playing_->load(); }
    // Guarantees the stopped state; there is no stream to end.
    void stop() { playing_->exchange(false); }

private:
    std::shared_ptr<Device> device_;
    std::shared_ptr<std::atomic<bool>> playing_;
    std::uint32_t sample_rate_;
    std::uint32_t buffer_size_;
    std::uint16_t channels_;
};

}  // namespace tamlor::audio_output
