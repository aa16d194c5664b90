// Python classes of the sequencing engine.
#include <string>

#include "common/float_text.hpp"
#include "kit/kit.hpp"
#include "kit/persist.hpp"
#include "kit/values.hpp"
#include "registry.hpp"
#include "sequencer/transport_clock.hpp"

namespace tamlor::py {
namespace {

using sequencer::TransportClock;
using namespace kit;

// ---------------------------------------------------------------------------
// TransportClock

Params clock_new_params{as_constructor, "TransportClock", {"bpm=120.0"}};
Params seek_params{as_method, "seek", {"beat"}};
Params advance_params{as_method, "advance_by_frames", {"frames", "sample_rate"}};
Params to_seconds_params{as_method, "beats_to_seconds", {"beats"}};
Params to_beats_params{as_method, "seconds_to_beats", {"seconds"}};
Params to_ticks_params{as_method, "beats_to_ticks", {"beats"}};
Params from_ticks_params{as_method, "ticks_to_beats", {"ticks"}};

PyObject* clock_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        NewArgs a(clock_new_params, args, kwargs);
        return create(type, TransportClock(a.f64(0)));
    });
}

std::string clock_repr(const TransportClock& c) {
    std::string s = "TransportClock(bpm=";
    text::append_fixed(s, c.bpm(), 1);
    s += ", position=";
    text::append_fixed(s, c.position(), 3);
    s += ", state='";
    s += sequencer::state_name(c.state());
    s += "')";
    return s;
}

PyObject* clock_advance(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return write<TransportClock>(self, [&](TransportClock& c) -> PyObject* {
        Args a(advance_params, args, nargs, kwnames);
        const std::uint64_t frames = a.u64(0);
        const std::uint32_t sample_rate = a.u32(1);
        // The clock moves only once its result exists.
        const auto range = c.next_range(frames, sample_rate);
        if (!range) return none();
        PyObject* result = recycled_pair(self, range->first, range->second);
        c.move_to_end_of(*range);
        return result;
    });
}

std::string_view clock_state(const TransportClock& c) { return sequencer::state_name(c.state()); }

Reduced clock_reduce(const TransportClock& c) {
    return {nullptr, Ref(tuple(c.bpm())), Ref(tuple(c.position(), c.ticks_per_beat(), clock_state(c)))};
}

void clock_restore(TransportClock& c, PyObject* state) {
    const StateTuple st("TransportClock", state, 3);
    const double position = st.get<double>(0, "position");
    const std::uint32_t tpb = st.get<std::uint32_t>(1, "ticks_per_beat");
    const std::string name = st.get<std::string>(2, "state");
    sequencer::TransportState s;
    if (name == "stopped") s = sequencer::TransportState::Stopped;
    else if (name == "playing") s = sequencer::TransportState::Playing;
    else if (name == "paused") s = sequencer::TransportState::Paused;
    else raise(PyExc_ValueError, "TransportClock.__setstate__: unknown state '" + name + "'");
    c.set_ticks_per_beat(tpb);
    c.restore(position, s);
}

PyGetSetDef clock_properties[] = {
    property("bpm", get<&TransportClock::bpm>, set<&TransportClock::set_bpm, "value">),
    property("position", get<&TransportClock::position>),
    property("ticks_per_beat", get<&TransportClock::ticks_per_beat>,
             set<&TransportClock::set_ticks_per_beat, "tpb">),
    property("state", get<clock_state>),
    end_properties,
};

PyMethodDef clock_methods[] = {
    def("play", noargs<&TransportClock::play>, "play($self)\n--\n\n"),
    def("pause", noargs<&TransportClock::pause>, "pause($self)\n--\n\n"),
    def("stop", noargs<&TransportClock::stop>, "stop($self)\n--\n\n"),
    def("seek", method<&TransportClock::seek, seek_params>, seek_params),
    def("advance_by_frames", clock_advance, advance_params),
    def("beats_to_seconds", method<&TransportClock::beats_to_seconds, to_seconds_params>, to_seconds_params),
    def("seconds_to_beats", method<&TransportClock::seconds_to_beats, to_beats_params>, to_beats_params),
    def("beats_to_ticks", method<&TransportClock::beats_to_ticks, to_ticks_params>, to_ticks_params),
    def("ticks_to_beats", method<&TransportClock::ticks_to_beats, from_ticks_params>, from_ticks_params),
    def_reduce<clock_reduce>(),
    def_setstate<clock_restore>(),
    def_copy<TransportClock>(),
    def_deepcopy<TransportClock>(),
    end_methods,
};

PyType_Slot clock_slots[] = {
    slot(Py_tp_doc, clock_new_params.doc()),
    slot(Py_tp_new, clock_new),
    slot(Py_tp_dealloc, dealloc<TransportClock>),
    slot(Py_tp_repr, repr<clock_repr>),
    slot(Py_tp_getset, clock_properties),
    slot(Py_tp_methods, clock_methods),
    end_slots,
};

}  // namespace

template <>
PyType_Spec kit::Class<TransportClock>::spec = kit::spec<TransportClock>("builtins.TransportClock", clock_slots);

PyTypeObject* types::transport_clock() { return kit::Class<TransportClock>::type(); }

}  // namespace tamlor::py
