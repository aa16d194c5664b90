// Python classes of the signal generators: three oscillators and the noise
// source, each rendering blocks straight into a Python list.
#include <string>

#include "common/float_text.hpp"
#include "generators/oscillator.hpp"
#include "kit/blocks.hpp"
#include "kit/buffer.hpp"
#include "kit/kit.hpp"
#include "kit/persist.hpp"
#include "registry.hpp"

namespace tamlor::py {
namespace {

using generators::NoiseSource;
using generators::SawOscillator;
using generators::SineOscillator;
using generators::SquareOscillator;
using namespace kit;

Params render_params{as_method, "render_to_buffer", {"frames"}};

// Draws `frames` samples from a cursor into a list of the final size; the
// generator takes the cursor's state only once the list is complete, so a
// failure (a list too large to allocate) leaves it unchanged.
template <class G>
PyObject* render_to_buffer(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return write<G>(self, [&](G& gen) {
        Args a(render_params, args, nargs, kwnames);
        const std::size_t frames = a.usize(0);
        auto cursor = gen.cursor();
        PyObject* list = build_list(frames, [&](std::size_t) {
            return PyFloat_FromDouble(static_cast<double>(cursor.next()));
        });
        gen.commit(cursor);
        return list;
    });
}

Params render_into_params{as_method, "render_into", {"out"},
                          "Render len(out) samples into out, a writable contiguous buffer of 32-bit floats."};

// The samples render_to_buffer(len(out)) would give, written into the
// caller's buffer. The buffer is checked before anything is drawn, and the
// generator takes the cursor's state only once every sample is written: a
// signal handler that raises part-way leaves the generator as it was.
template <class G>
PyObject* render_into(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return write<G>(self, [&](G& gen) {
        Args a(render_into_params, args, nargs, kwnames);
        const BufferView out = writable_mono_block(a[0], "out");
        auto cursor = gen.cursor();
        fill_floats(out, [&](float* p, std::size_t n) {
            render_in_chunks(p, n, 1, [&](float* chunk, std::size_t k) { cursor.render(chunk, k); });
        });
        gen.commit(cursor);
        return none();
    });
}

// ---------------------------------------------------------------------------
// Oscillators: one set of slots, three classes.

Params sine_new_params{as_constructor, "SineOscillator", {"frequency=440.0", "amplitude=1.0", "sample_rate=44100"}};
Params square_new_params{as_constructor, "SquareOscillator", {"frequency=440.0", "amplitude=1.0", "sample_rate=44100"}};
Params saw_new_params{as_constructor, "SawOscillator", {"frequency=440.0", "amplitude=1.0", "sample_rate=44100"}};

template <class Osc, Params& P>
PyObject* oscillator_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        NewArgs a(P, args, kwargs);
        const double frequency = a.f64(0);
        const double amplitude = a.f64(1);
        const std::uint32_t sample_rate = a.u32(2);
        return create(type, Osc(frequency, amplitude, sample_rate));
    });
}

template <class Osc, Params& P>
std::string oscillator_repr(const Osc& o) {
    std::string s = P.function();
    s += "(frequency=";
    text::append_shortest(s, o.frequency());
    s += ", amplitude=";
    text::append_shortest(s, o.amplitude());
    s += ", sample_rate=";
    s += std::to_string(o.sample_rate());
    s += ')';
    return s;
}

// Tables are plain arrays, not variable templates: those would be
// initialised in no fixed order relative to the Params they read.
#define TAMLOR_OSCILLATOR_TABLES(Osc, prefix, new_params)                     \
    PyGetSetDef prefix##_properties[] = {                                     \
        property("frequency", get<&Osc::frequency>),                          \
        property("amplitude", get<&Osc::amplitude>),                          \
        property("sample_rate", get<&Osc::sample_rate>),                      \
        end_properties,                                                       \
    };                                                                        \
    PyMethodDef prefix##_methods[] = {                                        \
        def("render_to_buffer", render_to_buffer<Osc>, render_params),        \
        def("render_into", render_into<Osc>, render_into_params),             \
        def_no_copy<Osc, "the phase of their waveform cannot be read back">(), \
        end_methods,                                                          \
    };                                                                        \
    PyType_Slot prefix##_slots[] = {                                          \
        slot(Py_tp_doc, new_params.doc()),                                    \
        slot(Py_tp_new, oscillator_new<Osc, new_params>),                     \
        slot(Py_tp_dealloc, dealloc<Osc>),                                    \
        slot(Py_tp_repr, repr<oscillator_repr<Osc, new_params>>),             \
        slot(Py_tp_getset, prefix##_properties),                              \
        slot(Py_tp_methods, prefix##_methods),                                \
        end_slots,                                                            \
    };

TAMLOR_OSCILLATOR_TABLES(SineOscillator, sine, sine_new_params)
TAMLOR_OSCILLATOR_TABLES(SquareOscillator, square, square_new_params)
TAMLOR_OSCILLATOR_TABLES(SawOscillator, saw, saw_new_params)
#undef TAMLOR_OSCILLATOR_TABLES

// ---------------------------------------------------------------------------
// NoiseSource

Params noise_new_params{as_constructor, "NoiseSource", {"amplitude=1.0", "seed=42"}};

PyObject* noise_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        NewArgs a(noise_new_params, args, kwargs);
        const double amplitude = a.f64(0);
        const std::uint64_t seed = a.u64(1);
        return create(type, NoiseSource(amplitude, seed));
    });
}

std::string noise_repr(const NoiseSource& n) {
    std::string s = "NoiseSource(amplitude=";
    text::append_shortest(s, n.amplitude());
    s += ')';
    return s;
}

PyGetSetDef noise_properties[] = {
    property("amplitude", get<&NoiseSource::amplitude>),
    end_properties,
};

PyMethodDef noise_methods[] = {
    def("render_to_buffer", render_to_buffer<NoiseSource>, render_params),
    def("render_into", render_into<NoiseSource>, render_into_params),
    def_no_copy<NoiseSource, "their generator state (the seed as advanced so far) cannot be read back">(),
    end_methods,
};

PyType_Slot noise_slots[] = {
    slot(Py_tp_doc, noise_new_params.doc()),
    slot(Py_tp_new, noise_new),
    slot(Py_tp_dealloc, dealloc<NoiseSource>),
    slot(Py_tp_repr, repr<noise_repr>),
    slot(Py_tp_getset, noise_properties),
    slot(Py_tp_methods, noise_methods),
    end_slots,
};

}  // namespace

template <>
PyType_Spec kit::Class<SineOscillator>::spec =
    kit::spec<SineOscillator>("builtins.SineOscillator", sine_slots);
template <>
PyType_Spec kit::Class<SquareOscillator>::spec =
    kit::spec<SquareOscillator>("builtins.SquareOscillator", square_slots);
template <>
PyType_Spec kit::Class<SawOscillator>::spec =
    kit::spec<SawOscillator>("builtins.SawOscillator", saw_slots);
template <>
PyType_Spec kit::Class<NoiseSource>::spec = kit::spec<NoiseSource>("builtins.NoiseSource", noise_slots);

PyTypeObject* types::sine_oscillator() { return kit::Class<SineOscillator>::type(); }
PyTypeObject* types::square_oscillator() { return kit::Class<SquareOscillator>::type(); }
PyTypeObject* types::saw_oscillator() { return kit::Class<SawOscillator>::type(); }
PyTypeObject* types::noise_source() { return kit::Class<NoiseSource>::type(); }

}  // namespace tamlor::py
