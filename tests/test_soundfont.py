"""SoundFont 2 banks written by the tests, read back: generators (and the
preset's added to the instrument's), what they play, and every damaged-file
case with its message."""
from __future__ import annotations

import math
import re
import struct
import tracemalloc

import numpy as np
import pytest

import banks
import tamlor
from banks import (ATTACK, ATTENUATION, COARSE_TUNE, DECAY, EXCLUSIVE_CLASS, FINE_TUNE, HOLD, INSTRUMENT, KEY_RANGE,
                   KEYNUM, LOOP_END, LOOP_START, PAN, RELEASE, ROOT_KEY, SAMPLE_ID, SAMPLE_MODES, SCALE_TUNING, START,
                   SUSTAIN, VEL_RANGE, Bank, Sample)
from tamlor_song import SoundFont
from test_instruments import cents, db, measured_hz, render

RATE = 44100


def font(tmp_path, bank: Bank, **damage: object) -> SoundFont:
    path = tmp_path / "bank.sf2"
    path.write_bytes(banks.sf2_bytes(bank, **damage))  # type: ignore[arg-type]
    return SoundFont(path)


def zone_of(tmp_path, gens=(), preset_gens=(), **sample):
    data = sample.pop("data", banks.constant(1000))
    sf = font(tmp_path, banks.one_zone_bank(data, gens, preset_gens, **sample))
    zones = sf.instrument(0).zones
    assert len(zones) == 1
    return zones[0]


def test_presets_and_instruments_are_listed_and_found(tmp_path):
    bank = Bank(samples=[Sample("a", banks.constant(100))],
                instruments=[("i", [[(SAMPLE_ID, 0)]])],
                presets=[("Piano", 0, 0, [[(INSTRUMENT, 0)]]), ("Kit", 128, 0, [[(INSTRUMENT, 0)]]),
                         ("Organ", 0, 19, [[(INSTRUMENT, 0)]])])
    sf = font(tmp_path, bank)
    assert sf.presets == [(0, 0, "Piano"), (128, 0, "Kit"), (0, 19, "Organ")]
    assert sf.instrument(19).name == "Organ"
    assert sf.instrument(0, bank=128).name == "Kit"
    assert sf.instrument(19) is sf.instrument(19)
    assert sf.instrument_for(9, 25, "drums").name == "Kit"     # falls back to kit 0
    assert sf.instrument_for(0, 19, "organ").name == "Organ"
    assert sf.instrument_for(3, 100, "x").name == "Piano"      # no such program: program 0
    with pytest.raises(ValueError, match="no preset 5 in bank 0"):
        sf.instrument(5)
    with pytest.raises(ValueError, match="program must be 0 to 127"):
        sf.instrument(128)


def test_generators_become_zone_settings(tmp_path):
    z = zone_of(tmp_path, [(KEY_RANGE, (40, 70)), (VEL_RANGE, (10, 100)), (ROOT_KEY, 50), (COARSE_TUNE, 2),
                           (FINE_TUNE, -30), (SCALE_TUNING, 50), (ATTENUATION, 60), (PAN, -250),
                           (SAMPLE_MODES, 3), (EXCLUSIVE_CLASS, 4), (ATTACK, 0), (HOLD, -1200), (DECAY, 1200),
                           (SUSTAIN, 200), (RELEASE, 2400), (START, 10), (LOOP_START, 5), (LOOP_END, -5)],
                correction=7, loop=(100, 900))
    assert (z.key_low, z.key_high, z.velocity_low, z.velocity_high) == (40, 70, 10, 100)
    assert (z.root_key, z.tune_cents, z.key_tracking) == (50, 200 - 30 + 7, 50.0)
    assert (z.level_db, z.pan, z.loop, z.choke_group, z.off_by) == (-6.0, -0.5, "until_release", 4, 4)
    assert (z.attack, z.hold, z.decay, z.release) == (1.0, 0.5, 2.0, 4.0)
    assert z.sustain == pytest.approx(0.1)  # 200 cB = 20 dB down
    assert z.curve == "decibels"
    assert (z.start, z.end, z.loop_start, z.loop_end) == (10, 1000, 105, 895)
    assert z.delay == 0.0  # the default of -12000 timecents: no delay


def test_preset_generators_add_to_the_instrument_and_narrow_its_ranges(tmp_path):
    z = zone_of(tmp_path, [(KEY_RANGE, (40, 70)), (COARSE_TUNE, 1), (ATTENUATION, 30), (RELEASE, 0)],
                [(KEY_RANGE, (60, 90)), (COARSE_TUNE, 2), (ATTENUATION, 20), (RELEASE, 1200), (ROOT_KEY, 10),
                 (START, 500)])
    assert (z.key_low, z.key_high) == (60, 70)
    assert (z.tune_cents, z.level_db, z.release) == (300.0, -5.0, 2.0)
    assert (z.root_key, z.start) == (60, 0)  # instrument-only generators at preset level are ignored


def test_global_zones_give_defaults_that_local_zones_override(tmp_path):
    bank = Bank(samples=[Sample("a", banks.constant(100), pitch=64)],
                instruments=[("i", [[(ATTENUATION, 100), (PAN, 500)], [(SAMPLE_ID, 0)],
                                    [(ATTENUATION, 10), (SAMPLE_ID, 0)]])],
                presets=[("p", 0, 0, [[(COARSE_TUNE, 1)], [(INSTRUMENT, 0)]])])
    zones = font(tmp_path, bank).instrument(0).zones
    assert [(z.level_db, z.pan, z.tune_cents, z.root_key) for z in zones] == [(-10.0, 1.0, 100.0, 64),
                                                                             (-1.0, 1.0, 100.0, 64)]


def test_a_fixed_key_plays_every_key_at_its_pitch(tmp_path):
    z = zone_of(tmp_path, [(KEYNUM, 72), (ROOT_KEY, 60)])
    assert (z.key_tracking, z.tune_cents) == (0.0, 1200.0)


def test_linked_stereo_samples_play_left_on_the_left(tmp_path):
    bank = Bank(samples=[Sample("L", banks.constant(100, 0.5), kind=4, link=1),
                         Sample("R", banks.constant(100, 0.25), kind=2, link=0)],
                instruments=[("i", [[(SAMPLE_ID, 0)], [(SAMPLE_ID, 1)]])],
                presets=[("p", 0, 0, [[(INSTRUMENT, 0)]])])
    p = font(tmp_path, bank).instrument(0).player(RATE)
    p.note_on(60, 127)
    left, right = render(p, 10)[5]
    assert (left, right) == (pytest.approx(0.5, abs=1e-4), pytest.approx(0.25, abs=1e-4))


def test_a_bank_plays_at_its_pitch_level_and_velocity_curve(tmp_path):
    # A 441 Hz sine at 44100 (100-frame period), looped, root 69, tuned up 3 cents.
    z_bank = banks.one_zone_bank(banks.sine(44100, 100.0, 0.5), [(SAMPLE_MODES, 1), (ATTENUATION, 35),
                                                                 (PAN, -500)],
                                 loop=(0, 44100), pitch=69, correction=3)
    p = font(tmp_path, z_bank).instrument(0).player(RATE)
    p.note_on(76, 90)
    out = render(p, RATE)[:, 0].astype(np.float64)
    assert abs(cents(measured_hz(out, RATE), 441 * 2 ** ((700 + 3) / 1200))) < 0.1
    # Level: 3.5 dB of attenuation and 40 log10(90 / 127) dB for the velocity.
    peak = float(np.abs(out[10000:]).max())
    assert abs(db(peak) - (db(0.5) - 3.5 + 40 * math.log10(90 / 127))) < 0.01


def test_exclusive_classes_choke_each_other(tmp_path):
    bank = Bank(samples=[Sample("a", banks.constant(RATE))],
                instruments=[("i", [[(KEY_RANGE, (42, 42)), (EXCLUSIVE_CLASS, 1), (SAMPLE_ID, 0)],
                                    [(KEY_RANGE, (46, 46)), (EXCLUSIVE_CLASS, 1), (SAMPLE_ID, 0)]])],
                presets=[("p", 128, 0, [[(INSTRUMENT, 0)]])])
    p = font(tmp_path, bank).instrument(0, 128).player(RATE)
    p.note_on(46, 127)
    render(p, 10)
    p.note_on(42, 127)
    render(p, 100)
    assert p.active_voice_count() == 1


def test_the_sample_data_is_shared_not_copied_per_zone(tmp_path):
    data = banks.constant(2_000_000)
    bank = Bank(samples=[Sample("a", data)],
                instruments=[("i", [[(KEY_RANGE, (k, k)), (SAMPLE_ID, 0)] for k in range(128)])],
                presets=[("p", 0, 0, [[(INSTRUMENT, 0)]])])
    path = tmp_path / "big.sf2"
    path.write_bytes(banks.sf2_bytes(bank))
    tracemalloc.start()
    try:
        sf = SoundFont(path)
        inst = sf.instrument(0)
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert len(inst) == 128 and all(z.sample is inst.zones[0].sample for z in inst)
    assert peak < 1_000_000  # the sample data (4 MB) lives outside Python's heap, once


def _bank() -> Bank:
    return banks.one_zone_bank(banks.constant(100), [(KEY_RANGE, (0, 127))])


@pytest.mark.parametrize("damage, message", [
    (dict(drop="phdr"), "missing the 'phdr' chunk"),
    (dict(drop="shdr"), "missing the 'shdr' chunk"),
    (dict(drop="smpl"), "missing the 'smpl' chunk"),
    (dict(patch={"pbag": b"\0" * 6}), "the 'pbag' chunk holds 6 bytes, not a whole number of 4-byte records"),
    (dict(patch={"igen": b""}), "the 'igen' chunk has no records"),
    (dict(patch={"pgen": struct.pack("<Hh", INSTRUMENT, 7) + b"\0" * 4}), "names instrument 7 of 1"),
    (dict(patch={"igen": struct.pack("<HBB", KEY_RANGE, 0, 127) + struct.pack("<Hh", SAMPLE_ID, 3) + b"\0" * 4}),
     "names sample 3 of 1"),
    (dict(patch={"pbag": struct.pack("<HH", 9, 0) * 2}), "preset zone 0 points at record 9 of 'pgen'"),
    (dict(patch={"phdr": struct.pack("<20sHHHIII", b"p", 0, 0, 5, 0, 0, 0) * 2}),
     "preset 0 points at record 5 of 'pbag'"),
    (dict(patch={"ibag": struct.pack("<HH", 1, 0) + struct.pack("<HH", 0, 0)}), "indexes run backwards"),
    (dict(patch={"smpl": b"\0" * 20}), "sample 0 ('s') points past the sample data (frames 0 to 100 of 10)"),
])
def test_damaged_files_are_refused_with_their_reason(tmp_path, damage, message):
    with pytest.raises(ValueError, match=r"bank\.sf2: .*" + re.escape(message)):
        font(tmp_path, _bank(), **damage)


@pytest.mark.parametrize("cut", [0, 4, 11, 12, 40, 200, -300, -50, -1])
def test_cut_short_files_are_refused_without_a_crash(tmp_path, cut):
    good = banks.sf2_bytes(_bank())
    path = tmp_path / "cut.sf2"
    path.write_bytes(good[:cut])
    with pytest.raises(ValueError, match=r"cut\.sf2: "):
        SoundFont(path)


def test_random_damage_never_crashes(tmp_path):
    good = bytearray(banks.sf2_bytes(_bank()))
    rng = np.random.default_rng(3)
    path = tmp_path / "noise.sf2"
    for _ in range(300):
        bad = bytearray(good)
        for i in rng.integers(0, len(bad), 4):
            bad[i] = int(rng.integers(0, 256))
        path.write_bytes(bytes(bad))
        try:
            inst = SoundFont(path).instrument(0)
        except ValueError as exc:
            assert str(exc).startswith(f"{path}: ")
            continue
        p = inst.player(RATE)
        p.note_on(60, 100)
        render(p, 64)


def test_a_missing_file_is_an_os_error_naming_it(tmp_path):
    with pytest.raises(FileNotFoundError, match="nothing.sf2"):
        SoundFont(tmp_path / "nothing.sf2")
    (tmp_path / "x.sf2").write_bytes(b"RIFF\0\0\0\0WAVE")
    with pytest.raises(ValueError, match="not a SoundFont 2 file"):
        SoundFont(tmp_path / "x.sf2")


def _midi_song(tmp_path) -> str:
    import tamlor
    from tamlor_song import Song
    song = Song(bpm=120, sample_rate=RATE)
    for channel, program, note in ((0, 0, 60), (9, 5, 38)):
        track = song.add_track(f"ch{channel}", tamlor.SampleMap())
        track.channel, track.program = channel, program
        track.add_note(0, 1, note, 127)
    path = str(tmp_path / "two.mid")
    song.write_midi(path)
    return path


def _two_bank(tmp_path) -> str:
    bank = Bank(samples=[Sample("melodic", banks.constant(RATE, 0.5)), Sample("drum", banks.constant(RATE, 0.25))],
                instruments=[("m", [[(PAN, -500), (SAMPLE_ID, 0)]]), ("d", [[(PAN, 500), (SAMPLE_ID, 1)]])],
                presets=[("Melodic", 0, 0, [[(INSTRUMENT, 0)]]), ("Drums", 128, 0, [[(INSTRUMENT, 1)]])])
    path = tmp_path / "two.sf2"
    path.write_bytes(banks.sf2_bytes(bank))
    return str(path)


def test_a_midi_file_plays_its_programs_and_drums_from_a_soundfont(tmp_path):
    from tamlor_song import Song
    song = Song.from_midi(_midi_song(tmp_path), instruments=SoundFont(_two_bank(tmp_path)))
    assert [t.instrument.name for t in song.tracks] == ["Melodic", "Drums"]
    left, right = np.frombuffer(song.render(100), np.float32).reshape(-1, 2)[50]
    assert left > 0.1 and right > 0.05  # the melodic zone panned left, the drum right


def test_the_render_command_takes_a_soundfont_or_an_sfz(tmp_path):
    import subprocess
    import sys
    midi, sf2 = _midi_song(tmp_path), _two_bank(tmp_path)
    banks.write_wav(str(tmp_path / "a.wav"), [0.5] * 1000)
    (tmp_path / "lib.sfz").write_text("<region> sample=a.wav cutoff=3\n")

    def run(*args: str) -> subprocess.CompletedProcess[str]:
        return subprocess.run([sys.executable, "-m", "tamlor_song", "render", midi, *args], capture_output=True,
                              text=True, timeout=120)

    for option, bank in (("--soundfont", sf2), ("--sfz", str(tmp_path / "lib.sfz"))):
        out = tmp_path / f"{option[2:]}.wav"
        done = run("-o", str(out), option, bank)
        assert (done.returncode, done.stderr) == (0, "")
        assert tamlor.AudioBuffer.read_wav(str(out)).frames > 0
    broken = tmp_path / "broken.sf2"
    broken.write_bytes(b"RIFF")
    done = run("-o", str(tmp_path / "x.wav"), "--soundfont", str(broken))
    assert done.returncode == 1 and "not a SoundFont 2 file" in done.stderr and "Traceback" not in done.stderr
    done = run("-o", str(tmp_path / "x.wav"), "--soundfont", sf2, "--sfz", "x.sfz")
    assert done.returncode == 2


def test_the_demo_plays_a_midi_file(tmp_path):
    import pathlib
    import subprocess
    import sys
    demo = pathlib.Path(__file__).resolve().parent.parent / "examples" / "demo.py"
    midi, out = _midi_song(tmp_path), tmp_path / "demo.wav"
    done = subprocess.run([sys.executable, str(demo), "--midi", midi, "--output", str(out)], capture_output=True,
                          text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    assert "played with" in done.stdout and tamlor.AudioBuffer.read_wav(str(out)).frames > RATE
    done = subprocess.run([sys.executable, str(demo), "--midi", str(tmp_path / "none.mid")], capture_output=True,
                          text=True, timeout=300)
    assert done.returncode == 1 and done.stderr.count("\n") == 1 and "none.mid" in done.stderr
