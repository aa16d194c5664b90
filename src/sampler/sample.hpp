// Mono recordings and the key/velocity zones that choose one for a note.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace tamlor::sampler {

// One mono recording: 32-bit frames, the rate they were recorded at, the note
// at which they sound at their own pitch and optional loop points.
//
// The frames never change once the sample is built, so every copy shares one
// immutable store: copying a sample (into a mapping, a map, a sampler or a
// voice) costs the same for ten frames as for ten million, and behaves
// exactly as if each copy owned its frames.
class AudioSample {
public:
    // `root_note` must already be a valid note (0-127).
    explicit AudioSample(std::vector<float> data, std::uint32_t sample_rate = 44100, std::uint8_t root_note = 69);

    std::span<const float> frames() const { return {data_->data(), size()}; }
    std::size_t size() const { return data_->size() - 1; }
    // The frames followed by one more copy of the last frame (0.0 for an
    // empty sample), so a reader at the last frame may read its neighbour
    // without a bounds test and find the same value.
    const float* padded_frames() const { return data_->data(); }
    std::uint32_t sample_rate() const { return sample_rate_; }
    std::uint8_t root_note() const { return root_note_; }
    // Validates the note first; a bad note leaves the sample unchanged.
    void set_root_note(std::uint8_t note);
    // Loop points are stored as given; the sampler decides whether they form
    // a usable loop.
    std::optional<std::size_t> loop_start() const { return loop_start_; }
    std::optional<std::size_t> loop_end() const { return loop_end_; }
    void set_loop_start(std::optional<std::size_t> v) { loop_start_ = v; }
    void set_loop_end(std::optional<std::size_t> v) { loop_end_ = v; }

    // Frames / rate in seconds; 0.0 when the rate is 0.
    double duration_seconds() const;

private:
    std::shared_ptr<const std::vector<float>> data_;  // padded frames; never written
    std::uint32_t sample_rate_;
    std::uint8_t root_note_;
    std::optional<std::size_t> loop_start_;
    std::optional<std::size_t> loop_end_;
};

// A sample with an inclusive note range and an inclusive velocity range. A
// range whose low end is above its high end matches nothing.
class SampleMapping {
public:
    // Validates the bounds in the order note_low, note_high, velocity_low,
    // velocity_high and throws ValueError for the first bad one.
    SampleMapping(AudioSample sample, std::uint8_t note_low, std::uint8_t note_high, std::uint8_t velocity_low,
                  std::uint8_t velocity_high);

    const AudioSample& sample() const { return sample_; }
    std::uint8_t note_low() const { return note_low_; }
    std::uint8_t note_high() const { return note_high_; }
    std::uint8_t velocity_low() const { return velocity_low_; }
    std::uint8_t velocity_high() const { return velocity_high_; }

    bool contains(std::uint8_t note, std::uint8_t velocity) const {
        return note >= note_low_ && note <= note_high_ && velocity >= velocity_low_ && velocity <= velocity_high_;
    }
    // Validates note then velocity (ValueError), then tests the zone.
    bool matches(std::uint8_t note, std::uint8_t velocity) const;

private:
    AudioSample sample_;
    std::uint8_t note_low_;
    std::uint8_t note_high_;
    std::uint8_t velocity_low_;
    std::uint8_t velocity_high_;
};

// Zones in insertion order; the first zone containing a note and velocity wins.
class SampleMap {
public:
    // One zone covering every note and velocity.
    static SampleMap single_sample(const AudioSample& sample);

    void add_mapping(const SampleMapping& mapping) { mappings_.push_back(mapping); }
    // Validates note then velocity (ValueError) before looking at any zone.
    std::optional<AudioSample> find_sample(std::uint8_t note, std::uint8_t velocity) const;
    std::size_t mapping_count() const { return mappings_.size(); }
    const std::vector<SampleMapping>& mappings() const { return mappings_; }

private:
    std::vector<SampleMapping> mappings_;
};

}  // namespace tamlor::sampler
