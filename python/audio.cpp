// Python classes for the user's own audio: a sample format and an interleaved
// multi-channel buffer, which also reads and writes WAV files.
#include <optional>
#include <string>

#include "audio/audio_buffer.hpp"
#include "audio/wav.hpp"
#include "kit/buffer.hpp"
#include "kit/kit.hpp"
#include "kit/persist.hpp"
#include "kit/values.hpp"
#include "registry.hpp"

namespace tamlor::py {
namespace {

using audio::AudioBuffer;
using audio::AudioFormat;
using namespace kit;

// ---------------------------------------------------------------------------
// AudioFormat

Params format_new_params{as_constructor, "AudioFormat", {"sample_rate=44100", "channels=2"}};

PyObject* format_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        NewArgs a(format_new_params, args, kwargs);
        const std::uint32_t sample_rate = a.u32(0);
        const std::uint16_t channels = a.u16(1);
        return create(type, AudioFormat{sample_rate, channels});
    });
}

std::string format_repr(const AudioFormat& f) {
    return "AudioFormat(sample_rate=" + std::to_string(f.sample_rate) + ", channels=" + std::to_string(f.channels) +
           ")";
}

std::string format_str(const AudioFormat& f) {
    return std::to_string(f.sample_rate) + "Hz " + std::to_string(f.channels) + "ch";
}

Reduced format_reduce(const AudioFormat& f) { return {nullptr, Ref(tuple(f.sample_rate, f.channels)), {}}; }

PyMethodDef format_methods[] = {
    def_reduce<format_reduce>(),
    def_copy<AudioFormat>(),
    def_deepcopy<AudioFormat>(),
    end_methods,
};

PyGetSetDef format_properties[] = {
    property("sample_rate", get<&AudioFormat::sample_rate>),
    property("channels", get<&AudioFormat::channels>),
    end_properties,
};

PyType_Slot format_slots[] = {
    slot(Py_tp_doc, format_new_params.doc()),
    slot(Py_tp_new, format_new),
    slot(Py_tp_dealloc, dealloc<AudioFormat>),
    slot(Py_tp_repr, repr<format_repr>),
    slot(Py_tp_str, repr<format_str>),
    slot(Py_tp_richcompare, richcompare<AudioFormat>),
    slot(Py_tp_hash, PyObject_HashNotImplemented),
    slot(Py_tp_getset, format_properties),
    slot(Py_tp_methods, format_methods),
    end_slots,
};

// ---------------------------------------------------------------------------
// AudioBuffer

Params buffer_new_params{as_constructor, "AudioBuffer", {"frames", "sample_rate=44100", "channels=1"}};
Params sample_at_params{as_method, "sample_at", {"frame", "channel"}};
Params set_sample_params{as_method, "set_sample", {"frame", "channel", "value"}};
Params channel_samples_params{as_method, "channel_samples", {"channel"},
                              "The samples of one channel, frame by frame, as a list of floats."};
Params write_wav_params{
    as_static, "write_wav", {"path", "samples", "sample_rate=44100", "channels=1", "encoding='pcm16'"},
    "Writes interleaved samples (a sequence of numbers, a buffer of floats, or a (frames, channels)\n"
    "array) to a WAV file, mono or stereo.\n"
    "encoding 'pcm16': 16-bit PCM, each sample clipped to -1.0..1.0, scaled by 32768 and rounded\n"
    "(ties to even; +1.0 gives 32767, NaN gives 0). encoding 'pcm24': 24-bit PCM the same way, scaled\n"
    "by 8388608. encoding 'float32': the 32-bit floats as they are."};
Params read_wav_params{
    as_static, "read_wav", {"path"},
    "Reads a WAV file (PCM of 8, 16, 24 or 32 bits, or float of 32 or 64 bits) into a new\n"
    "AudioBuffer with the file's sample rate and channels; PCM is scaled to -1.0..1.0 by 2**(bits-1).\n"
    "Raises ValueError for files it cannot read, OSError when the file cannot be opened."};

Params wav_shape_params{
    as_static, "wav_shape", {"path"},
    "(frames, channels) of a WAV file, read from its header: the shape of the array read_wav_into fills."};
Params read_wav_into_params{
    as_static, "read_wav_into", {"path", "out"},
    "Reads a WAV file's samples straight into `out`, a writable contiguous buffer of 32-bit floats of\n"
    "shape (frames, channels) or flat with frames * channels items, as read_wav would decode them,\n"
    "and returns the file's sample rate. No AudioBuffer and no list is made."};
Params samples_into_params{
    as_method, "samples_into", {"out"},
    "Copies the samples into `out`, a writable contiguous buffer of 32-bit floats (a NumPy float32\n"
    "array, say) of shape (frames, channels) or flat with frames * channels items, interleaved.\n"
    "No list is made: this is the fast way to get a buffer's audio into an array."};

PyObject* buffer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        NewArgs a(buffer_new_params, args, kwargs);
        const std::uint64_t frames = a.u64(0);
        const std::uint32_t sample_rate = a.u32(1);
        const std::uint16_t channels = a.u16(2);
        return create(type, AudioBuffer(frames, sample_rate, channels));
    });
}

std::string buffer_repr(const AudioBuffer& b) {
    return "AudioBuffer(frames=" + std::to_string(b.frames()) + ", sample_rate=" + std::to_string(b.sample_rate()) +
           ", channels=" + std::to_string(b.channels()) + ")";
}

// A new AudioFormat on every read.
PyObject* buffer_format(const AudioBuffer& b) { return wrap(b.format()); }
PyObject* buffer_to_list(const AudioBuffer& b) { return float_list(b.data(), b.size()); }

Reduced buffer_reduce(const AudioBuffer& b) {
    Ref samples(buffer_to_list(b));
    return {nullptr, Ref(tuple(b.frames(), b.sample_rate(), b.channels())), Ref(tuple(samples.get()))};
}

// The samples in storage order; their count is the buffer's, fixed at
// construction.
void buffer_restore(AudioBuffer& b, PyObject* state) {
    const StateTuple st("AudioBuffer", state, 1);
    const Py_ssize_t n = sequence_length(st[0], "samples");
    if (static_cast<std::size_t>(n) != b.size()) {
        bad_state("AudioBuffer", "expected " + std::to_string(b.size()) + " samples, got " + std::to_string(n));
    }
    std::vector<float> samples(b.size());
    read_floats(st[0], "samples", n, samples.data());
    for (std::size_t i = 0; i < samples.size(); ++i) b.set_sample(i / b.channels(), i % b.channels(), samples[i]);
}

// Every argument is converted, and checked, before the file is opened; the
// file is written with the interpreter lock released.
PyObject* buffer_write_wav(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary([&] {
        Args a(write_wav_params, args, nargs, kwnames);
        const std::string path = to_path(a[0], a.name(0));
        const std::uint16_t channels = a.u16(3);  // first: it gives a 2-D block's shape
        const FloatRun samples = read_samples(a[1], a.name(1), channels);
        const std::uint32_t sample_rate = a.u32(2);
        const audio::WavEncoding encoding = audio::wav_encoding(a.str(4));
        Unlocked unlocked;
        audio::write_wav(path, samples.span().data(), samples.span().size(), sample_rate, channels, encoding);
        return none();
    });
}

PyObject* buffer_read_wav(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary([&] {
        Args a(read_wav_params, args, nargs, kwnames);
        const std::string path = to_path(a[0], a.name(0));
        std::optional<AudioBuffer> buffer;
        {
            Unlocked unlocked;
            buffer.emplace(audio::read_wav(path, [&] { return unlocked.signals_ok(); }));
        }
        return wrap(std::move(*buffer));
    });
}

PyObject* buffer_wav_shape(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary([&] {
        Args a(wav_shape_params, args, nargs, kwnames);
        const std::string path = to_path(a[0], a.name(0));
        std::optional<audio::WavReader> reader;
        {
            Unlocked unlocked;
            reader.emplace(path, [&] { return unlocked.signals_ok(); });
        }
        return tuple(reader->frames(), reader->channels());
    });
}

// The file is opened and its chunks read before `out` is looked at; then
// the samples are decoded straight into it, with the interpreter lock
// released.
PyObject* buffer_read_wav_into(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary([&] {
        Args a(read_wav_into_params, args, nargs, kwnames);
        const std::string path = to_path(a[0], a.name(0));
        const BufferView out = writable_floats(a[1], a.name(1));
        std::optional<audio::WavReader> reader;
        Unlocked* unlocked = nullptr;  // the scope the reader waits in, when it does
        {
            Unlocked scope;
            unlocked = &scope;
            reader.emplace(path, [&] { return unlocked->signals_ok(); });
        }
        const auto frames = static_cast<Py_ssize_t>(reader->frames());
        const bool flat = out.ndim() == 1 && out.items() == static_cast<Py_ssize_t>(reader->samples());
        const bool shaped = out.ndim() == 2 && out.shape(0) == frames && out.shape(1) == reader->channels();
        if (!flat && !shaped) {
            raise(PyExc_ValueError, path + " holds " + std::to_string(frames) + " frames of " +
                                        std::to_string(reader->channels()) + " channels: " + a.name(1) +
                                        " must have shape (" + std::to_string(frames) + ", " +
                                        std::to_string(reader->channels()) + ") or (" +
                                        std::to_string(reader->samples()) + ",), not " + shape_text(out));
        }
        fill_floats(out, [&](float* p, std::size_t) {
            Unlocked scope;
            unlocked = &scope;
            reader->read_into(p);
        });
        return to_py(reader->sample_rate());
    });
}

// Copies the samples, in storage order, into a caller's buffer of 32-bit
// floats: flat with size() items, or shaped (frames, channels).
PyObject* buffer_samples_into(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return kit::read<AudioBuffer>(self, [&](const AudioBuffer& b) {
        Args a(samples_into_params, args, nargs, kwnames);
        const BufferView out = writable_floats(a[0], a.name(0));
        const auto frames = static_cast<Py_ssize_t>(b.frames());
        const bool flat = out.ndim() == 1 && out.items() == static_cast<Py_ssize_t>(b.size());
        const bool shaped = out.ndim() == 2 && out.shape(0) == frames && out.shape(1) == b.channels();
        if (!flat && !shaped) {
            raise(PyExc_ValueError, std::string(a.name(0)) + " must have shape (" + std::to_string(b.size()) +
                                        ",) or (" + std::to_string(frames) + ", " + std::to_string(b.channels()) +
                                        "), not " + shape_text(out));
        }
        out.write_floats(b.data());
    });
}

PyGetSetDef buffer_properties[] = {
    property("frames", get<&AudioBuffer::frames>),
    property("sample_rate", get<&AudioBuffer::sample_rate>),
    property("channels", get<&AudioBuffer::channels>),
    property("format", get<buffer_format>),
    end_properties,
};

PyMethodDef buffer_methods[] = {
    def("sample_at", method<&AudioBuffer::sample_at, sample_at_params>, sample_at_params),
    def("set_sample", method<&AudioBuffer::set_sample, set_sample_params>, set_sample_params),
    def("clear", noargs<&AudioBuffer::clear>, "clear($self)\n--\n\n"),
    def("to_list", noargs<buffer_to_list>, "to_list($self)\n--\n\n"),
    def("channel_samples", method<&AudioBuffer::channel_samples, channel_samples_params>, channel_samples_params),
    def("write_wav", buffer_write_wav, write_wav_params),
    def("read_wav", buffer_read_wav, read_wav_params),
    def("samples_into", buffer_samples_into, samples_into_params),
    def("wav_shape", buffer_wav_shape, wav_shape_params),
    def("read_wav_into", buffer_read_wav_into, read_wav_into_params),
    def_reduce<buffer_reduce>(),
    def_setstate<buffer_restore>(),
    def_copy<AudioBuffer>(),
    def_deepcopy<AudioBuffer>(),
    end_methods,
};

PyType_Slot buffer_slots[] = {
    slot(Py_tp_doc, buffer_new_params.doc()),
    slot(Py_tp_new, buffer_new),
    slot(Py_tp_dealloc, dealloc<AudioBuffer>),
    slot(Py_tp_repr, repr<buffer_repr>),
    slot(Py_sq_length, length<&AudioBuffer::size>),
    slot(Py_tp_getset, buffer_properties),
    slot(Py_tp_methods, buffer_methods),
    end_slots,
};

}  // namespace

template <>
PyType_Spec kit::Class<AudioFormat>::spec = kit::spec<AudioFormat>("builtins.AudioFormat", format_slots);
template <>
PyType_Spec kit::Class<AudioBuffer>::spec = kit::spec<AudioBuffer>("builtins.AudioBuffer", buffer_slots);

PyTypeObject* types::audio_format() { return kit::Class<AudioFormat>::type(); }
PyTypeObject* types::audio_buffer() { return kit::Class<AudioBuffer>::type(); }

}  // namespace tamlor::py
