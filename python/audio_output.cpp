// Python class AudioOutput: the handle on the default audio output device,
// blocking playback on it, and the listing of output devices. Bound to its
// creating thread, except the static list_devices.
//
// start(), write() and stop() wait for the device with the interpreter lock
// released and the object exclusively borrowed: other threads run meanwhile,
// and a call on the same object made from inside the wait (a signal handler,
// say) gets the borrow error. Between periods write() runs the signal
// handlers, so Ctrl+C ends a long write (what was sent before stays sent).
#include <string>

#include "audio_output/devices.hpp"
#include "common/float_text.hpp"
#include "kit/buffer.hpp"
#include "kit/kit.hpp"
#include "kit/persist.hpp"
#include "registry.hpp"

namespace tamlor::py {

using PyAudioOutput = audio_output::Output;

template <>
inline constexpr const char* kit::thread_bound<PyAudioOutput> = "tamlor::audio_output::PyAudioOutput";

// Dropped on another thread, the handle itself is leaked, but its stream is
// closed (what is queued is discarded), so the device is not held for good.
template <>
inline void kit::release_on_foreign_drop<PyAudioOutput>(PyAudioOutput& output) noexcept {
    output.abandon();
}

namespace {

using namespace kit;

Params output_new_params{as_constructor, "AudioOutput", {"sample_rate=44100", "channels=2", "buffer_size=512"}};

PyObject* output_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        NewArgs a(output_new_params, args, kwargs);
        const std::uint32_t sample_rate = a.u32(0);
        const std::uint16_t channels = a.u16(1);
        const std::uint32_t buffer_size = a.u32(2);
        return create(type, PyAudioOutput(audio_output::system_service(), sample_rate, channels, buffer_size));
    });
}

Params write_params{as_method, "write", {"block"},
                    "Plays interleaved frames (a list of numbers or a buffer of 32- or 64-bit floats, length a\n"
                    "multiple of channels, or a (frames, channels) array) and returns once the device has taken them all. Samples are clipped\n"
                    "to -1.0..1.0 and sent as 16-bit PCM; NaN plays as silence. A bad block sends nothing."};

PyObject* output_write(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return kit::write<PyAudioOutput>(self, [&](PyAudioOutput& out) {
        Args a(write_params, args, nargs, kwnames);
        const FloatRun block = read_samples(a[0], a.name(0), out.channels());
        bool finished;
        {
            Unlocked unlocked;
            finished = out.write(block.span().data(), block.span().size(), [&] { return unlocked.signals_ok(); });
        }
        if (!finished) throw_error_set();
    });
}

PyObject* output_start(PyObject* self, PyObject*) {
    return kit::write<PyAudioOutput>(self, [](PyAudioOutput& out) {
        Unlocked unlocked;
        out.start();
    });
}

PyObject* output_stop(PyObject* self, PyObject*) {
    return kit::write<PyAudioOutput>(self, [](PyAudioOutput& out) {
        Unlocked unlocked;
        out.stop();
    });
}

PyObject* list_devices(PyObject*, PyObject*) {
    return boundary([] { return to_py(audio_output::system_service().output_names()); });
}

std::string output_repr(const PyAudioOutput& output) {
    return "AudioOutput(device='" + output.device_name() + "', playing=" + text::bool_text(output.is_playing()) + ")";
}

PyMethodDef output_methods[] = {
    def_static("list_devices", list_devices, "list_devices()\n--\n\n"),
    def("device_name", noargs<&PyAudioOutput::device_name>, "device_name($self)\n--\n\n"),
    def("is_playing", noargs<&PyAudioOutput::is_playing>, "is_playing($self)\n--\n\n"),
    def("stop", output_stop,
        "stop($self)\n--\n\nPlays out what the device holds, then closes the stream; start() may follow."),
    def("start", output_start,
        "start($self)\n--\n\nOpens a playback stream on the device with the settings given at construction."),
    def("write", output_write, write_params),
    def("underruns", noargs<&PyAudioOutput::underruns>,
        "underruns($self)\n--\n\nTimes the device ran dry since start() (write came late); each was recovered."),
    def_no_copy<PyAudioOutput, "each one holds a live audio device">(),
    end_methods,
};

PyType_Slot output_slots[] = {
    slot(Py_tp_doc, output_new_params.doc()),
    slot(Py_tp_new, output_new),
    slot(Py_tp_dealloc, dealloc<PyAudioOutput>),
    slot(Py_tp_repr, repr<output_repr>),
    slot(Py_tp_methods, output_methods),
    end_slots,
};

}  // namespace

template <>
PyType_Spec kit::Class<PyAudioOutput>::spec = kit::spec<PyAudioOutput>("builtins.AudioOutput", output_slots);

PyTypeObject* types::audio_output() { return kit::Class<PyAudioOutput>::type(); }

}  // namespace tamlor::py
