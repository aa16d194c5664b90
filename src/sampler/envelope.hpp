// ADSR envelopes: the four parameters a sampler applies to every note, and the
// per-frame generator that turns them into a gain curve for one voice.
#pragma once

#include <cstdint>

namespace tamlor::sampler {

// Attack, decay and release times in seconds, sustain as a level. Every
// write clamps: times below or equal to 0.0 (and NaN) store 0.0, the sustain
// level is held to 0.0..1.0 (a NaN sustain is stored as it is).
class Envelope {
public:
    explicit Envelope(double attack = 0.005, double decay = 0.1, double sustain = 0.8, double release = 0.1)
        : attack_(clamp_time(attack)),
          decay_(clamp_time(decay)),
          sustain_(clamp_level(sustain)),
          release_(clamp_time(release)) {}

    double attack() const { return attack_; }
    double decay() const { return decay_; }
    double sustain() const { return sustain_; }
    double release() const { return release_; }
    void set_attack(double v) { attack_ = clamp_time(v); }
    void set_decay(double v) { decay_ = clamp_time(v); }
    void set_sustain(double v) { sustain_ = clamp_level(v); }
    void set_release(double v) { release_ = clamp_time(v); }

    // IEEE equality of all four fields (a NaN sustain is unequal to itself).
    friend bool operator==(const Envelope&, const Envelope&) = default;

    static double clamp_time(double v) { return v > 0.0 ? v : 0.0; }
    static double clamp_level(double v) { return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v); }

private:
    double attack_;
    double decay_;
    double sustain_;
    double release_;
};

enum class EnvelopeStage : std::uint8_t { Attack, Decay, Sustain, Release, Done };

// The generator state of one sounding note, with its own copy of the
// parameters taken when the note started.
struct EnvelopeGenerator {
    Envelope params;
    EnvelopeStage stage = EnvelopeStage::Attack;
    double level = 0.0;          // level of the most recent frame
    double stage_time = 0.0;     // seconds spent in the current stage
    double release_level = 0.0;  // level when the release began

    explicit EnvelopeGenerator(const Envelope& e) : params(e) {}

    // Advances one output frame. Returns false once the envelope has
    // finished (the frame then contributes nothing); otherwise `level` holds
    // the level for this frame. At most one division per frame.
    bool step(double frame_period) {
        switch (stage) {
            case EnvelopeStage::Attack:
                if (params.attack() <= 0.0) {
                    level = 1.0;
                    stage = EnvelopeStage::Decay;
                    stage_time = 0.0;
                } else {
                    level = stage_time / params.attack();
                    if (level >= 1.0) {
                        level = 1.0;
                        stage = EnvelopeStage::Decay;
                        stage_time = 0.0;
                    }
                }
                break;
            case EnvelopeStage::Decay:
                if (params.decay() <= 0.0) {
                    level = params.sustain();
                    stage = EnvelopeStage::Sustain;
                } else {
                    level = 1.0 - (stage_time / params.decay()) * (1.0 - params.sustain());
                    if (params.sustain() >= level) {
                        level = params.sustain();
                        stage = EnvelopeStage::Sustain;  // stage_time runs on
                    }
                }
                break;
            case EnvelopeStage::Sustain:
                level = params.sustain();
                break;
            case EnvelopeStage::Release:
                if (params.release() <= 0.0) {
                    level = 0.0;
                    stage = EnvelopeStage::Done;
                    return false;
                }
                level = (1.0 - stage_time / params.release()) * release_level;
                if (level <= 0.0) {
                    level = 0.0;
                    stage = EnvelopeStage::Done;
                    return false;
                }
                break;
            case EnvelopeStage::Done:
                return false;
        }
        stage_time += frame_period;
        return true;
    }

    // Note-off: any stage but Done falls from the current level, restarting
    // the release clock (a second release restarts from where the first got).
    void release() {
        if (stage == EnvelopeStage::Done) return;
        stage = EnvelopeStage::Release;
        stage_time = 0.0;
        release_level = level;
    }
};

}  // namespace tamlor::sampler
