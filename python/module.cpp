// The module: multi-phase initialisation with one execution slot that adds
// the 26 classes in registry order and lists them in __all__.
#include "kit/kit.hpp"
#include "kit/module.hpp"
#include "registry.hpp"

namespace tamlor::py {
namespace {

const kit::ModuleClass registry[] = {
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

int exec_module(PyObject* module) { return kit::add_classes(module, registry); }

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
