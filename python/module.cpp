// The module: multi-phase initialisation with one execution slot that adds
// the 26 classes in registry order and lists them in __all__.
#include "kit/kit.hpp"
#include "registry.hpp"

namespace tamlor::py {
namespace {

struct Entry {
    const char* name;
    PyTypeObject* (*type)();
};

const Entry registry[] = {
    {"AudioFormat", types::audio_format},
    {"AudioBuffer", types::audio_buffer},
    {"MidiChannel", types::midi_channel},
    {"Note", types::note},
    {"Velocity", types::velocity},
    {"MidiMessage", types::midi_message},
    {"MidiEvent", types::midi_event},
    {"SineOscillator", types::sine_oscillator},
    {"SquareOscillator", types::square_oscillator},
    {"SawOscillator", types::saw_oscillator},
    {"NoiseSource", types::noise_source},
    {"MixerChannel", types::mixer_channel},
    {"Mixer", types::mixer},
    {"Step", types::step},
    {"Pattern", types::pattern},
    {"NoteEvent", types::note_event},
    {"EventSequence", types::event_sequence},
    {"TransportClock", types::transport_clock},
    {"StepSequencer", types::step_sequencer},
    {"AudioSample", types::audio_sample},
    {"Envelope", types::envelope},
    {"SampleMapping", types::sample_mapping},
    {"SampleMap", types::sample_map},
    {"Sampler", types::sampler},
    {"AudioOutput", types::audio_output},
    {"MidiInput", types::midi_input},
};

// The module's __all__ list, created on first use.
PyObject* all_list(PyObject* module) {
    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (all) return all;
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return nullptr;
    PyErr_Clear();
    all = PyList_New(0);
    if (all && PyObject_SetAttrString(module, "__all__", all) < 0) Py_CLEAR(all);
    return all;
}

int exec_module(PyObject* module) {
    if (!PyModule_Check(module)) {
        PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'PyModule'",
                     kit::type_name(module).c_str());
        return -1;
    }
    kit::Ref all(all_list(module));
    if (!all) return -1;
    for (const Entry& entry : registry) {
        PyTypeObject* type = entry.type();
        if (!type) return -1;
        kit::Ref name(PyUnicode_FromString(entry.name));
        if (!name) return -1;
        if (PyList_Append(all.get(), name.get()) < 0) {
            PyErr_SetString(PyExc_SystemError, "could not append __name__ to __all__");
            return -1;
        }
        if (PyObject_SetAttr(module, name.get(), reinterpret_cast<PyObject*>(type)) < 0) return -1;
    }
    return 0;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "tamlor",  // m_name
    "",        // m_doc
    0,         // m_size
    nullptr,   // m_methods
    slots,     // m_slots
    nullptr,   // m_traverse
    nullptr,   // m_clear
    nullptr,   // m_free
};

}  // namespace
}  // namespace tamlor::py

PyMODINIT_FUNC PyInit_tamlor(void) { return PyModuleDef_Init(&tamlor::py::definition); }
