// Checks the playback backend and the port listings end to end, against a
// device that records what it is sent, such as the ALSA file device of
// tests/alsa/file_output.conf (which writes each stream to a file of its own:
// NAME, then NAME.0001...).
//
//   tamlor_playback_check ports
//       Lists the audio outputs and the MIDI input ports; fails on an error.
//   tamlor_playback_check record CAPTURE
//       Plays a known block sequence on the default output across stop() and
//       a second start(), and checks that CAPTURE holds the first stream and
//       CAPTURE.0001 the second, every frame in order and converted to 16 bits
//       as documented.
//   tamlor_playback_check failure
//       Starts the default output and plays until the device fails; checks
//       that the failure is reported as documented ("Could not start audio
//       output: ..." from start(), "Audio output failed: ..." from write())
//       and leaves the output stopped. Exit status 3: the device never
//       failed.
//
// Exit status 0 when every check passes, 1 on a failed check, 2 on usage.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <string>
#include <vector>

#include "audio_output/devices.hpp"
#include "device_support/device_error.hpp"
#include "midi_input/ports.hpp"

namespace {

using namespace tamlor;

constexpr std::uint32_t rate = 44100;
constexpr std::uint16_t channels = 2;
constexpr std::uint32_t period = 256;

// Interleaved stereo test signal: sample j walks through the whole 16-bit
// range and a little beyond (so both clip points are reached), with special
// values at fixed places. No frame is silent, so lost or inserted silence
// shows.
float signal(std::uint64_t j) {
    switch (j % 9973) {
        case 11: return std::numeric_limits<float>::quiet_NaN();
        case 12: return std::numeric_limits<float>::infinity();
        case 13: return -std::numeric_limits<float>::infinity();
        case 14: return 1.0f;
        case 15: return -1.0f;
        case 16: return 2.5f / 32768.0f;  // a tie: rounds to the even 2
        case 17: return -3.5f / 32768.0f;  // a tie: rounds to the even -4
        default: break;
    }
    const std::int64_t step = static_cast<std::int64_t>((j * 7919) % 72091) - 36045;
    const float v = static_cast<float>(step) / 32768.0f;
    return v == 0.0f ? 0.25f : v;
}

// The documented conversion, worked out independently of the engine's: clip
// to -1..1, scale by 32768, round to nearest (ties to even), at most 32767;
// NaN is silence.
std::int16_t expected_pcm(float x) {
    if (std::isnan(x)) return 0;
    const double y = std::nearbyint(std::clamp(static_cast<double>(x), -1.0, 1.0) * 32768.0);
    return static_cast<std::int16_t>(std::min(y, 32767.0));
}

std::vector<unsigned char> read_file(const std::string& path, bool& found) {
    std::vector<unsigned char> data;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    found = f != nullptr;
    if (!f) return data;
    unsigned char chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + n);
    std::fclose(f);
    return data;
}

// Compares a captured stream with the samples sent; prints the outcome. A
// device that runs dry (an underrun) plays silence until frames come again,
// and a recording device records it: silent frames are counted and passed
// over (the test signal has none), every other frame must be the next one
// sent.
bool check_capture(const std::string& path, const std::vector<float>& sent, int stream) {
    bool found = false;
    const std::vector<unsigned char> bytes = read_file(path, found);
    if (!found) {
        std::printf("stream %d: FAIL: no capture file %s\n", stream, path.c_str());
        return false;
    }
    if (bytes.size() % (2u * channels) != 0) {
        std::printf("stream %d: FAIL: %zu bytes captured, not a whole number of frames\n", stream, bytes.size());
        return false;
    }
    auto sample = [&](std::size_t i) { return static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)); };
    const std::size_t frames_sent = sent.size() / channels;
    const std::size_t frames_got = bytes.size() / (2u * channels);
    std::size_t next = 0, silent = 0, gaps = 0;
    bool in_gap = false;
    for (std::size_t f = 0; f < frames_got; ++f) {
        bool quiet = true;
        for (std::size_t c = 0; c < channels; ++c) quiet = quiet && sample(f * channels + c) == 0;
        if (quiet) {
            ++silent;
            gaps += in_gap ? 0 : 1;
            in_gap = true;
            continue;
        }
        in_gap = false;
        if (next == frames_sent) {
            std::printf("stream %d: FAIL: frame %zu of the capture is beyond the %zu frames sent\n", stream, f,
                        frames_sent);
            return false;
        }
        for (std::size_t c = 0; c < channels; ++c) {
            const std::size_t i = next * channels + c;
            if (sample(f * channels + c) != expected_pcm(sent[i])) {
                std::printf("stream %d: FAIL: frame %zu sent (%zu captured) channel %zu is %d, expected %d (sent %.9g)\n",
                            stream, next, f, c, sample(f * channels + c), expected_pcm(sent[i]),
                            static_cast<double>(sent[i]));
                return false;
            }
        }
        ++next;
    }
    if (next != frames_sent) {
        std::printf("stream %d: FAIL: %zu of %zu frames arrived\n", stream, next, frames_sent);
        return false;
    }
    std::printf("stream %d: all %zu frames arrived in order, converted as documented", stream, frames_sent);
    if (silent > 0) std::printf("; %zu frames of silence played in %zu gaps", silent, gaps);
    std::printf("\n");
    return true;
}

// Plays `frames` frames per block from the test signal, continuing at `next`.
void play_blocks(audio_output::Output& out, std::initializer_list<std::size_t> blocks, std::uint64_t& next,
                 std::vector<float>& sent) {
    std::vector<float> block;
    for (std::size_t frames : blocks) {
        block.resize(frames * channels);
        for (float& x : block) x = signal(next++);
        out.write(block.data(), block.size(), [] { return true; });
        sent.insert(sent.end(), block.begin(), block.end());
    }
}

int record(const std::string& capture) {
    bool ok = true;
    audio_output::Output out(audio_output::system_service(), rate, channels, period);
    std::printf("default output: %s\n", out.device_name().c_str());
    std::uint64_t next = 0;
    std::vector<float> first, second;
    // Blocks of one frame, of a period and either side of one, and long ones.
    out.start();
    play_blocks(out, {1, 255, 256, 257, 1000, 4410, 3, 22050}, next, first);
    out.stop();
    const std::uint64_t underruns_first = out.underruns();
    if (out.is_playing()) {
        std::printf("FAIL: still playing after stop()\n");
        ok = false;
    }
    out.start();
    play_blocks(out, {511, 2, 30000, 7}, next, second);
    out.stop();
    std::printf("underruns (counted, not fatal): %llu in stream 1, %llu in stream 2\n",
                static_cast<unsigned long long>(underruns_first), static_cast<unsigned long long>(out.underruns()));

    ok = check_capture(capture, first, 1) && ok;
    ok = check_capture(capture + ".0001", second, 2) && ok;
    bool extra = false;
    read_file(capture + ".0002", extra);
    if (extra) {
        std::printf("FAIL: a third stream was opened (%s.0002)\n", capture.c_str());
        ok = false;
    }
    return ok ? 0 : 1;
}

int ports() {
    bool ok = true;
    try {
        const std::vector<std::string> names = audio_output::system_service().output_names();
        std::printf("audio outputs: %zu\n", names.size());
        for (const std::string& name : names) std::printf("  %s\n", name.c_str());
    } catch (const std::exception& e) {
        std::printf("audio outputs: FAIL: %s\n", e.what());
        ok = false;
    }
    try {
        const std::vector<std::string> names = midi_input::InputClient().list_ports();
        std::printf("MIDI input ports: %zu\n", names.size());
        for (const std::string& name : names) std::printf("  %s\n", name.c_str());
    } catch (const std::exception& e) {
        std::printf("MIDI input ports: FAIL: %s\n", e.what());
        ok = false;
    }
    return ok ? 0 : 1;
}

// Whether `e` is the documented error that begins with `prefix` and the
// output is stopped after it.
bool reported(const devices::DeviceError& e, const char* prefix, const audio_output::Output& out) {
    const bool documented = std::strncmp(e.what(), prefix, std::strlen(prefix)) == 0;
    std::printf("device failure reported: %s\n", e.what());
    if (!documented) std::printf("FAIL: not the documented \"%s...\" error\n", prefix);
    if (out.is_playing()) std::printf("FAIL: still playing after the failure\n");
    return documented && !out.is_playing();
}

int failure() {
    audio_output::Output out(audio_output::system_service(), rate, channels, period);
    std::vector<float> block(rate * channels / 10, 0.25f);
    try {
        out.start();
    } catch (const devices::DeviceError& e) {
        return reported(e, "Could not start audio output: ", out) ? 0 : 1;
    }
    try {
        // Up to ten seconds of audio: a device that fails does so sooner, and a
        // device that stops taking frames is given up after five.
        for (int i = 0; i < 100; ++i) out.write(block.data(), block.size(), [] { return true; });
    } catch (const devices::DeviceError& e) {
        return reported(e, "Audio output failed: ", out) ? 0 : 1;
    }
    out.stop();
    std::printf("the device never failed: ten seconds of audio were taken without an error\n");
    return 3;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 2 && std::strcmp(argv[1], "ports") == 0) return ports();
        if (argc == 3 && std::strcmp(argv[1], "record") == 0) return record(argv[2]);
        if (argc == 2 && std::strcmp(argv[1], "failure") == 0) return failure();
    } catch (const std::exception& e) {
        std::printf("FAIL: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: tamlor_playback_check ports | record CAPTURE | failure\n");
    return 2;
}
