// The player of a sampled instrument: voices started from its zones by key
// and velocity, shaped by delay-attack-hold-decay-sustain-release envelopes,
// rendered into interleaved stereo.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "instrument/zone.hpp"

namespace tamlor::instrument {

enum class Stage : std::uint8_t { Delay, Attack, Hold, Decay, Sustain, Release, Done };

// One sounding zone of one note. Every field is plain data so that a whole
// voice list can be saved and restored as it is.
struct Voice {
    std::uint64_t note_id = 0;   // the note-on that started it
    std::uint32_t zone = 0;      // index into the player's zones
    std::uint8_t key = 0;
    std::uint8_t velocity = 0;
    Stage stage = Stage::Delay;
    bool released = false;       // its key has been released
    double position = 0.0;       // fractional read position, in frames of the data
    double increment = 0.0;      // advance per output frame
    double level = 0.0;          // envelope level of the latest frame
    double factor = 1.0;         // per-frame factor of a decibel-linear stage
    double from = 0.0;           // level where the release began
    std::uint64_t count = 0;     // frames spent in the stage
    std::uint64_t length = 0;    // frames the stage lasts
    std::uint32_t choke_left = 0;  // frames left of a choke fade (0: not choked)
    float gain_left = 0.0f;      // level, velocity and pan, per output side
    float gain_right = 0.0f;
    bool from_release = false;   // started by a key's release: never loops, never released
    Curve curve = Curve::Linear;
    double sustain = 1.0;        // the zone's sustain level
    // Stage lengths in frames at the output rate; decay and release are the
    // times of a full fall (to the sustain level, or by 100 dB).
    std::uint64_t delay_frames = 0, attack_frames = 0, hold_frames = 0, decay_frames = 0, release_frames = 0;
};

// A note-on whose key is still down, kept for its release.
struct HeldNote {
    std::uint64_t id;
    std::uint8_t key;
    std::uint8_t velocity;
};

// Frames per envelope stage at an output rate: seconds * rate, rounded.
std::uint64_t stage_frames(double seconds, std::uint32_t rate);

// Read-position advance per output frame for `key` on `zone`: the data's rate
// over the output rate, times 2^(cents / 1200) where cents is the distance
// from the root key times the key tracking plus the zone's tuning.
double zone_increment(const ZoneParams& zone, std::uint8_t key, std::uint32_t output_rate);

class Player {
public:
    // Everything that changes while notes play: what save/restore covers.
    struct State {
        std::vector<Voice> voices;  // oldest first
        std::vector<HeldNote> held;
        std::uint64_t next_id = 1;
    };

    explicit Player(std::uint32_t sample_rate = 44100, std::size_t max_voices = 64)
        : sample_rate_(sample_rate), max_voices_(max_voices) {}

    std::uint32_t sample_rate() const { return sample_rate_; }
    std::size_t max_voices() const { return max_voices_; }
    void set_max_voices(std::size_t v) { max_voices_ = v; }
    // Frames over which a choked voice fades out: 2 ms at the output rate, at least one.
    std::uint32_t choke_frames() const;

    // Appends a zone (the caller has checked it); returns its index.
    std::size_t add_zone(Zone zone);
    const std::vector<Zone>& zones() const { return zones_; }

    // Starts every attack zone that contains the key and velocity (layers
    // all sound), first choking the sounding voices that any of them cuts
    // off. Returns the note's handle, which note_off takes.
    std::uint64_t note_on(std::uint8_t key, std::uint8_t velocity);
    // Releases the voices of that note-on only and starts the release zones
    // of its key and velocity. An unknown or already released handle does
    // nothing and gives false.
    bool note_off(std::uint64_t handle);
    // note_off for every held note of the key.
    void release_key(std::uint8_t key);
    void all_notes_off();
    // Silences everything at once and forgets held notes.
    void panic();
    std::size_t active_voice_count() const { return state_.voices.size(); }

    // Adds the next `frames` frames of every voice into `out` (2 * frames
    // interleaved values the caller has zeroed or filled), then drops the
    // voices that finished. Allocates nothing.
    void render(float* out, std::size_t frames);

    const State& state() const { return state_; }
    State& state() { return state_; }
    // Checks a state before taking it (ValueError for a voice that names no
    // zone, or any value out of its range); nothing changes on failure.
    void set_state(State state);

private:
    // Starts a choke fade on the sounding voices that a new voice of any of
    // these zones cuts off.
    void choke_for(const std::vector<std::uint32_t>& starting);
    void start_voice(std::uint32_t zone, std::uint64_t id, std::uint8_t key, std::uint8_t velocity, bool from_release);

    std::vector<Zone> zones_;
    State state_;
    std::uint32_t sample_rate_;
    std::size_t max_voices_;
};

}  // namespace tamlor::instrument
