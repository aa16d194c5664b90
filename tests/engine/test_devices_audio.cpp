// The audio device service against a scripted platform: listing rules,
// per-thread setup, the one enumerator and the output handle.
#include <gtest/gtest.h>

#include <thread>

#include "audio_output/fake_platform.hpp"
#include "midi_input/device_error.hpp"

namespace tamlor::audio_output {
namespace {

using devices::DeviceError;

struct AudioService : ::testing::Test {
    std::shared_ptr<FakePlatform> platform = std::make_shared<FakePlatform>();
    Service service{platform};

    std::string error_of(auto&& call) {
        try {
            call();
        } catch (const DeviceError& e) {
            return e.what();
        }
        return "no error";
    }
};

TEST_F(AudioService, ListsOutputsInPlatformOrderWithDuplicates) {
    platform->endpoints = {
        fake_device(Flow::render, "Speakers"), fake_device(Flow::capture, "Microphone"),
        fake_device(Flow::render, std::nullopt), fake_device(Flow::render, "HDMI"),
        fake_device(Flow::render, "Speakers"),
    };
    EXPECT_EQ(service.output_names(), (std::vector<std::string>{"Speakers", "HDMI", "Speakers"}));
}

TEST_F(AudioService, FailedEnumerationGivesEmptyList) {
    platform->endpoints = {fake_device(Flow::render, "Speakers")};
    platform->enumeration_fails = true;
    EXPECT_TRUE(service.output_names().empty());
    platform->enumeration_fails = false;
    platform->count_fails = true;
    EXPECT_TRUE(service.output_names().empty());
    platform->count_fails = false;
    EXPECT_EQ(service.output_names().size(), 1u);
}

TEST_F(AudioService, UnreadableDeviceFailsTheListing) {
    const std::pair<std::shared_ptr<Device>, std::string> cases[] = {
        {nullptr, "could not get audio device 1 of the collection"},
        {fake_device(Flow::missing_interface, "X"), "could not query IMMDevice interface for IMMEndpoint"},
        {fake_device(Flow::unreadable, "X"), "could not get endpoint data_flow"},
    };
    for (const auto& [device, message] : cases) {
        platform->endpoints = {fake_device(Flow::render, "Speakers"), device};
        EXPECT_EQ(error_of([&] { service.output_names(); }), message);
    }
}

TEST_F(AudioService, EnumeratorIsRetriedAfterAFailedCreationThenKept) {
    platform->failing_creations = 1;
    platform->default_device = fake_device(Flow::render, "Speakers");
    EXPECT_EQ(error_of([&] { service.output_names(); }),
              "Failed to create the audio device enumerator: Class not registered");
    EXPECT_EQ(platform->creations, 1);
    EXPECT_NE(service.default_output(), nullptr);
    service.output_names();
    service.default_output();
    EXPECT_EQ(platform->creations, 2);
}

TEST_F(AudioService, ConcurrentFirstUsesCreateOneEnumerator) {
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) threads.emplace_back([&] { service.output_names(); });
    for (auto& t : threads) t.join();
    EXPECT_EQ(platform->creations, 1);
    EXPECT_EQ(platform->setups, 4);
}

TEST_F(AudioService, ThreadIsSetUpOnceAndUndoneWhenItEnds) {
    std::thread([&] {
        service.output_names();
        service.default_output();
        service.output_names();
        EXPECT_EQ(platform->setups, 1);
        EXPECT_EQ(platform->undos, 0);
    }).join();
    EXPECT_EQ(platform->undos, 1);
    std::thread([&] { service.output_names(); }).join();
    EXPECT_EQ(platform->setups, 2);
    EXPECT_EQ(platform->undos, 2);
}

TEST_F(AudioService, OtherThreadingModelIsAcceptedAndNotUndone) {
    platform->setup_answer = {ThreadSetup::no_undo, {}};
    std::thread([&] {
        service.output_names();
        service.output_names();
    }).join();
    EXPECT_EQ(platform->setups, 1);
    EXPECT_EQ(platform->undos, 0);
}

TEST_F(AudioService, FailedThreadSetupFailsTheCallAndIsTriedAgain) {
    platform->setup_answer = {ThreadSetup::failed, "Invalid argument"};
    std::thread([&] {
        EXPECT_EQ(error_of([&] { service.output_names(); }), "Failed to initialize COM: Invalid argument");
        EXPECT_EQ(platform->creations, 0);
        platform->setup_answer = {ThreadSetup::done, {}};
        EXPECT_NO_THROW(service.output_names());
    }).join();
    EXPECT_EQ(platform->setups, 2);
    EXPECT_EQ(platform->undos, 1);
}

TEST_F(AudioService, OutputBindsTheDefaultDeviceAndNeverPlays) {
    EXPECT_EQ(error_of([&] { Output(service, 44100, 2, 512); }), "No default audio output device found");

    platform->default_device = fake_device(Flow::render, "Speakers");
    std::weak_ptr<Device> bound = platform->default_device;
    {
        Output output(service, 0, 0, 0);
        platform->default_device.reset();
        EXPECT_EQ(output.device_name(), "Speakers");
        EXPECT_FALSE(output.is_playing());
        output.stop();
        output.stop();
        EXPECT_FALSE(output.is_playing());
        EXPECT_FALSE(bound.expired());
    }
    EXPECT_TRUE(bound.expired());  // released with the handle

    platform->default_device = fake_device(Flow::render, std::nullopt);
    EXPECT_EQ(Output(service, 44100, 2, 512).device_name(), "Unknown");
}

}  // namespace
}  // namespace tamlor::audio_output
