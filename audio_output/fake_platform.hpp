// A scripted audio platform for tests: endpoints, failures and answers are
// set by the test, and what the service asked for is counted.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio_output/devices.hpp"

namespace tamlor::audio_output {

class FakeAudioDevice final : public Device {
public:
    FakeAudioDevice(Flow flow, std::optional<std::string> name) : flow_(flow), name_(std::move(name)) {}
    Flow data_flow() override { return flow_; }
    std::optional<std::string> name() override { return name_; }

private:
    Flow flow_;
    std::optional<std::string> name_;
};

inline std::shared_ptr<Device> fake_device(Flow flow, std::optional<std::string> name) {
    return std::make_shared<FakeAudioDevice>(flow, std::move(name));
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
