#include "audio_output/devices.hpp"

#include <algorithm>
#include <stdexcept>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include "audio/pcm.hpp"
#include "common/errors.hpp"
#include "device_support/device_error.hpp"

namespace tamlor::audio_output {
namespace {

using devices::DeviceError;

// The platforms this thread has been prepared for; each setup that asked for
// it is undone when the thread ends.
class ThreadRecords {
public:
    ThreadRecords() = default;
    ThreadRecords(const ThreadRecords&) = delete;
    ThreadRecords& operator=(const ThreadRecords&) = delete;

    ~ThreadRecords() {
        for (const Record& r : records_) {
            if (!r.undo) continue;
            if (auto platform = r.platform.lock()) platform->undo_thread_setup();
        }
    }

    bool has(const Platform* p) {
        // Forget platforms that no longer exist, so a new one at the same
        // address is not taken for an old one.
        std::erase_if(records_, [](const Record& r) { return r.platform.expired(); });
        return std::any_of(records_.begin(), records_.end(),
                           [&](const Record& r) { return r.platform.lock().get() == p; });
    }

    void add(const std::shared_ptr<Platform>& p, bool undo) { records_.push_back({p, undo}); }

private:
    struct Record {
        std::weak_ptr<Platform> platform;
        bool undo;
    };
    std::vector<Record> records_;
};

#ifdef _WIN32
// With the emulated thread-local storage of MinGW builds, a thread_local
// object's destructor can run after the thread's storage was released (and
// crash). So each thread's records live on the heap, in a fiber-local slot
// whose callback the system calls as the thread ends.
void WINAPI delete_thread_records(void* records) { delete static_cast<ThreadRecords*>(records); }

ThreadRecords& thread_records() {
    static const DWORD slot = FlsAlloc(delete_thread_records);
    if (slot == FLS_OUT_OF_INDEXES) throw DeviceError("Failed to initialize COM: no fiber-local slot is free");
    auto* records = static_cast<ThreadRecords*>(FlsGetValue(slot));
    if (!records) {
        auto fresh = std::make_unique<ThreadRecords>();
        if (!FlsSetValue(slot, fresh.get())) {
            throw DeviceError("Failed to initialize COM: the thread's fiber-local slot cannot be set");
        }
        records = fresh.release();
    }
    return *records;
}
#else
ThreadRecords& thread_records() {
    thread_local ThreadRecords records;
    return records;
}
#endif

}  // namespace

void Service::prepare_thread() {
    ThreadRecords& records = thread_records();
    if (records.has(platform_.get())) return;
    const ThreadSetup setup = platform_->setup_thread();
    // A failure is not recorded: the next call on this thread tries again.
    if (setup.kind == ThreadSetup::failed) throw DeviceError("Failed to initialize COM: " + setup.error);
    records.add(platform_, setup.kind == ThreadSetup::done);
}

Enumerator& Service::enumerator() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!enumerator_) {
        std::string error;
        std::unique_ptr<Enumerator> created = platform_->create_enumerator(error);
        if (!created) throw DeviceError("Failed to create the audio device enumerator: " + error);
        enumerator_ = std::move(created);
    }
    return *enumerator_;
}

std::shared_ptr<Device> Service::default_output(std::string* why) {
    prepare_thread();
    if (!why) return enumerator().default_output();
    return enumerator().find_default_output(*why);
}

std::vector<std::string> Service::output_names() {
    prepare_thread();
    std::unique_ptr<Collection> endpoints = enumerator().active_endpoints();
    if (!endpoints) return {};
    const std::optional<std::uint32_t> count = endpoints->count();
    if (!count) return {};
    std::vector<std::string> names;
    for (std::uint32_t i = 0; i < *count; ++i) {
        std::shared_ptr<Device> device = endpoints->item(i);
        if (!device) throw DeviceError("could not get audio device " + std::to_string(i) + " of the collection");
        switch (device->data_flow()) {
            case Flow::render:
                break;
            case Flow::capture:
                continue;
            case Flow::missing_interface:
                throw DeviceError("could not query IMMDevice interface for IMMEndpoint");
            case Flow::unreadable:
                throw DeviceError("could not get endpoint data_flow");
        }
        if (std::optional<std::string> name = device->name()) names.push_back(std::move(*name));
    }
    return names;
}

namespace {

std::shared_ptr<Device> required_default(Service& service) {
    std::string why;
    std::shared_ptr<Device> device = service.default_output(&why);
    if (!device) {
        throw DeviceError("No default audio output device found" + (why.empty() ? std::string() : ": " + why));
    }
    return device;
}

}  // namespace

Output::Output(Service& service, std::uint32_t sample_rate, std::uint16_t channels, std::uint32_t buffer_size)
    : service_(&service),
      device_(required_default(service)),
      playing_(std::make_shared<std::atomic<bool>>(false)),
      sample_rate_(sample_rate),
      buffer_size_(buffer_size),
      channels_(channels) {}

std::string Output::device_name() const {
    std::optional<std::string> name = device_->name();
    return name ? std::move(*name) : std::string("Unknown");
}

void Output::start() {
    if (stream_) throw std::runtime_error("Already playing");
    const std::pair<const char*, std::uint32_t> settings[] = {
        {"sample_rate", sample_rate_}, {"channels", channels_}, {"buffer_size", buffer_size_}};
    for (const auto& [name, value] : settings) {
        if (value == 0) throw ValueError(std::string("cannot play with ") + name + "=0");
    }
    // One period per slice, kept to 64 Ki samples whatever the settings.
    const std::size_t slice_frames = std::max<std::size_t>(1, std::min<std::size_t>(buffer_size_, 65536 / channels_));
    std::vector<std::int16_t> slice(slice_frames * channels_);
    service_->prepare_thread();
    std::unique_ptr<Stream> stream;
    try {
        stream = device_->open_stream(StreamConfig{sample_rate_, channels_, buffer_size_});
    } catch (const DeviceError& e) {
        throw DeviceError(std::string("Could not start audio output: ") + e.what());
    }
    if (!stream) throw DeviceError("Could not start audio output: no stream");
    stream_ = std::move(stream);
    slice_ = std::move(slice);
    underruns_ = 0;
    playing_->store(true);
}

bool Output::write(const float* samples, std::size_t count, const std::function<bool()>& go_on) {
    if (!stream_) throw std::runtime_error("Not playing: call start() first");
    if (count % channels_ != 0) {
        throw ValueError("block length " + std::to_string(count) + " is not a multiple of " +
                         std::to_string(channels_) + " channels");
    }
    const std::size_t slice_frames = slice_.size() / channels_;
    std::size_t frames_left = count / channels_;
    try {
        while (frames_left > 0) {
            const std::size_t frames = std::min(frames_left, slice_frames);
            audio::to_pcm16(samples, frames * channels_, slice_.data());
            const std::int16_t* next = slice_.data();
            auto pending = static_cast<std::uint32_t>(frames);
            while (pending > 0) {
                const Accepted taken = stream_->write(next, pending);
                if (taken.underrun) ++underruns_;
                if (taken.frames > pending || (taken.frames == 0 && !taken.underrun)) {
                    throw DeviceError("the device took " + std::to_string(taken.frames) + " of " +
                                      std::to_string(pending) + " frames");
                }
                next += static_cast<std::size_t>(taken.frames) * channels_;
                pending -= taken.frames;
            }
            samples += frames * channels_;
            frames_left -= frames;
            if (frames_left > 0 && !go_on()) return false;
        }
    } catch (const DeviceError& e) {
        close();
        throw DeviceError(std::string("Audio output failed: ") + e.what());
    }
    return true;
}

void Output::stop() {
    if (!stream_) {
        playing_->exchange(false);
        return;
    }
    try {
        stream_->drain();
    } catch (const DeviceError& e) {
        close();
        throw DeviceError(std::string("Audio output failed: ") + e.what());
    }
    close();
}

void Output::close() noexcept {
    stream_.reset();
    playing_->exchange(false);
}

}  // namespace tamlor::audio_output
