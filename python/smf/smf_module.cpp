// tamlor_song._smf: MIDI files read into parts and written from tracks, for
// the song layer's MIDI file module. Reading and writing are native so that
// a file of a hundred thousand events turns into notes in milliseconds.
#include <string>
#include <vector>

#include "kit/kit.hpp"
#include "kit/persist.hpp"
#include "kit/values.hpp"
#include "midi/values.hpp"
#include "midi/smf.hpp"

namespace tamlor::py {
namespace {

using namespace kit;

// A track name as text: UTF-8 when it is, else Latin-1 (which every byte string is).
PyObject* name_text(const std::string& s) {
    PyObject* text = PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "strict");
    if (text) return text;
    PyErr_Clear();
    return PyUnicode_DecodeLatin1(s.data(), static_cast<Py_ssize_t>(s.size()), "strict");
}

Params read_params{as_static, "read", {"data", "source", "first_seq"},
                   "Read a Standard MIDI File held in bytes: (format, ticks_per_beat, tracks, tempo, parts); "
                   "each part is (track, channel, program, volume, pan, name, split_channels, split_programs, "
                   "notes), each note (seq, start_beat, duration_beats, note, velocity) numbered from first_seq. "
                   "ValueError \"{source}: {reason} at byte {offset}\" for a file it cannot read."};

PyObject* smf_read(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary([&]() -> PyObject* {
        Args a(read_params, args, nargs, kwnames);
        if (!PyBytes_Check(a[0])) raise(PyExc_TypeError, "data must be bytes, not " + type_name(a[0]));
        const std::string source = a.str(1);
        std::uint64_t seq = a.u64(2);
        char* bytes = nullptr;
        Py_ssize_t size = 0;
        if (PyBytes_AsStringAndSize(a[0], &bytes, &size) < 0) throw_error_set();
        midi::Smf smf;
        try {
            smf = midi::read_smf(reinterpret_cast<const unsigned char*>(bytes), static_cast<std::size_t>(size));
        } catch (const midi::SmfError& e) {
            raise(PyExc_ValueError, source + ": " + e.reason + " at byte " + std::to_string(e.offset));
        }
        Ref tempo(build_list(smf.tempo.size(), [&](std::size_t i) {
            return tuple(smf.tempo[i].beat, smf.tempo[i].bpm);
        }));
        Ref parts(build_list(smf.parts.size(), [&](std::size_t i) {
            const midi::SmfPart& p = smf.parts[i];
            Ref notes(build_list(p.notes.size(), [&](std::size_t j) {
                const midi::SmfNote& n = p.notes[j];
                return tuple(static_cast<unsigned long long>(seq++), n.start, n.duration, n.note, n.velocity);
            }));
            Ref name(check(name_text(p.name)));
            return tuple(static_cast<unsigned long long>(p.track), p.channel, p.program, p.volume, p.pan, name.get(),
                         p.split_channels, p.split_programs, notes.get());
        }));
        return tuple(smf.format, smf.ticks_per_beat, static_cast<unsigned long long>(smf.tracks), tempo.get(),
                     parts.get());
    });
}

Params write_params{as_static, "write", {"tempo", "tracks", "ticks_per_beat"},
                    "A format 1 Standard MIDI File as bytes: tempo is [(beat, bpm), ...], tracks "
                    "[(name, channel, program or -1, [(start_beat, duration_beats, note, velocity), ...]), ...]."};

PyObject* smf_write(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary([&]() -> PyObject* {
        Args a(write_params, args, nargs, kwnames);
        std::vector<midi::SmfTempo> tempo;
        for_each_item(a[0], "tempo", sequence_length(a[0], "tempo"), [&](Py_ssize_t, PyObject* item) {
            const StateTuple t("tempo", item, 2);
            tempo.push_back({t.get<double>(0, "beat"), t.get<double>(1, "bpm")});
        });
        std::vector<midi::SmfOutTrack> tracks;
        for_each_item(a[1], "tracks", sequence_length(a[1], "tracks"), [&](Py_ssize_t, PyObject* item) {
            const StateTuple t("tracks", item, 4);
            midi::SmfOutTrack out;
            out.name = t.get<std::string>(0, "name");
            out.channel = midi::check_channel(t.get<std::uint8_t>(1, "channel"));
            const long program = PyLong_AsLong(t[2]);
            if (program == -1 && PyErr_Occurred()) throw_error_set();
            if (program < -1 || program > 127) raise(PyExc_ValueError, "program must be -1 to 127");
            out.program = static_cast<int>(program);
            for_each_item(t[3], "notes", sequence_length(t[3], "notes"), [&](Py_ssize_t, PyObject* note) {
                const StateTuple n("notes", note, 4);
                out.notes.push_back({n.get<double>(0, "start"), n.get<double>(1, "duration"),
                                     midi::check_note(n.get<std::uint8_t>(2, "note")),
                                     midi::check_velocity(n.get<std::uint8_t>(3, "velocity"))});
            });
            tracks.push_back(std::move(out));
        });
        const std::uint16_t tpb = a.u16(2);
        if (tpb == 0 || tpb > 0x7FFF) raise(PyExc_ValueError, "ticks_per_beat must be 1 to 32767");
        const std::vector<unsigned char> file = midi::write_smf(tempo, tracks, tpb);
        return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(file.data()),
                                         static_cast<Py_ssize_t>(file.size()));
    });
}

PyMethodDef methods[] = {
    {"read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(smf_read)), METH_FASTCALL | METH_KEYWORDS,
     read_params.doc()},
    {"write", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(smf_write)),
     METH_FASTCALL | METH_KEYWORDS, write_params.doc()},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef_Slot slots[] = {
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "_smf",                                   // m_name
    "Standard MIDI Files, read and written.",  // m_doc
    0,                                        // m_size
    methods,                                  // m_methods
    slots,                                    // m_slots
    nullptr,                                  // m_traverse
    nullptr,                                  // m_clear
    nullptr,                                  // m_free
};

}  // namespace
}  // namespace tamlor::py

PyMODINIT_FUNC PyInit__smf(void) { return PyModuleDef_Init(&tamlor::py::definition); }
