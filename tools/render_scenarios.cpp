// Renders a fixed set of scenarios through the engine and writes each one's
// output bytes to a file of its own, so that two builds (two platforms, C
// runtimes or compilers) can be compared byte for byte.
//
// Usage: tamlor_render_scenarios FOLDER
//
// Each scenario writes FOLDER/NAME.bin: its samples as little-endian 32-bit
// floats (and, for the sequencer, its events). The engine's few calls into
// the platform's math library are written as probes, FOLDER/probe-NAME.bin,
// and FOLDER/manifest.txt lists each scenario with the probes it depends on,
// so that a difference can be traced to the math library or not.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "audio/wav.hpp"
#include "generators/oscillator.hpp"
#include "mixer/mixer.hpp"
#include "sampler/sampler.hpp"
#include "sequencer/step_sequencer.hpp"
#include "sequencer/transport_clock.hpp"

namespace {

using namespace tamlor;

constexpr std::uint32_t rate = 44100;

// Bytes in a fixed (little-endian) order, whatever the machine's.
class Bytes {
public:
    void u8(std::uint8_t v) { data_.push_back(v); }
    void u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) u8(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void u64(std::uint64_t v) {
        for (int i = 0; i < 8; ++i) u8(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void f32(float v) { u32(std::bit_cast<std::uint32_t>(v)); }
    void f64(double v) { u64(std::bit_cast<std::uint64_t>(v)); }
    void floats(std::span<const float> v) {
        for (float x : v) f32(x);
    }
    void raw(std::span<const unsigned char> v) { data_.insert(data_.end(), v.begin(), v.end()); }
    const std::vector<unsigned char>& data() const { return data_; }

private:
    std::vector<unsigned char> data_;
};

// Block sizes that do not divide one another, so that block seams fall
// everywhere.
constexpr std::size_t block_sizes[] = {1, 64, 511, 4096, 3, 1000};

// `total` samples drawn from a generator in blocks of changing sizes.
template <class Generator>
void render_blocks(Generator& g, std::size_t total, Bytes& out) {
    std::vector<float> block;
    std::size_t done = 0;
    for (std::size_t k = 0; done < total; ++k) {
        const std::size_t n = std::min(block_sizes[k % std::size(block_sizes)], total - done);
        block.assign(n, 0.0f);
        auto cursor = g.cursor();
        if (k % 7 == 3) {
            for (float& x : block) x = cursor.next();  // one sample at a time
        } else {
            cursor.render(block.data(), n);
        }
        g.commit(cursor);
        out.floats(block);
        done += n;
    }
}

template <class Shape>
Bytes oscillators() {
    Bytes out;
    const double settings[][2] = {{440.0, 1.0}, {27.5, 0.25},   {1000.5, 0.8},  {19999.0, 1.0},
                                  {-330.0, 0.5}, {0.001, 1.0},  {44100.0, 1.0}, {6000.123456789, 0.3}};
    for (const auto& [frequency, amplitude] : settings) {
        generators::Oscillator<Shape> g(frequency, amplitude, rate);
        render_blocks(g, 2 * rate, out);
    }
    return out;
}

Bytes noise() {
    Bytes out;
    const std::pair<double, std::uint64_t> settings[] = {
        {1.0, 42}, {0.5, 0}, {1.0, 0xFFFFFFFFFFFFFFFFull}, {0.125, 0x9E3779B97F4A7C15ull}};
    for (const auto& [amplitude, seed] : settings) {
        generators::NoiseSource g(amplitude, seed);
        render_blocks(g, 2 * rate, out);
    }
    return out;
}

// A one-second decaying tone with some noise in it: a sample to play.
sampler::AudioSample recorded_tone(std::uint32_t sample_rate, std::uint8_t root) {
    generators::SawOscillator saw(220.0, 0.6, sample_rate);
    generators::NoiseSource hiss(0.1, 7);
    std::vector<float> a(sample_rate), b(sample_rate);
    auto c = saw.cursor();
    c.render(a.data(), a.size());
    auto h = hiss.cursor();
    h.render(b.data(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        const float fade = 1.0f - static_cast<float>(i) / static_cast<float>(a.size());
        a[i] = (a[i] + b[i]) * fade;
    }
    return sampler::AudioSample(std::move(a), sample_rate, root);
}

// Renders `frames` frames of a sampler into `out` in blocks of changing sizes.
void render_sampler(sampler::Sampler& s, std::size_t frames, std::vector<float>& out) {
    for (std::size_t done = 0, k = 0; done < frames; ++k) {
        const std::size_t n = std::min(block_sizes[k % std::size(block_sizes)] + 17, frames - done);
        const std::size_t at = out.size();
        out.resize(at + n, 0.0f);
        s.render(out.data() + at, n);
        done += n;
    }
}

Bytes sampler_scenario() {
    sampler::AudioSample looped = recorded_tone(rate, 60);
    looped.set_loop_start(10000);
    looped.set_loop_end(30000);
    sampler::Sampler s(looped, rate, 6);
    s.set_envelope(sampler::Envelope(0.01, 0.2, 0.6, 0.3));
    // A second recording at another rate, without a loop, played as a zone.
    const sampler::AudioSample other = recorded_tone(22050, 72);

    std::vector<float> out;
    const std::uint8_t chord[] = {48, 55, 60, 64, 67};
    for (std::uint8_t note : chord) s.note_on(note, static_cast<std::uint8_t>(40 + note));
    render_sampler(s, rate / 2, out);
    s.note_on_sample(84, 100, other);
    s.note_on_sample(30, 127, other);
    render_sampler(s, rate / 3, out);
    s.note_off(60);
    s.note_off(84);
    s.set_envelope(sampler::Envelope(0.0, 0.0, 1.0, 0.05));
    s.note_on(127, 1);
    s.note_on(0, 127);  // beyond the voice limit: the oldest voice goes
    render_sampler(s, rate, out);
    s.all_notes_off();
    render_sampler(s, rate / 2, out);

    Bytes bytes;
    bytes.floats(out);
    return bytes;
}

Bytes mixer_scenario() {
    const std::size_t frames = rate;
    generators::SineOscillator sine(261.63, 0.9, rate);
    generators::SawOscillator saw(110.0, 0.7, rate);
    generators::SquareOscillator square(55.0, 0.5, rate);
    generators::NoiseSource hiss(0.3, 1234);
    std::vector<std::vector<float>> tracks(4, std::vector<float>(frames));
    auto c0 = sine.cursor();
    c0.render(tracks[0].data(), frames);
    auto c1 = saw.cursor();
    c1.render(tracks[1].data(), frames);
    auto c2 = square.cursor();
    c2.render(tracks[2].data(), frames);
    auto c3 = hiss.cursor();
    c3.render(tracks[3].data(), frames);

    mixer::Mixer m;
    for (const char* name : {"lead", "bass", "sub", "air"}) m.add_channel(name);
    std::vector<std::span<const float>> buffers(tracks.begin(), tracks.end());

    Bytes bytes;
    auto mix = [&] { bytes.floats(m.mix_down(buffers)); };
    // Every pan in steps of 1/16 across the range, on every channel: a tenth
    // of a second each.
    std::vector<std::span<const float>> short_buffers;
    for (const auto& t : tracks) short_buffers.emplace_back(t.data(), frames / 10);
    for (int step = 0; step <= 32; ++step) {
        const float pan = static_cast<float>(step - 16) / 16.0f;
        for (std::size_t ch = 0; ch < 4; ++ch) m.set_channel_pan(ch, ch % 2 ? -pan : pan);
        bytes.floats(m.mix_down(short_buffers));
    }
    m.set_channel_pan(0, -0.3f);
    m.set_channel_pan(1, 0.7f);
    m.set_channel_pan(2, 0.0f);
    m.set_channel_pan(3, 1.0f);
    m.set_channel_gain(0, 1.3f);
    m.set_channel_gain(1, 0.45f);
    m.set_master_gain(1.1f);
    mix();
    m.set_channel_mute(1, true);
    mix();
    m.set_channel_solo(3, true);
    m.set_channel_solo(1, true);  // soloed and muted: still silent
    mix();
    return bytes;
}

// The transport drives a step sequencer block by block; its notes play a
// sampler. Both the events and the audio are written.
Bytes sequencer_scenario() {
    sequencer::TransportClock clock(123.4);
    sequencer::Pattern pattern(16);
    for (std::uint64_t i = 0; i < 16; i += 3) {
        pattern.set_step(i, sequencer::Step{static_cast<std::uint32_t>(1 + i % 4),
                                            static_cast<std::uint8_t>(48 + 5 * i), static_cast<std::uint8_t>(60 + i),
                                            true});
    }
    pattern.set_loop_enabled(true);
    sequencer::StepSequencer steps(pattern, 9);
    steps.set_step_duration(0.25);
    sampler::Sampler s(recorded_tone(rate, 60), rate, 8);

    Bytes events;
    std::vector<float> audio;
    clock.play();
    const std::size_t block = 441;
    for (int k = 0; k < 400; ++k) {
        if (k == 150) clock.set_bpm(97.0);
        if (k == 300) clock.seek(2.125);
        const auto range = clock.advance_by_frames(block, rate);
        if (!range) continue;
        events.f64(range->first);
        events.f64(range->second);
        for (const sequencer::StepEvent& e : steps.process_beat_range(range->first, range->second)) {
            events.u64(e.time);
            events.u8(static_cast<std::uint8_t>(e.kind));
            events.u8(e.channel);
            events.u8(e.note);
            events.u8(e.velocity);
            if (e.kind == sequencer::StepEventKind::NoteOn) {
                s.note_on(e.note, e.velocity);
            } else {
                s.note_off(e.note);
            }
        }
        const std::size_t at = audio.size();
        audio.resize(at + block, 0.0f);
        s.render(audio.data() + at, block);
    }
    events.u64(clock.beats_to_ticks(clock.position()));
    Bytes bytes;
    bytes.raw(events.data());
    bytes.floats(audio);
    return bytes;
}

// A stereo tone past full scale, with a NaN and an infinity, as WAV files in
// both encodings.
Bytes wav_scenario() {
    generators::SineOscillator sine(440.0, 1.2, rate);  // beyond full scale: clipped in 16 bits
    std::vector<float> samples(2 * rate / 4);
    auto c = sine.cursor();
    c.render(samples.data(), samples.size());
    samples[5] = std::numeric_limits<float>::quiet_NaN();
    samples[6] = -std::numeric_limits<float>::infinity();
    Bytes bytes;
    bytes.raw(audio::encode_wav(samples.data(), samples.size(), rate, 2, audio::WavEncoding::pcm16));
    bytes.raw(audio::encode_wav(samples.data(), samples.size(), rate, 2, audio::WavEncoding::float32));
    return bytes;
}

// What the platform's math library gives for the engine's calls into it.
Bytes probe_pitch() {
    Bytes bytes;
    for (int root = 0; root < 128; root += 12) {
        for (int note = 0; note < 128; ++note) {
            bytes.f64(sampler::playback_increment(static_cast<std::uint8_t>(root), static_cast<std::uint8_t>(note),
                                                  rate, rate));
        }
    }
    bytes.f64(sampler::playback_increment(72, 84, 22050, rate));
    bytes.f64(sampler::playback_increment(72, 30, 22050, rate));
    return bytes;
}

Bytes probe_pan() {
    Bytes bytes;
    auto one = [&](float pan) {
        const mixer::PanFactors f = mixer::pan_factors(pan);
        bytes.f32(f.left);
        bytes.f32(f.right);
    };
    for (int step = 0; step <= 32; ++step) one(static_cast<float>(step - 16) / 16.0f);
    for (float pan : {-0.3f, 0.7f, 0.0f, 1.0f}) one(pan);
    return bytes;
}

struct Scenario {
    const char* name;
    const char* probes;  // the probes it depends on, separated by spaces
    std::function<Bytes()> render;
};

bool write_file(const std::string& path, const std::vector<unsigned char>& data) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tamlor_render_scenarios FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    const Scenario scenarios[] = {
        {"sine", "", oscillators<generators::SineShape>},
        {"square", "", oscillators<generators::SquareShape>},
        {"saw", "", oscillators<generators::SawShape>},
        {"noise", "", noise},
        {"sampler", "pitch", sampler_scenario},
        {"mixer", "pan", mixer_scenario},
        {"sequencer", "pitch", sequencer_scenario},
        {"wav", "", wav_scenario},
        {"probe-pitch", "", probe_pitch},
        {"probe-pan", "", probe_pan},
    };
    std::string manifest;
    for (const Scenario& s : scenarios) {
        try {
            const Bytes bytes = s.render();
            if (!write_file(folder + "/" + s.name + ".bin", bytes.data())) {
                std::fprintf(stderr, "cannot write %s/%s.bin\n", folder.c_str(), s.name);
                return 1;
            }
        } catch (const std::exception& e) {
            std::fprintf(stderr, "scenario %s failed: %s\n", s.name, e.what());
            return 1;
        }
        manifest += std::string(s.name) + " " + s.probes + "\n";
    }
    if (!write_file(folder + "/manifest.txt", {manifest.begin(), manifest.end()})) {
        std::fprintf(stderr, "cannot write %s/manifest.txt\n", folder.c_str());
        return 1;
    }
    return 0;
}
