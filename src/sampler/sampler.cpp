#include "sampler/sampler.hpp"

#include <cmath>

namespace tamlor::sampler {

namespace {

// 440 * 2^((note - 69) / 12): the equal-tempered pitch of a MIDI note.
double note_hz(std::uint8_t note) { return std::exp2((static_cast<double>(note) - 69.0) / 12.0) * 440.0; }

// Adds one voice's next `frames` frames into `out`, stopping early when the
// voice finishes. The voice's state is kept in locals for the loop and
// written back at the end. Per frame: envelope, bounds (and loop wrap), a
// 32-bit linear interpolation, and gain * (level * y) added to the frame.
void render_voice(Voice& voice, float* out, std::size_t frames, double frame_period) {
    const float* d = voice.sample.padded_frames();
    const std::size_t n = voice.sample.size();
    const double end = static_cast<double>(n);

    const auto ls = voice.sample.loop_start();
    const auto le = voice.sample.loop_end();
    const bool loops = ls && le && *ls < *le && *le <= n;
    const double loop_start = loops ? static_cast<double>(*ls) : 0.0;
    const double loop_length = loops ? static_cast<double>(*le - *ls) : 0.0;

    EnvelopeGenerator env = voice.envelope;
    double pos = voice.position;
    const double inc = voice.increment;
    const float gain = static_cast<float>(voice.gain);

    // Reads, interpolates and adds frame i at `level`; false when the read
    // position has run past the end (after any loop wrap): the voice is done.
    auto add_frame = [&](std::size_t i, float level) {
        // `!(pos < end)` also catches NaN and positions too large for an index.
        if (!(pos < end)) {
            if (!loops) return false;
            pos = loop_start + std::fmod(pos - loop_start, loop_length);
            if (!(pos < end)) return false;
        }
        // 0 <= pos < n, so the signed conversion is exact (and cheaper than
        // the unsigned one). At the last frame the padding repeats x0: no
        // interpolation past the end or across a loop seam.
        const auto idx = static_cast<std::int64_t>(pos);
        const float x0 = d[idx];
        const float x1 = d[idx + 1];
        const float frac = static_cast<float>(pos - static_cast<double>(idx));
        const float y = frac * (x1 - x0) + x0;
        pos += inc;
        out[i] += gain * (level * y);
        return true;
    };

    bool active = true;
    std::size_t i = 0;
    for (; i < frames && env.stage != EnvelopeStage::Sustain; ++i) {
        if (!env.step(frame_period) || !add_frame(i, static_cast<float>(env.level))) {
            active = false;
            break;
        }
    }
    if (active && i < frames) {
        // Sustain lasts until a release trigger, which cannot come during a
        // render: the rest of the block runs at one level, with the same
        // bookkeeping the generator does per frame.
        env.level = env.params.sustain();
        const float level = static_cast<float>(env.level);
        for (; i < frames; ++i) {
            env.stage_time += frame_period;
            if (!add_frame(i, level)) {
                active = false;
                break;
            }
        }
    }

    voice.envelope = env;
    voice.position = pos;
    voice.active = active;
}

}  // namespace

double playback_increment(std::uint8_t root_note, std::uint8_t note, std::uint32_t sample_rate,
                          std::uint32_t output_rate) {
    const double f_root = note_hz(root_note);
    const double f_note = note_hz(note);
    return (static_cast<double>(sample_rate) / static_cast<double>(output_rate)) * (f_note / f_root);
}

void Sampler::handle_message(const midi::Message& message) {
    switch (message.kind) {
        case midi::MessageKind::NoteOn:
            start_voice(message.data1, message.data2, sample_);
            break;
        case midi::MessageKind::NoteOff:
            for (Voice& v : voices_) {
                if (v.note == message.data1) v.envelope.release();
            }
            break;
        default:
            break;
    }
}

void Sampler::note_on(std::uint8_t note, std::uint8_t velocity) {
    const midi::Note n = midi::Note::make(note);
    const midi::Velocity v = midi::Velocity::make(velocity);
    handle_message(midi::Message::note_on(midi::Channel{0}, n, v));
}

std::uint64_t Sampler::note_on_sample(std::uint8_t note, std::uint8_t velocity, const AudioSample& sample) {
    midi::Note::make(note);
    midi::Velocity::make(velocity);
    return start_voice(note, velocity, sample);
}

bool Sampler::release_voice(std::uint64_t handle) {
    for (Voice& v : voices_) {
        if (v.id == handle && v.active && handle != 0) {
            v.envelope.release();
            return true;
        }
    }
    return false;
}

void Sampler::note_off(std::uint8_t note) {
    const midi::Note n = midi::Note::make(note);
    handle_message(midi::Message::note_off(midi::Channel{0}, n, midi::Velocity{0}));
}

std::size_t Sampler::active_voice_count() const {
    std::size_t count = 0;
    for (const Voice& v : voices_) count += v.active ? 1 : 0;
    return count;
}

void Sampler::all_notes_off() {
    for (Voice& v : voices_) v.envelope.release();
}

std::uint64_t Sampler::start_voice(std::uint8_t note, std::uint8_t velocity, const AudioSample& sample) {
    const double increment = playback_increment(sample.root_note(), note, sample.sample_rate(), sample_rate_);
    // At most one voice is stolen per note start, the oldest, even when a
    // lowered limit leaves more voices than it allows. After an erase the
    // append cannot reallocate; without one, a failed append changes nothing.
    if (!voices_.empty() && voices_.size() >= max_voices_) voices_.erase(voices_.begin());
    voices_.emplace_back(sample, envelope_, note, velocity, increment);
    voices_.back().id = next_handle_;
    return next_handle_++;
}

void Sampler::render(float* out, std::size_t frames) {
    const double frame_period = 1.0 / static_cast<double>(sample_rate_);
    // Voice by voice into the zeroed block: each frame still sums its voices
    // in list order in a 32-bit float, so the result is the same as summing
    // frame by frame, with each voice's state held in registers.
    for (Voice& v : voices_) {
        if (v.active) render_voice(v, out, frames, frame_period);
    }
    for (std::size_t i = 0; i < frames; ++i) {
        const float x = out[i];
        out[i] = x > 1.0f ? 1.0f : (x < -1.0f ? -1.0f : x);  // NaN passes through
    }
    std::erase_if(voices_, [](const Voice& v) { return !v.active; });
}

}  // namespace tamlor::sampler
