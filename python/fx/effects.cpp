// Python classes of the effects: each wraps one engine effect and shares the
// block entry points below (process_into, process, reset, tail_frames,
// copy and pickle with the effect's whole state).
#include <string>
#include <string_view>
#include <vector>

#include "common/float_text.hpp"
#include "fx/delay.hpp"
#include "fx/dynamics.hpp"
#include "fx/filter.hpp"
#include "fx/archive.hpp"
#include "fx/registry.hpp"
#include "fx/reverb.hpp"
#include "kit/buffer.hpp"
#include "kit/kit.hpp"
#include "kit/persist.hpp"
#include "kit/values.hpp"

namespace tamlor::py {

namespace kit {
template <>
inline constexpr const char* home_module<tamlor::fx::Filter> = "tamlor_fx";
template <>
inline constexpr const char* home_module<tamlor::fx::Delay> = "tamlor_fx";
template <>
inline constexpr const char* home_module<tamlor::fx::Reverb> = "tamlor_fx";
template <>
inline constexpr const char* home_module<tamlor::fx::Compressor> = "tamlor_fx";
template <>
inline constexpr const char* home_module<tamlor::fx::Limiter> = "tamlor_fx";
}  // namespace kit

namespace {

using namespace kit;
using tamlor::fx::Compressor;
using tamlor::fx::Delay;
using tamlor::fx::Filter;
using tamlor::fx::Limiter;
using tamlor::fx::Reverb;

// ---------------------------------------------------------------------------
// Shared block entry points

Params process_into_params{
    as_method, "process_into", {"buffer"},
    "Process a block in place: a writable buffer of 32-bit floats, flat (interleaved when stereo) or shaped "
    "(frames, channels)."};
Params process_params{as_method, "process", {"samples"},
                      "Process a list of samples (interleaved when stereo) and return the result as a new list."};

// Blocks longer than this are processed in chunks with a check for Ctrl+C
// between them, on a copy of the effect that replaces it only at the end.
constexpr std::size_t staged_frames = 1 << 16;

// The frames in `view`, refusing any layout but flat interleaved or
// (frames, channels).
std::size_t block_frames(const BufferView& view, std::uint32_t channels, const char* name) {
    if (view.ndim() == 2) {
        if (view.shape(1) != static_cast<Py_ssize_t>(channels)) {
            std::string s = std::string(name) + " must have shape (frames, " + std::to_string(channels) + "), not " +
                            shape_text(view);
            if (view.shape(0) == static_cast<Py_ssize_t>(channels)) s += " (a (channels, frames) block is not accepted; pass its transpose as a contiguous array)";
            raise(PyExc_ValueError, s);
        }
        return static_cast<std::size_t>(view.shape(0));
    }
    if (view.ndim() != 1) raise(PyExc_ValueError, std::string(name) + " must be flat or (frames, channels), not " + shape_text(view));
    if (static_cast<std::size_t>(view.items()) % channels != 0)
        raise(PyExc_ValueError, std::string(name) + " holds " + std::to_string(view.items()) +
                                    " samples, not a whole number of " + std::to_string(channels) + "-channel frames");
    return static_cast<std::size_t>(view.items()) / channels;
}

// Runs the effect over `frames` frames of `data`: at once for a short block,
// else on a staged copy in chunks that can be interrupted, so an interrupted
// call changes neither the effect nor leaves it half-way.
template <class E>
void run(E& effect, float* data, std::size_t frames) {
    if (frames <= staged_frames) {
        effect.process(data, frames);
        return;
    }
    E staged = effect;
    const std::size_t ch = effect.channels();
    for (std::size_t done = 0; done < frames;) {
        const std::size_t k = std::min(staged_frames, frames - done);
        staged.process(data + done * ch, k);
        done += k;
        if (done < frames) check_signals();
    }
    effect = std::move(staged);
}

template <class E>
PyObject* process_into(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return write<E>(self, [&](E& effect) {
        Args a(process_into_params, args, nargs, kwnames);
        const BufferView view = writable_floats(a[0], "buffer");
        const std::size_t frames = block_frames(view, effect.channels(), "buffer");
        if (frames == 0) return none();
        if (float* p = view.direct_floats()) {
            run(effect, p, frames);
        } else {
            std::vector<float> scratch(static_cast<std::size_t>(view.items()));
            view.read_floats(scratch.data());
            E staged = effect;
            run(staged, scratch.data(), frames);
            view.write_floats(scratch.data());
            effect = std::move(staged);
        }
        return none();
    });
}

template <class E>
PyObject* process(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return write<E>(self, [&](E& effect) {
        Args a(process_params, args, nargs, kwnames);
        const FloatRun run_in = FloatRun::read(a[0], "samples");
        const std::span<const float> in = run_in.span();
        const std::uint32_t ch = effect.channels();
        if (in.size() % ch != 0)
            raise(PyExc_ValueError, "samples holds " + std::to_string(in.size()) + " samples, not a whole number of " +
                                        std::to_string(ch) + "-channel frames");
        Ref list = new_list(in.size());
        std::vector<float> out(in.begin(), in.end());
        E staged = effect;
        run(staged, out.data(), out.size() / ch);
        PyObject* result = fill_float_list(std::move(list), out.data(), out.size());
        if (result) effect = std::move(staged);
        return result;
    });
}

template <class E>
PyObject* reset(PyObject* self, PyObject*) {
    return write<E>(self, [](E& effect) { effect.reset(); });
}

template <class E>
std::uint64_t tail_frames(const E& effect) {
    return effect.tail_frames();
}

template <class E>
PyObject* state_bytes(const E& effect) {
    E copy = effect;  // visit() runs in both directions, so it takes a mutable value
    const std::string bytes = tamlor::fx::save_state(copy);
    return check(PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size())));
}

template <class E>
void restore(E& effect, PyObject* state) {
    const char* cls = class_name(Class<E>::spec);
    if (!PyBytes_Check(state)) bad_state(cls, "expected bytes, got " + type_name(state));
    char* data = nullptr;
    Py_ssize_t n = 0;
    if (PyBytes_AsStringAndSize(state, &data, &n) < 0) throw_error_set();
    try {
        tamlor::fx::load_state(effect, std::string_view(data, static_cast<std::size_t>(n)));
    } catch (const tamlor::ValueError& e) {
        bad_state(cls, e.what());
    }
}

template <class E>
PyObject* effect_setstate(PyObject* self, PyObject* state) {
    return write<E>(self, [&](E& effect) { restore(effect, state); });
}

template <class E>
PyMethodDef def_effect_setstate() {
    return PyMethodDef{"__setstate__", effect_setstate<E>, METH_O,
                       "__setstate__($self, state, /)\n--\n\nRestore the state that __reduce__ gave, for pickle."};
}

#define TAMLOR_EFFECT_METHODS(E)                                                        \
    def("process_into", process_into<E>, process_into_params),                          \
        def("process", process<E>, process_params),                                     \
        def("reset", reset<E>, "reset($self)\n--\n\nClear the effect's memory (delay lines, envelopes)."), \
        def_reduce<E##_reduce>(), def_effect_setstate<E>(), def_copy<E>(), def_deepcopy<E>(), end_methods

void append_param(std::string& s, const char* name, double v) {
    s += ", ";
    s += name;
    s += '=';
    text::append_shortest(s, v);
}

// ---------------------------------------------------------------------------
// Filter

Params filter_new_params{as_constructor,
                         "Filter",
                         {"kind", "frequency=1000.0", "q=0.707", "gain_db=0.0", "sample_rate=44100", "channels=2"}};

PyObject* filter_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        NewArgs a(filter_new_params, args, kwargs);
        const std::string kind = a.str(0);
        const double frequency = a.f64(1);
        const double q = a.f64(2);
        const double gain_db = a.f64(3);
        const std::uint32_t rate = a.u32(4);
        const std::uint32_t channels = a.u32(5);
        return create(type, Filter(tamlor::fx::filter_kind(kind), frequency, q, gain_db, rate, channels));
    });
}

std::string filter_repr(const Filter& f) {
    std::string s = "Filter('";
    s += tamlor::fx::filter_kind_name(f.kind());
    s += '\'';
    append_param(s, "frequency", f.frequency());
    append_param(s, "q", f.q());
    append_param(s, "gain_db", f.gain_db());
    s += ", sample_rate=" + std::to_string(f.sample_rate()) + ", channels=" + std::to_string(f.channels()) + ')';
    return s;
}

const char* filter_kind_of(const Filter& f) { return tamlor::fx::filter_kind_name(f.kind()); }
void filter_set_kind(Filter& f, std::string kind) { f.set_kind(tamlor::fx::filter_kind(kind)); }

Reduced Filter_reduce(const Filter& f) {
    return {nullptr,
            Ref(tuple(filter_kind_of(f), f.frequency(), f.q(), f.gain_db(), f.sample_rate(), f.channels())),
            Ref(state_bytes(f))};
}

PyGetSetDef filter_properties[] = {
    property("kind", get<filter_kind_of>, set<filter_set_kind, "value">),
    property("frequency", get<&Filter::frequency>, set<&Filter::set_frequency, "value">),
    property("q", get<&Filter::q>, set<&Filter::set_q, "value">),
    property("gain_db", get<&Filter::gain_db>, set<&Filter::set_gain_db, "value">),
    property("sample_rate", get<&Filter::sample_rate>),
    property("channels", get<&Filter::channels>),
    property("tail_frames", get<tail_frames<Filter>>),
    end_properties,
};

PyMethodDef filter_methods[] = {TAMLOR_EFFECT_METHODS(Filter)};

PyType_Slot filter_slots[] = {
    slot(Py_tp_doc, filter_new_params.doc()),
    slot(Py_tp_new, filter_new),
    slot(Py_tp_dealloc, dealloc<Filter>),
    slot(Py_tp_repr, repr<filter_repr>),
    slot(Py_tp_getset, filter_properties),
    slot(Py_tp_methods, filter_methods),
    end_slots,
};

// ---------------------------------------------------------------------------
// Delay

Params delay_new_params{as_constructor,
                        "Delay",
                        {"time=0.375", "feedback=0.4", "mix=0.3", "sample_rate=44100", "channels=2", "max_time=4.0",
                         "ping_pong=False"}};

PyObject* delay_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        NewArgs a(delay_new_params, args, kwargs);
        const double time = a.f64(0);
        const double feedback = a.f64(1);
        const double mix = a.f64(2);
        const std::uint32_t rate = a.u32(3);
        const std::uint32_t channels = a.u32(4);
        const double max_time = a.f64(5);
        const bool ping_pong = a.boolean(6);
        return create(type, Delay(time, feedback, mix, rate, channels, max_time, ping_pong));
    });
}

std::string delay_repr(const Delay& d) {
    std::string s = "Delay(time=";
    text::append_shortest(s, d.time());
    append_param(s, "feedback", d.feedback());
    append_param(s, "mix", d.mix());
    s += ", sample_rate=" + std::to_string(d.sample_rate()) + ", channels=" + std::to_string(d.channels());
    append_param(s, "max_time", d.max_time());
    s += std::string(", ping_pong=") + (d.ping_pong() ? "True" : "False") + ')';
    return s;
}

Reduced Delay_reduce(const Delay& d) {
    return {nullptr,
            Ref(tuple(d.time(), d.feedback(), d.mix(), d.sample_rate(), d.channels(), d.max_time(), d.ping_pong())),
            Ref(state_bytes(d))};
}

PyGetSetDef delay_properties[] = {
    property("time", get<&Delay::time>, set<&Delay::set_time, "value">),
    property("feedback", get<&Delay::feedback>, set<&Delay::set_feedback, "value">),
    property("mix", get<&Delay::mix>, set<&Delay::set_mix, "value">),
    property("max_time", get<&Delay::max_time>),
    property("ping_pong", get<&Delay::ping_pong>),
    property("sample_rate", get<&Delay::sample_rate>),
    property("channels", get<&Delay::channels>),
    property("tail_frames", get<tail_frames<Delay>>),
    end_properties,
};

PyMethodDef delay_methods[] = {TAMLOR_EFFECT_METHODS(Delay)};

PyType_Slot delay_slots[] = {
    slot(Py_tp_doc, delay_new_params.doc()),
    slot(Py_tp_new, delay_new),
    slot(Py_tp_dealloc, dealloc<Delay>),
    slot(Py_tp_repr, repr<delay_repr>),
    slot(Py_tp_getset, delay_properties),
    slot(Py_tp_methods, delay_methods),
    end_slots,
};

// ---------------------------------------------------------------------------
// Reverb

Params reverb_new_params{as_constructor,
                         "Reverb",
                         {"decay=2.0", "predelay=0.02", "damping=0.5", "width=1.0", "mix=0.25", "sample_rate=44100"}};

PyObject* reverb_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        NewArgs a(reverb_new_params, args, kwargs);
        const double decay = a.f64(0);
        const double predelay = a.f64(1);
        const double damping = a.f64(2);
        const double width = a.f64(3);
        const double mix = a.f64(4);
        const std::uint32_t rate = a.u32(5);
        return create(type, Reverb(decay, predelay, damping, width, mix, rate));
    });
}

std::string reverb_repr(const Reverb& r) {
    std::string s = "Reverb(decay=";
    text::append_shortest(s, r.decay());
    append_param(s, "predelay", r.predelay());
    append_param(s, "damping", r.damping());
    append_param(s, "width", r.width());
    append_param(s, "mix", r.mix());
    s += ", sample_rate=" + std::to_string(r.sample_rate()) + ')';
    return s;
}

Reduced Reverb_reduce(const Reverb& r) {
    return {nullptr, Ref(tuple(r.decay(), r.predelay(), r.damping(), r.width(), r.mix(), r.sample_rate())),
            Ref(state_bytes(r))};
}

PyGetSetDef reverb_properties[] = {
    property("decay", get<&Reverb::decay>, set<&Reverb::set_decay, "value">),
    property("predelay", get<&Reverb::predelay>, set<&Reverb::set_predelay, "value">),
    property("damping", get<&Reverb::damping>, set<&Reverb::set_damping, "value">),
    property("width", get<&Reverb::width>, set<&Reverb::set_width, "value">),
    property("mix", get<&Reverb::mix>, set<&Reverb::set_mix, "value">),
    property("sample_rate", get<&Reverb::sample_rate>),
    property("channels", get<&Reverb::channels>),
    property("tail_frames", get<tail_frames<Reverb>>),
    end_properties,
};

PyMethodDef reverb_methods[] = {TAMLOR_EFFECT_METHODS(Reverb)};

PyType_Slot reverb_slots[] = {
    slot(Py_tp_doc, reverb_new_params.doc()),
    slot(Py_tp_new, reverb_new),
    slot(Py_tp_dealloc, dealloc<Reverb>),
    slot(Py_tp_repr, repr<reverb_repr>),
    slot(Py_tp_getset, reverb_properties),
    slot(Py_tp_methods, reverb_methods),
    end_slots,
};

// ---------------------------------------------------------------------------
// Compressor

Params compressor_new_params{as_constructor,
                             "Compressor",
                             {"threshold_db=-18.0", "ratio=4.0", "attack=0.005", "release=0.1", "knee_db=6.0",
                              "makeup_db=0.0", "sample_rate=44100", "channels=2"}};

PyObject* compressor_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        NewArgs a(compressor_new_params, args, kwargs);
        const double threshold = a.f64(0);
        const double ratio = a.f64(1);
        const double attack = a.f64(2);
        const double release = a.f64(3);
        const double knee = a.f64(4);
        const double makeup = a.f64(5);
        const std::uint32_t rate = a.u32(6);
        const std::uint32_t channels = a.u32(7);
        return create(type, Compressor(threshold, ratio, attack, release, knee, makeup, rate, channels));
    });
}

std::string compressor_repr(const Compressor& c) {
    std::string s = "Compressor(threshold_db=";
    text::append_shortest(s, c.threshold_db());
    append_param(s, "ratio", c.ratio());
    append_param(s, "attack", c.attack());
    append_param(s, "release", c.release());
    append_param(s, "knee_db", c.knee_db());
    append_param(s, "makeup_db", c.makeup_db());
    s += ", sample_rate=" + std::to_string(c.sample_rate()) + ", channels=" + std::to_string(c.channels()) + ')';
    return s;
}

Reduced Compressor_reduce(const Compressor& c) {
    return {nullptr,
            Ref(tuple(c.threshold_db(), c.ratio(), c.attack(), c.release(), c.knee_db(), c.makeup_db(),
                      c.sample_rate(), c.channels())),
            Ref(state_bytes(c))};
}

PyGetSetDef compressor_properties[] = {
    property("threshold_db", get<&Compressor::threshold_db>, set<&Compressor::set_threshold_db, "value">),
    property("ratio", get<&Compressor::ratio>, set<&Compressor::set_ratio, "value">),
    property("attack", get<&Compressor::attack>, set<&Compressor::set_attack, "value">),
    property("release", get<&Compressor::release>, set<&Compressor::set_release, "value">),
    property("knee_db", get<&Compressor::knee_db>, set<&Compressor::set_knee_db, "value">),
    property("makeup_db", get<&Compressor::makeup_db>, set<&Compressor::set_makeup_db, "value">),
    property("reduction_db", get<&Compressor::reduction_db>),
    property("sample_rate", get<&Compressor::sample_rate>),
    property("channels", get<&Compressor::channels>),
    property("tail_frames", get<tail_frames<Compressor>>),
    end_properties,
};

PyMethodDef compressor_methods[] = {TAMLOR_EFFECT_METHODS(Compressor)};

PyType_Slot compressor_slots[] = {
    slot(Py_tp_doc, compressor_new_params.doc()),
    slot(Py_tp_new, compressor_new),
    slot(Py_tp_dealloc, dealloc<Compressor>),
    slot(Py_tp_repr, repr<compressor_repr>),
    slot(Py_tp_getset, compressor_properties),
    slot(Py_tp_methods, compressor_methods),
    end_slots,
};

// ---------------------------------------------------------------------------
// Limiter

Params limiter_new_params{as_constructor,
                          "Limiter",
                          {"ceiling_db=-0.3", "release=0.05", "lookahead=0.005", "sample_rate=44100", "channels=2"}};

PyObject* limiter_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        NewArgs a(limiter_new_params, args, kwargs);
        const double ceiling = a.f64(0);
        const double release = a.f64(1);
        const double lookahead = a.f64(2);
        const std::uint32_t rate = a.u32(3);
        const std::uint32_t channels = a.u32(4);
        return create(type, Limiter(ceiling, release, lookahead, rate, channels));
    });
}

std::string limiter_repr(const Limiter& l) {
    std::string s = "Limiter(ceiling_db=";
    text::append_shortest(s, l.ceiling_db());
    append_param(s, "release", l.release());
    append_param(s, "lookahead", l.lookahead());
    s += ", sample_rate=" + std::to_string(l.sample_rate()) + ", channels=" + std::to_string(l.channels()) + ')';
    return s;
}

Reduced Limiter_reduce(const Limiter& l) {
    return {nullptr, Ref(tuple(l.ceiling_db(), l.release(), l.lookahead(), l.sample_rate(), l.channels())),
            Ref(state_bytes(l))};
}

PyGetSetDef limiter_properties[] = {
    property("ceiling_db", get<&Limiter::ceiling_db>, set<&Limiter::set_ceiling_db, "value">),
    property("release", get<&Limiter::release>, set<&Limiter::set_release, "value">),
    property("lookahead", get<&Limiter::lookahead>),
    property("lookahead_frames", get<&Limiter::lookahead_frames>),
    property("sample_rate", get<&Limiter::sample_rate>),
    property("channels", get<&Limiter::channels>),
    property("tail_frames", get<tail_frames<Limiter>>),
    end_properties,
};

PyMethodDef limiter_methods[] = {TAMLOR_EFFECT_METHODS(Limiter)};

PyType_Slot limiter_slots[] = {
    slot(Py_tp_doc, limiter_new_params.doc()),
    slot(Py_tp_new, limiter_new),
    slot(Py_tp_dealloc, dealloc<Limiter>),
    slot(Py_tp_repr, repr<limiter_repr>),
    slot(Py_tp_getset, limiter_properties),
    slot(Py_tp_methods, limiter_methods),
    end_slots,
};

#undef TAMLOR_EFFECT_METHODS

}  // namespace

template <>
PyType_Spec kit::Class<Filter>::spec = kit::spec<Filter>("tamlor_fx.Filter", filter_slots);
template <>
PyType_Spec kit::Class<Delay>::spec = kit::spec<Delay>("tamlor_fx.Delay", delay_slots);
template <>
PyType_Spec kit::Class<Reverb>::spec = kit::spec<Reverb>("tamlor_fx.Reverb", reverb_slots);
template <>
PyType_Spec kit::Class<Compressor>::spec = kit::spec<Compressor>("tamlor_fx.Compressor", compressor_slots);
template <>
PyType_Spec kit::Class<Limiter>::spec = kit::spec<Limiter>("tamlor_fx.Limiter", limiter_slots);

PyTypeObject* fx_types::filter() { return kit::Class<Filter>::type(); }
PyTypeObject* fx_types::delay() { return kit::Class<Delay>::type(); }
PyTypeObject* fx_types::reverb() { return kit::Class<Reverb>::type(); }
PyTypeObject* fx_types::compressor() { return kit::Class<Compressor>::type(); }
PyTypeObject* fx_types::limiter() { return kit::Class<Limiter>::type(); }

}  // namespace tamlor::py
