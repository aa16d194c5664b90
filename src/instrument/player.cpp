#include "instrument/player.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>

#include "common/errors.hpp"

namespace tamlor::instrument {

SampleData::SampleData(std::vector<float> frames, std::uint32_t channels)
    : data_(std::make_shared<const std::vector<float>>(std::move(frames))),
      channels_(channels),
      frames_(std::get<Float>(data_)->size() / channels) {}

SampleData::SampleData(std::vector<std::int16_t> frames, std::uint32_t channels)
    : data_(std::make_shared<const std::vector<std::int16_t>>(std::move(frames))),
      channels_(channels),
      frames_(std::get<Int16>(data_)->size() / channels) {}

std::uint64_t stage_frames(double seconds, std::uint32_t rate) {
    const double f = std::floor(seconds * static_cast<double>(rate) + 0.5);
    // Longer than any song: a stage that never ends in practice.
    constexpr double most = 9.0e15;
    return f > 0.0 ? static_cast<std::uint64_t>(std::min(f, most)) : 0;
}

double zone_increment(const ZoneParams& zone, std::uint8_t key, std::uint32_t output_rate) {
    const double cents =
        (static_cast<double>(key) - static_cast<double>(zone.root_key)) * zone.key_tracking + zone.tune_cents;
    return (zone.sample_rate / static_cast<double>(output_rate)) * std::exp2(cents / 1200.0);
}

namespace {

// One value of frame data as a float in -1..1.
template <class T>
inline float at(const T* d, std::size_t i) {
    if constexpr (std::is_same_v<T, float>) return d[i];
    else return static_cast<float>(d[i]) * (1.0f / 32768.0f);
}

// The louder side's gain of a voice, in dB.
double peak_db(const Voice& v) {
    const double g = std::max(std::fabs(static_cast<double>(v.gain_left)), std::fabs(static_cast<double>(v.gain_right)));
    return g > 0.0 ? 20.0 * std::log10(g) : -1000.0;
}

// Starts `stage`: its length in frames, and for a falling stage the factor
// its formula needs (the full-fall length for a linear one, the per-frame
// factor of 100 dB over that length for a decibel one).
void enter(Voice& v, Stage stage) {
    v.stage = stage;
    v.count = 0;
    v.length = 0;
    switch (stage) {
        case Stage::Delay: v.length = v.delay_frames; break;
        case Stage::Attack: v.length = v.attack_frames; break;
        case Stage::Hold: v.length = v.hold_frames; break;
        case Stage::Decay: {
            if (v.sustain >= 1.0 || v.decay_frames == 0) break;
            const auto d = static_cast<double>(v.decay_frames);
            if (v.curve == Curve::Linear) {
                v.length = v.decay_frames;
                v.factor = d;
            } else {
                // Falls 100 dB over the decay time; stops where it meets the
                // sustain level, or (a sustain of silence) where the voice is
                // 100 dB below full scale.
                const double drop = v.sustain > 0.0 ? std::min(100.0, -20.0 * std::log10(v.sustain))
                                                    : 100.0 + std::min(0.0, peak_db(v));
                v.length = static_cast<std::uint64_t>(std::ceil(d * drop / 100.0));
                v.factor = std::pow(10.0, -5.0 / d);
            }
            break;
        }
        case Stage::Sustain: break;
        case Stage::Release: {
            v.from = v.level;
            if (!(v.from > 0.0) || v.release_frames == 0) break;
            const auto r = static_cast<double>(v.release_frames);
            if (v.curve == Curve::Linear) {
                v.length = v.release_frames;
                v.factor = r;
            } else {
                // 100 dB per release time, until the envelope is 100 dB below
                // full level or the voice 100 dB below full scale, whichever
                // comes first: nothing after that could show in any output.
                const double drop = 100.0 + 20.0 * std::log10(v.from) + std::min(0.0, peak_db(v));
                v.length = drop > 0.0 ? static_cast<std::uint64_t>(std::ceil(r * drop / 100.0)) : 0;
                v.factor = std::pow(10.0, -5.0 / r);
            }
            break;
        }
        case Stage::Done: break;
    }
}

// Moves a voice on to the first stage that still has frames to give,
// entering each stage whose frames are spent; false (and Done) once the
// envelope has finished.
inline bool settle(Voice& v) {
    for (;;) {
        switch (v.stage) {
            case Stage::Delay:
            case Stage::Attack:
            case Stage::Hold:
            case Stage::Decay:
                if (v.count < v.length) return true;
                enter(v, static_cast<Stage>(static_cast<int>(v.stage) + 1));
                break;
            case Stage::Sustain:
                if (v.sustain > 0.0) return true;
                v.level = 0.0;
                v.stage = Stage::Done;
                return false;
            case Stage::Release:
                if (v.count < v.length) return true;
                v.level = 0.0;
                v.stage = Stage::Done;
                return false;
            case Stage::Done:
                return false;
        }
    }
}

// The data a voice reads and the bounds of its reading.
template <class T>
struct Reading {
    const T* d;
    double end;          // one past the last frame read
    std::size_t last;    // the last frame read
    bool loop;           // the loop repeats (it cannot change during a render)
    std::size_t loop_first, loop_stop;
    double loop_start, loop_end, loop_length;
};

// Adds `run` frames of one voice, all in its current envelope stage, from
// out[2 * i] on. Per frame: the stage's level (times a choke fade), a 32-bit
// linear interpolation per channel, gain * (level * y) added to each side,
// then the read position moves on, wrapping inside an active loop. Returns
// the frames done; fewer than `run` when the voice finished.
template <class T, int Channels, class Level>
std::size_t run_stage(Voice& v, const Reading<T>& r, float* out, std::size_t i, std::size_t run,
                      std::uint32_t choke, Level&& level) {
    // The voice's moving parts live in locals for the loop and are written
    // back at the end.
    double pos = v.position;
    std::uint64_t count = v.count;
    double current = v.level;
    std::uint32_t choke_left = v.choke_left;
    const double inc = v.increment;
    const float gl = v.gain_left;
    const float gr = v.gain_right;
    const auto loop_first = static_cast<std::int64_t>(r.loop_first);
    const auto loop_stop = static_cast<std::int64_t>(r.loop_stop);
    const auto last = static_cast<std::int64_t>(r.last);
    // The read position that ends a stretch of plain frames: the loop's end
    // while it repeats, else the data's end.
    const double limit = r.loop ? r.loop_end : r.end;
    bool finished = false;
    float* o = out + 2 * i;

    // One frame at level e: a 32-bit linear interpolation per channel, and
    // gain * (level * y) added to each side. 0 <= pos < end, so the signed
    // conversion is exact (and cheaper than the unsigned one).
    const auto add = [&](double e) {
        const auto idx = static_cast<std::int64_t>(pos);
        std::int64_t next = idx + 1;
        if (r.loop && next == loop_stop) next = loop_first;  // across the loop seam
        if (next > last) next = last;                        // never past the end
        const float frac = static_cast<float>(pos - static_cast<double>(idx));
        const float lv = static_cast<float>(e);
        if constexpr (Channels == 1) {
            const float x0 = at(r.d, static_cast<std::size_t>(idx));
            const float x1 = at(r.d, static_cast<std::size_t>(next));
            const float y = frac * (x1 - x0) + x0;
            o[0] += gl * (lv * y);
            o[1] += gr * (lv * y);
        } else {
            const float l0 = at(r.d, static_cast<std::size_t>(2 * idx));
            const float l1 = at(r.d, static_cast<std::size_t>(2 * next));
            const float r0 = at(r.d, static_cast<std::size_t>(2 * idx + 1));
            const float r1 = at(r.d, static_cast<std::size_t>(2 * next + 1));
            o[0] += gl * (lv * (frac * (l1 - l0) + l0));
            o[1] += gr * (lv * (frac * (r1 - r0) + r0));
        }
        o += 2;
    };

    std::size_t k = 0;
    while (k < run) {
        if (choke_left == 0 && pos < limit) {
            // Plain frames: no fade, and the position below the limit.
            for (; k < run && pos < limit; ++k) {
                current = level(count, current);
                ++count;
                add(current);
                pos += inc;
            }
        } else {
            // One frame with everything checked: a choke fade, or a read
            // position at or past the loop's end (a start beyond it).
            double e = level(count, current);
            current = e;
            ++count;
            if (choke_left) {
                if (--choke_left == 0) {
                    finished = true;
                    break;
                }
                e *= static_cast<double>(choke_left) / static_cast<double>(choke);
            }
            add(e);
            pos += inc;
            ++k;
        }
        if (r.loop && pos >= r.loop_end) pos = r.loop_start + std::fmod(pos - r.loop_start, r.loop_length);
        if (!(pos < r.end)) {
            finished = true;
            break;
        }
    }
    v.position = pos;
    v.count = count;
    v.level = current;
    v.choke_left = choke_left;
    if (finished) v.stage = Stage::Done;
    return k;
}

// Adds one voice's next `frames` frames into `out`, stage by stage, marking
// it Done when it finishes.
template <class T, int Channels>
void render_voice(Voice& v, const ZoneParams& z, const T* d, float* out, std::size_t frames,
                  std::uint32_t choke) {
    Reading<T> r{};
    r.d = d;
    r.end = static_cast<double>(z.end);
    r.last = z.end - 1;
    r.loop = z.loop_start < z.loop_end && z.loop_end <= z.end && !v.from_release &&
             (z.loop_mode == LoopMode::Continuous || (z.loop_mode == LoopMode::UntilRelease && !v.released));
    r.loop_first = z.loop_start;
    r.loop_stop = z.loop_end;
    r.loop_start = static_cast<double>(z.loop_start);
    r.loop_end = static_cast<double>(z.loop_end);
    r.loop_length = r.loop_end - r.loop_start;
    std::size_t i = 0;
    while (i < frames && settle(v)) {
        std::size_t run = frames - i;
        if (v.stage != Stage::Sustain) run = static_cast<std::size_t>(std::min<std::uint64_t>(run, v.length - v.count));
        const double length = static_cast<double>(v.length);
        const double factor = v.factor;
        const double sustain = v.sustain;
        const double from = v.from;
        const bool linear = v.curve == Curve::Linear;
        std::size_t done = 0;
        switch (v.stage) {
            case Stage::Delay:
                done = run_stage<T, Channels>(v, r, out, i, run, choke, [](std::uint64_t, double) { return 0.0; });
                break;
            case Stage::Attack:
                done = run_stage<T, Channels>(v, r, out, i, run, choke,
                                              [&](std::uint64_t c, double) { return static_cast<double>(c) / length; });
                break;
            case Stage::Hold:
                done = run_stage<T, Channels>(v, r, out, i, run, choke, [](std::uint64_t, double) { return 1.0; });
                break;
            case Stage::Decay:
                if (linear) {
                    done = run_stage<T, Channels>(v, r, out, i, run, choke, [&](std::uint64_t c, double) {
                        return 1.0 - (static_cast<double>(c) / factor) * (1.0 - sustain);
                    });
                } else {
                    done = run_stage<T, Channels>(v, r, out, i, run, choke, [&](std::uint64_t c, double previous) {
                        return c == 0 ? 1.0 : previous * factor;
                    });
                }
                break;
            case Stage::Sustain:
                done = run_stage<T, Channels>(v, r, out, i, run, choke, [&](std::uint64_t, double) { return sustain; });
                break;
            case Stage::Release:
                if (linear) {
                    done = run_stage<T, Channels>(v, r, out, i, run, choke, [&](std::uint64_t c, double) {
                        return from * (1.0 - static_cast<double>(c) / factor);
                    });
                } else {
                    done = run_stage<T, Channels>(v, r, out, i, run, choke, [&](std::uint64_t c, double previous) {
                        return c == 0 ? from : previous * factor;
                    });
                }
                break;
            case Stage::Done:
                break;
        }
        i += done;
        if (v.stage == Stage::Done) break;
    }
}

}  // namespace

std::uint32_t Player::choke_frames() const {
    const auto f = static_cast<std::uint32_t>(stage_frames(0.002, sample_rate_));
    return f > 0 ? f : 1;
}

std::size_t Player::add_zone(Zone zone) {
    zones_.push_back(std::move(zone));
    return zones_.size() - 1;
}

void Player::choke_for(const std::vector<std::uint32_t>& starting) {
    for (std::uint32_t zi : starting) {
        const std::uint32_t group = zones_[zi].params.group;
        if (group == 0) continue;
        for (Voice& v : state_.voices) {
            if (v.choke_left == 0 && v.stage != Stage::Done && zones_[v.zone].params.off_by == group) {
                v.choke_left = choke_frames();
            }
        }
    }
}

void Player::start_voice(std::uint32_t zi, std::uint64_t id, std::uint8_t key, std::uint8_t velocity,
                         bool from_release) {
    const ZoneParams& z = zones_[zi].params;
    if (z.start >= z.end) return;  // nothing to play
    Voice v;
    v.note_id = id;
    v.zone = zi;
    v.key = key;
    v.velocity = velocity;
    v.released = from_release;
    v.from_release = from_release;
    v.position = static_cast<double>(z.start);
    v.increment = zone_increment(z, key, sample_rate_);
    const double gain = std::pow(10.0, (z.level_db + static_cast<double>(z.velocity_db[velocity])) / 20.0);
    if (zones_[zi].data.channels() == 1) {
        // Constant power: cos and sin of a quarter turn across the field.
        const double theta = (z.pan + 1.0) * 0.25 * std::numbers::pi;
        v.gain_left = static_cast<float>(gain * std::cos(theta));
        v.gain_right = static_cast<float>(gain * std::sin(theta));
    } else {
        // A stereo zone keeps its sides; pan turns one down (balance).
        v.gain_left = static_cast<float>(gain * std::min(1.0, 1.0 - z.pan));
        v.gain_right = static_cast<float>(gain * std::min(1.0, 1.0 + z.pan));
    }
    v.curve = z.curve;
    v.sustain = z.sustain;
    v.delay_frames = stage_frames(z.delay, sample_rate_);
    v.attack_frames = stage_frames(z.attack, sample_rate_);
    v.hold_frames = stage_frames(z.hold, sample_rate_);
    v.decay_frames = stage_frames(z.decay, sample_rate_);
    v.release_frames = stage_frames(z.release, sample_rate_);
    enter(v, Stage::Delay);
    auto& voices = state_.voices;
    // The oldest voice gives way when the limit is reached; after an erase
    // the append cannot reallocate.
    if (!voices.empty() && voices.size() >= max_voices_) voices.erase(voices.begin());
    voices.push_back(v);
}

std::uint64_t Player::note_on(std::uint8_t key, std::uint8_t velocity) {
    const std::uint64_t id = state_.next_id++;
    std::vector<std::uint32_t> starting;
    for (std::size_t i = 0; i < zones_.size(); ++i) {
        const ZoneParams& z = zones_[i].params;
        if (!z.on_release && z.contains(key, velocity)) starting.push_back(static_cast<std::uint32_t>(i));
    }
    choke_for(starting);
    for (std::uint32_t zi : starting) start_voice(zi, id, key, velocity, false);
    auto& held = state_.held;
    // A note never released is forgotten after many others.
    if (held.size() >= 65536) held.erase(held.begin());
    held.push_back({id, key, velocity});
    return id;
}

bool Player::note_off(std::uint64_t handle) {
    auto& held = state_.held;
    const auto it = std::find_if(held.begin(), held.end(), [&](const HeldNote& h) { return h.id == handle; });
    if (it == held.end()) return false;
    const HeldNote note = *it;
    held.erase(it);
    for (Voice& v : state_.voices) {
        if (v.note_id != handle || v.released) continue;
        v.released = true;
        if (zones_[v.zone].params.loop_mode != LoopMode::OneShot && v.stage != Stage::Done) enter(v, Stage::Release);
    }
    std::vector<std::uint32_t> starting;
    for (std::size_t i = 0; i < zones_.size(); ++i) {
        const ZoneParams& z = zones_[i].params;
        if (z.on_release && z.contains(note.key, note.velocity)) starting.push_back(static_cast<std::uint32_t>(i));
    }
    choke_for(starting);
    for (std::uint32_t zi : starting) start_voice(zi, handle, note.key, note.velocity, true);
    return true;
}

void Player::release_key(std::uint8_t key) {
    std::vector<std::uint64_t> ids;
    for (const HeldNote& h : state_.held) {
        if (h.key == key) ids.push_back(h.id);
    }
    for (std::uint64_t id : ids) note_off(id);
}

void Player::all_notes_off() {
    std::vector<std::uint64_t> ids;
    for (const HeldNote& h : state_.held) ids.push_back(h.id);
    for (std::uint64_t id : ids) note_off(id);
}

void Player::panic() {
    state_.voices.clear();
    state_.held.clear();
}

void Player::render(float* out, std::size_t frames) {
    const std::uint32_t choke = choke_frames();
    for (Voice& v : state_.voices) {
        if (v.stage == Stage::Done) continue;
        const Zone& zone = zones_[v.zone];
        const bool stereo = zone.data.channels() == 2;
        if (zone.data.is_int16()) {
            if (stereo) render_voice<std::int16_t, 2>(v, zone.params, zone.data.int16s(), out, frames, choke);
            else render_voice<std::int16_t, 1>(v, zone.params, zone.data.int16s(), out, frames, choke);
        } else {
            if (stereo) render_voice<float, 2>(v, zone.params, zone.data.floats(), out, frames, choke);
            else render_voice<float, 1>(v, zone.params, zone.data.floats(), out, frames, choke);
        }
    }
    std::erase_if(state_.voices, [](const Voice& v) { return v.stage == Stage::Done; });
}

void Player::set_state(State state) {
    const auto finite = [](double x) { return std::isfinite(x); };
    for (const Voice& v : state.voices) {
        if (v.zone >= zones_.size()) throw ValueError("a voice plays zone " + std::to_string(v.zone) + " of " + std::to_string(zones_.size()));
        const ZoneParams& z = zones_[v.zone].params;
        const bool ok = v.stage <= Stage::Done && v.key <= 127 && v.velocity <= 127 && finite(v.position) &&
                        v.position >= static_cast<double>(0) && v.position < static_cast<double>(z.end) &&
                        finite(v.increment) && v.increment > 0.0 && finite(v.level) && finite(v.factor) &&
                        v.factor > 0.0 && finite(v.from) && finite(v.sustain) && std::isfinite(v.gain_left) &&
                        std::isfinite(v.gain_right) && v.choke_left <= choke_frames() && v.curve <= Curve::Decibels;
        if (!ok) throw ValueError("a saved voice is out of range");
    }
    for (const HeldNote& h : state.held) {
        if (h.key > 127 || h.velocity > 127) throw ValueError("a saved note is out of range");
    }
    state_ = std::move(state);
}

}  // namespace tamlor::instrument
