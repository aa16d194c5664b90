"""MIDI files to songs and back, and MIDI messages as wire bytes. Every file
here is built byte by byte, so each reading rule is tested on exactly the
bytes that exercise it."""
import io
import os
import pickle
import re
import stat
import struct
import threading
import time

import numpy as np
import pytest

import tamlor
import tamlor_song
from conftest import check_failing_writes, left_behind

RATE = 1000
FLAT = tamlor.Envelope(0.0, 0.0, 1.0, 0.0)


def vlq(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.append(0x80 | (n & 0x7F))
        n >>= 7
    return bytes(reversed(out))


def chunk(tag, body):
    return tag + len(body).to_bytes(4, "big") + body


def mtrk(*events, end=True):
    """A track chunk from (delta, bytes) pairs, with an end-of-track event."""
    body = b"".join(vlq(d) + bytes(e) for d, e in events)
    return chunk(b"MTrk", body + (b"\x00\xff\x2f\x00" if end else b""))


def smf(fmt, tpb, *tracks, count=None):
    head = chunk(b"MThd", fmt.to_bytes(2, "big") + (len(tracks) if count is None else count).to_bytes(2, "big")
                 + tpb.to_bytes(2, "big"))
    return head + b"".join(tracks)


def tempo(us):
    return b"\xff\x51\x03" + us.to_bytes(3, "big")


def name(text):
    return b"\xff\x03" + vlq(len(text)) + text


def flat_instruments(level=0.25):
    """Instruments that hold `level` while a note lasts and stop at once."""
    def make(channel, program, track_name):
        s = tamlor.AudioSample([level] * 64, sample_rate=RATE, root_note=60)
        s.loop_start, s.loop_end = 0, 64
        sampler = tamlor.Sampler(s, sample_rate=RATE)
        sampler.set_envelope(FLAT)
        return sampler
    return make


def test_format_0_running_status_both_note_offs_tempo_and_channels():
    data = smf(0, 96, mtrk(
        (0, name(b"Duet")),
        (0, tempo(500000)),
        (0, [0x90, 60, 100]),   # ch 0 on
        (0, [64, 90]),          # running status: ch 0 on
        (48, [60, 0]),          # running status, velocity 0: off
        (0, [0x81, 67, 80]),    # ch 1 note-off form first: nothing sounding, ignored
        (0, [0x91, 67, 80]),
        (0, b"\xf0\x05\x7e\x7f\x09\x01\xf7"),  # SysEx, skipped
        (0, b"\xf7\x02\xf3\x01"),                 # an escape, skipped
        (48, [0x80, 64, 0]),    # off by 0x80
        (0, tempo(1000000)),    # 60 bpm from beat 1
        (96, [0x81, 67, 0]),
    ))
    song = tamlor_song.Song.from_midi(data, sample_rate=RATE)
    assert song.tempo_map == [(0.0, 120.0), (1.0, 60.0)]
    assert [(t.name, t.channel, t.program) for t in song.tracks] == [
        ("Duet (channel 0)", 0, 0), ("Duet (channel 1)", 1, 0)]
    assert song.tracks[0].notes() == [(0.0, 0.5, 60, 100), (0.0, 1.0, 64, 90)]
    assert song.tracks[1].notes() == [(0.5, 1.5, 67, 80)]
    assert song.tracks[0].gain == pytest.approx(0.8) and song.tracks[0].pan == 0.0


def onsets_and_ends(samples):
    prev, out = 0.0, []
    for i, x in enumerate(samples):
        if x != prev:
            out.append((i, x))
        prev = x
    return out


def test_frames_from_the_rendered_audio_follow_the_tempo_map():
    # 480 ticks per beat; 120 bpm, then 90 bpm from beat 2 (666667 us).
    data = smf(1, 480,
               mtrk((0, tempo(500000)), (960, tempo(666667))),
               mtrk((0, [0xC0, 5]), (240, [0x90, 60, 127]), (960, [0x80, 60, 0]), (240, [0x90, 62, 127]),
                    (720, [0x90, 62, 0])))
    song = tamlor_song.Song.from_midi(data, sample_rate=RATE, instruments=flat_instruments())
    song.master_gain = 1.0
    (track,) = song.tracks
    track.gain, track.pan = 1.0, -1.0
    assert track.program == 5 and track.name == "track 1"
    bpm2 = 60000000 / 666667
    assert song.tempo_map == [(0.0, 120.0), (2.0, bpm2)]
    out = song.render(4000)[0::2]

    def frame(beat):
        seconds = beat * 60.0 / 120.0 if beat <= 2 else 1.0 + ((beat - 2.0) * 60.0) / bpm2
        return int(seconds * RATE + 0.5)

    assert [f for f, _ in onsets_and_ends(out)] == [frame(0.5), frame(2.5), frame(3.0), frame(4.5)]
    assert song.length_frames() == frame(4.5)


def test_oldest_note_ends_first_pedal_holds_offs_and_track_end_ends_the_rest():
    data = smf(1, 4, mtrk(
        (0, [0x90, 60, 100]),   # A
        (4, [0x90, 60, 90]),    # B, same pitch
        (4, [0x80, 60, 0]),     # ends A (the oldest)
        (0, [0xB0, 64, 127]),   # pedal down
        (4, [0x80, 60, 0]),     # B's off waits for the pedal
        (0, [0x90, 72, 80]),
        (2, [0x80, 72, 0]),     # held too
        (2, [0xB0, 64, 0]),     # pedal up: B and the 72 end here (beat 4)
        (0, [0x90, 48, 70]),    # never ended: ends with the track
        (8, [0xFF, 0x01, 0x01, 0x41]),  # a text event, skipped
    ))
    notes = tamlor_song.Song.from_midi(data).tracks[0].notes()
    assert notes == [(0.0, 2.0, 60, 100), (1.0, 3.0, 60, 90), (3.0, 1.0, 72, 80), (4.0, 2.0, 48, 70)]


def test_format_1_tracks_programs_volume_pan_and_program_changes_mid_track():
    data = smf(1, 10,
               mtrk((0, name(b"Conductor")), (0, tempo(400000))),
               mtrk((0, name(b"Strings")), (0, [0xB2, 7, 100]), (0, [0xB2, 10, 127]), (0, [0xC2, 48]),
                    (0, [0xC2, 49]),  # the last change before the first note counts
                    (10, [0x92, 55, 90]), (10, [0x82, 55, 0]),
                    (0, [0xB2, 7, 10]),  # a later volume move is not played
                    (0, [0xC2, 40]), (10, [0x92, 57, 90]), (10, [0x82, 57, 0]),
                    (0, [0xC2, 49]), (0, [0x92, 59, 91]), (10, [0x82, 59, 0])),  # back to 49: its track
               chunk(b"XFIH", b"\x01\x02\x03"),  # an unknown chunk, skipped
               mtrk((0, [0xB9, 10, 0]), (0, [0x99, 36, 120]), (5, [0x89, 36, 0])), count=3)
    song = tamlor_song.Song.from_midi(data)
    assert song.tempo_map == [(0.0, 150.0)]
    info = [(t.name, t.channel, t.program, t.notes()) for t in song.tracks]
    assert info == [("Strings (program 49)", 2, 49, [(1.0, 1.0, 55, 90), (4.0, 1.0, 59, 91)]),
                    ("Strings (program 40)", 2, 40, [(3.0, 1.0, 57, 90)]),
                    ("track 2", 9, 0, [(0.0, 0.5, 36, 120)])]
    strings, _, drums = song.tracks
    assert strings.gain == struct.unpack("f", struct.pack("f", 0.8 * (100 / 127) ** 2))[0] and strings.pan == 1.0
    assert drums.pan == -1.0 and drums.gain == pytest.approx(0.8)
    # Each track has an instrument of its own.
    assert strings.instrument is not song.tracks[1].instrument
    strings.instrument.add_mapping(tamlor.SampleMapping(tamlor.AudioSample([1.0]), 0, 127, 0, 127))
    assert len(tamlor_song.Song.from_midi(data).tracks[0].instrument) == 1
    # The default sounds: a drum kit on channel index 9 and a tone elsewhere, both heard.
    out = song.render(song.length_frames())
    assert max(abs(x) for x in out[:4000]) > 0.01


BAD_FILES = [
    (b"RIFF\x00\x00\x00\x04WAVE", "not a MIDI file (no MThd header) at byte 0"),
    (b"", "not a MIDI file (no MThd header) at byte 0"),
    (smf(1, 96, mtrk((0, [0x90, 60, 100])))[:-3], "chunk length past the end of the file at byte 18"),
    (smf(0, 96) + b"MTrk\x00\x00\xff\xff", "chunk length past the end of the file at byte 18"),
    (smf(0, 96, mtrk((0, [60, 100]))), "running status with no status byte at byte 23"),
    (smf(0, 96, mtrk((0, [0x90, 0x80, 100]))), "data byte 0x80 is 0x80 or more at byte 24"),
    (smf(0, 96, mtrk((0, [0x90, 60]), end=False)), "event runs past the end of its track chunk at byte 25"),
    (smf(2, 96, mtrk()), "format 2 (independent sequences) is not supported at byte 8"),
    (smf(1, 0xE728, mtrk()), "SMPTE time division is not supported at byte 12"),
    (smf(1, 0, mtrk()), "time division of 0 ticks per beat at byte 12"),
    (smf(1, 96, mtrk(), count=2), "the header declares 2 tracks, the file holds 1 at byte 26"),
    (smf(0, 96, mtrk((0, [0xF1, 1]))), "unexpected status byte 0xF1 at byte 23"),
    (smf(0, 96, mtrk((0, b"\xff\x51\x02\x01\x02"))), "tempo event of 2 bytes (3 expected) at byte 23"),
    (smf(0, 96, mtrk((0, tempo(0)))), "tempo of 0 microseconds per beat at byte 23"),
    (smf(0, 96, chunk(b"MTrk", b"\xff\xff\xff\xff\x7f\x90\x3c\x01")),
     "variable-length number longer than 4 bytes at byte 22"),
    (b"MThd\x00\x00\x00\x03\x00\x01\x00", "header chunk shorter than 6 bytes at byte 4"),
]


@pytest.mark.parametrize("data, message", BAD_FILES)
def test_bad_files_name_the_reason_and_the_byte(data, message, tmp_path):
    before = data
    with pytest.raises(ValueError) as info:
        tamlor_song.Song.from_midi(data)
    assert str(info.value) == f"<bytes>: {message}"
    assert data == before
    path = tmp_path / "bad.mid"
    path.write_bytes(data)
    with pytest.raises(ValueError, match=f"^{path}: "):
        tamlor_song.Song.from_midi(path)
    with pytest.raises(ValueError, match=f"^{path}: "):
        with open(path, "rb") as f:
            tamlor_song.Song.from_midi(f)


def test_ten_megabytes_of_junk_and_a_huge_claimed_chunk_fail_at_once():
    junk = os.urandom(10 << 20)
    for data in (junk, b"MThd\x00\x00\x00\x06\x00\x01\x00\x01\x00\x60" + b"MTrk\x7f\xff\xff\xff" + junk[:1000],
                 smf(0, 96, mtrk(*[(0x0FFFFFFF, [0x90, 60, 1])] * 4000))):
        start = time.perf_counter()
        with pytest.raises(ValueError, match="^<bytes>: .* at byte \\d+$"):
            tamlor_song.Song.from_midi(data)
        assert time.perf_counter() - start < 1.0


def test_damaged_files_read_or_fail_with_a_place_inside_them():
    # Seeded damage to a valid two-track file (bytes changed, cut short,
    # bytes inserted): each either reads and renders or gives ValueError
    # naming a byte inside what was given, never anything else.
    import random
    rng = random.Random(17)
    good = smf(1, 96,
               mtrk((0, tempo(500000)), (192, tempo(400000))),
               mtrk((0, [0xC0, 3]), (0, [0xB0, 64, 127]), (10, [0x90, 60, 100]), (10, [64, 90]), (40, [0x80, 60, 0]),
                    (0, [0xB0, 64, 0]), (5, [0xF0, 2, 1, 0xF7]), (5, [0x90, 64, 0])))
    tamlor_song.Song.from_midi(good)
    read = 0
    for _ in range(3000):
        data = bytearray(good)
        for _ in range(rng.randrange(1, 6)):
            how = rng.randrange(3)
            if how == 0:
                data[rng.randrange(len(data))] = rng.randrange(256)
            elif how == 1:
                del data[rng.randrange(len(data)):]
            else:
                data.insert(rng.randrange(len(data) + 1), rng.randrange(256))
            if not data:
                data = bytearray(b"M")
        try:
            song = tamlor_song.Song.from_midi(bytes(data))
        except ValueError as e:
            match = re.fullmatch(r"<bytes>: .+ at byte (\d+)", str(e))
            assert match and int(match.group(1)) <= len(data), str(e)
        else:
            read += 1
            song.render(64)
    assert 0 < read < 3000


def test_sources_and_instrument_protocols():
    data = smf(0, 96, mtrk((0, name(b"Solo")), (0, [0x93, 60, 100]), (96, [0x83, 60, 0])))
    seen = []

    class Library:
        def instrument_for(self, channel, program, track_name):
            seen.append((channel, program, track_name))
            return None  # the built-in sound

    for source in (data, bytearray(data), io.BytesIO(data)):
        song = tamlor_song.Song.from_midi(source, sample_rate=22050, instruments=Library())
        assert song.sample_rate == 22050 and song.tracks[0].notes() == [(0.0, 1.0, 60, 100)]
    assert seen == [(3, 0, "Solo")] * 3
    made = flat_instruments()
    song = tamlor_song.Song.from_midi(data, sample_rate=RATE, instruments=made)
    assert isinstance(song.tracks[0].instrument, tamlor.Sampler)
    for bad, exc in ((42, TypeError), ("no-such-file.mid", FileNotFoundError), (io.StringIO("x"), TypeError)):
        with pytest.raises(exc):
            tamlor_song.Song.from_midi(bad)
    with pytest.raises(TypeError, match="instruments"):
        tamlor_song.Song.from_midi(data, instruments=5)


def test_write_midi_round_trips_notes_tempo_channels_and_programs(tmp_path):
    song = tamlor_song.Song(bpm=100, sample_rate=RATE)
    zones = tamlor.SampleMap.single_sample(tamlor.AudioSample([0.5] * 10, RATE))
    a = song.add_track("lead", zones)
    a.add_notes([(0, 1, 60, 100), (0.5, 0.25, 64, 1), (1, 1, 60, 127), (3.125, 0.0, 70)])  # back to back, and empty
    b = song.add_track("bass", zones)
    b.channel, b.program = 9, 33
    b.add_note(0.75, 2, 40, 64)
    c = song.add_track("pad", zones)
    p = tamlor.Pattern(2)
    p.set_step(0, tamlor.Step(50, 70, 1))
    c.add_pattern(p, 0.5, start_beat=1, end_beat=3)
    d = song.add_track("more", zones)
    song.set_tempo(2, 72.5)
    path = tmp_path / "out.mid"
    song.write_midi(path, ticks_per_beat=8)
    back = tamlor_song.Song.from_midi(path, sample_rate=RATE)
    assert back.tempo_map == [(0.0, 100.0), (2.0, 60000000 / round(60000000 / 72.5))]
    got = [(t.name, t.channel, t.program, t.notes()) for t in back.tracks]
    assert got == [("lead", 0, 0, a.notes()), ("bass", 9, 33, b.notes()), ("pad", 1, 0, c.notes())]
    assert d.notes() == []  # a track without notes is written, and reads back as nothing
    buffer = io.BytesIO()
    song.write_midi(buffer)
    assert buffer.getvalue()[:4] == b"MThd" and buffer.getvalue()[8:10] == b"\x00\x01"
    # Off the tick grid, beats go to the nearest tick.
    e = tamlor_song.Song()
    e.add_track("x", zones).add_note(0.26, 0.5, 60)
    e.write_midi(path, ticks_per_beat=4)
    assert tamlor_song.Song.from_midi(path).tracks[0].notes() == [(0.25, 0.5, 60, 100)]


def test_write_midi_refuses_a_pattern_without_end_and_bad_arguments(tmp_path):
    song = tamlor_song.Song()
    t = song.add_track("drums", tamlor.SampleMap())
    p = tamlor.Pattern(1)
    p.set_step(0, tamlor.Step(36, 100, 1))
    t.add_pattern(p, 1.0)
    target = tmp_path / "keep.mid"
    target.write_bytes(b"old")
    with pytest.raises(ValueError, match="'drums'"):
        song.write_midi(target)
    assert target.read_bytes() == b"old" and os.listdir(tmp_path) == ["keep.mid"]
    for bad, exc in ((0, ValueError), (40000, ValueError), (4.0, TypeError), (True, TypeError)):
        with pytest.raises(exc):
            tamlor_song.Song().write_midi(target, ticks_per_beat=bad)
    with pytest.raises(TypeError):
        tamlor_song.Song().write_midi(42)
    # Any integer type gives the ticks, bool excepted.
    tamlor_song.Song().write_midi(target, ticks_per_beat=np.int16(96))
    assert target.read_bytes()[12:14] == b"\x00\x60"


def song_of(notes):
    song = tamlor_song.Song()
    song.add_track("lead", tamlor.SampleMap()).add_notes([(i * 0.25, 0.25, 60 + i % 12, 100) for i in range(notes)])
    return song


def test_a_failing_midi_write_leaves_the_file_and_its_link_and_nothing_else(tmp_path):
    # A file size limit makes the write fail part way: what was there stays
    # byte for byte, the link stays a link, no temporary file is left.
    check_failing_writes(tmp_path, ".mid", """
        song = tamlor_song.Song()
        song.add_track("lead", tamlor.SampleMap()).add_notes([(i / 4, 0.25, 60, 100) for i in range(20_000)])
        little = tamlor_song.Song()
        little.add_track("lead", tamlor.SampleMap()).add_note(0, 1, 60)
        small = little.write_midi
        writes = [song.write_midi]
    """, 20_000)


def test_write_midi_replaces_files_through_links_and_writes_devices_in_place(tmp_path):
    song = song_of(8)
    expected = io.BytesIO()
    song.write_midi(expected)
    (tmp_path / "real").mkdir()
    target = tmp_path / "real" / "take.mid"
    target.write_bytes(b"old")
    os.chmod(target, 0o640)
    (tmp_path / "link.mid").symlink_to(target)
    song.write_midi(tmp_path / "link.mid")
    assert target.read_bytes() == expected.getvalue() and (tmp_path / "link.mid").is_symlink()
    assert stat.S_IMODE(os.stat(target).st_mode) == 0o640
    song.write_midi(str(target))
    assert target.read_bytes() == expected.getvalue()
    assert left_behind(tmp_path / "real", "take.mid") == []
    song.write_midi("/dev/null")
    with pytest.raises(OSError) as info:
        song_of(40_000).write_midi("/dev/full")
    assert info.value.filename == "/dev/full"
    assert stat.S_ISCHR(os.stat("/dev/null").st_mode) and stat.S_ISCHR(os.stat("/dev/full").st_mode)
    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)
    got = []
    reader = threading.Thread(target=lambda: got.append(fifo.read_bytes()))
    reader.start()
    song.write_midi(fifo)
    reader.join(10)
    assert got == [expected.getvalue()] and stat.S_ISFIFO(os.stat(fifo).st_mode)
    assert left_behind(tmp_path, "real", "link.mid", "pipe") == []


def test_midi_writes_that_cannot_start_leave_nothing(tmp_path):
    song = song_of(1)
    with pytest.raises(FileNotFoundError):
        song.write_midi(tmp_path / "missing" / "a.mid")
    with pytest.raises(IsADirectoryError):
        song.write_midi(tmp_path)
    with pytest.raises(FileNotFoundError):
        song.write_midi("")
    # The native writer checks both arguments before it opens anything.
    from tamlor_song import _smf
    with pytest.raises(TypeError):
        _smf.save(tmp_path / "a.mid", "text")
    with pytest.raises(TypeError):
        _smf.save(3, b"MThd")
    assert os.listdir(tmp_path) == []


MESSAGES = [
    (lambda: tamlor.MidiMessage.note_on(0, 60, 100), b"\x90\x3c\x64"),
    (lambda: tamlor.MidiMessage.note_off(15, 127, 0), b"\x8f\x7f\x00"),
    (lambda: tamlor.MidiMessage.control_change(1, 7, 127), b"\xb1\x07\x7f"),
    (lambda: tamlor.MidiMessage.program_change(2, 5), b"\xc2\x05"),
    (lambda: tamlor.MidiMessage.pitch_bend(3, 16383), b"\xe3\x7f\x7f"),
    (lambda: tamlor.MidiMessage.pitch_bend(3, 8192), b"\xe3\x00\x40"),
    (lambda: tamlor.MidiMessage.from_bytes(b"\xa4\x40\x5a"), b"\xa4\x40\x5a"),
    (lambda: tamlor.MidiMessage.from_bytes(b"\xd5\x11"), b"\xd5\x11"),
    (tamlor.MidiMessage.clock, b"\xf8"),
    (tamlor.MidiMessage.start, b"\xfa"),
    (lambda: tamlor.MidiMessage.from_bytes(b"\xfb"), b"\xfb"),
    (tamlor.MidiMessage.stop, b"\xfc"),
]


def test_every_variant_to_bytes_and_back():
    kinds = set()
    for make, wire in MESSAGES:
        m = make()
        assert m.to_bytes() == wire
        assert tamlor.MidiMessage.from_bytes(wire) == m
        assert tamlor.MidiMessage.from_bytes(list(wire)) == m
        assert tamlor.MidiMessage.from_bytes(bytearray(wire)) == m
        assert pickle.loads(pickle.dumps(m)) == m
        kinds.add(str(m).split(" ")[0])
    assert len(kinds) == 11
    assert str(tamlor.MidiMessage.from_bytes(b"\xa4\x40\x5a")) == "Aftertouch { channel: MidiChannel(4), note: Note(64), pressure: 90 }"
    assert str(tamlor.MidiMessage.from_bytes(b"\x90\x3c\x00")) == "NoteOn { channel: MidiChannel(0), note: Note(60), velocity: Velocity(0) }"


def test_values_that_do_not_fit_the_wire_are_refused():
    for m, message in ((tamlor.MidiMessage.control_change(0, 7, 200), "control value 200 does not fit in 7 bits"),
                       (tamlor.MidiMessage.program_change(0, 128), "program 128 does not fit in 7 bits"),
                       (tamlor.MidiMessage.pitch_bend(0, 16384), "pitch bend value 16384 does not fit in 14 bits"),
                       (tamlor.MidiMessage.pitch_bend(0, 65535), "pitch bend value 65535 does not fit in 14 bits")):
        with pytest.raises(ValueError, match=f"^{message}"):
            m.to_bytes()
    bad = [(b"", ValueError, "no bytes"), (b"\x3c\x64", ValueError, "not a status byte"),
           (b"\x90\x3c", ValueError, "takes 3 bytes, got 2"), (b"\x90\x3c\x64\x00", ValueError, "got 4"),
           (b"\xc0\x05\x00", ValueError, "takes 2 bytes, got 3"), (b"\x90\x3c\x80", ValueError, "data byte 2 is 0x80"),
           (b"\xf0\x7e\xf7", ValueError, "status byte 0xF0"), (b"\xfe", ValueError, "0xFE"),
           ([0x90, 256, 0], OverflowError, None), ([0x90, -1, 0], OverflowError, None), ("\x90", TypeError, "str"),
           (42, TypeError, None), ([0x90, 1.5, 0], TypeError, None), ([0x90] + [0] * 99999, ValueError, "got 100000")]
    for data, exc, text in bad:
        with pytest.raises(exc, match=text):
            tamlor.MidiMessage.from_bytes(data)


def test_many_tiny_tracks_and_program_changes_stay_quick():
    # 50,000 empty tracks, and one track whose every note changes program.
    empty = b"MTrk\x00\x00\x00\x04\x00\xff\x2f\x00"
    data = b"MThd\x00\x00\x00\x06\x00\x01\xc3\x50\x00\x60" + empty * 50_000
    start = time.perf_counter()
    assert tamlor_song.Song.from_midi(data).tracks == ()
    events = []
    for i in range(6_000):
        events += [(0, [0xC0, i % 3]), (0, [0x90, 60, 100]), (1, [0x80, 60, 0])]
    song = tamlor_song.Song.from_midi(smf(0, 96, mtrk(*events)))
    assert [t.program for t in song.tracks] == [0, 1, 2]
    assert sum(len(t.notes()) for t in song.tracks) == 6_000
    assert time.perf_counter() - start < 5.0
