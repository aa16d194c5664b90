// Python classes of the sampling engine: envelopes, samples, zone maps and
// the polyphonic sampler.
#include <algorithm>
#include <memory>
#include <optional>
#include <string>

#include "common/float_text.hpp"
#include "kit/blocks.hpp"
#include "kit/buffer.hpp"
#include "kit/kit.hpp"
#include "kit/persist.hpp"
#include "kit/values.hpp"
#include "registry.hpp"
#include "sampler/envelope.hpp"
#include "sampler/sample.hpp"
#include "sampler/sampler.hpp"

namespace tamlor::py {
namespace {

using sampler::AudioSample;
using sampler::Envelope;
using sampler::SampleMap;
using sampler::SampleMapping;
using sampler::Sampler;
using namespace kit;

// ---------------------------------------------------------------------------
// Envelope

Params envelope_new_params{as_constructor, "Envelope", {"attack=0.005", "decay=0.1", "sustain=0.8", "release=0.1"}};

PyObject* envelope_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        NewArgs a(envelope_new_params, args, kwargs);
        const double attack = a.f64(0);
        const double decay = a.f64(1);
        const double sustain = a.f64(2);
        const double release = a.f64(3);
        return create(type, Envelope(attack, decay, sustain, release));
    });
}

std::string envelope_repr(const Envelope& e) {
    std::string s = "Envelope(A=";
    text::append_fixed(s, e.attack(), 3);
    s += ", D=";
    text::append_fixed(s, e.decay(), 3);
    s += ", S=";
    text::append_fixed(s, e.sustain(), 2);
    s += ", R=";
    text::append_fixed(s, e.release(), 3);
    s += ")";
    return s;
}

Reduced envelope_reduce(const Envelope& e) {
    return {nullptr, Ref(tuple(e.attack(), e.decay(), e.sustain(), e.release())), {}};
}

PyMethodDef envelope_methods[] = {
    def_reduce<envelope_reduce>(),
    def_copy<Envelope>(),
    def_deepcopy<Envelope>(),
    end_methods,
};

PyGetSetDef envelope_properties[] = {
    property("attack", get<&Envelope::attack>, set<&Envelope::set_attack, "val">),
    property("decay", get<&Envelope::decay>, set<&Envelope::set_decay, "val">),
    property("sustain", get<&Envelope::sustain>, set<&Envelope::set_sustain, "val">),
    property("release", get<&Envelope::release>, set<&Envelope::set_release, "val">),
    end_properties,
};

PyType_Slot envelope_slots[] = {
    slot(Py_tp_doc, envelope_new_params.doc()),
    slot(Py_tp_new, envelope_new),
    slot(Py_tp_dealloc, dealloc<Envelope>),
    slot(Py_tp_repr, repr<envelope_repr>),
    slot(Py_tp_richcompare, richcompare<Envelope>),
    slot(Py_tp_hash, PyObject_HashNotImplemented),
    slot(Py_tp_getset, envelope_properties),
    slot(Py_tp_methods, envelope_methods),
    end_slots,
};

// ---------------------------------------------------------------------------
// AudioSample

Params sample_new_params{as_constructor, "AudioSample", {"data", "sample_rate=44100", "root_note=69"}};

PyObject* sample_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        NewArgs a(sample_new_params, args, kwargs);
        std::vector<float> data = a.f32_vector(0);
        const std::uint32_t sample_rate = a.u32(1);
        const std::uint8_t root_note = a.u8(2);
        return create(type, AudioSample(std::move(data), sample_rate, root_note));
    });
}

std::string sample_repr(const AudioSample& s) {
    std::string r = "AudioSample(samples=" + std::to_string(s.size()) + ", sr=" + std::to_string(s.sample_rate()) +
                    ", root_note=" + std::to_string(s.root_note()) + ", duration=";
    text::append_fixed(r, s.duration_seconds(), 3);
    r += "s)";
    return r;
}

PyObject* sample_data(const AudioSample& s) { return float_list(s.frames().data(), s.size()); }

Reduced sample_reduce(const AudioSample& s) {
    Ref data(sample_data(s));
    return {nullptr, Ref(tuple(data.get(), s.sample_rate(), s.root_note())),
            Ref(tuple(s.loop_start(), s.loop_end()))};
}

void sample_restore(AudioSample& s, PyObject* state) {
    const StateTuple st("AudioSample", state, 2);
    const auto loop_start = st.get<std::optional<std::size_t>>(0, "loop_start");
    const auto loop_end = st.get<std::optional<std::size_t>>(1, "loop_end");
    s.set_loop_start(loop_start);
    s.set_loop_end(loop_end);
}

PyGetSetDef sample_properties[] = {
    property("sample_rate", get<&AudioSample::sample_rate>),
    property("root_note", get<&AudioSample::root_note>, set<&AudioSample::set_root_note, "note">),
    // None removes a loop point; an int stores it as given.
    property("loop_start", get<&AudioSample::loop_start>, set<&AudioSample::set_loop_start, "start">),
    property("loop_end", get<&AudioSample::loop_end>, set<&AudioSample::set_loop_end, "end">),
    end_properties,
};

PyMethodDef sample_methods[] = {
    def("duration_seconds", noargs<&AudioSample::duration_seconds>, "duration_seconds($self)\n--\n\n"),
    def("data", noargs<sample_data>, "data($self)\n--\n\n"),
    def_reduce<sample_reduce>(),
    def_setstate<sample_restore>(),
    def_copy<AudioSample>(),
    def_deepcopy<AudioSample>(),
    end_methods,
};

PyType_Slot sample_slots[] = {
    slot(Py_tp_doc, sample_new_params.doc()),
    slot(Py_tp_new, sample_new),
    slot(Py_tp_dealloc, dealloc<AudioSample>),
    slot(Py_tp_repr, repr<sample_repr>),
    slot(Py_sq_length, length<&AudioSample::size>),
    slot(Py_tp_getset, sample_properties),
    slot(Py_tp_methods, sample_methods),
    end_slots,
};

// ---------------------------------------------------------------------------
// SampleMapping

Params mapping_new_params{
    as_constructor, "SampleMapping", {"sample", "note_low", "note_high", "velocity_low", "velocity_high"}};
Params matches_params{as_method, "matches", {"note", "velocity"}};

PyObject* mapping_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        NewArgs a(mapping_new_params, args, kwargs);
        AudioSample sample = a.instance<AudioSample>(0);
        const std::uint8_t note_low = a.u8(1);
        const std::uint8_t note_high = a.u8(2);
        const std::uint8_t velocity_low = a.u8(3);
        const std::uint8_t velocity_high = a.u8(4);
        return create(type, SampleMapping(std::move(sample), note_low, note_high, velocity_low, velocity_high));
    });
}

std::string mapping_repr(const SampleMapping& m) {
    return "SampleMapping(notes=" + std::to_string(m.note_low()) + "-" + std::to_string(m.note_high()) +
           ", vel=" + std::to_string(m.velocity_low()) + "-" + std::to_string(m.velocity_high()) + ")";
}

Reduced mapping_reduce(const SampleMapping& m) {
    Ref sample(wrap(m.sample()));
    return {nullptr,
            Ref(tuple(sample.get(), m.note_low(), m.note_high(), m.velocity_low(), m.velocity_high())), {}};
}

PyMethodDef mapping_methods[] = {
    def("matches", method<&SampleMapping::matches, matches_params>, matches_params),
    def_reduce<mapping_reduce>(),
    def_copy<SampleMapping>(),
    def_deepcopy<SampleMapping>(),
    end_methods,
};

PyType_Slot mapping_slots[] = {
    slot(Py_tp_doc, mapping_new_params.doc()),
    slot(Py_tp_new, mapping_new),
    slot(Py_tp_dealloc, dealloc<SampleMapping>),
    slot(Py_tp_repr, repr<mapping_repr>),
    slot(Py_tp_methods, mapping_methods),
    end_slots,
};

// ---------------------------------------------------------------------------
// SampleMap

Params map_new_params{as_constructor, "SampleMap", {}};
Params single_sample_params{as_static, "single_sample", {"sample"}};
Params add_mapping_params{as_method, "add_mapping", {"mapping"}};
Params find_sample_params{as_method, "find_sample", {"note", "velocity"}};

PyObject* map_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        NewArgs a(map_new_params, args, kwargs);
        return create(type, SampleMap());
    });
}

PyObject* map_single_sample(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary([&] {
        Args a(single_sample_params, args, nargs, kwnames);
        const AudioSample sample = a.instance<AudioSample>(0);
        return wrap(SampleMap::single_sample(sample));
    });
}

PyObject* map_find_sample(const SampleMap& map, std::uint8_t note, std::uint8_t velocity) {
    std::optional<AudioSample> found = map.find_sample(note, velocity);
    return found ? wrap(std::move(*found)) : none();
}

std::string map_repr(const SampleMap& m) { return "SampleMap(mappings=" + std::to_string(m.mapping_count()) + ")"; }

Reduced map_reduce(const SampleMap& m) {
    const auto& mappings = m.mappings();
    Ref list(build_list(mappings.size(), [&](std::size_t i) { return wrap(mappings[i]); }));
    return {nullptr, Ref(tuple()), Ref(tuple(list.get()))};
}

// The zones, in lookup order.
void map_restore(SampleMap& m, PyObject* state) {
    const StateTuple st("SampleMap", state, 1);
    const Py_ssize_t n = sequence_length(st[0], "mappings");
    SampleMap restored;
    for_each_item(st[0], "mappings", n, [&](Py_ssize_t, PyObject* item) {
        restored.add_mapping(to_instance<SampleMapping>(item, "mappings"));
    });
    m = std::move(restored);
}

PyMethodDef map_methods[] = {
    def("single_sample", map_single_sample, single_sample_params),
    def("add_mapping", method<&SampleMap::add_mapping, add_mapping_params>, add_mapping_params),
    def("find_sample", method<map_find_sample, find_sample_params>, find_sample_params),
    def("mapping_count", noargs<&SampleMap::mapping_count>, "mapping_count($self)\n--\n\n"),
    def_reduce<map_reduce>(),
    def_setstate<map_restore>(),
    def_copy<SampleMap>(),
    def_deepcopy<SampleMap>(),
    end_methods,
};

PyType_Slot map_slots[] = {
    slot(Py_tp_doc, map_new_params.doc()),
    slot(Py_tp_new, map_new),
    slot(Py_tp_dealloc, dealloc<SampleMap>),
    slot(Py_tp_repr, repr<map_repr>),
    slot(Py_sq_length, length<&SampleMap::mapping_count>),
    slot(Py_tp_methods, map_methods),
    end_slots,
};

// ---------------------------------------------------------------------------
// Sampler

Params sampler_new_params{as_constructor, "Sampler", {"sample", "sample_rate=44100", "max_voices=8"}};
Params set_envelope_params{as_method, "set_envelope", {"envelope"}};
Params note_on_params{as_method, "note_on", {"note", "velocity"}};
Params note_off_params{as_method, "note_off", {"note"}};
Params note_on_sample_params{as_method, "note_on_sample", {"note", "velocity", "sample=None"},
                             "Start a voice of the note that plays the given AudioSample (the sampler's own when "
                             "None), with the sampler's envelope and voice limit. Returns the voice's handle for "
                             "release_voice."};
Params release_voice_params{as_method, "release_voice", {"handle"},
                            "Release the one voice note_on_sample started under this handle, if it still sounds; "
                            "other voices of its note play on. Returns whether it was found."};
Params set_voices_params{as_method, "_set_voices", {"state"}};
Params render_params{as_method, "render", {"frames"}, "Render audio into a list of f32 samples (mono)."};

PyObject* sampler_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        NewArgs a(sampler_new_params, args, kwargs);
        AudioSample sample = a.instance<AudioSample>(0);
        const std::uint32_t sample_rate = a.u32(1);
        const std::size_t max_voices = a.usize(2);
        return create(type, Sampler(std::move(sample), sample_rate, max_voices));
    });
}

PyObject* sampler_render(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return write<Sampler>(self, [&](Sampler& s) {
        Args a(render_params, args, nargs, kwnames);
        const std::size_t frames = a.usize(0);
        return render_float_list(
            s, frames, [](const Sampler& staged) { return staged.voices().size(); },
            [](Sampler& staged, float* out, std::size_t n) { staged.render(out, n); });
    });
}

Params render_into_params{as_method, "render_into", {"out"},
                          "Render len(out) samples (mono) into out, a writable contiguous buffer of 32-bit floats."};

// render(len(out)) written into the caller's buffer. The buffer is checked
// before any voice moves, and the voices move on a staged copy that replaces
// them only once the whole block is written: a signal handler that raises
// part-way leaves the sampler as it was.
PyObject* sampler_render_into(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return write<Sampler>(self, [&](Sampler& s) {
        Args a(render_into_params, args, nargs, kwnames);
        const BufferView out = writable_mono_block(a[0], "out");
        Sampler staged = s;
        fill_floats(out, [&](float* p, std::size_t n) {
            std::fill(p, p + n, 0.0f);
            render_in_chunks(p, n, staged.voices().size(),
                             [&](float* chunk, std::size_t k) { staged.render(chunk, k); });
        });
        s = std::move(staged);
        return none();
    });
}

PyObject* sampler_note_on_sample(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return write<Sampler>(self, [&](Sampler& s) {
        Args a(note_on_sample_params, args, nargs, kwnames);
        const std::uint8_t note = a.u8(0);
        const std::uint8_t velocity = a.u8(1);
        if (!a.given(2) || a[2] == Py_None) return to_py(s.note_on_voice(note, velocity));
        const AudioSample sample = a.instance<AudioSample>(2);
        return to_py(s.note_on_sample(note, velocity, sample));
    });
}

// The full playing state as plain values: (next handle, voices), each voice
// (sample, attack, decay, sustain, release, stage, level, stage time,
// release level, gain, position, increment, active, note, handle). With the
// sample, envelope and voice limit it rebuilds a sampler that renders the
// same bits from here on.
PyObject* sampler_voices(const Sampler& s) {
    const auto& voices = s.voices();
    Ref list(build_list(voices.size(), [&](std::size_t i) {
        const sampler::Voice& v = voices[i];
        const sampler::EnvelopeGenerator& e = v.envelope;
        Ref sample(wrap(v.sample));
        Ref head(tuple(sample.get(), e.params.attack(), e.params.decay(), e.params.sustain(), e.params.release(),
                       static_cast<std::uint8_t>(e.stage), e.level, e.stage_time));
        Ref tail(tuple(e.release_level, v.gain, v.position, v.increment, v.active, v.note, v.id));
        return PySequence_Concat(head.get(), tail.get());
    }));
    return tuple(s.next_handle(), list.get());
}

// Reads back what _voices() gave. Every field is checked before anything
// changes: a read position below 0 or a speed below 0 would read outside the
// sample, so they are refused.
void sampler_set_voices(Sampler& s, PyObject* state) {
    const StateTuple st("Sampler", state, 2);
    const auto next = st.get<std::uint64_t>(0, "next_handle");
    const Py_ssize_t n = sequence_length(st[1], "voices");
    std::vector<sampler::Voice> voices;
    voices.reserve(static_cast<std::size_t>(std::min<Py_ssize_t>(n, 4096)));
    for_each_item(st[1], "voices", n, [&](Py_ssize_t, PyObject* item) {
        const StateTuple vt("Sampler", item, 15);
        const AudioSample sample = vt.get<AudioSample>(0, "sample");
        const Envelope env(vt.get<double>(1, "attack"), vt.get<double>(2, "decay"), vt.get<double>(3, "sustain"),
                           vt.get<double>(4, "release"));
        const std::uint8_t stage = vt.get<std::uint8_t>(5, "stage");
        if (stage > static_cast<std::uint8_t>(sampler::EnvelopeStage::Done)) bad_state("Sampler", "bad envelope stage");
        const std::uint8_t note = midi::Note::make(vt.get<std::uint8_t>(13, "note")).value;
        const double position = vt.get<double>(10, "position");
        const double increment = vt.get<double>(11, "increment");
        if (position < 0.0 || increment < 0.0) bad_state("Sampler", "a voice reads before its sample");
        sampler::Voice v(sample, env, note, 0, increment);
        v.envelope.stage = static_cast<sampler::EnvelopeStage>(stage);
        v.envelope.level = vt.get<double>(6, "level");
        v.envelope.stage_time = vt.get<double>(7, "stage_time");
        v.envelope.release_level = vt.get<double>(8, "release_level");
        v.gain = vt.get<double>(9, "gain");
        v.position = position;
        v.active = vt.get<bool>(12, "active");
        v.id = vt.get<std::uint64_t>(14, "handle");
        voices.push_back(std::move(v));
    });
    s.restore_voices(std::move(voices), next);
}

PyObject* sampler_set_voices_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return write<Sampler>(self, [&](Sampler& s) {
        Args a(set_voices_params, args, nargs, kwnames);
        sampler_set_voices(s, a[0]);
        return none();
    });
}

// A saved sampler: a copy of the whole engine value (sample, envelope, voice
// limit and every voice with its position and envelope stage) and the
// address of the sampler it was taken from. It travels as a capsule: an
// opaque object whose only use is to be handed back to restore_state.
struct SavedSampler {
    const PyObject* owner;
    Sampler state;
};

constexpr const char* saved_sampler_name = "tamlor.Sampler.state";

void free_saved_sampler(PyObject* capsule) {
    delete static_cast<SavedSampler*>(PyCapsule_GetPointer(capsule, saved_sampler_name));
}

Params save_state_params{as_method, "save_state", {"state=None"},
                         "A snapshot of the whole sampler, for restore_state; given a state this sampler saved "
                         "before, overwrites that one instead of making a new one."};
Params restore_state_params{as_method, "restore_state", {"state"},
                            "Put the sampler back exactly as it was when save_state() returned state."};

// The saved value inside `state`, which must come from save_state on `self`
// (a sampler at the same address since, with a sample of its own, is
// another one: the samples' frames are compared too).
SavedSampler& saved_of(PyObject* self, PyObject* state) {
    auto* saved = static_cast<SavedSampler*>(PyCapsule_GetPointer(state, saved_sampler_name));
    if (!saved) {
        PyErr_Clear();
        raise(PyExc_TypeError, "state must come from Sampler.save_state(), not " + type_name(state));
    }
    const Sampler& s = value_of<Sampler>(self);
    if (saved->owner != self || saved->state.sample().frames().data() != s.sample().frames().data() ||
        saved->state.sample_rate() != s.sample_rate()) {
        raise(PyExc_ValueError, "state was saved from another Sampler");
    }
    return *saved;
}

// Overwriting a state reuses its memory: a song saves every track before
// each block it renders, so that it can take the block back.
PyObject* sampler_save_state(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return read<Sampler>(self, [&](const Sampler& s) -> PyObject* {
        Args a(save_state_params, args, nargs, kwnames);
        if (a.given(0) && a[0] != Py_None) {
            saved_of(self, a[0]).state = s;
            return Py_NewRef(a[0]);
        }
        auto saved = std::make_unique<SavedSampler>(SavedSampler{self, s});
        PyObject* capsule = PyCapsule_New(saved.get(), saved_sampler_name, free_saved_sampler);
        if (!capsule) throw_error_set();
        saved.release();
        return capsule;
    });
}

Params save_states_params{as_static, "save_states", {"samplers", "states"},
                          "save_state(states[i]) for every sampler of samplers, in one call."};

// What a song does before every block it renders, for all of its tracks at
// once: one call instead of one per track.
PyObject* sampler_save_states(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary([&]() -> PyObject* {
        Args a(save_states_params, args, nargs, kwnames);
        const Py_ssize_t n = sequence_length(a[0], "samplers");
        if (sequence_length(a[1], "states") != n) {
            raise(PyExc_ValueError, "samplers and states must have the same length");
        }
        for_each_item(a[0], "samplers", n, [&](Py_ssize_t i, PyObject* sampler) {
            if (!is_exact<Sampler>(sampler)) {
                type_error("samplers", "items must be Sampler, not " + type_name(sampler));
            }
            const Ref state(check(PyList_CheckExact(a[1]) ? Py_XNewRef(PyList_GetItem(a[1], i))
                                                          : PySequence_GetItem(a[1], i)));
            const SharedBorrow guard(sampler);
            saved_of(sampler, state.get()).state = value_of<Sampler>(sampler);
        });
        return none();
    });
}

PyObject* sampler_sample(const Sampler& s) { return wrap(s.sample()); }
PyObject* sampler_envelope(const Sampler& s) { return wrap(s.envelope()); }

// The copy is made before the sampler is touched, so a failure (a state of
// the wrong kind or from another sampler, no memory) changes nothing. A
// state can be restored any number of times.
PyObject* sampler_restore_state(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return write<Sampler>(self, [&](Sampler& s) {
        Args a(restore_state_params, args, nargs, kwnames);
        Sampler restored = saved_of(self, a[0]).state;
        s = std::move(restored);
        return none();
    });
}

std::string sampler_repr(const Sampler& s) {
    return "Sampler(max_voices=" + std::to_string(s.max_voices()) + ", active=" +
           std::to_string(s.active_voice_count()) + ", sr=" + std::to_string(s.sample_rate()) + ")";
}

PyGetSetDef sampler_properties[] = {
    property("max_voices", get<&Sampler::max_voices>, set<&Sampler::set_max_voices, "v">),
    property("sample_rate", get<&Sampler::sample_rate>),
    property("sample", get<sampler_sample>),
    property("envelope", get<sampler_envelope>),
    end_properties,
};

PyMethodDef sampler_methods[] = {
    def("set_envelope", method<&Sampler::set_envelope, set_envelope_params>, set_envelope_params),
    def("note_on", method<&Sampler::note_on, note_on_params>, note_on_params),
    def("note_off", method<&Sampler::note_off, note_off_params>, note_off_params),
    def("note_on_sample", sampler_note_on_sample, note_on_sample_params),
    def("release_voice", method<&Sampler::release_voice, release_voice_params>, release_voice_params),
    def("_voices", noargs<sampler_voices>, "_voices($self)\n--\n\n"),
    def("_set_voices", sampler_set_voices_entry, set_voices_params),
    def("active_voice_count", noargs<&Sampler::active_voice_count>, "active_voice_count($self)\n--\n\n"),
    def("all_notes_off", noargs<&Sampler::all_notes_off>, "all_notes_off($self)\n--\n\n"),
    def("panic", noargs<&Sampler::panic>, "panic($self)\n--\n\n"),
    def("render", sampler_render, render_params),
    def("render_into", sampler_render_into, render_into_params),
    def("save_state", sampler_save_state, save_state_params),
    def("restore_state", sampler_restore_state, restore_state_params),
    def("save_states", sampler_save_states, save_states_params),
    def_no_copy<Sampler, "their sounding voices cannot be read back">(),
    end_methods,
};

PyType_Slot sampler_slots[] = {
    slot(Py_tp_doc, sampler_new_params.doc()),
    slot(Py_tp_new, sampler_new),
    slot(Py_tp_dealloc, dealloc<Sampler>),
    slot(Py_tp_repr, repr<sampler_repr>),
    slot(Py_tp_getset, sampler_properties),
    slot(Py_tp_methods, sampler_methods),
    end_slots,
};

}  // namespace

template <>
PyType_Spec kit::Class<Envelope>::spec = kit::spec<Envelope>("builtins.Envelope", envelope_slots);
template <>
PyType_Spec kit::Class<AudioSample>::spec = kit::spec<AudioSample>("builtins.AudioSample", sample_slots);
template <>
PyType_Spec kit::Class<SampleMapping>::spec = kit::spec<SampleMapping>("builtins.SampleMapping", mapping_slots);
template <>
PyType_Spec kit::Class<SampleMap>::spec = kit::spec<SampleMap>("builtins.SampleMap", map_slots);
template <>
PyType_Spec kit::Class<Sampler>::spec = kit::spec<Sampler>("builtins.Sampler", sampler_slots);

PyTypeObject* types::envelope() { return kit::Class<Envelope>::type(); }
PyTypeObject* types::audio_sample() { return kit::Class<AudioSample>::type(); }
PyTypeObject* types::sample_mapping() { return kit::Class<SampleMapping>::type(); }
PyTypeObject* types::sample_map() { return kit::Class<SampleMap>::type(); }
PyTypeObject* types::sampler() { return kit::Class<Sampler>::type(); }

}  // namespace tamlor::py
