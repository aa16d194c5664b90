// tamlor_song._voices: the native player behind tamlor_song.Instrument.
// Two classes, SampleData (recorded frames shared by zones) and Player
// (zones, voices, stereo rendering), and one mixing helper. Private: the
// song layer is its only user and checks arguments in musicians' terms
// first; these checks keep the process safe whatever they are given.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "common/errors.hpp"
#include "instrument/player.hpp"
#include "kit/buffer.hpp"
#include "kit/kit.hpp"
#include "kit/persist.hpp"
#include "kit/values.hpp"

namespace tamlor::py {
namespace {

using instrument::Curve;
using instrument::HeldNote;
using instrument::LoopMode;
using instrument::Player;
using instrument::SampleData;
using instrument::Stage;
using instrument::Voice;
using instrument::Zone;
using instrument::ZoneParams;
using namespace kit;

// ---------------------------------------------------------------------------
// SampleData

Params data_new_params{as_constructor, "SampleData", {"data", "channels=1"}};
Params read_int16_params{as_static, "read_int16", {"path", "offset", "count"},
                         "Read `count` little-endian 16-bit mono frames from byte `offset` of a file."};

std::uint32_t channel_count(std::uint32_t channels) {
    if (channels != 1 && channels != 2) throw ValueError("channels must be 1 or 2 (got " + std::to_string(channels) + ")");
    return channels;
}

PyObject* data_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        NewArgs a(data_new_params, args, kwargs);
        const std::uint32_t channels = channel_count(a.u32(1));
        const FloatRun run = read_samples(a[0], "data", channels);
        const auto values = run.span();
        if (values.size() % channels) throw ValueError("data must hold whole frames of " + std::to_string(channels) + " channels");
        std::vector<float> frames(values.begin(), values.end());
        return create(type, SampleData(std::move(frames), channels));
    });
}

PyObject* data_read_int16(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary([&] {
        Args a(read_int16_params, args, nargs, kwnames);
        const std::string path = to_path(a[0], "path");
        const std::uint64_t offset = a.u64(1);
        const std::uint64_t count = a.u64(2);
        if (count > (std::uint64_t{1} << 40) || offset > (std::uint64_t{1} << 62)) throw ValueError("too many frames");
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) throw FileError(errno, path);
        std::vector<std::int16_t> frames;
        std::size_t got = 0;
        {
            Unlocked unlocked;  // the interpreter runs on while the file is read
            try {
                frames.resize(static_cast<std::size_t>(count));
                if (std::fseek(f, static_cast<long>(offset), SEEK_SET) == 0) {
                    got = std::fread(frames.data(), sizeof(std::int16_t), frames.size(), f);
                }
            } catch (...) {
                std::fclose(f);
                throw;
            }
            std::fclose(f);
        }
        if (got != frames.size()) throw ValueError(path + ": the sample data ends early");
        if constexpr (std::endian::native == std::endian::big) {
            for (auto& x : frames) {
                const auto u = static_cast<std::uint16_t>(x);
                x = static_cast<std::int16_t>(static_cast<std::uint16_t>((u >> 8) | (u << 8)));
            }
        }
        return wrap(SampleData(std::move(frames), 1));
    });
}

std::string data_repr(const SampleData& d) {
    return "SampleData(frames=" + std::to_string(d.frames()) + ", channels=" + std::to_string(d.channels()) + ")";
}

PyGetSetDef data_properties[] = {
    property("frames", get<&SampleData::frames>),
    property("channels", get<&SampleData::channels>),
    end_properties,
};

Params from_bytes_params{as_static, "from_bytes", {"data", "channels", "int16"},
                         "Data from the bytes of its values in this machine's order (as __reduce__ gives them)."};

PyObject* data_from_bytes(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary([&] {
        Args a(from_bytes_params, args, nargs, kwnames);
        if (!PyBytes_Check(a[0])) type_error("data", "must be bytes, not " + type_name(a[0]));
        const std::uint32_t channels = channel_count(a.u32(1));
        const bool int16 = a.boolean(2);
        char* p = nullptr;
        Py_ssize_t size = 0;
        if (PyBytes_AsStringAndSize(a[0], &p, &size) < 0) throw_error_set();
        const std::size_t width = int16 ? 2 : 4;
        const auto n = static_cast<std::size_t>(size);
        if (n % (width * channels)) throw ValueError("data must hold whole frames");
        if (int16) {
            std::vector<std::int16_t> v(n / 2);
            std::memcpy(v.data(), p, n);
            return wrap(SampleData(std::move(v), channels));
        }
        std::vector<float> v(n / 4);
        std::memcpy(v.data(), p, n);
        return wrap(SampleData(std::move(v), channels));
    });
}

// Pickles as SampleData.from_bytes(values, channels, int16): the raw values,
// 16-bit data staying 16-bit.
PyObject* data_reduce(PyObject* self, PyObject*) {
    return read<SampleData>(self, [&](const SampleData& d) {
        const std::size_t n = d.frames() * d.channels();
        const char* p = d.is_int16() ? reinterpret_cast<const char*>(d.int16s()) : reinterpret_cast<const char*>(d.floats());
        const std::size_t bytes = n * (d.is_int16() ? 2 : 4);
        Ref raw(check(PyBytes_FromStringAndSize(n ? p : "", static_cast<Py_ssize_t>(bytes))));
        Ref maker(check(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(self)), "from_bytes")));
        Ref args(tuple(raw.get(), d.channels(), d.is_int16()));
        return tuple(maker.get(), args.get());
    });
}

PyMethodDef data_methods[] = {
    def("read_int16", data_read_int16, read_int16_params),
    def("from_bytes", data_from_bytes, from_bytes_params),
    def("__reduce__", data_reduce, "__reduce__($self)\n--\n\n"),
    def_copy<SampleData>(),
    def_deepcopy<SampleData>(),
    end_methods,
};

PyType_Slot data_slots[] = {
    slot(Py_tp_doc, data_new_params.doc()),
    slot(Py_tp_new, data_new),
    slot(Py_tp_dealloc, dealloc<SampleData>),
    slot(Py_tp_repr, repr<data_repr>),
    slot(Py_sq_length, length<&SampleData::frames>),
    slot(Py_tp_getset, data_properties),
    slot(Py_tp_methods, data_methods),
    end_slots,
};

// ---------------------------------------------------------------------------
// Player

Params player_new_params{as_constructor, "Player", {"sample_rate=44100", "max_voices=64"}};
Params add_zone_params{as_method, "add_zone", {"data", "numbers", "velocity_db"},
                       "Add a zone: its data, its 25 numbers in the order the song layer writes them, and "
                       "its gain in dB for each of the 128 velocities. Returns its index."};
Params note_on_params{as_method, "note_on", {"key", "velocity"}};
Params note_off_params{as_method, "note_off", {"handle"}};
Params release_key_params{as_method, "release_key", {"key"}};
Params render_into_params{as_method, "render_into", {"out"},
                          "Write the next frames into out: interleaved stereo 32-bit floats, flat or (frames, 2)."};
Params restore_params{as_method, "restore_state", {"state"}};

PyObject* player_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        NewArgs a(player_new_params, args, kwargs);
        const std::uint32_t rate = a.u32(0);
        const std::size_t voices = a.usize(1);
        if (rate == 0) throw ValueError("sample_rate must be positive");
        return create(type, Player(rate, voices));
    });
}

constexpr int zone_numbers = 25;

// The numbers of a zone, checked one by one; ValueError names the first bad one.
ZoneParams zone_params(PyObject* numbers, PyObject* velocity_db, std::size_t frames) {
    const Py_ssize_t n = sequence_length(numbers, "numbers");
    if (n != zone_numbers) throw ValueError("numbers must hold " + std::to_string(zone_numbers) + " values");
    double x[zone_numbers];
    for_each_item(numbers, "numbers", n, [&](Py_ssize_t i, PyObject* item) { x[i] = to_f64(item, "numbers"); });
    static const char* const names[zone_numbers] = {
        "key_low", "key_high", "velocity_low", "velocity_high", "root_key", "sample_rate", "tune_cents",
        "key_tracking", "level_db", "pan", "loop_mode", "start", "end", "loop_start", "loop_end", "delay",
        "attack", "hold", "decay", "sustain", "release", "curve", "group", "off_by", "on_release"};
    const auto bad = [&](int i) { throw ValueError(std::string("zone ") + names[i] + " out of range"); };
    for (int i = 0; i < zone_numbers; ++i) {
        if (!std::isfinite(x[i])) bad(i);
    }
    const auto whole = [&](int i, double hi) {
        if (!(x[i] >= 0.0 && x[i] <= hi && std::floor(x[i]) == x[i])) bad(i);
        return x[i];
    };
    ZoneParams z;
    z.key_low = static_cast<std::uint8_t>(whole(0, 127));
    z.key_high = static_cast<std::uint8_t>(whole(1, 127));
    z.velocity_low = static_cast<std::uint8_t>(whole(2, 127));
    z.velocity_high = static_cast<std::uint8_t>(whole(3, 127));
    z.root_key = static_cast<std::uint8_t>(whole(4, 127));
    if (!(x[5] > 0.0 && x[5] <= 1e7)) bad(5);
    z.sample_rate = x[5];
    if (std::fabs(x[6]) > 1e6) bad(6);
    z.tune_cents = x[6];
    if (std::fabs(x[7]) > 1e4) bad(7);
    z.key_tracking = x[7];
    if (std::fabs(x[8]) > 1e4) bad(8);
    z.level_db = x[8];
    if (!(x[9] >= -1.0 && x[9] <= 1.0)) bad(9);
    z.pan = x[9];
    z.loop_mode = static_cast<LoopMode>(whole(10, 3));
    const auto limit = static_cast<double>(frames);
    z.start = static_cast<std::size_t>(whole(11, limit));
    z.end = static_cast<std::size_t>(whole(12, limit));
    z.loop_start = static_cast<std::size_t>(whole(13, limit));
    z.loop_end = static_cast<std::size_t>(whole(14, limit));
    for (int i = 15; i <= 20; ++i) {
        if (!(x[i] >= 0.0 && x[i] <= 1e6)) bad(i);
    }
    if (x[19] > 1.0) bad(19);
    z.delay = x[15];
    z.attack = x[16];
    z.hold = x[17];
    z.decay = x[18];
    z.sustain = x[19];
    z.release = x[20];
    z.curve = static_cast<Curve>(whole(21, 1));
    z.group = static_cast<std::uint32_t>(whole(22, 4294967295.0));
    z.off_by = static_cast<std::uint32_t>(whole(23, 4294967295.0));
    z.on_release = whole(24, 1) != 0.0;
    const Py_ssize_t m = sequence_length(velocity_db, "velocity_db");
    if (m != 128) throw ValueError("velocity_db must hold 128 values");
    for_each_item(velocity_db, "velocity_db", m, [&](Py_ssize_t i, PyObject* item) {
        const double db = to_f64(item, "velocity_db");
        // A finite gain, or silence (-inf).
        if (std::isnan(db) || db > 1e4 || (std::isinf(db) && db > 0)) throw ValueError("velocity_db out of range");
        z.velocity_db[static_cast<std::size_t>(i)] = static_cast<float>(std::max(db, -1e4));
    });
    return z;
}

PyObject* player_add_zone(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return write<Player>(self, [&](Player& p) {
        Args a(add_zone_params, args, nargs, kwnames);
        SampleData data = a.instance<SampleData>(0);
        ZoneParams z = zone_params(a[1], a[2], data.frames());
        return to_py(p.add_zone(Zone{std::move(data), z}));
    });
}

std::uint64_t player_note_on(Player& p, std::uint8_t key, std::uint8_t velocity) {
    if (key > 127 || velocity > 127) throw ValueError("key and velocity must be 0-127");
    return p.note_on(key, velocity);
}

void player_release_key(Player& p, std::uint8_t key) {
    if (key > 127) throw ValueError("key must be 0-127");
    p.release_key(key);
}

PyObject* player_render_into(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return write<Player>(self, [&](Player& p) {
        Args a(render_into_params, args, nargs, kwnames);
        const BufferView out = writable_floats(a[0], "out");
        if (!((out.ndim() == 1 && out.items() % 2 == 0) || (out.ndim() == 2 && out.shape(1) == 2))) {
            raise(PyExc_ValueError, "out must hold interleaved stereo frames, not " + shape_text(out));
        }
        // Voices move on a staged copy that replaces them only once the whole
        // block is written: an interrupt part-way leaves the player as it was.
        Player::State staged = p.state();
        std::swap(staged, p.state());
        try {
            fill_floats(out, [&](float* o, std::size_t n) {
                std::fill(o, o + n, 0.0f);
                const std::size_t frames = n / 2;
                const std::size_t cost = std::max<std::size_t>(1, p.active_voice_count());
                const std::size_t chunk = std::max<std::size_t>(1, signal_interval / cost);
                for (std::size_t done = 0; done < frames;) {
                    const std::size_t k = std::min(chunk, frames - done);
                    p.render(o + 2 * done, k);
                    done += k;
                    if (done < frames) check_signals();
                }
            });
        } catch (...) {
            std::swap(staged, p.state());
            throw;
        }
        return none();
    });
}

// ---- saved state: plain little records, read back with every field checked.

template <class V>
void put(std::string& s, V v) {
    char b[sizeof(V)];
    std::memcpy(b, &v, sizeof(V));
    s.append(b, sizeof(V));
}

class Reader {
public:
    Reader(const char* p, std::size_t n) : p_(p), n_(n) {}
    template <class V>
    V get() {
        if (n_ - at_ < sizeof(V) || at_ > n_) throw ValueError("the saved state is cut short");
        V v;
        std::memcpy(&v, p_ + at_, sizeof(V));
        at_ += sizeof(V);
        return v;
    }
    bool done() const { return at_ == n_; }

private:
    const char* p_;
    std::size_t n_;
    std::size_t at_ = 0;
};

constexpr std::uint32_t state_magic = 0x31535654;  // "TVS1"

PyObject* player_save_state(const Player& p) {
    const Player::State& st = p.state();
    std::string s;
    put(s, state_magic);
    put(s, st.next_id);
    put<std::uint64_t>(s, st.voices.size());
    for (const Voice& v : st.voices) {
        put(s, v.note_id);
        put(s, v.zone);
        put(s, v.key);
        put(s, v.velocity);
        put(s, static_cast<std::uint8_t>(v.stage));
        put<std::uint8_t>(s, v.released);
        put(s, v.position);
        put(s, v.increment);
        put(s, v.level);
        put(s, v.factor);
        put(s, v.from);
        put(s, v.count);
        put(s, v.length);
        put(s, v.choke_left);
        put(s, v.gain_left);
        put(s, v.gain_right);
        put<std::uint8_t>(s, v.from_release);
        put(s, static_cast<std::uint8_t>(v.curve));
        put(s, v.sustain);
        put(s, v.delay_frames);
        put(s, v.attack_frames);
        put(s, v.hold_frames);
        put(s, v.decay_frames);
        put(s, v.release_frames);
    }
    put<std::uint64_t>(s, st.held.size());
    for (const HeldNote& h : st.held) {
        put(s, h.id);
        put(s, h.key);
        put(s, h.velocity);
    }
    return check(PyBytes_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
}

bool flag(std::uint8_t b) {
    if (b > 1) throw ValueError("the saved state holds a bad flag");
    return b != 0;
}

PyObject* player_restore_state(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return write<Player>(self, [&](Player& p) {
        Args a(restore_params, args, nargs, kwnames);
        if (!PyBytes_Check(a[0])) type_error("state", "must be bytes from save_state(), not " + type_name(a[0]));
        char* data = nullptr;
        Py_ssize_t size = 0;
        if (PyBytes_AsStringAndSize(a[0], &data, &size) < 0) throw_error_set();
        Reader r(data, static_cast<std::size_t>(size));
        if (r.get<std::uint32_t>() != state_magic) throw ValueError("not a saved player state");
        Player::State st;
        st.next_id = r.get<std::uint64_t>();
        const auto voices = r.get<std::uint64_t>();
        if (voices > static_cast<std::uint64_t>(size)) throw ValueError("the saved state is cut short");
        for (std::uint64_t i = 0; i < voices; ++i) {
            Voice v;
            v.note_id = r.get<std::uint64_t>();
            v.zone = r.get<std::uint32_t>();
            v.key = r.get<std::uint8_t>();
            v.velocity = r.get<std::uint8_t>();
            const auto stage = r.get<std::uint8_t>();
            if (stage > static_cast<std::uint8_t>(Stage::Done)) throw ValueError("the saved state holds a bad stage");
            v.stage = static_cast<Stage>(stage);
            v.released = flag(r.get<std::uint8_t>());
            v.position = r.get<double>();
            v.increment = r.get<double>();
            v.level = r.get<double>();
            v.factor = r.get<double>();
            v.from = r.get<double>();
            v.count = r.get<std::uint64_t>();
            v.length = r.get<std::uint64_t>();
            v.choke_left = r.get<std::uint32_t>();
            v.gain_left = r.get<float>();
            v.gain_right = r.get<float>();
            v.from_release = flag(r.get<std::uint8_t>());
            v.curve = flag(r.get<std::uint8_t>()) ? Curve::Decibels : Curve::Linear;
            v.sustain = r.get<double>();
            v.delay_frames = r.get<std::uint64_t>();
            v.attack_frames = r.get<std::uint64_t>();
            v.hold_frames = r.get<std::uint64_t>();
            v.decay_frames = r.get<std::uint64_t>();
            v.release_frames = r.get<std::uint64_t>();
            st.voices.push_back(v);
        }
        const auto held = r.get<std::uint64_t>();
        if (held > static_cast<std::uint64_t>(size)) throw ValueError("the saved state is cut short");
        for (std::uint64_t i = 0; i < held; ++i) {
            HeldNote h{};
            h.id = r.get<std::uint64_t>();
            h.key = r.get<std::uint8_t>();
            h.velocity = r.get<std::uint8_t>();
            st.held.push_back(h);
        }
        if (!r.done()) throw ValueError("the saved state has bytes to spare");
        p.set_state(std::move(st));
        return none();
    });
}

std::string player_repr(const Player& p) {
    return "Player(zones=" + std::to_string(p.zones().size()) + ", active=" + std::to_string(p.active_voice_count()) +
           ", sr=" + std::to_string(p.sample_rate()) + ")";
}

std::size_t player_zone_count(const Player& p) { return p.zones().size(); }

PyGetSetDef player_properties[] = {
    property("sample_rate", get<&Player::sample_rate>),
    property("max_voices", get<&Player::max_voices>, set<&Player::set_max_voices, "max_voices">),
    property("zone_count", get<player_zone_count>),
    end_properties,
};

PyMethodDef player_methods[] = {
    def("add_zone", player_add_zone, add_zone_params),
    def("note_on", method<player_note_on, note_on_params>, note_on_params),
    def("note_off", method<&Player::note_off, note_off_params>, note_off_params),
    def("release_key", method<player_release_key, release_key_params>, release_key_params),
    def("all_notes_off", noargs<&Player::all_notes_off>, "all_notes_off($self)\n--\n\n"),
    def("panic", noargs<&Player::panic>, "panic($self)\n--\n\n"),
    def("active_voice_count", noargs<&Player::active_voice_count>, "active_voice_count($self)\n--\n\n"),
    def("render_into", player_render_into, render_into_params),
    def("save_state", noargs<player_save_state>, "save_state($self)\n--\n\nThe sounding voices and held notes, as bytes."),
    def("restore_state", player_restore_state, restore_params),
    def_copy<Player>(),
    def_deepcopy<Player>(),
    end_methods,
};

PyType_Slot player_slots[] = {
    slot(Py_tp_doc, player_new_params.doc()),
    slot(Py_tp_new, player_new),
    slot(Py_tp_dealloc, dealloc<Player>),
    slot(Py_tp_repr, repr<player_repr>),
    slot(Py_tp_getset, player_properties),
    slot(Py_tp_methods, player_methods),
    end_slots,
};

// ---------------------------------------------------------------------------
// Module functions

Params add_scaled_params{as_method, "add_scaled", {"out", "block", "left", "right"},
                         "out[2i] += block[2i] * left and out[2i+1] += block[2i+1] * right, in 32-bit floats."};

PyObject* add_scaled(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary([&] {
        Args a(add_scaled_params, args, nargs, kwnames);
        const BufferView out = writable_floats(a[0], "out");
        FloatRun block = FloatRun::read(a[1], "block");
        const float left = a.f32(2);
        const float right = a.f32(3);
        block.detach_from(out.begin(), out.end());
        const auto in = block.span();
        if (static_cast<std::size_t>(out.items()) != in.size() || in.size() % 2) {
            raise(PyExc_ValueError, "out and block must hold the same number of stereo frames");
        }
        fill_floats(out, [&](float* o, std::size_t n) {
            if (!out.direct_floats()) out.read_floats(o);
            for (std::size_t i = 0; i < n; i += 2) {
                o[i] += in[i] * left;
                o[i + 1] += in[i + 1] * right;
            }
        });
        return none();
    });
}

PyMethodDef module_functions[] = {
    def("add_scaled", add_scaled, add_scaled_params),
    end_methods,
};

int exec_module(PyObject* module) {
    const struct {
        const char* name;
        PyTypeObject* type;
    } classes[] = {{"SampleData", Class<SampleData>::type()}, {"Player", Class<Player>::type()}};
    for (const auto& c : classes) {
        if (!c.type) return -1;
        if (PyModule_AddObjectRef(module, c.name, reinterpret_cast<PyObject*>(c.type)) < 0) return -1;
    }
    return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "tamlor_song._voices",
    "The native player of sampled instruments (private to tamlor_song).",
    0,
    module_functions,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

template <>
PyType_Spec kit::Class<SampleData>::spec = kit::spec<SampleData>("tamlor_song._voices.SampleData", data_slots);
template <>
PyType_Spec kit::Class<Player>::spec = kit::spec<Player>("tamlor_song._voices.Player", player_slots);

}  // namespace tamlor::py

PyMODINIT_FUNC PyInit__voices(void) { return PyModuleDef_Init(&tamlor::py::definition); }
