// Python classes of the mixer: channel strips and the mix-down to
// interleaved stereo.
#include <new>
#include <span>
#include <string>
#include <vector>

#include "common/float_text.hpp"
#include "kit/kit.hpp"
#include "kit/persist.hpp"
#include "kit/values.hpp"
#include "mixer/mixer.hpp"
#include "registry.hpp"

namespace tamlor::py {
namespace {

using mixer::Mixer;
using mixer::MixerChannel;
using namespace kit;

// ---------------------------------------------------------------------------
// MixerChannel

Params channel_new_params{as_constructor, "MixerChannel", {"name=\"Channel\""}};
Params process_params{as_method, "process_sample", {"sample"}};

PyObject* channel_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        Args a(channel_new_params, args, kwargs);
        return create(type, MixerChannel(a.str(0)));
    });
}

std::string channel_repr(const MixerChannel& c) {
    std::string s = "MixerChannel(name='";
    s += c.name();
    s += "', gain=";
    text::append_fixed(s, c.gain(), 2);
    s += ", pan=";
    text::append_fixed(s, c.pan(), 2);
    s += ", mute=";
    s += text::bool_text(c.mute());
    s += ", solo=";
    s += text::bool_text(c.solo());
    s += ')';
    return s;
}

Reduced channel_reduce(const MixerChannel& c) {
    return {nullptr, Ref(tuple(c.name())), Ref(tuple(c.gain(), c.pan(), c.mute(), c.solo()))};
}

// Gain and pan go through the clamping setters, as an assignment would.
void channel_restore(MixerChannel& c, PyObject* state) {
    const StateTuple st("MixerChannel", state, 4);
    const float gain = st.get<float>(0, "gain");
    const float pan = st.get<float>(1, "pan");
    const bool mute = st.get<bool>(2, "mute");
    const bool solo = st.get<bool>(3, "solo");
    c.set_gain(gain);
    c.set_pan(pan);
    c.set_mute(mute);
    c.set_solo(solo);
}

PyGetSetDef channel_properties[] = {
    property("name", get<&MixerChannel::name>, set<&MixerChannel::set_name, "value">),
    property("gain", get<&MixerChannel::gain>, set<&MixerChannel::set_gain, "value">),
    property("pan", get<&MixerChannel::pan>, set<&MixerChannel::set_pan, "value">),
    property("mute", get<&MixerChannel::mute>, set<&MixerChannel::set_mute, "value">),
    property("solo", get<&MixerChannel::solo>, set<&MixerChannel::set_solo, "value">),
    end_properties,
};

PyMethodDef channel_methods[] = {
    def("process_sample", method<&MixerChannel::process_sample, process_params>, process_params),
    def_reduce<channel_reduce>(),
    def_setstate<channel_restore>(),
    def_copy<MixerChannel>(),
    def_deepcopy<MixerChannel>(),
    end_methods,
};

PyType_Slot channel_slots[] = {
    slot(Py_tp_doc, channel_new_params.doc()),
    slot(Py_tp_new, channel_new),
    slot(Py_tp_dealloc, dealloc<MixerChannel>),
    slot(Py_tp_repr, repr<channel_repr>),
    slot(Py_tp_richcompare, richcompare<MixerChannel>),
    slot(Py_tp_hash, PyObject_HashNotImplemented),
    slot(Py_tp_getset, channel_properties),
    slot(Py_tp_methods, channel_methods),
    end_slots,
};

// ---------------------------------------------------------------------------
// Mixer

Params mixer_new_params{as_constructor, "Mixer", {}};
Params add_params{as_method, "add_channel", {"name"}};
Params remove_params{as_method, "remove_channel", {"index"}};
Params get_params{as_method, "get_channel", {"index"}};
Params gain_params{as_method, "set_channel_gain", {"index", "gain"}};
Params pan_params{as_method, "set_channel_pan", {"index", "pan"}};
Params mute_params{as_method, "set_channel_mute", {"index", "mute"}};
Params solo_params{as_method, "set_channel_solo", {"index", "solo"}};
Params mix_params{as_method, "mix_down", {"channel_buffers"},
                  "Mix a list of per-channel mono sample buffers into interleaved stereo output."};

PyObject* mixer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        Args a(mixer_new_params, args, kwargs);
        return create(type, Mixer());
    });
}

std::string mixer_repr(const Mixer& m) {
    std::string s = "Mixer(master_gain=";
    text::append_fixed(s, m.master_gain(), 2);
    s += ", channels=[";
    for (std::size_t i = 0; i < m.channel_count(); ++i) {
        if (i > 0) s += ", ";
        s += m.channels()[i].name();
    }
    s += "])";
    return s;
}

PyObject* get_channel(const Mixer& m, std::uint64_t index) { return wrap(m.channel(index)); }

// The removed strip is wrapped before it leaves the mixer, so a failure to
// make the Python object changes nothing.
PyObject* remove_channel(Mixer& m, std::uint64_t index) {
    if (index >= m.channel_count()) return none();
    Ref removed(wrap(m.channel(index)));
    m.remove_channel(index);
    return removed.release();
}

const char* const buffers_name = "channel_buffers";

// mix_down under a shared borrow taken before any argument is looked at: a
// buffer whose conversion calls back into this mixer can read it but not
// change it ("Already mutably borrowed" / "Already borrowed").
//
// The buffers go through two passes. The first takes every buffer's length
// (refusing a str or a non-sequence); the second converts the buffers of the
// channels that are heard into one allocation. The buffers of silenced
// channels are never read beyond their length.
PyObject* mix_down(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return read<Mixer>(self, [&](const Mixer& m) -> PyObject* {
        Args a(mix_params, args, nargs, kwnames);
        PyObject* buffers = a[0];
        const Py_ssize_t count = sequence_length(buffers, buffers_name);
        if (static_cast<std::size_t>(count) != m.channel_count()) {
            raise(PyExc_ValueError, "Expected " + std::to_string(m.channel_count()) + " buffers, got " +
                                        std::to_string(count));
        }

        const bool solo = m.any_solo();

        // Pass 1: lengths.
        std::vector<std::size_t> lengths(static_cast<std::size_t>(count));
        std::size_t converted = 0;  // samples to convert, over the heard channels
        for_each_item(buffers, buffers_name, count, [&](Py_ssize_t c, PyObject* buffer) {
            const auto n = static_cast<std::size_t>(sequence_length(buffer, buffers_name));
            lengths[static_cast<std::size_t>(c)] = n;
            if (m.is_audible(static_cast<std::size_t>(c), solo)) {
                if (n > PY_SSIZE_T_MAX - converted) throw std::bad_alloc();
                converted += n;
            }
        });
        const std::size_t frames = count == 0 ? 0 : lengths[0];
        if (frames > (PY_SSIZE_T_MAX - converted) / 2) throw std::bad_alloc();

        // One allocation for every converted input and the output.
        std::vector<float> storage(converted + 2 * frames);
        std::vector<std::span<const float>> views(static_cast<std::size_t>(count));
        float* next = storage.data();

        // Pass 2: conversion of the heard channels' samples.
        for_each_item(buffers, buffers_name, count, [&](Py_ssize_t c, PyObject* buffer) {
            const auto ci = static_cast<std::size_t>(c);
            if (!m.is_audible(ci, solo)) return;
            // A callback of an earlier buffer may have resized this one.
            if (static_cast<std::size_t>(sequence_length(buffer, buffers_name)) != lengths[ci]) {
                raise(PyExc_RuntimeError,
                      std::string("argument '") + buffers_name + "': sequence changed size during conversion");
            }
            read_floats(buffer, buffers_name, static_cast<Py_ssize_t>(lengths[ci]), next);
            views[ci] = std::span<const float>(next, lengths[ci]);
            next += lengths[ci];
        });

        const std::span<float> output(storage.data() + converted, 2 * frames);
        m.mix_down(views, output);
        return float_list(output.data(), output.size());
    });
}

Reduced mixer_reduce(const Mixer& m) {
    Ref channels(build_list(m.channel_count(), [&](std::size_t i) { return wrap(m.channels()[i]); }));
    return {nullptr, Ref(tuple()), Ref(tuple(m.master_gain(), channels.get()))};
}

// The master gain and the strips, in channel order.
void mixer_restore(Mixer& m, PyObject* state) {
    const StateTuple st("Mixer", state, 2);
    const float master = st.get<float>(0, "master_gain");
    const Py_ssize_t n = sequence_length(st[1], "channels");
    Mixer restored;
    for_each_item(st[1], "channels", n, [&](Py_ssize_t, PyObject* item) {
        const MixerChannel c = to_instance<MixerChannel>(item, "channels");
        const std::size_t i = restored.add_channel(c.name());
        restored.set_channel_gain(i, c.gain());
        restored.set_channel_pan(i, c.pan());
        restored.set_channel_mute(i, c.mute());
        restored.set_channel_solo(i, c.solo());
    });
    restored.set_master_gain(master);
    m = std::move(restored);
}

PyGetSetDef mixer_properties[] = {
    property("master_gain", get<&Mixer::master_gain>, set<&Mixer::set_master_gain, "value">),
    end_properties,
};

PyMethodDef mixer_methods[] = {
    def("channel_count", noargs<&Mixer::channel_count>, "channel_count($self)\n--\n\n"),
    def("add_channel", method<&Mixer::add_channel, add_params>, add_params),
    def("remove_channel", method<remove_channel, remove_params>, remove_params),
    def("get_channel", method<get_channel, get_params>, get_params),
    def("set_channel_gain", method<&Mixer::set_channel_gain, gain_params>, gain_params),
    def("set_channel_pan", method<&Mixer::set_channel_pan, pan_params>, pan_params),
    def("set_channel_mute", method<&Mixer::set_channel_mute, mute_params>, mute_params),
    def("set_channel_solo", method<&Mixer::set_channel_solo, solo_params>, solo_params),
    def("mix_down", mix_down, mix_params),
    def("channel_names", noargs<&Mixer::channel_names>, "channel_names($self)\n--\n\n"),
    def_reduce<mixer_reduce>(),
    def_setstate<mixer_restore>(),
    def_copy<Mixer>(),
    def_deepcopy<Mixer>(),
    end_methods,
};

PyType_Slot mixer_slots[] = {
    slot(Py_tp_doc, mixer_new_params.doc()),
    slot(Py_tp_new, mixer_new),
    slot(Py_tp_dealloc, dealloc<Mixer>),
    slot(Py_tp_repr, repr<mixer_repr>),
    slot(Py_sq_length, length<&Mixer::channel_count>),
    slot(Py_tp_getset, mixer_properties),
    slot(Py_tp_methods, mixer_methods),
    end_slots,
};

}  // namespace

template <>
PyType_Spec kit::Class<MixerChannel>::spec = kit::spec<MixerChannel>("builtins.MixerChannel", channel_slots);
template <>
PyType_Spec kit::Class<Mixer>::spec = kit::spec<Mixer>("builtins.Mixer", mixer_slots);

PyTypeObject* types::mixer_channel() { return kit::Class<MixerChannel>::type(); }
PyTypeObject* types::mixer() { return kit::Class<Mixer>::type(); }

}  // namespace tamlor::py
