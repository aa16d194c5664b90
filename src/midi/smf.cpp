#include "midi/smf.hpp"

#include "common/errors.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace tamlor::midi {

namespace {

std::string hex(unsigned v) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s = "0x";
    s += digits[(v >> 4) & 15];
    s += digits[v & 15];
    return s;
}

// The one bounded view of the file: every read names the end it may not
// pass (the file's, or its chunk's) and what is being read, and throws with
// the offset where the read would start.
class View {
public:
    View(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

    std::size_t size() const { return size_; }
    std::size_t pos = 0;

    // Throws unless `count` bytes from pos lie before `end`.
    void need(std::size_t count, std::size_t end, const char* what) const {
        if (pos > end || count > end - pos) throw SmfError(what, pos);
    }
    std::uint8_t u8(std::size_t end, const char* what) {
        need(1, end, what);
        return data_[pos++];
    }
    std::uint32_t big(std::size_t count, std::size_t end, const char* what) {
        need(count, end, what);
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < count; ++i) v = (v << 8) | data_[pos + i];
        pos += count;
        return v;
    }
    // A variable-length quantity: at most four bytes of seven bits each.
    std::uint32_t varlen(std::size_t end, const char* what) {
        const std::size_t at = pos;
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            const std::uint8_t b = u8(end, what);
            v = (v << 7) | (b & 0x7Fu);
            if (!(b & 0x80u)) return v;
        }
        throw SmfError("variable-length number longer than 4 bytes", at);
    }
    void skip(std::size_t count, std::size_t end, const char* what) {
        need(count, end, what);
        pos += count;
    }
    bool starts_with(const char* tag) const { return size_ - pos >= 4 && std::memcmp(data_ + pos, tag, 4) == 0; }
    std::string text(std::size_t count) const { return {reinterpret_cast<const char*>(data_ + pos), count}; }

private:
    const unsigned char* data_;
    std::size_t size_;
};

constexpr const char* past_event = "event runs past the end of its track chunk";

struct PendingNote {
    std::uint64_t start;
    std::uint64_t end;
    std::uint8_t note;
    std::uint8_t velocity;
};

struct Part {
    SmfPart info;
    std::vector<PendingNote> notes;
};

// Reading state of one channel within a track.
struct ChannelState {
    int program = -1;
    int volume = -1;
    int pan = -1;
    bool pedal = false;
    int part = -1;                   // index of its current part in the track's parts
    std::vector<std::pair<std::uint8_t, int>> parts;  // (program, part) of each part it has
    std::vector<std::size_t> held;   // notes ended while the pedal was down: (part << 32 | note)
};

struct TempoEvent {
    std::uint64_t tick;
    std::uint32_t us;
};

class TrackReader {
public:
    TrackReader(View& view, std::uint16_t ticks_per_beat, std::vector<TempoEvent>& tempo)
        : v_(view), tpb_(ticks_per_beat), tempo_(tempo), queues_(16 * 128), heads_(16 * 128, 0), marked_(16 * 128, 0) {}

    // Reads the track chunk whose data runs from view.pos to `end`; appends its parts.
    void read(std::size_t end, std::size_t track, std::vector<SmfPart>& out, std::vector<std::vector<PendingNote>>& notes) {
        parts_.clear();
        for (std::size_t q : touched_) {
            queues_[q].clear();
            heads_[q] = 0;
            marked_[q] = 0;
        }
        touched_.clear();
        channels_ = {};
        std::uint64_t tick = 0;
        std::uint8_t running = 0;
        std::string name;
        bool named = false;
        while (v_.pos < end) {
            tick += v_.varlen(end, past_event);
            if (static_cast<double>(tick) / tpb_ > smf_max_beat) throw SmfError("time past a billion beats", v_.pos);
            const std::size_t at = v_.pos;
            std::uint8_t status = v_.u8(end, past_event);
            if (status < 0x80) {
                if (!running) throw SmfError("running status with no status byte", at);
                status = running;
                --v_.pos;  // the byte read is the first data byte
            } else if (status < 0xF0) {
                running = status;
            }
            if (status == 0xFF) {
                const std::uint8_t type = v_.u8(end, past_event);
                const std::uint32_t length = v_.varlen(end, past_event);
                v_.need(length, end, past_event);
                if (type == 0x2F) {  // end of track
                    v_.pos = end;
                    break;
                }
                if (type == 0x51) {
                    if (length != 3) throw SmfError("tempo event of " + std::to_string(length) + " bytes (3 expected)", at);
                    const std::uint32_t us = v_.big(3, end, past_event);
                    if (us == 0) throw SmfError("tempo of 0 microseconds per beat", at);
                    if (us < smf_min_tempo_us) {
                        throw SmfError("tempo of " + std::to_string(us) + " microseconds per beat is over 10000 bpm", at);
                    }
                    tempo_.push_back({tick, us});
                    continue;
                }
                if (type == 0x03 && !named) {
                    name = v_.text(length);
                    named = true;
                }
                v_.pos += length;
                continue;
            }
            if (status == 0xF0 || status == 0xF7) {  // SysEx, skipped
                const std::uint32_t length = v_.varlen(end, past_event);
                v_.skip(length, end, past_event);
                continue;
            }
            if (status >= 0xF0) throw SmfError("unexpected status byte " + hex(status), at);
            const std::uint8_t kind = status & 0xF0;
            const std::uint8_t channel = status & 0x0F;
            const std::uint8_t d1 = data_byte(end);
            const std::uint8_t d2 = (kind == 0xC0 || kind == 0xD0) ? 0 : data_byte(end);
            channel_event(kind, channel, d1, d2, tick);
        }
        // Notes still sounding (or held by the pedal) end with the track.
        for (std::size_t ch = 0; ch < 16; ++ch) {
            for (std::size_t key : channels_[ch].held) close(key, tick);
        }
        for (std::size_t q : touched_) {
            for (std::size_t i = heads_[q]; i < queues_[q].size(); ++i) close(queues_[q][i], tick);
        }
        // Parts in channel order, each channel's in the order they began.
        std::stable_sort(parts_.begin(), parts_.end(),
                         [](const Part& a, const Part& b) { return a.info.channel < b.info.channel; });
        std::array<int, 16> per_channel{};
        int channels_used = 0;
        for (const Part& p : parts_) channels_used += per_channel[p.info.channel]++ == 0 ? 1 : 0;
        for (Part& p : parts_) {
            p.info.track = track;
            p.info.name = name;
            p.info.split_channels = channels_used > 1;
            p.info.split_programs = per_channel[p.info.channel] > 1;
            out.push_back(std::move(p.info));
            notes.push_back(std::move(p.notes));
        }
    }

private:
    std::uint8_t data_byte(std::size_t end) {
        const std::size_t at = v_.pos;
        const std::uint8_t b = v_.u8(end, past_event);
        if (b >= 0x80) throw SmfError("data byte " + hex(b) + " is 0x80 or more", at);
        return b;
    }

    void close(std::size_t key, std::uint64_t tick) { parts_[key >> 32].notes[key & 0xFFFFFFFFu].end = tick; }

    void channel_event(std::uint8_t kind, std::uint8_t channel, std::uint8_t d1, std::uint8_t d2, std::uint64_t tick) {
        ChannelState& c = channels_[channel];
        const std::size_t q = static_cast<std::size_t>(channel) * 128 + d1;
        if (kind == 0x90 && d2 > 0) {
            const int program = c.program < 0 ? 0 : c.program;
            if (c.part < 0 || parts_[static_cast<std::size_t>(c.part)].info.program != program) {
                // A program the channel played before goes back to its part,
                // so a track has at most one part per channel and program.
                c.part = -1;
                for (const auto& [prog, part] : c.parts) {
                    if (prog == program) c.part = part;
                }
                if (c.part < 0) {
                    Part p;
                    p.info.channel = channel;
                    p.info.program = static_cast<std::uint8_t>(program);
                    p.info.volume = c.volume;
                    p.info.pan = c.pan;
                    c.part = static_cast<int>(parts_.size());
                    c.parts.emplace_back(static_cast<std::uint8_t>(program), c.part);
                    parts_.push_back(std::move(p));
                }
            }
            auto& notes = parts_[static_cast<std::size_t>(c.part)].notes;
            if (!marked_[q]) {
                marked_[q] = 1;
                touched_.push_back(q);
            }
            queues_[q].push_back((static_cast<std::size_t>(c.part) << 32) | notes.size());
            notes.push_back({tick, tick, d1, d2});
        } else if (kind == 0x80 || kind == 0x90) {
            if (heads_[q] == queues_[q].size()) return;  // nothing sounding: ignored
            const std::size_t key = queues_[q][heads_[q]++];
            if (heads_[q] == queues_[q].size()) {
                queues_[q].clear();
                heads_[q] = 0;
            }
            if (c.pedal) c.held.push_back(key);
            else close(key, tick);
        } else if (kind == 0xB0) {
            if (d1 == 7) c.volume = d2;
            else if (d1 == 10) c.pan = d2;
            else if (d1 == 64) {
                const bool down = d2 >= 64;
                if (c.pedal && !down) {
                    for (std::size_t key : c.held) close(key, tick);
                    c.held.clear();
                }
                c.pedal = down;
            }
        } else if (kind == 0xC0) {
            c.program = d1;
        }
    }

    View& v_;
    std::uint16_t tpb_;
    std::vector<TempoEvent>& tempo_;
    std::vector<std::vector<std::size_t>> queues_;  // sounding notes per (channel, pitch), oldest first
    std::vector<std::size_t> heads_;                // first sounding entry of each queue
    std::vector<std::size_t> touched_;              // queues used in this track, each once
    std::vector<std::uint8_t> marked_;              // 1 for the queues in touched_
    std::array<ChannelState, 16> channels_;
    std::vector<Part> parts_;
};

}  // namespace

Smf read_smf(const unsigned char* data, std::size_t size) {
    View v(data, size);
    Smf smf;
    if (!v.starts_with("MThd")) throw SmfError("not a MIDI file (no MThd header)", 0);
    v.pos = 4;
    const std::uint32_t header_length = v.big(4, size, "header chunk past the end of the file");
    if (header_length < 6) throw SmfError("header chunk shorter than 6 bytes", 4);
    v.need(header_length, size, "header chunk past the end of the file");
    const std::size_t header_end = v.pos + header_length;
    const std::size_t format_at = v.pos;
    smf.format = static_cast<std::uint16_t>(v.big(2, header_end, "header chunk cut short"));
    if (smf.format == 2) throw SmfError("format 2 (independent sequences) is not supported", format_at);
    if (smf.format > 2) throw SmfError("unknown format " + std::to_string(smf.format), format_at);
    const std::uint32_t declared = v.big(2, header_end, "header chunk cut short");
    const std::size_t division_at = v.pos;
    const std::uint32_t division = v.big(2, header_end, "header chunk cut short");
    if (division & 0x8000u) throw SmfError("SMPTE time division is not supported", division_at);
    if (division == 0) throw SmfError("time division of 0 ticks per beat", division_at);
    smf.ticks_per_beat = static_cast<std::uint16_t>(division);
    v.pos = header_end;

    std::vector<TempoEvent> tempo;
    std::vector<std::vector<PendingNote>> notes;
    TrackReader reader(v, smf.ticks_per_beat, tempo);
    while (v.pos < size) {
        const std::size_t chunk_at = v.pos;
        v.need(8, size, "chunk header past the end of the file");
        const bool track = v.starts_with("MTrk");
        v.pos += 4;
        const std::size_t length_at = v.pos;
        const std::uint32_t length = v.big(4, size, "chunk header past the end of the file");
        if (length > size - v.pos) throw SmfError("chunk length past the end of the file", length_at);
        const std::size_t end = v.pos + length;
        if (track) {
            reader.read(end, smf.tracks, smf.parts, notes);
            ++smf.tracks;
        }
        v.pos = end;
        (void)chunk_at;
    }
    if (smf.tracks < declared) {
        throw SmfError("the header declares " + std::to_string(declared) + " tracks, the file holds " +
                           std::to_string(smf.tracks),
                       size);
    }

    // Tempo changes in time order (a track's own are in order already); at
    // one tick the last read wins.
    std::stable_sort(tempo.begin(), tempo.end(), [](const TempoEvent& a, const TempoEvent& b) { return a.tick < b.tick; });
    const double tpb = smf.ticks_per_beat;
    smf.tempo.push_back({0.0, 120.0});
    for (const TempoEvent& t : tempo) {
        const double beat = static_cast<double>(t.tick) / tpb;
        const double bpm = 60000000.0 / static_cast<double>(t.us);
        if (smf.tempo.back().beat == beat) smf.tempo.back().bpm = bpm;
        else smf.tempo.push_back({beat, bpm});
    }
    for (std::size_t i = 0; i < smf.parts.size(); ++i) {
        auto& out = smf.parts[i].notes;
        out.reserve(notes[i].size());
        for (const PendingNote& n : notes[i]) {
            const double start = static_cast<double>(n.start) / tpb;
            const double end = static_cast<double>(n.end) / tpb;
            out.push_back({start, end - start, n.note, n.velocity});
        }
    }
    return smf;
}

namespace {

void put_varlen(std::vector<unsigned char>& out, std::uint32_t v) {
    unsigned char bytes[4];
    int n = 0;
    do {
        bytes[n++] = static_cast<unsigned char>(v & 0x7F);
        v >>= 7;
    } while (v && n < 4);
    while (n > 1) out.push_back(static_cast<unsigned char>(bytes[--n] | 0x80));
    out.push_back(bytes[0]);
}

void put_big(std::vector<unsigned char>& out, std::uint32_t v, int count) {
    for (int i = count - 1; i >= 0; --i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// Events of one track at their ticks: the bytes after the delta time.
struct OutEvent {
    std::uint64_t tick;
    int order;        // at one tick: 0 meta, 1 program, 2 note-off, 3 note-on, 4 end of an empty note
    std::size_t seq;  // then in the order given
    std::vector<unsigned char> bytes;
};

std::uint64_t to_tick(double beat, std::uint16_t tpb) {
    // The nearest tick, ties to even.
    const double t = std::nearbyint(beat * static_cast<double>(tpb));
    return t > 0.0 ? static_cast<std::uint64_t>(t) : 0;
}

void put_track(std::vector<unsigned char>& file, std::vector<OutEvent>& events) {
    std::stable_sort(events.begin(), events.end(), [](const OutEvent& a, const OutEvent& b) {
        if (a.tick != b.tick) return a.tick < b.tick;
        if (a.order != b.order) return a.order < b.order;
        return a.seq < b.seq;
    });
    std::vector<unsigned char> body;
    std::uint64_t tick = 0;
    for (const OutEvent& e : events) {
        const std::uint64_t delta = e.tick - tick;
        if (delta > 0x0FFFFFFF) throw ValueError("a gap of more than 268435455 ticks between two events");
        put_varlen(body, static_cast<std::uint32_t>(delta));
        body.insert(body.end(), e.bytes.begin(), e.bytes.end());
        tick = e.tick;
    }
    body.insert(body.end(), {0x00, 0xFF, 0x2F, 0x00});
    if (body.size() > 0xFFFFFFFFu) throw ValueError("a track too long for a MIDI file");
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    put_big(file, static_cast<std::uint32_t>(body.size()), 4);
    file.insert(file.end(), body.begin(), body.end());
}

}  // namespace

std::vector<unsigned char> write_smf(const std::vector<SmfTempo>& tempo, const std::vector<SmfOutTrack>& tracks,
                                     std::uint16_t ticks_per_beat) {
    std::vector<unsigned char> file{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1};
    put_big(file, static_cast<std::uint32_t>(tracks.size() + 1), 2);
    put_big(file, ticks_per_beat, 2);

    std::vector<OutEvent> events;
    for (std::size_t i = 0; i < tempo.size(); ++i) {
        double us = std::nearbyint(60000000.0 / tempo[i].bpm);
        us = std::clamp(us, 1.0, 16777215.0);
        std::vector<unsigned char> bytes{0xFF, 0x51, 0x03};
        put_big(bytes, static_cast<std::uint32_t>(us), 3);
        events.push_back({to_tick(tempo[i].beat, ticks_per_beat), 0, i, std::move(bytes)});
    }
    put_track(file, events);

    for (const SmfOutTrack& t : tracks) {
        events.clear();
        if (!t.name.empty()) {
            std::vector<unsigned char> bytes{0xFF, 0x03};
            put_varlen(bytes, static_cast<std::uint32_t>(std::min<std::size_t>(t.name.size(), 0x0FFFFFFF)));
            bytes.insert(bytes.end(), t.name.begin(), t.name.begin() + std::min<std::ptrdiff_t>(
                                                                           static_cast<std::ptrdiff_t>(t.name.size()),
                                                                           0x0FFFFFFF));
            events.push_back({0, 0, 0, std::move(bytes)});
        }
        const auto ch = static_cast<unsigned char>(t.channel & 0x0F);
        if (t.program >= 0) events.push_back({0, 1, 0, {static_cast<unsigned char>(0xC0 | ch),
                                                        static_cast<unsigned char>(t.program & 0x7F)}});
        std::size_t seq = 0;
        for (const SmfNote& n : t.notes) {
            if (n.velocity == 0) continue;  // would read back as a note-off
            const std::uint64_t on = to_tick(n.start, ticks_per_beat);
            const std::uint64_t off = std::max(on, to_tick(n.start + n.duration, ticks_per_beat));
            const auto note = static_cast<unsigned char>(n.note & 0x7F);
            events.push_back({on, 3, seq, {static_cast<unsigned char>(0x90 | ch), note,
                                           static_cast<unsigned char>(n.velocity & 0x7F)}});
            // At one tick note-offs go before note-ons, except the end of a
            // note that has no length, which must follow its own start.
            events.push_back({off, off == on ? 4 : 2, seq, {static_cast<unsigned char>(0x80 | ch), note, 0x40}});
            ++seq;
        }
        put_track(file, events);
    }
    return file;
}

}  // namespace tamlor::midi
