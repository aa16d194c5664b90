// The module's classes, one type getter each, in registry order. Each binding
// file defines the getters of its own classes; module.cpp is the only place
// that registers them.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tamlor::py::types {

PyTypeObject* audio_format();
PyTypeObject* audio_buffer();
PyTypeObject* midi_channel();
PyTypeObject* note();
PyTypeObject* velocity();
PyTypeObject* midi_message();
PyTypeObject* midi_event();
PyTypeObject* sine_oscillator();
PyTypeObject* square_oscillator();
PyTypeObject* saw_oscillator();
PyTypeObject* noise_source();
PyTypeObject* mixer_channel();
PyTypeObject* mixer();
PyTypeObject* step();
PyTypeObject* pattern();
PyTypeObject* note_event();
PyTypeObject* event_sequence();
PyTypeObject* transport_clock();
PyTypeObject* step_sequencer();
PyTypeObject* audio_sample();
PyTypeObject* envelope();
PyTypeObject* sample_mapping();
PyTypeObject* sample_map();
PyTypeObject* sampler();
PyTypeObject* audio_output();
PyTypeObject* midi_input();

}  // namespace tamlor::py::types
