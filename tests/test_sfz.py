"""SFZ files and their WAV samples written by the tests, read back and played."""
from __future__ import annotations

import math
import os
import re
import warnings

import numpy as np
import pytest

import banks
from tamlor_song import Song, load_sfz
from tamlor_song.sfz import note_number
from test_instruments import cents, measured_hz, render

RATE = 44100


def library(tmp_path, text: str, **samples: list[float]) -> str:
    for name, frames in samples.items():
        banks.write_wav(str(tmp_path / f"{name}.wav"), frames)
    path = tmp_path / "lib.sfz"
    path.write_text(text)
    return str(path)


def flat(level: float = 0.5, frames: int = 1000) -> list[float]:
    return [level] * frames


def quiet(path: str):
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        return load_sfz(path)


def test_note_names():
    assert [note_number(t) for t in ("c4", "C4", "c#4", "db4", "a4", "c-1", "g9", "60", "B3", "eb5")] == [
        60, 60, 61, 61, 69, 0, 127, 60, 59, 75]
    for bad in ("h4", "c10", "", "c#", "-1"):
        with pytest.raises(ValueError):
            note_number(bad)


def test_headers_inherit_and_reset(tmp_path):
    path = library(tmp_path, """
        <control> default_path=samples/
        <global> volume=-6 ampeg_release=0.5
        <master> pan=-50
        <group> lovel=1 hivel=64 tune=10
        <region> sample=a.wav key=c4
        <region> sample=a.wav lokey=d4 hikey=e4 tune=-5 // its own tune
        <group> hivel=127
        <region> sample=a.wav lokey=62 hikey=64 pitch_keycenter=63
        <master>
        <region> sample=a.wav
    """)
    os.mkdir(tmp_path / "samples")
    banks.write_wav(str(tmp_path / "samples" / "a.wav"), flat())
    zones = quiet(path).zones
    got = [(z.key_low, z.key_high, z.root_key, z.velocity_low, z.velocity_high, z.tune_cents, z.level_db, z.pan,
            z.release) for z in zones]
    assert got == [(60, 60, 60, 1, 64, 10.0, -6.0, -0.5, 0.5),
                   (62, 64, 60, 1, 64, -5.0, -6.0, -0.5, 0.5),
                   (62, 64, 63, 1, 127, 0.0, -6.0, -0.5, 0.5),
                   (0, 127, 60, 1, 127, 0.0, -6.0, 0.0, 0.5)]


def test_defines_includes_comments_and_spaces_in_sample_names(tmp_path):
    banks.write_wav(str(tmp_path / "my kick.wav"), flat())
    (tmp_path / "common.sfz").write_text("<group> ampeg_attack=0.25 /* a\nmultiline comment */ amp_veltrack=50\n")
    path = library(tmp_path, """
        #define $KICK 36
        #include "common.sfz"
        <region> sample=my kick.wav key=$KICK volume=-3
    """)
    (z,) = quiet(path).zones
    assert (z.key_low, z.attack, z.velocity_tracking, z.level_db) == (36, 0.25, 50.0, -3.0)


def test_opcodes_become_zone_settings(tmp_path):
    path = library(tmp_path, """
        <region> sample=a.wav lokey=40 hikey=50 pitch_keycenter=45 transpose=2 tune=-20 pitch_keytrack=50
          loop_mode=loop_sustain loopstart=10 loopend=899 offset=5 end=949
          ampeg_delay=0.1 ampeg_attack=0.2 ampeg_hold=0.3 ampeg_decay=0.4 ampeg_sustain=25 ampeg_release=0.6
          group=2 off_by=3 trigger=release pan=100
    """, a=flat())
    (z,) = quiet(path).zones
    assert (z.root_key, z.tune_cents, z.key_tracking) == (45, 180.0, 50.0)
    assert (z.loop, z.loop_start, z.loop_end, z.start, z.end) == ("until_release", 10, 900, 5, 950)
    assert (z.delay, z.attack, z.hold, z.decay, z.sustain, z.release) == (0.1, 0.2, 0.3, 0.4, 0.25, 0.6)
    assert (z.choke_group, z.off_by, z.trigger, z.pan, z.curve) == (2, 3, "release", 1.0, "linear")


def test_unknown_opcodes_and_headers_give_one_warning_listing_them(tmp_path):
    path = library(tmp_path, """
        <region> sample=a.wav cutoff=500 fil_type=lpf_2p
        <curve> curve_index=7 v000=0
        <region> sample=a.wav resonance=3 cutoff=100
    """, a=flat())
    with pytest.warns(UserWarning) as record:
        inst = load_sfz(path)
    assert len(record) == 1
    assert str(record[0].message).endswith("ignored <curve>, cutoff, fil_type, resonance")
    assert len(inst) == 2


def test_an_sfz_plays_its_pitch_loop_choke_and_release_zones(tmp_path):
    period = 100
    path = library(tmp_path, """
        <region> sample=tone.wav key=69 loop_mode=loop_continuous loop_start=0 loop_end=43999 tune=5
        <region> sample=hat.wav key=42 group=1 off_by=1 pan=-100
        <region> sample=hat.wav key=46 group=1 off_by=1 pan=-100
        <region> sample=tail.wav key=50 trigger=release pan=-100
    """, tone=[0.5 * math.sin(2 * math.pi * i / period) for i in range(44000)], hat=flat(0.5, RATE),
        tail=flat(0.25, 100))
    p = quiet(path).player(RATE)
    p.note_on(69, 127)
    out = render(p, RATE)[:, 0].astype(np.float64)
    assert abs(cents(measured_hz(out, RATE), 441 * 2 ** (5 / 1200))) < 0.1
    p.panic()
    p.note_on(46, 127)
    p.note_on(42, 127)
    render(p, 200)
    assert p.active_voice_count() == 1
    p.panic()
    h = p.note_on(50, 127)
    assert p.active_voice_count() == 0
    p.note_off(h)
    assert float(render(p, 4)[2, 0]) == pytest.approx(0.25)


def test_stereo_samples_stay_stereo_in_a_song(tmp_path):
    frames = [0.5, -0.25] * 2000
    banks.write_wav(str(tmp_path / "st.wav"), frames, channels=2)
    path = library(tmp_path, "<region> sample=st.wav ampeg_release=0")
    song = Song(bpm=60, sample_rate=RATE)
    track = song.add_track("pad", quiet(path), gain=1.0)
    song.master_gain = 1.0
    track.add_note(0, 0.05, 60, 127)
    out = np.frombuffer(song.render(100), np.float32).reshape(-1, 2)
    assert tuple(out[50]) == (0.5, -0.25)


@pytest.mark.parametrize("text, message", [
    ("<region> sample=missing.wav", "cannot read the sample 'missing.wav'"),
    ("<region> sample=a.wav lokey=h9", "lokey: 'h9' is not a note"),
    ("<region> sample=a.wav volume=loud", "volume=loud is not a number"),
    ("<region> sample=a.wav loop_mode=forever", "loop_mode=forever is not one of"),
    ("<region> sample=a.wav trigger=sometimes", "trigger=sometimes is not attack or release"),
    ("<region> sample=a.mp3", "the sample 'a.mp3' is not WAV, FLAC or Ogg"),
    ('#include "nowhere.sfz"', "cannot read the included file"),
    ('#include "lib.sfz"', "#include nests too deep"),
    ("<region> sample=bad.wav", "the sample 'bad.wav' is not a WAV file"),
])
def test_bad_libraries_name_the_file_and_the_reason(tmp_path, text, message):
    (tmp_path / "bad.wav").write_bytes(b"RIFF\x04\0\0\0WAVE")
    path = library(tmp_path, text, a=flat())
    with pytest.raises(ValueError, match="lib.sfz: .*" + re.escape(message)):
        load_sfz(path)


def test_regions_that_cannot_sound_are_left_out(tmp_path):
    path = library(tmp_path, """
        <region> sample=a.wav end=-1
        <region> sample=a.wav lokey=70 hikey=60
        <region> sample=*sine
        <region> lokey=1
        <region> sample=a.wav
    """, a=flat())
    with pytest.warns(UserWarning, match=r"sample=\*sine"):
        inst = load_sfz(path)
    assert len(inst) == 1


def test_flac_needs_soundfile_or_names_it(tmp_path):
    path = library(tmp_path, "<region> sample=a.flac")
    try:
        import soundfile
    except ImportError:
        with pytest.raises(ImportError, match="soundfile"):
            load_sfz(path)
        return
    soundfile.write(str(tmp_path / "a.flac"), np.full((100, 2), 0.5, np.float32), 22050)
    (z,) = quiet(path).zones
    assert (z.sample.channels, z.sample_rate, len(z.sample)) == (2, 22050, 100)


def test_damaged_libraries_load_or_fail_with_value_error(tmp_path):
    # Seeded damage to a small library (bytes changed, cut, or all random):
    # each loads or gives ValueError, never anything else.
    import random
    rng = random.Random(5)
    banks.write_wav(str(tmp_path / "a.wav"), flat())
    base = (b"<control> default_path=./\n#define $LO 40\n<global> volume=-3 <group> lokey=$LO hikey=c5\n"
            b"<region> sample=a.wav pitch_keycenter=60 loop_mode=one_shot ampeg_release=0.2 // note\n")
    loaded = 0
    for i in range(400):
        data = bytearray(base)
        for _ in range(rng.randrange(1, 12)):
            data[rng.randrange(len(data))] = rng.randrange(256)
        if i % 4 == 0:
            del data[rng.randrange(len(data)):]
        if i % 7 == 0:
            data = bytearray(rng.randbytes(rng.randrange(1, 300)))
        path = tmp_path / "lib.sfz"
        path.write_bytes(bytes(data))
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                load_sfz(str(path))
        except ValueError:
            pass
        else:
            loaded += 1
    assert 0 < loaded < 400
