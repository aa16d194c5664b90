// Audio output devices: the platform interface each backend implements, the
// service written once against it (per-thread setup, the process-wide
// enumerator, the listing and the default device), and the output handle
// that Python's AudioOutput holds, with its blocking playback.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
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

// What a playback stream is asked for: 16-bit signed interleaved frames.
struct StreamConfig {
    std::uint32_t sample_rate = 44100;  // frames per second, at least 1
    std::uint16_t channels = 2;         // at least 1
    std::uint32_t period_frames = 512;  // the device's buffer holds about four periods; at least 1
};

// What one write to a stream did.
struct Accepted {
    std::uint32_t frames = 0;  // frames the device took from the front of the block
    bool underrun = false;     // the device had run out of frames first; it has recovered
};

// An open playback stream. Used by one thread at a time; its calls block.
class Stream {
public:
    // Closes the stream; frames still queued are dropped.
    virtual ~Stream() = default;
    // Waits until the device has room, then takes frames from the front of
    // `samples` (`frames` frames): at least one, unless it reports an
    // underrun. Throws devices::DeviceError with the platform's text when the
    // device fails.
    virtual Accepted write(const std::int16_t* samples, std::uint32_t frames) = 0;
    // Returns once every frame taken has been played; the stream may be
    // closed by it (nothing may follow but destruction). Throws DeviceError.
    virtual void drain() = 0;
};

// One endpoint of the platform; the last reference releases it.
class Device {
public:
    virtual ~Device() = default;
    virtual Flow data_flow() = 0;
    // The display name as UTF-8, or nullopt when it cannot be read.
    virtual std::optional<std::string> name() = 0;
    // Opens a playback stream on the device. Throws devices::DeviceError
    // with the platform's text when it cannot.
    virtual std::unique_ptr<Stream> open_stream(const StreamConfig& config) = 0;
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
    // The same, with `why` set to the platform's reason when there is none
    // and the platform can say (left as it is otherwise).
    virtual std::shared_ptr<Device> find_default_output(std::string& why) {
        (void)why;
        return default_output();
    }
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

    // The default output device, or null when there is none; `why` (when
    // given) then gets the platform's reason, or stays empty.
    std::shared_ptr<Device> default_output(std::string* why = nullptr);
    // The names of the active output devices in the platform's order; devices
    // without a readable name are left out; empty when the platform cannot
    // enumerate.
    std::vector<std::string> output_names();
    // Prepares the calling thread for the platform (once per thread).
    void prepare_thread();

private:
    Enumerator& enumerator();

    std::shared_ptr<Platform> platform_;
    std::mutex mutex_;
    std::unique_ptr<Enumerator> enumerator_;  // set once, then kept
};

// This machine's service (the build's backend), kept for the whole process.
Service& system_service();

// The handle on an output device: bound to the default device at
// construction, and playing between start() and stop() with the stream
// settings given at construction (the buffer size is the device's period,
// in frames).
//
// Samples are written as interleaved 32-bit floats and sent as 16-bit PCM
// (audio/pcm.hpp: clipped to -1..1, NaN as silence). write() blocks until the
// device has taken every frame, so a loop that renders and writes plays in
// real time. An underrun (the writer came late) is recovered and counted.
// A device that fails closes the stream: the error is thrown, the handle is
// stopped and can be started again.
class Output {
public:
    // Throws devices::DeviceError "No default audio output device found"
    // when the service has no default output device, followed by ": " and
    // the platform's reason when it gives one.
    Output(Service& service, std::uint32_t sample_rate, std::uint16_t channels, std::uint32_t buffer_size);

    // The bound device's name, or "Unknown" when it cannot be read.
    std::string device_name() const;
    bool is_playing() const { return playing_->load(); }
    std::uint16_t channels() const { return channels_; }

    // Opens the stream; the underrun count starts again from 0. ValueError
    // when a stream setting is 0; std::runtime_error "Already playing" while
    // playing; DeviceError "Could not start audio output: {platform text}".
    void start();
    // Plays `count` interleaved samples. std::runtime_error "Not playing:
    // call start() first" when stopped; ValueError when `count` is not a multiple
    // of the channel count (nothing is sent). Between slices of one period
    // the handle asks `go_on`, and stops early (returning false) when it
    // answers false; otherwise returns true once every frame is taken.
    // A device failure throws DeviceError "Audio output failed: {text}".
    bool write(const float* samples, std::size_t count, const std::function<bool()>& go_on);
    // Plays out what the device holds, then closes the stream. Does nothing
    // when stopped. A device failure while draining still closes the stream
    // and is then thrown.
    void stop();
    // Closes the stream at once, discarding what the device still holds;
    // for a handle that is being given up. Does nothing when stopped.
    void abandon() noexcept { close(); }
    // Underruns since the last start().
    std::uint64_t underruns() const { return underruns_; }

private:
    void close() noexcept;

    Service* service_;
    std::shared_ptr<Device> device_;
    std::shared_ptr<std::atomic<bool>> playing_;
    std::uint32_t sample_rate_;
    std::uint32_t buffer_size_;
    std::uint16_t channels_;
    std::unique_ptr<Stream> stream_;  // open exactly while playing
    std::vector<std::int16_t> slice_;  // one period of converted samples
    std::uint64_t underruns_ = 0;
};

}  // namespace tamlor::audio_output
