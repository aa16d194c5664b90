// The audio device service against a scripted platform: listing rules,
// per-thread setup, the one enumerator, the output handle and its playback.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <thread>
#include <tuple>

#include "audio_output/fake_platform.hpp"
#include "common/errors.hpp"
#include "device_support/device_error.hpp"

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

TEST_F(AudioService, OutputBindsTheDefaultDeviceStoppedUntilStarted) {
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

struct Playback : AudioService {
    std::shared_ptr<FakeStreams> streams = std::make_shared<FakeStreams>();
    int slices = 0;
    std::function<bool()> count_slices = [this] {
        ++slices;
        return true;
    };

    Playback() { platform->default_device = fake_device(Flow::render, "Speakers", streams); }

    // Samples whose 16-bit forms are all different: i / 32768.
    static std::vector<float> ramp(std::size_t n, int from = 0) {
        std::vector<float> v(n);
        for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<float>(from + static_cast<int>(i)) / 32768.0f;
        return v;
    }
    static std::vector<std::int16_t> ramp16(std::size_t n, int from = 0) {
        std::vector<std::int16_t> v(n);
        for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::int16_t>(from + static_cast<int>(i));
        return v;
    }
};

TEST_F(Playback, BlockIsSentInPeriodSlicesWhateverTheDeviceTakesAtOnce) {
    Output out(service, 48000, 2, 4);
    out.start();
    EXPECT_TRUE(out.is_playing());
    ASSERT_EQ(streams->opened.size(), 1u);
    EXPECT_EQ(streams->opened[0].sample_rate, 48000u);
    EXPECT_EQ(streams->opened[0].channels, 2);
    EXPECT_EQ(streams->opened[0].period_frames, 4u);
    streams->room = 3;  // frames per device write: never a whole slice
    const std::vector<float> block = ramp(2 * 10);
    EXPECT_TRUE(out.write(block.data(), block.size(), count_slices));
    EXPECT_EQ(streams->received, ramp16(20));
    EXPECT_EQ(slices, 2);  // asked between the slices of 4 + 4 + 2 frames, not after the last
    EXPECT_EQ(streams->writes, 5);  // 3+1, 3+1, 2
    const std::vector<float> more = ramp(2 * 3, 20);
    EXPECT_TRUE(out.write(more.data(), more.size(), count_slices));
    EXPECT_EQ(streams->received, ramp16(26));
    EXPECT_EQ(out.underruns(), 0u);
}

TEST_F(Playback, SamplesAreClippedAndNanIsSilence) {
    Output out(service, 8000, 1, 64);
    out.start();
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> block = {1.0f, -1.0f, 2.5f, -7.0f, inf, -inf, std::nanf(""), 0.5f, -0.25f,
                                      // 32767.5 and 32766.5 / 32768: ties go to the even neighbour
                                      32767.5f / 32768.0f, 32766.5f / 32768.0f, -0.5f / 32768.0f, 1.5f / 32768.0f};
    out.write(block.data(), block.size(), count_slices);
    EXPECT_EQ(streams->received, (std::vector<std::int16_t>{32767, -32768, 32767, -32768, 32767, -32768, 0, 16384,
                                                            -8192, 32767, 32766, 0, 2}));
}

TEST_F(Playback, UnderrunIsCountedAndNothingIsLostOrRepeated) {
    Output out(service, 44100, 1, 2);
    out.start();
    streams->underrun_at = {0, 3, 4};
    const std::vector<float> block = ramp(7);
    EXPECT_TRUE(out.write(block.data(), block.size(), count_slices));
    EXPECT_EQ(streams->received, ramp16(7));
    EXPECT_EQ(out.underruns(), 3u);
    EXPECT_TRUE(out.is_playing());
    out.stop();
    out.start();
    EXPECT_EQ(out.underruns(), 0u);  // counted per start
}

TEST_F(Playback, BadCallsChangeNothing) {
    Output out(service, 44100, 2, 8);
    const std::vector<float> block = ramp(6);
    EXPECT_THROW(out.write(block.data(), block.size(), count_slices), std::runtime_error);
    out.start();
    EXPECT_THROW(out.start(), std::runtime_error);
    EXPECT_THROW(out.write(block.data(), 5, count_slices), ValueError);
    EXPECT_TRUE(streams->received.empty());
    EXPECT_EQ(streams->opened.size(), 1u);
    EXPECT_TRUE(out.write(block.data(), 0, count_slices));
    EXPECT_TRUE(out.is_playing());
    for (auto [rate, channels, size] : {std::tuple{0u, 2, 8u}, {44100u, 0, 8u}, {44100u, 2, 0u}}) {
        Output zero(service, rate, static_cast<std::uint16_t>(channels), size);
        EXPECT_THROW(zero.start(), ValueError);
        EXPECT_FALSE(zero.is_playing());
    }
    EXPECT_EQ(streams->opened.size(), 1u);
}

TEST_F(Playback, StopDrainsClosesAndCanStartAgain) {
    Output out(service, 44100, 1, 4);
    out.stop();  // stopped already: nothing to drain
    EXPECT_EQ(streams->drains, 0);
    out.start();
    const std::vector<float> block = ramp(5);
    out.write(block.data(), block.size(), count_slices);
    out.stop();
    EXPECT_EQ(streams->drains, 1);
    EXPECT_EQ(streams->open_now, 0);
    EXPECT_FALSE(out.is_playing());
    out.stop();
    EXPECT_EQ(streams->drains, 1);
    out.start();
    const std::vector<float> next = ramp(3, 5);
    out.write(next.data(), next.size(), count_slices);
    EXPECT_EQ(streams->received, ramp16(8));
    EXPECT_EQ(streams->opened.size(), 2u);
}

TEST_F(Playback, DestructionClosesAnOpenStreamWithoutDraining) {
    {
        Output out(service, 44100, 1, 4);
        out.start();
        EXPECT_EQ(streams->open_now, 1);
    }
    EXPECT_EQ(streams->open_now, 0);
    EXPECT_EQ(streams->drains, 0);
}

TEST_F(Playback, WriterCanEndALongWriteBetweenSlices) {
    Output out(service, 44100, 1, 4);
    out.start();
    const std::vector<float> block = ramp(16);
    int asked = 0;
    EXPECT_FALSE(out.write(block.data(), block.size(), [&] { return ++asked < 2; }));
    EXPECT_EQ(streams->received, ramp16(8));  // two whole slices, then no more
    EXPECT_TRUE(out.is_playing());
}

TEST_F(Playback, DeviceFailureClosesTheStreamWithThePlatformText) {
    Output out(service, 44100, 1, 4);
    out.start();
    streams->fail_at = 2;
    const std::vector<float> block = ramp(12);
    EXPECT_EQ(error_of([&] { out.write(block.data(), block.size(), count_slices); }),
              "Audio output failed: No such device");
    EXPECT_FALSE(out.is_playing());
    EXPECT_EQ(streams->open_now, 0);
    EXPECT_EQ(streams->received, ramp16(8));
    out.stop();  // nothing left to stop
    out.start();
    EXPECT_TRUE(out.write(block.data(), block.size(), count_slices));
    EXPECT_EQ(streams->received.size(), 20u);

    streams->drain_fails = true;
    EXPECT_EQ(error_of([&] { out.stop(); }), "Audio output failed: No such device");
    EXPECT_FALSE(out.is_playing());
    EXPECT_EQ(streams->open_now, 0);

    streams->open_error = "Device or resource busy";
    EXPECT_EQ(error_of([&] { out.start(); }), "Could not start audio output: Device or resource busy");
    EXPECT_FALSE(out.is_playing());
}

TEST_F(Playback, StartPreparesTheCallingThread) {
    std::thread([&] {
        Output out(service, 44100, 1, 4);
        out.start();
    }).join();
    Output out(service, 44100, 1, 4);
    std::thread([&] { out.start(); }).join();
    EXPECT_EQ(platform->setups, 3);
}

}  // namespace
}  // namespace tamlor::audio_output
