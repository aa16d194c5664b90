#include "sampler/sample.hpp"

#include <utility>

#include "midi/values.hpp"

namespace tamlor::sampler {

namespace {

std::shared_ptr<const std::vector<float>> padded(std::vector<float> data) {
    data.push_back(data.empty() ? 0.0f : data.back());
    return std::make_shared<const std::vector<float>>(std::move(data));
}

}  // namespace

AudioSample::AudioSample(std::vector<float> data, std::uint32_t sample_rate, std::uint8_t root_note)
    : data_(padded(std::move(data))), sample_rate_(sample_rate), root_note_(midi::check_note(root_note)) {}

void AudioSample::set_root_note(std::uint8_t note) { root_note_ = midi::check_note(note); }

double AudioSample::duration_seconds() const {
    if (sample_rate_ == 0) return 0.0;
    return static_cast<double>(size()) / static_cast<double>(sample_rate_);
}

SampleMapping::SampleMapping(AudioSample sample, std::uint8_t note_low, std::uint8_t note_high,
                             std::uint8_t velocity_low, std::uint8_t velocity_high)
    : sample_(std::move(sample)),
      note_low_(midi::check_note(note_low)),
      note_high_(midi::check_note(note_high)),
      velocity_low_(midi::check_velocity(velocity_low)),
      velocity_high_(midi::check_velocity(velocity_high)) {}

bool SampleMapping::matches(std::uint8_t note, std::uint8_t velocity) const {
    midi::check_note(note);
    midi::check_velocity(velocity);
    return contains(note, velocity);
}

SampleMap SampleMap::single_sample(const AudioSample& sample) {
    SampleMap map;
    map.add_mapping(SampleMapping(sample, 0, 127, 0, 127));
    return map;
}

std::optional<AudioSample> SampleMap::find_sample(std::uint8_t note, std::uint8_t velocity) const {
    midi::check_note(note);
    midi::check_velocity(velocity);
    for (const SampleMapping& m : mappings_) {
        if (m.contains(note, velocity)) return m.sample();
    }
    return std::nullopt;
}

}  // namespace tamlor::sampler
