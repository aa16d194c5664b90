// Python class MidiInput: lists the machine's MIDI input ports. Bound to its
// creating thread.
#include <string>

#include "kit/kit.hpp"
#include "kit/persist.hpp"
#include "midi_input/ports.hpp"
#include "registry.hpp"

namespace tamlor::py {

using PyMidiInput = midi_input::InputClient;

template <>
inline constexpr const char* kit::thread_bound<PyMidiInput> = "tamlor::midi_input::PyMidiInput";

namespace {

using namespace kit;

Params input_new_params{as_constructor, "MidiInput", {"client_name=\"tamlor\""}};

PyObject* input_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        NewArgs a(input_new_params, args, kwargs);
        a.str(0);  // checked, then not used: the client carries no name
        return create(type, PyMidiInput());
    });
}

std::string input_repr(const PyMidiInput& input) {
    return "MidiInput(ports=" + std::to_string(input.list_ports().size()) + ")";
}

PyMethodDef input_methods[] = {
    def("list_ports", noargs<&PyMidiInput::list_ports>, "list_ports($self)\n--\n\n"),
    def_no_copy<PyMidiInput, "each one holds a connection to the MIDI service">(),
    end_methods,
};

PyType_Slot input_slots[] = {
    slot(Py_tp_doc, input_new_params.doc()),
    slot(Py_tp_new, input_new),
    slot(Py_tp_dealloc, dealloc<PyMidiInput>),
    slot(Py_tp_repr, repr<input_repr>),
    slot(Py_tp_methods, input_methods),
    end_slots,
};

}  // namespace

template <>
PyType_Spec kit::Class<PyMidiInput>::spec = kit::spec<PyMidiInput>("builtins.MidiInput", input_slots);

PyTypeObject* types::midi_input() { return kit::Class<PyMidiInput>::type(); }

}  // namespace tamlor::py
