// A scripted audio platform for tests: endpoints, failures and answers are
// set by the test, and what the service asked for is counted.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "audio_output/devices.hpp"
#include "device_support/device_error.hpp"

namespace tamlor::audio_output {

// How a fake device's streams behave, and what they received.
struct FakeStreams {
    // Script.
    std::optional<std::string> open_error;  // opening fails with this text
    std::uint32_t room = UINT32_MAX;        // frames taken per write at most
    std::set<int> underrun_at;              // write calls (counted over all streams) that find the device run dry
    std::optional<int> fail_at;             // the write call that fails
    std::string fail_text = "No such device";
    bool drain_fails = false;

    // Observations.
    std::vector<StreamConfig> opened;
    std::vector<std::int16_t> received;  // every sample taken, in order
    int writes = 0;
    int drains = 0;
    int closed = 0;
    int open_now = 0;
};

class FakeStream final : public Stream {
public:
    FakeStream(FakeStreams& s, std::uint16_t channels) : s_(s), channels_(channels) { ++s_.open_now; }
    ~FakeStream() override {
        --s_.open_now;
        ++s_.closed;
    }

    Accepted write(const std::int16_t* samples, std::uint32_t frames) override {
        const int call = s_.writes++;
        if (s_.fail_at == call) throw devices::DeviceError(s_.fail_text);
        // A device that ran dry takes nothing on the call that notices it.
        if (s_.underrun_at.count(call)) return {0, true};
        const std::uint32_t n = std::min(frames, s_.room);
        s_.received.insert(s_.received.end(), samples, samples + static_cast<std::size_t>(n) * channels_);
        return {n, false};
    }

    void drain() override {
        ++s_.drains;
        if (s_.drain_fails) throw devices::DeviceError(s_.fail_text);
    }

private:
    FakeStreams& s_;
    std::uint16_t channels_;
};

class FakeAudioDevice final : public Device {
public:
    FakeAudioDevice(Flow flow, std::optional<std::string> name, std::shared_ptr<FakeStreams> streams)
        : flow_(flow), name_(std::move(name)), streams_(std::move(streams)) {}
    Flow data_flow() override { return flow_; }
    std::optional<std::string> name() override { return name_; }
    std::unique_ptr<Stream> open_stream(const StreamConfig& config) override {
        if (streams_->open_error) throw devices::DeviceError(*streams_->open_error);
        streams_->opened.push_back(config);
        return std::make_unique<FakeStream>(*streams_, config.channels);
    }

private:
    Flow flow_;
    std::optional<std::string> name_;
    std::shared_ptr<FakeStreams> streams_;
};

inline std::shared_ptr<Device> fake_device(Flow flow, std::optional<std::string> name,
                                           std::shared_ptr<FakeStreams> streams = std::make_shared<FakeStreams>()) {
    return std::make_shared<FakeAudioDevice>(flow, std::move(name), std::move(streams));
}

class FakePlatform final : public Platform {
public:
    // Script.
    ThreadSetup setup_answer{ThreadSetup::done, {}};
    int failing_creations = 0;  // creations that fail before one succeeds
    std::shared_ptr<Device> default_device;
    std::vector<std::shared_ptr<Device>> endpoints;  // a null entry cannot be fetched
    bool enumeration_fails = false;
    bool count_fails = false;

    // Observations.
    std::atomic<int> setups{0};
    std::atomic<int> undos{0};
    std::atomic<int> creations{0};

    ThreadSetup setup_thread() override {
        ++setups;
        return setup_answer;
    }
    void undo_thread_setup() override { ++undos; }

    std::unique_ptr<Enumerator> create_enumerator(std::string& error) override {
        ++creations;
        if (failing_creations > 0) {
            --failing_creations;
            error = "Class not registered";
            return nullptr;
        }
        return std::make_unique<FakeEnumerator>(*this);
    }

private:
    class FakeCollection final : public Collection {
    public:
        explicit FakeCollection(FakePlatform& p) : p_(p) {}
        std::optional<std::uint32_t> count() override {
            if (p_.count_fails) return std::nullopt;
            return static_cast<std::uint32_t>(p_.endpoints.size());
        }
        std::shared_ptr<Device> item(std::uint32_t index) override { return p_.endpoints.at(index); }

    private:
        FakePlatform& p_;
    };

    class FakeEnumerator final : public Enumerator {
    public:
        explicit FakeEnumerator(FakePlatform& p) : p_(p) {}
        std::shared_ptr<Device> default_output() override { return p_.default_device; }
        std::unique_ptr<Collection> active_endpoints() override {
            if (p_.enumeration_fails) return nullptr;
            return std::make_unique<FakeCollection>(p_);
        }

    private:
        FakePlatform& p_;
    };
};

}  // namespace tamlor::audio_output
