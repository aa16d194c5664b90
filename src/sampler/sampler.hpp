// The polyphonic sampler: voices that play one sample at MIDI pitches,
// shaped by ADSR envelopes, rendered into mono blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "midi/message.hpp"
#include "sampler/envelope.hpp"
#include "sampler/sample.hpp"

namespace tamlor::sampler {

// One sounding note.
struct Voice {
    AudioSample sample;      // shares the sampler's frames
    EnvelopeGenerator envelope;
    double gain;             // velocity / 127
    double position = 0.0;   // fractional read position, in frames
    double increment;        // read-position advance per output frame
    bool active = true;      // cleared when the voice has finished
    std::uint8_t note;
    std::uint64_t id = 0;    // its handle: voices are numbered from 1 as they start

    Voice(const AudioSample& s, const Envelope& e, std::uint8_t note, std::uint8_t velocity, double increment)
        : sample(s), envelope(e), gain(velocity / 127.0), increment(increment), note(note) {}
};

// Read-position advance per output frame for `note`: the sample's rate over
// the output rate, times the ratio of the note's pitch to the root's.
double playback_increment(std::uint8_t root_note, std::uint8_t note, std::uint32_t sample_rate,
                          std::uint32_t output_rate);

class Sampler {
public:
    explicit Sampler(AudioSample sample, std::uint32_t sample_rate = 44100, std::size_t max_voices = 8)
        : sample_(std::move(sample)), max_voices_(max_voices), sample_rate_(sample_rate) {}

    const AudioSample& sample() const { return sample_; }
    std::uint32_t sample_rate() const { return sample_rate_; }
    std::size_t max_voices() const { return max_voices_; }
    // Applies at the next note start; sounding voices are kept.
    void set_max_voices(std::size_t v) { max_voices_ = v; }
    const Envelope& envelope() const { return envelope_; }
    // Voices started from now on use `e`; sounding ones keep theirs.
    void set_envelope(const Envelope& e) { envelope_ = e; }
    const std::vector<Voice>& voices() const { return voices_; }

    // NoteOn starts a voice (velocity 0 included), NoteOff releases every
    // voice of its note; other messages and the channel are ignored.
    void handle_message(const midi::Message& message);
    // Validate note then velocity (ValueError) and apply the message on channel 0.
    void note_on(std::uint8_t note, std::uint8_t velocity);
    void note_off(std::uint8_t note);
    // Validates note then velocity (ValueError) and starts a voice that reads
    // `sample` (its frames, rate, root note and loop points) instead of the
    // sampler's own, under the same voice limit and envelope: how one sampler
    // plays the zones of a sample map. note_off releases it like any other.
    // Returns the new voice's handle (see release_voice).
    std::uint64_t note_on_sample(std::uint8_t note, std::uint8_t velocity, const AudioSample& sample);
    // note_on_sample with the sampler's own sample.
    std::uint64_t note_on_voice(std::uint8_t note, std::uint8_t velocity) {
        return note_on_sample(note, velocity, sample_);
    }
    // Releases the one voice whose start returned `handle`, if it still
    // sounds; other voices of its pitch play on. False when it has gone
    // (finished, stolen or dropped).
    bool release_voice(std::uint64_t handle);
    // The handle the next voice gets; handles count up from 1 and are never reused.
    std::uint64_t next_handle() const { return next_handle_; }
    // Replaces every voice and the handle counter (the inverse of reading
    // voices() and next_handle()); the caller has checked each voice's fields.
    void restore_voices(std::vector<Voice> voices, std::uint64_t next_handle) {
        voices_ = std::move(voices);
        next_handle_ = next_handle;
    }
    std::size_t active_voice_count() const;
    // Releases every voice.
    void all_notes_off();
    // Drops every voice at once.
    void panic() { voices_.clear(); }

    // Adds the next `frames` frames of every voice into `out` (which the
    // caller zeroes), clips the sum to -1..1 (NaN passes through), then
    // drops the voices that finished. Allocates nothing.
    void render(float* out, std::size_t frames);

private:
    // Starts a voice and returns its handle.
    std::uint64_t start_voice(std::uint8_t note, std::uint8_t velocity, const AudioSample& sample);

    AudioSample sample_;
    std::vector<Voice> voices_;  // oldest first
    std::size_t max_voices_;
    Envelope envelope_;
    std::uint32_t sample_rate_;
    std::uint64_t next_handle_ = 1;
};

}  // namespace tamlor::sampler
