// Python classes of the MIDI vocabulary: the validated values Note, Velocity
// and MidiChannel, MidiMessage and MidiEvent.
#include <algorithm>
#include <string>

#include "kit/kit.hpp"
#include "kit/persist.hpp"
#include "midi/event.hpp"
#include "midi/message.hpp"
#include "midi/pitch.hpp"
#include "midi/values.hpp"
#include "registry.hpp"

namespace tamlor::py {
namespace {

using namespace kit;
using midi::Channel;
using midi::Message;
using midi::MessageKind;

// ---------------------------------------------------------------------------
// Note, Velocity, MidiChannel: one 8-bit value each, converted first and
// range-checked second.

template <class V>
PyObject* checked_new(Params& params, PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        NewArgs a(params, args, kwargs);
        const std::uint8_t value = a.u8(0);
        return create(type, V::make(value));
    });
}

template <class V>
std::string checked_str(const V& v) { return std::to_string(v.value); }

template <class V>
PyGetSetDef checked_properties[2] = {
    property("value", get<&V::value>),
    end_properties,
};

template <class V>
Reduced checked_reduce(const V& v) { return {nullptr, Ref(tuple(v.value)), {}}; }

// Velocity and MidiChannel have no methods beyond copying.
template <class V>
PyMethodDef checked_methods[4] = {
    def_reduce<checked_reduce<V>>(),
    def_copy<V>(),
    def_deepcopy<V>(),
    end_methods,
};

Params note_new_params{as_constructor, "Note", {"value"}};
Params velocity_new_params{as_constructor, "Velocity", {"value"}};
Params channel_new_params{as_constructor, "MidiChannel", {"value"}};
Params from_hz_params{as_static, "from_hz", {"hz"}};

PyObject* note_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return checked_new<midi::Note>(note_new_params, type, args, kwargs);
}
PyObject* velocity_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return checked_new<midi::Velocity>(velocity_new_params, type, args, kwargs);
}
PyObject* channel_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return checked_new<Channel>(channel_new_params, type, args, kwargs);
}

double note_to_hz(const midi::Note& n) { return midi::note_to_hz(n.value); }

PyObject* note_from_hz(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary([&] {
        Args a(from_hz_params, args, nargs, kwnames);
        const double hz = a.f64(0);
        return wrap(midi::Note{midi::note_from_hz(hz)});
    });
}

PyMethodDef note_methods[] = {
    def("to_hz", noargs<note_to_hz>, "to_hz($self)\n--\n\n"),
    def("from_hz", note_from_hz, from_hz_params),
    def_reduce<checked_reduce<midi::Note>>(),
    def_copy<midi::Note>(),
    def_deepcopy<midi::Note>(),
    end_methods,
};

PyType_Slot note_slots[] = {
    slot(Py_tp_doc, note_new_params.doc()),
    slot(Py_tp_new, note_new),
    slot(Py_tp_dealloc, dealloc<midi::Note>),
    slot(Py_tp_repr, repr<&midi::Note::text>),
    slot(Py_tp_str, repr<checked_str<midi::Note>>),
    slot(Py_tp_richcompare, richcompare<midi::Note>),
    slot(Py_tp_hash, PyObject_HashNotImplemented),
    slot(Py_tp_getset, checked_properties<midi::Note>),
    slot(Py_tp_methods, note_methods),
    end_slots,
};

PyType_Slot velocity_slots[] = {
    slot(Py_tp_doc, velocity_new_params.doc()),
    slot(Py_tp_new, velocity_new),
    slot(Py_tp_dealloc, dealloc<midi::Velocity>),
    slot(Py_tp_repr, repr<&midi::Velocity::text>),
    slot(Py_tp_str, repr<checked_str<midi::Velocity>>),
    slot(Py_tp_richcompare, richcompare<midi::Velocity>),
    slot(Py_tp_hash, PyObject_HashNotImplemented),
    slot(Py_tp_getset, checked_properties<midi::Velocity>),
    slot(Py_tp_methods, checked_methods<midi::Velocity>),
    end_slots,
};

PyType_Slot channel_slots[] = {
    slot(Py_tp_doc, channel_new_params.doc()),
    slot(Py_tp_new, channel_new),
    slot(Py_tp_dealloc, dealloc<Channel>),
    slot(Py_tp_repr, repr<&Channel::text>),
    slot(Py_tp_str, repr<checked_str<Channel>>),
    slot(Py_tp_richcompare, richcompare<Channel>),
    slot(Py_tp_hash, PyObject_HashNotImplemented),
    slot(Py_tp_getset, checked_properties<Channel>),
    slot(Py_tp_methods, checked_methods<Channel>),
    end_slots,
};

// ---------------------------------------------------------------------------
// MidiMessage: not instantiable; made by its static methods. Every argument is
// converted before any range check, and the checks run channel first.

Params note_on_params{as_static, "note_on", {"channel", "note", "velocity"}};
Params note_off_params{as_static, "note_off", {"channel", "note", "velocity"}};
Params control_change_params{as_static, "control_change", {"channel", "control", "value"}};
Params program_change_params{as_static, "program_change", {"channel", "program"}};
Params pitch_bend_params{as_static, "pitch_bend", {"channel", "value"}};

template <Params& P, bool On>
PyObject* message_note(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary([&] {
        Args a(P, args, nargs, kwnames);
        const std::uint8_t channel = a.u8(0);
        const std::uint8_t note = a.u8(1);
        const std::uint8_t velocity = a.u8(2);
        const Channel c = Channel::make(channel);
        const midi::Note n = midi::Note::make(note);
        const midi::Velocity v = midi::Velocity::make(velocity);
        return wrap(On ? Message::note_on(c, n, v) : Message::note_off(c, n, v));
    });
}

PyObject* message_control_change(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary([&] {
        Args a(control_change_params, args, nargs, kwnames);
        const std::uint8_t channel = a.u8(0);
        const std::uint8_t control = a.u8(1);
        const std::uint8_t value = a.u8(2);
        const Channel c = Channel::make(channel);
        const midi::ControlNumber n = midi::ControlNumber::make(control);
        return wrap(Message::control_change(c, n, value));
    });
}

PyObject* message_program_change(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary([&] {
        Args a(program_change_params, args, nargs, kwnames);
        const std::uint8_t channel = a.u8(0);
        const std::uint8_t program = a.u8(1);
        return wrap(Message::program_change(Channel::make(channel), program));
    });
}

PyObject* message_pitch_bend(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary([&] {
        Args a(pitch_bend_params, args, nargs, kwnames);
        const std::uint8_t channel = a.u8(0);
        const std::uint16_t value = a.u16(1);
        return wrap(Message::pitch_bend(Channel::make(channel), value));
    });
}

template <MessageKind K>
PyObject* message_simple(PyObject*, PyObject*) {
    return boundary([] { return wrap(Message::simple(K)); });
}

std::string message_repr(const Message& m) { return "MidiMessage(" + m.text() + ")"; }

PyObject* message_to_bytes(const Message& m) {
    unsigned char out[3];
    const std::size_t n = m.to_bytes(out);
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(out), static_cast<Py_ssize_t>(n));
}

Params from_bytes_params{as_static, "from_bytes", {"data"},
                         "The message of one complete MIDI wire message: bytes, a bytearray or a sequence of "
                         "ints 0-255."};

PyObject* message_from_bytes(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary([&] {
        Args a(from_bytes_params, args, nargs, kwnames);
        PyObject* data = a[0];
        if (PyBytes_Check(data)) {
            char* p = nullptr;
            Py_ssize_t n = 0;
            if (PyBytes_AsStringAndSize(data, &p, &n) < 0) throw_error_set();
            return wrap(Message::from_bytes(reinterpret_cast<const unsigned char*>(p), static_cast<std::size_t>(n)));
        }
        if (PyUnicode_Check(data)) raise(PyExc_TypeError, "data must be bytes or a sequence of ints, not str");
        // A bytearray or any other sequence: its first three items are
        // converted (no message is longer; from_bytes refuses a longer one by
        // its length before it reads any data byte).
        const Py_ssize_t n = sequence_length(data, "data");
        unsigned char bytes[3] = {};
        for_each_item(data, "data", std::min<Py_ssize_t>(n, 3), [&](Py_ssize_t i, PyObject* item) {
            bytes[i] = to_u8(item, "data");
        });
        return wrap(Message::from_bytes(bytes, static_cast<std::size_t>(n)));
    });
}

// A message pickles as the static method that makes it.
Reduced message_reduce(const Message& m) {
    switch (m.kind) {
        case MessageKind::NoteOn: return {"MidiMessage.note_on", Ref(tuple(m.channel, m.data1, m.data2)), {}};
        case MessageKind::NoteOff: return {"MidiMessage.note_off", Ref(tuple(m.channel, m.data1, m.data2)), {}};
        case MessageKind::ControlChange:
            return {"MidiMessage.control_change", Ref(tuple(m.channel, m.data1, m.data2)), {}};
        case MessageKind::ProgramChange: return {"MidiMessage.program_change", Ref(tuple(m.channel, m.data1)), {}};
        case MessageKind::PitchBend: return {"MidiMessage.pitch_bend", Ref(tuple(m.channel, m.bend)), {}};
        case MessageKind::Clock: return {"MidiMessage.clock", Ref(tuple()), {}};
        case MessageKind::Start: return {"MidiMessage.start", Ref(tuple()), {}};
        case MessageKind::Stop: return {"MidiMessage.stop", Ref(tuple()), {}};
        default: {
            // Aftertouch, ChannelPressure and Continue come back through their bytes.
            Ref bytes(message_to_bytes(m));
            return {"MidiMessage.from_bytes", Ref(tuple(bytes.get())), {}};
        }
    }
}

PyMethodDef message_methods[] = {
    def("note_on", message_note<note_on_params, true>, note_on_params),
    def("note_off", message_note<note_off_params, false>, note_off_params),
    def("control_change", message_control_change, control_change_params),
    def("program_change", message_program_change, program_change_params),
    def("pitch_bend", message_pitch_bend, pitch_bend_params),
    def_static("clock", message_simple<MessageKind::Clock>, "clock()\n--\n\n"),
    def_static("start", message_simple<MessageKind::Start>, "start()\n--\n\n"),
    def_static("stop", message_simple<MessageKind::Stop>, "stop()\n--\n\n"),
    def("from_bytes", message_from_bytes, from_bytes_params),
    def("to_bytes", noargs<message_to_bytes>,
        "to_bytes($self)\n--\n\nThe message as MIDI wire bytes: a status byte and its data bytes."),
    def_reduce<message_reduce>(),
    def_copy<Message>(),
    def_deepcopy<Message>(),
    end_methods,
};

PyType_Slot message_slots[] = {
    slot(Py_tp_dealloc, dealloc<Message>),
    slot(Py_tp_repr, repr<message_repr>),
    slot(Py_tp_str, repr<&Message::text>),
    slot(Py_tp_richcompare, richcompare<Message>),
    slot(Py_tp_hash, PyObject_HashNotImplemented),
    slot(Py_tp_methods, message_methods),
    end_slots,
};

// ---------------------------------------------------------------------------
// MidiEvent: a copied message and a timestamp; compares and hashes by identity.

Params event_new_params{as_constructor, "MidiEvent", {"message", "timestamp_us"}};

PyObject* event_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        NewArgs a(event_new_params, args, kwargs);
        const Message message = a.instance<Message>(0);
        const std::uint64_t timestamp = a.u64(1);
        return create(type, midi::Event{message, timestamp});
    });
}

PyObject* event_message(const midi::Event& e) { return wrap(e.message); }
std::uint64_t event_timestamp(const midi::Event& e) { return e.timestamp_us; }
std::string event_repr(const midi::Event& e) {
    return "MidiEvent(" + e.message.text() + ", timestamp_us=" + std::to_string(e.timestamp_us) + ")";
}

Reduced event_reduce(const midi::Event& e) {
    Ref message(wrap(e.message));
    return {nullptr, Ref(tuple(message.get(), e.timestamp_us)), {}};
}

PyMethodDef event_methods[] = {
    def_reduce<event_reduce>(),
    def_copy<midi::Event>(),
    def_deepcopy<midi::Event>(),
    end_methods,
};

PyGetSetDef event_properties[] = {
    property("message", get<event_message>),
    property("timestamp_us", get<event_timestamp>),
    end_properties,
};

PyType_Slot event_slots[] = {
    slot(Py_tp_doc, event_new_params.doc()),
    slot(Py_tp_new, event_new),
    slot(Py_tp_dealloc, dealloc<midi::Event>),
    slot(Py_tp_repr, repr<event_repr>),
    slot(Py_tp_getset, event_properties),
    slot(Py_tp_methods, event_methods),
    end_slots,
};

}  // namespace

template <>
PyType_Spec kit::Class<midi::Note>::spec = kit::spec<midi::Note>("builtins.Note", note_slots);
template <>
PyType_Spec kit::Class<midi::Velocity>::spec = kit::spec<midi::Velocity>("builtins.Velocity", velocity_slots);
template <>
PyType_Spec kit::Class<Channel>::spec = kit::spec<Channel>("builtins.MidiChannel", channel_slots);
template <>
PyType_Spec kit::Class<Message>::spec =
    kit::spec<Message>("builtins.MidiMessage", message_slots, Py_TPFLAGS_DISALLOW_INSTANTIATION);
template <>
PyType_Spec kit::Class<midi::Event>::spec = kit::spec<midi::Event>("builtins.MidiEvent", event_slots);

PyTypeObject* types::note() { return kit::Class<midi::Note>::type(); }
PyTypeObject* types::velocity() { return kit::Class<midi::Velocity>::type(); }
PyTypeObject* types::midi_channel() { return kit::Class<Channel>::type(); }
PyTypeObject* types::midi_message() { return kit::Class<Message>::type(); }
PyTypeObject* types::midi_event() { return kit::Class<midi::Event>::type(); }

}  // namespace tamlor::py
