// Python classes of free-timed notes: NoteEvent and EventSequence.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "common/float_text.hpp"
#include "kit/kit.hpp"
#include "kit/persist.hpp"
#include "midi/values.hpp"
#include "registry.hpp"
#include "sequencer/event_sequence.hpp"

namespace tamlor::py {
namespace {

using namespace kit;
using sequencer::EventSequence;
using sequencer::NoteEvent;

// ---------------------------------------------------------------------------
// NoteEvent

Params note_event_new_params{as_constructor, "NoteEvent", {"beat_position", "duration", "note", "velocity"}};

PyObject* note_event_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        NewArgs a(note_event_new_params, args, kwargs);
        NoteEvent e;
        e.beat_position = a.f64(0);
        e.duration = a.f64(1);
        const std::uint8_t note = a.u8(2);
        const std::uint8_t velocity = a.u8(3);
        e.note = midi::check_note(note);
        e.velocity = midi::check_velocity(velocity);
        return create(type, e);
    });
}

std::uint8_t event_note(const NoteEvent& e) { return e.note; }
void event_set_note(NoteEvent& e, std::uint8_t v) { e.note = midi::check_note(v); }
std::uint8_t event_velocity(const NoteEvent& e) { return e.velocity; }
void event_set_velocity(NoteEvent& e, std::uint8_t v) { e.velocity = midi::check_velocity(v); }

std::string note_event_repr(const NoteEvent& e) {
    std::string s = "NoteEvent(beat=";
    text::append_fixed(s, e.beat_position, 3);
    s += ", dur=";
    text::append_fixed(s, e.duration, 3);
    s += ", note=" + std::to_string(e.note) + ", vel=" + std::to_string(e.velocity) + ")";
    return s;
}

PyGetSetDef note_event_properties[] = {
    property("beat_position", get<&NoteEvent::beat_position>, set<&NoteEvent::beat_position, "pos">),
    property("duration", get<&NoteEvent::duration>, set<&NoteEvent::duration, "dur">),
    property("note", get<event_note>, set<event_set_note, "note">),
    property("velocity", get<event_velocity>, set<event_set_velocity, "velocity">),
    end_properties,
};

Reduced note_event_reduce(const NoteEvent& e) {
    return {nullptr, Ref(tuple(e.beat_position, e.duration, e.note, e.velocity)), {}};
}

PyMethodDef note_event_methods[] = {
    def("end_position", noargs<&NoteEvent::end_position>, "end_position($self)\n--\n\n"),
    def_reduce<note_event_reduce>(),
    def_copy<NoteEvent>(),
    def_deepcopy<NoteEvent>(),
    end_methods,
};

PyType_Slot note_event_slots[] = {
    slot(Py_tp_doc, note_event_new_params.doc()),
    slot(Py_tp_new, note_event_new),
    slot(Py_tp_dealloc, dealloc<NoteEvent>),
    slot(Py_tp_repr, repr<note_event_repr>),
    slot(Py_tp_richcompare, richcompare<NoteEvent>),
    slot(Py_tp_hash, PyObject_HashNotImplemented),
    slot(Py_tp_getset, note_event_properties),
    slot(Py_tp_methods, note_event_methods),
    end_slots,
};

// ---------------------------------------------------------------------------
// EventSequence: every event goes in and comes out as a copy.

Params sequence_new_params{as_constructor, "EventSequence", {}};
Params add_event_params{as_method, "add_event", {"event"}};
Params remove_event_params{as_method, "remove_event", {"index"}};
Params in_range_params{as_method, "events_in_range", {"start", "end"}};
Params starting_params{as_method, "events_starting_in_range", {"start", "end"}};

PyObject* sequence_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        NewArgs a(sequence_new_params, args, kwargs);
        return create(type, EventSequence());
    });
}

PyObject* event_list(const std::vector<NoteEvent>& events) {
    return build_list(events.size(), [&](std::size_t i) { return wrap(events[i]); });
}

PyObject* sequence_remove(EventSequence& s, std::uint64_t index) {
    // Build the result before removing, so a failure leaves the sequence whole.
    if (index >= s.size()) return none();
    Ref removed(wrap(s.events()[index]));
    s.remove_event(index);
    return removed.release();
}
PyObject* sequence_events(const EventSequence& s) { return event_list(s.events()); }
PyObject* sequence_in_range(const EventSequence& s, double start, double end) {
    return event_list(s.events_in_range(start, end));
}
PyObject* sequence_starting(const EventSequence& s, double start, double end) {
    return event_list(s.events_starting_in_range(start, end));
}

std::string sequence_repr(const EventSequence& s) {
    std::string out = "EventSequence(events=" + std::to_string(s.size()) + ", duration=";
    text::append_fixed(out, s.duration(), 3);
    return out + ")";
}

Reduced sequence_reduce(const EventSequence& s) {
    Ref events(event_list(s.events()));
    return {nullptr, Ref(tuple()), Ref(tuple(events.get()))};
}

// The events come back in their stored order, which must be the order the
// sequence keeps: positions never decrease (events at NaN may sit anywhere,
// as insertion places them by its own rule).
void sequence_restore(EventSequence& s, PyObject* state) {
    const StateTuple st("EventSequence", state, 1);
    const Py_ssize_t n = sequence_length(st[0], "events");
    std::vector<NoteEvent> events;
    // A sequence reports its own length, which may be false: it caps the
    // first reservation, and the rest grows as the items arrive.
    events.reserve(std::min(static_cast<std::size_t>(n), signal_interval));
    for_each_item(st[0], "events", n, [&](Py_ssize_t, PyObject* item) {
        events.push_back(to_instance<NoteEvent>(item, "events"));
    });
    double last = -std::numeric_limits<double>::infinity();
    for (const NoteEvent& e : events) {
        if (std::isnan(e.beat_position)) continue;
        if (e.beat_position < last) raise(PyExc_ValueError, "EventSequence.__setstate__: events out of order");
        last = e.beat_position;
    }
    s.assign(std::move(events));
}

PyMethodDef sequence_methods[] = {
    def("add_event", method<&EventSequence::add_event, add_event_params>, add_event_params),
    def("remove_event", method<sequence_remove, remove_event_params>, remove_event_params),
    def("events", noargs<sequence_events>, "events($self)\n--\n\n"),
    def("events_in_range", method<sequence_in_range, in_range_params>, in_range_params),
    def("events_starting_in_range", method<sequence_starting, starting_params>, starting_params),
    def("duration", noargs<&EventSequence::duration>, "duration($self)\n--\n\n"),
    def("clear", noargs<&EventSequence::clear>, "clear($self)\n--\n\n"),
    def_reduce<sequence_reduce>(),
    def_setstate<sequence_restore>(),
    def_copy<EventSequence>(),
    def_deepcopy<EventSequence>(),
    end_methods,
};

PyType_Slot sequence_slots[] = {
    slot(Py_tp_doc, sequence_new_params.doc()),
    slot(Py_tp_new, sequence_new),
    slot(Py_tp_dealloc, dealloc<EventSequence>),
    slot(Py_tp_repr, repr<sequence_repr>),
    slot(Py_sq_length, length<&EventSequence::size>),
    slot(Py_tp_methods, sequence_methods),
    end_slots,
};

}  // namespace

template <>
PyType_Spec kit::Class<NoteEvent>::spec = kit::spec<NoteEvent>("builtins.NoteEvent", note_event_slots);
template <>
PyType_Spec kit::Class<EventSequence>::spec = kit::spec<EventSequence>("builtins.EventSequence", sequence_slots);

PyTypeObject* types::note_event() { return kit::Class<NoteEvent>::type(); }
PyTypeObject* types::event_sequence() { return kit::Class<EventSequence>::type(); }

}  // namespace tamlor::py
