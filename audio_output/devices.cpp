#include "audio_output/devices.hpp"

#include <algorithm>

#include "midi_input/device_error.hpp"

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

ThreadRecords& thread_records() {
    thread_local ThreadRecords records;
    return records;
}

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

std::shared_ptr<Device> Service::default_output() {
    prepare_thread();
    return enumerator().default_output();
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

Output::Output(Service& service, std::uint32_t sample_rate, std::uint16_t channels, std::uint32_t buffer_size)
    : device_(service.default_output()),
      playing_(std::make_shared<std::atomic<bool>>(false)),
      sample_rate_(sample_rate),
      buffer_size_(buffer_size),
      channels_(channels) {
    if (!device_) throw DeviceError("No default audio output device found");
}

std::string Output::device_name() const {
    std::optional<std::string> name = device_->name();
    return name ? std::move(*name) : std::string("Unknown");
}

}  // namespace tamlor::audio_output
