// Python classes of the mixer: channel strips and the mix-down to
// interleaved stereo.
#include <new>
#include <span>
#include <string>
#include <vector>

#include "common/float_text.hpp"
#include "kit/buffer.hpp"
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
        NewArgs a(channel_new_params, args, kwargs);
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
        NewArgs a(mixer_new_params, args, kwargs);
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

Params mix_into_params{as_method, "mix_down_into", {"out", "channel_buffers"},
                       "Mix per-channel mono sample buffers into out, interleaved stereo: a writable contiguous "
                       "buffer of 32-bit floats of 2 x frames elements, flat or of shape (frames, 2)."};

// Every buffer converted, the silent channels' too, and only then their
// number compared with the channel count.
std::vector<FloatRun> channel_runs(const Mixer& m, PyObject* buffers) {
    std::vector<FloatRun> runs = read_channel_runs(buffers, buffers_name);
    if (runs.size() != m.channel_count()) {
        raise(PyExc_ValueError, "Expected " + std::to_string(m.channel_count()) + " buffers, got " +
                                    std::to_string(runs.size()));
    }
    return runs;
}

std::vector<std::span<const float>> spans_of(const std::vector<FloatRun>& runs) {
    std::vector<std::span<const float>> spans;
    spans.reserve(runs.size());
    for (const FloatRun& r : runs) spans.push_back(r.span());
    return spans;
}

// Both mixes run under a shared borrow taken before any argument is looked
// at: a buffer whose conversion calls back into this mixer can read it but
// not change it ("Already mutably borrowed" / "Already borrowed").
PyObject* mix_down(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return read<Mixer>(self, [&](const Mixer& m) -> PyObject* {
        Args a(mix_params, args, nargs, kwnames);
        const std::vector<FloatRun> runs = channel_runs(m, a[0]);
        const std::size_t frames = runs.empty() ? 0 : runs[0].span().size();
        Ref list = new_list(2 * frames);
        std::vector<float> output(2 * frames);
        m.mix_down(spans_of(runs), output);
        return fill_float_list(std::move(list), output.data(), output.size());
    });
}

// The frames `out` holds: 2 x frames floats, flat or as (frames, 2).
std::size_t frames_of(const BufferView& out) {
    if (out.ndim() == 1 && out.shape(0) % 2 == 0) return static_cast<std::size_t>(out.shape(0) / 2);
    if (out.ndim() == 2 && out.shape(1) == 2) return static_cast<std::size_t>(out.shape(0));
    raise(PyExc_ValueError, "out must hold interleaved stereo frames, flat or of shape (frames, 2), not " +
                                shape_text(out));
}

PyObject* mix_down_into(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return read<Mixer>(self, [&](const Mixer& m) -> PyObject* {
        Args a(mix_into_params, args, nargs, kwnames);
        const BufferView out = writable_floats(a[0], "out");
        std::vector<FloatRun> runs = channel_runs(m, a[1]);
        const std::size_t frames = frames_of(out);
        if (!runs.empty() && runs[0].span().size() != frames) {
            const std::size_t n = runs[0].span().size();
            raise(PyExc_ValueError, "out must hold " + std::to_string(2 * n) + " floats for " + std::to_string(n) +
                                        "-frame buffers, not " + shape_text(out));
        }
        // An input that shares memory with out is copied before out is written.
        for (FloatRun& r : runs) r.detach_from(out.begin(), out.end());
        const auto spans = spans_of(runs);
        fill_floats(out, [&](float* p, std::size_t n) { m.mix_down(spans, std::span<float>(p, n)); });
        return none();
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
    def("mix_down_into", mix_down_into, mix_into_params),
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
