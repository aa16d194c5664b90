"""Instruments built from zones by hand: pitch, level, pan, loops, offsets,
envelope stages, velocity, layers, choke groups, stereo and release
triggers, checked from rendered audio; the player's state, copies and bad
input."""
from __future__ import annotations

import copy
import math
import pickle

import numpy as np
import pytest

import tamlor
from conftest import interrupted_within
from tamlor_song import Instrument, Song, Zone
from tamlor_song import _voices

RATE = 44100


def render(player: _voices.Player, frames: int) -> np.ndarray:
    out = np.zeros((frames, 2), np.float32)
    player.render_into(out)
    return out


def sine(frames: int, period: float, level: float = 0.5) -> np.ndarray:
    return (level * np.sin(2 * np.pi * np.arange(frames) / period)).astype(np.float32)


def measured_hz(x: np.ndarray, rate: float) -> float:
    """Frequency from the first and last upward zero crossings, placed by
    linear interpolation between frames."""
    up = np.nonzero((x[:-1] < 0) & (x[1:] >= 0))[0]
    first, last = up[0], up[-1]

    def exact(i: int) -> float:
        return i + float(-x[i] / (x[i + 1] - x[i]))

    return (len(up) - 1) * rate / (exact(last) - exact(first))


def cents(a: float, b: float) -> float:
    return 1200 * math.log2(a / b)


def db(x: float) -> float:
    return 20 * math.log10(x)


def one(zone: Zone, rate: int = RATE) -> _voices.Player:
    return Instrument([zone]).player(rate)


# -- pitch -------------------------------------------------------------------

@pytest.mark.parametrize("key, root, tune, tracking, sample_rate", [
    (69, 69, 0.0, 100.0, 44100),
    (81, 69, 0.0, 100.0, 44100),     # an octave up
    (60, 69, 37.0, 100.0, 44100),    # down, tuned sharp
    (64, 60, -12.5, 50.0, 22050),    # quarter tones, another recording rate
    (30, 72, 0.0, 0.0, 48000),       # no key tracking: every key at the root's pitch
])
def test_every_key_plays_at_its_root_tuning_and_rate_within_a_tenth_of_a_cent(key, root, tune, tracking,
                                                                               sample_rate):
    period = 100.0  # frames of the recording: 441 Hz at 44100
    frames = sample_rate // 100 * 100  # whole periods: a seamless loop
    data = sine(frames, period)
    p = one(Zone(data, sample_rate=sample_rate, root_key=root, tune_cents=tune, key_tracking=tracking,
                 loop="continuous", loop_start=0, loop_end=frames))
    p.note_on(key, 127)
    out = render(p, RATE)
    expected = sample_rate / period * 2 ** (((key - root) * tracking + tune) / 1200)
    assert abs(cents(measured_hz(out[:, 0].astype(np.float64), RATE), expected)) < 0.1


# -- level, velocity, pan ----------------------------------------------------

@pytest.mark.parametrize("level_db, velocity, tracking", [
    (0.0, 127, 100.0), (-6.0, 127, 100.0), (-20.0, 64, 100.0), (0.0, 1, 100.0), (3.0, 100, 50.0),
    (0.0, 30, 0.0), (0.0, 30, -100.0),
])
def test_level_follows_the_zone_gain_and_the_velocity_curve_within_a_hundredth_of_a_db(level_db, velocity,
                                                                                        tracking):
    p = one(Zone(np.full(1000, 0.5, np.float32), level_db=level_db, pan=-1.0, velocity_tracking=tracking))
    p.note_on(60, velocity)
    out = render(p, 100)
    t = abs(tracking) / 100
    x = (velocity if tracking >= 0 else 127 - velocity) / 127
    expected = 0.5 * 10 ** (level_db / 20) * ((1 - t) + t * x * x)
    assert abs(db(float(out[50, 0])) - db(expected)) < 0.01
    assert out[50, 1] == 0.0  # hard left


@pytest.mark.parametrize("pan", [-1.0, -0.5, 0.0, 0.3, 1.0])
def test_a_mono_zone_pans_with_constant_power(pan):
    p = one(Zone(np.full(100, 1.0, np.float32), pan=pan))
    p.note_on(60, 127)
    left, right = render(p, 10)[5]
    theta = (pan + 1) * math.pi / 4
    assert left == pytest.approx(math.cos(theta), abs=1e-6)
    assert right == pytest.approx(math.sin(theta), abs=1e-6)
    assert left * left + right * right == pytest.approx(1.0, abs=1e-6)


def test_a_stereo_zone_plays_left_on_the_left_and_pan_turns_a_side_down():
    frames = np.zeros((100, 2), np.float32)
    frames[:, 0], frames[:, 1] = 0.25, -0.5
    p = one(Zone(frames))
    p.note_on(60, 127)
    assert tuple(render(p, 4)[2]) == (0.25, -0.5)
    p = one(Zone([(0.25, -0.5)] * 100, pan=0.5))
    p.note_on(60, 127)
    assert tuple(render(p, 4)[2]) == (0.125, -0.5)


# -- offsets and loops -------------------------------------------------------

RAMP = np.arange(10, dtype=np.float32) / 16  # frame i holds i/16: positions show in the output


def levels(zone: Zone, frames: int, release_at: int | None = None) -> list[float]:
    """The left output of one note at 10 Hz, frame by frame, released at `release_at`."""
    p = one(zone, rate=10)
    h = p.note_on(60, 127)
    out = []
    for i in range(frames):
        if i == release_at:
            p.note_off(h)
        out.append(float(render(p, 1)[0, 0]))
    return out


def played(zone: Zone, frames: int, release_at: int | None = None) -> list[float]:
    """The read positions of a RAMP zone: the output times 16."""
    return [round(x * 16, 4) for x in levels(zone, frames, release_at)]


def test_start_and_end_offsets_bound_what_plays():
    z = Zone(RAMP, sample_rate=10, pan=-1.0, start=3, end=7)
    assert played(z, 6) == [3, 4, 5, 6, 0, 0]


@pytest.mark.parametrize("loop, release_at, expected", [
    ("none", None, [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0]),
    ("continuous", None, [0, 1, 2, 3, 4, 5, 2, 3, 4, 5, 2, 3]),
    ("continuous", 4, [0, 1, 2, 3, 4, 5, 2, 3, 4, 5, 2, 3]),          # loops on through the release
    ("until_release", 7, [0, 1, 2, 3, 4, 5, 2, 3, 4, 5, 6, 7]),       # then plays on to the end
    ("one_shot", 2, [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0]),            # the release changes nothing
])
def test_loop_modes(loop, release_at, expected):
    # A release of 1000 s falls by 1/10000 per frame at 10 Hz: divided out
    # below, the output shows the read positions.
    z = Zone(RAMP, sample_rate=10, pan=-1.0, loop=loop, loop_start=2, loop_end=6, release=1000.0)
    got = played(z, 12, release_at)
    if release_at is not None and loop != "one_shot":
        got = [g if i < release_at else round(g / (1 - (i - release_at) / 10000), 3) for i, g in enumerate(got)]
    assert got == expected


# -- envelopes ---------------------------------------------------------------

def flat(**envelope: float | str) -> Zone:
    return Zone(np.ones(1000, np.float32), sample_rate=10, pan=-1.0, **envelope)  # type: ignore[arg-type]


def test_linear_envelope_stages_fall_on_their_frames():
    z = flat(delay=0.2, attack=0.4, hold=0.2, decay=0.4, sustain=0.5, release=0.4)
    assert levels(z, 19, release_at=13) == pytest.approx(
        [0, 0, 0, 0.25, 0.5, 0.75, 1, 1, 1, 0.875, 0.75, 0.625, 0.5, 0.5, 0.375, 0.25, 0.125, 0, 0], abs=1e-7)
    # Released before the sustain level: the release falls from where the decay got.
    assert levels(z, 13, release_at=11)[10:] == pytest.approx([0.75, 0.75, 0.5625], abs=1e-7)


def test_decibel_envelope_falls_a_hundred_db_per_stage_time():
    # Decay 1 s at 10 Hz: -10 dB per frame down to the sustain level of
    # -20 dB; the release falls from there at the same rate until -100 dB.
    z = flat(decay=1.0, sustain=0.1, release=1.0, curve="decibels")
    got = levels(z, 16, release_at=5)
    want = [1.0, 10 ** -0.5, 0.1, 0.1, 0.1] + [0.1 * 10 ** (-n / 2) for n in range(8)] + [0.0, 0.0, 0.0]
    assert got == pytest.approx(want, rel=1e-6, abs=1e-12)
    assert [round(db(g), 4) for g in got[5:13]] == [-20.0 - 10 * n for n in range(8)]


def test_a_decibel_release_ends_once_the_voice_is_100_db_below_full_scale():
    # At -40 dB the voice reaches -100 dBFS after 60 dB of release: 6 frames.
    z = Zone(np.ones(1000, np.float32), sample_rate=10, pan=-1.0, level_db=-40.0, release=1.0, curve="decibels")
    got = levels(z, 10, release_at=2)
    assert got[2:9] == pytest.approx([0.01 * 10 ** (-n / 2) for n in range(6)] + [0.0], rel=1e-6)


def test_a_release_during_the_attack_falls_from_where_the_note_got():
    got = levels(flat(attack=1.0, release=0.4), 8, release_at=3)
    assert got == pytest.approx([0, 0.1, 0.2, 0.2, 0.15, 0.1, 0.05, 0], abs=1e-7)


def test_a_sustain_of_zero_ends_the_note_after_its_decay():
    p = one(flat(decay=0.2, sustain=0.0), rate=10)
    p.note_on(60, 127)
    render(p, 5)
    assert p.active_voice_count() == 0


# -- layers, choke groups, release triggers ----------------------------------

def test_overlapping_zones_all_sound_and_ranges_pick_zones():
    a = Zone(np.full(100, 0.25, np.float32), pan=-1.0, key_low=60, key_high=64)
    b = Zone(np.full(100, 0.125, np.float32), pan=-1.0, key_low=62, key_high=70, velocity_low=100)
    p = Instrument([a, b]).player(RATE)
    for key, velocity, want in [(60, 127, 0.25), (63, 127, 0.375), (63, 99, 0.25 * (99 / 127) ** 2),
                                (70, 127, 0.125), (71, 127, 0.0)]:
        p.panic()
        p.note_on(key, velocity)
        assert float(render(p, 4)[2, 0]) == pytest.approx(want if velocity == 127 else want, rel=1e-6)


def test_a_choke_group_silences_the_others_within_a_few_milliseconds():
    open_hat = Zone(np.full(RATE, 0.5, np.float32), pan=-1.0, key_low=46, key_high=46, choke_group=1)
    closed_hat = Zone(np.full(RATE, 0.25, np.float32), pan=-1.0, key_low=42, key_high=42, choke_group=1)
    kick = Zone(np.full(RATE, 0.125, np.float32), pan=-1.0, key_low=36, key_high=36)
    p = Instrument([open_hat, closed_hat, kick]).player(RATE)
    p.note_on(46, 127)
    p.note_on(36, 127)
    render(p, 100)
    p.note_on(42, 127)
    out = render(p, 200)[:, 0]
    fade = round(0.002 * RATE)  # 88 frames
    assert out[0] == pytest.approx(0.5 * (fade - 1) / fade + 0.25 + 0.125, rel=1e-6)
    assert out[fade - 1] == pytest.approx(0.25 + 0.125, rel=1e-6)
    assert np.all(out[fade:] == np.float32(0.375))
    assert p.active_voice_count() == 2


def test_release_zones_sound_when_the_key_is_let_go_at_the_note_on_velocity():
    held = Zone(np.full(100, 0.5, np.float32), pan=-1.0)
    tail = Zone(np.full(100, 0.25, np.float32), pan=-1.0, trigger="release")
    p = Instrument([held, tail]).player(RATE)
    h = p.note_on(60, 64)
    assert float(render(p, 2)[1, 0]) == pytest.approx(0.5 * (64 / 127) ** 2, rel=1e-6)
    p.note_off(h)
    assert float(render(p, 2)[1, 0]) == pytest.approx(0.25 * (64 / 127) ** 2, rel=1e-6)
    p.note_off(h)  # a second release starts nothing
    assert p.active_voice_count() == 1


def test_a_note_off_releases_only_its_own_note():
    p = one(flat(release=0.0))
    first = p.note_on(60, 127)
    p.note_on(60, 127)
    p.note_off(first)
    render(p, 1)
    assert p.active_voice_count() == 1
    p.release_key(60)
    render(p, 1)
    assert p.active_voice_count() == 0


# -- rendering ---------------------------------------------------------------

def busy_player() -> _voices.Player:
    rng = np.random.default_rng(7)
    zones = [Zone(sine(5000, 37.0 + i), root_key=60 + i, key_low=50 + 5 * i, key_high=70 + 5 * i, pan=i / 5 - 0.5,
                  loop=("none", "continuous", "until_release")[i % 3], loop_start=100, loop_end=4000,
                  attack=0.01 * i, decay=0.05, sustain=0.5, release=0.03, curve=("linear", "decibels")[i % 2])
             for i in range(5)]
    p = Instrument(zones).player(RATE, max_voices=12)
    for _ in range(20):
        p.note_on(int(rng.integers(50, 90)), int(rng.integers(1, 128)))
    return p


def test_the_audio_does_not_depend_on_the_block_size():
    a, b = busy_player(), busy_player()
    whole = render(a, 6000)
    parts = np.concatenate([render(b, n) for n in (1, 999, 64, 2936, 2000)])
    assert np.array_equal(whole, parts)


def test_saved_state_and_copies_play_on_bit_for_bit():
    p = busy_player()
    render(p, 500)
    state = p.save_state()
    twin = copy.deepcopy(p)
    first = render(p, 3000)
    assert np.array_equal(render(twin, 3000), first)
    p.restore_state(state)
    assert np.array_equal(render(p, 3000), first)


def test_a_damaged_state_is_refused_and_changes_nothing():
    p = busy_player()
    state = p.save_state()
    twin = copy.deepcopy(p)
    for bad in (state[:-1], state + b"\0", b"nope" + state[4:], state[:12] + b"\xff" * 8 + state[20:]):
        with pytest.raises(ValueError):
            p.restore_state(bad)
    with pytest.raises(TypeError):
        p.restore_state("state")  # type: ignore[arg-type]
    assert np.array_equal(render(p, 500), render(twin, 500))


def test_render_into_refuses_bad_buffers_before_anything_moves():
    p = busy_player()
    twin = copy.deepcopy(p)
    for bad, error in [(np.zeros(3, np.float32), ValueError), (np.zeros((4, 3), np.float32), ValueError),
                       (np.zeros(4, np.float64), TypeError), (b"\0" * 16, TypeError), ([0.0, 0.0], TypeError)]:
        with pytest.raises(error):
            p.render_into(bad)
    assert np.array_equal(render(p, 100), render(twin, 100))


def test_an_interrupted_render_gives_way_and_leaves_the_player_as_it_was():
    zone = Zone(sine(1000, 10.0), loop="continuous", loop_start=0, loop_end=1000)
    p = Instrument([zone]).player(RATE, max_voices=4096)
    for i in range(4096):
        p.note_on(40 + i % 40, 1 + i % 120)
    twin = copy.deepcopy(p)
    big = np.zeros((400_000, 2), np.float32)
    assert interrupted_within(0.2, lambda: p.render_into(big)) < 1.5
    assert np.array_equal(render(p, 100), render(twin, 100))


def test_the_voice_limit_gives_way_oldest_first():
    p = Instrument([flat()]).player(RATE, max_voices=2)
    for _ in range(5):
        p.note_on(60, 127)
    assert p.active_voice_count() == 2


# -- zones: checks, copies ---------------------------------------------------

@pytest.mark.parametrize("kwargs, error, text", [
    (dict(key_low=128), ValueError, "key_low must be 0 to 127"),
    (dict(root_key=-1), ValueError, "root_key"),
    (dict(tune_cents=math.nan), ValueError, "tune_cents must be finite"),
    (dict(level_db=math.inf), ValueError, "level_db must be finite"),
    (dict(pan=1.5), ValueError, "pan must be from -1.0 to 1.0"),
    (dict(sustain=2.0), ValueError, "sustain"),
    (dict(attack=-1.0), ValueError, "attack"),
    (dict(end=11), ValueError, "end must be 0 to 10"),
    (dict(loop="sometimes"), ValueError, "loop must be one of"),
    (dict(curve="cubic"), ValueError, "curve"),
    (dict(trigger="now"), ValueError, "trigger"),
    (dict(key_low=1.5), TypeError, "key_low must be an integer"),
    (dict(velocity_tracking=200.0), ValueError, "velocity_tracking"),
    (dict(choke_group=2**40), ValueError, "choke_group"),
    (dict(sample_rate=0), ValueError, "sample_rate"),
])
def test_bad_zone_arguments_are_refused(kwargs, error, text):
    with pytest.raises(error, match=text):
        Zone(np.zeros(10, np.float32), **kwargs)


def test_zones_take_samples_in_every_form_and_a_changed_zone_is_checked_again():
    s = tamlor.AudioSample([0.0] * 50, sample_rate=22050, root_note=57)
    s.loop_start, s.loop_end = 10, 40
    z = Zone(s)
    assert (z.sample_rate, z.root_key, z.loop, z.loop_start, z.loop_end) == (22050, 57, "continuous", 10, 40)
    assert Zone(tamlor.AudioBuffer(30, 8000, 2)).sample.channels == 2
    assert len(Zone([0.0, 0.5]).sample) == 2
    with pytest.raises(ValueError):
        Zone(np.zeros((10, 3), np.float32))
    inst = Instrument([z])
    z.pan = 7.0
    with pytest.raises(ValueError, match="pan"):
        inst.player()
    with pytest.raises(TypeError):
        Instrument([z, "zone"])  # type: ignore[list-item]


def test_instruments_copy_and_pickle_with_their_samples():
    z = Zone(sine(100, 10.0), loop="continuous", loop_start=0, loop_end=100, choke_group=3)
    inst = Instrument([z], name="bell")
    for twin in (copy.deepcopy(inst), pickle.loads(pickle.dumps(inst))):
        assert twin.name == "bell" and len(twin) == 1
        a, b = inst.player(), twin.player()
        a.note_on(70, 90)
        b.note_on(70, 90)
        assert np.array_equal(render(a, 300), render(b, 300))


# -- songs -------------------------------------------------------------------

def test_an_instrument_track_mixes_with_gain_pan_mute_and_solo():
    song = Song(bpm=60, sample_rate=100)
    inst = Instrument([Zone(np.full(1000, 0.5, np.float32), sample_rate=100, pan=-1.0)])
    t = song.add_track("inst", inst, gain=0.5)
    t.add_note(0, 2, 60, 127)
    out = np.frombuffer(song.render(10), np.float32).reshape(-1, 2)
    assert tuple(out[5]) == pytest.approx((0.8 * 0.5 * 0.5, 0.0))
    t.pan = 0.5
    out = np.frombuffer(song.render(10), np.float32).reshape(-1, 2)
    assert tuple(out[5]) == pytest.approx((0.8 * 0.5 * 0.5 * 0.5, 0.0))
    t.mute = True
    assert not np.frombuffer(song.render(10), np.float32).any()
    t.mute = False
    other = song.add_track("other", tamlor.SampleMap())
    other.solo = True
    assert not np.frombuffer(song.render(10), np.float32).any()
    with pytest.raises(TypeError, match="plays an Instrument"):
        t.sampler
    with pytest.raises(ValueError, match="own envelopes"):
        song.add_track("x", inst, envelope=tamlor.Envelope())


def test_a_song_of_instruments_renders_the_same_in_any_blocks():
    def make() -> Song:
        song = Song(bpm=133, sample_rate=RATE)
        zones = [Zone(sine(8000, 50.0), loop="until_release", loop_start=0, loop_end=8000, release=0.05,
                      attack=0.002, decay=0.1, sustain=0.6, curve="decibels")]
        t = song.add_track("lead", Instrument(zones), pan=-0.3)
        for i in range(16):
            t.add_note(i * 0.25, 0.2 + 0.05 * (i % 3), 60 + (i * 5) % 12, 40 + i * 5)
        song.add_track("bass", tamlor.SampleMap()).add_note(0, 1, 40)
        return song

    a, b = make(), make()
    whole = np.frombuffer(a.render(40000), np.float32)
    parts = np.concatenate([np.frombuffer(b.render(n), np.float32) for n in (1, 4095, 4097, 777, 31030)])
    assert np.array_equal(whole, parts)
    assert np.abs(whole).max() > 0.05


def test_overlapping_notes_of_one_pitch_keep_their_own_lengths():
    song = Song(bpm=60, sample_rate=100)
    zone = Zone(np.full(1000, 0.25, np.float32), sample_rate=100, pan=-1.0)
    t = song.add_track("x", Instrument([zone]), gain=1.0)
    song.master_gain = 1.0
    t.add_note(0, 3, 60, 127)   # frames 0..300
    t.add_note(1, 1, 60, 127)   # frames 100..200, inside the first
    left = np.frombuffer(song.render(400), np.float32)[0::2]
    assert (left[50], left[150], left[250], left[350]) == (0.25, 0.5, 0.25, 0.0)


def test_songs_of_instruments_copy_and_pickle_mid_note_and_know_their_length():
    def make() -> Song:
        song = Song(bpm=120, sample_rate=RATE)
        zone = Zone(sine(4000, 40.0), loop="continuous", loop_start=0, loop_end=4000, release=0.1)
        t = song.add_track("a", Instrument([zone], name="bell"))
        t.add_notes([(0, 1, 60), (0.5, 1, 67, 90)])
        return song

    song = make()
    song.render(10_000)
    for twin in (copy.deepcopy(song), pickle.loads(pickle.dumps(song))):
        assert np.array_equal(np.frombuffer(twin.render(20_000), np.float32),
                              np.frombuffer(copy.deepcopy(song).render(20_000), np.float32))
    # 1.5 beats at 120 bpm, then a 0.1 s release.
    assert song.length_frames() == round(0.75 * RATE) + math.ceil(0.1 * RATE) + 1
    whole = np.frombuffer(make().render(song.length_frames() + 100), np.float32)
    assert whole[2 * (round(0.75 * RATE) + round(0.1 * RATE) + 2):].max() == 0.0


def test_the_native_player_refuses_bad_arguments_and_reentry():
    z = Zone(np.zeros(10, np.float32))
    good = list(z._numbers())
    table = [0.0] * 128
    p = _voices.Player(RATE, 8)
    for numbers, velocity_db in [(good[:-1], table), (good[:5] + [math.nan] + good[6:], table),
                                 (good[:11] + [0, 11] + good[13:], table), (good[:10] + [9] + good[11:], table),
                                 (good, table[:-1]), (good, [math.inf] * 128), (good, [math.nan] * 128)]:
        with pytest.raises(ValueError):
            p.add_zone(z.sample, numbers, velocity_db)
    with pytest.raises(TypeError):
        p.add_zone("data", good, table)  # type: ignore[arg-type]
    assert p.zone_count == 0
    for call in (lambda: p.note_on(128, 1), lambda: p.note_on(-1, 1), lambda: p.note_on(1, 2**70),
                 lambda: p.note_off(-1), lambda: p.release_key(300), lambda: _voices.Player(0),
                 lambda: _voices.SampleData([0.0] * 3, channels=2), lambda: _voices.SampleData([0.0], channels=3),
                 lambda: _voices.SampleData.from_bytes(b"\0" * 3, 1, True)):
        with pytest.raises((ValueError, TypeError, OverflowError)):
            call()
    assert p.note_off(12345) is False

    class Sneaky:
        def __float__(self) -> float:
            p.note_on(60, 100)  # the player is busy adding the zone
            return 0.0

    with pytest.raises(RuntimeError, match="Already"):
        p.add_zone(z.sample, good[:6] + [Sneaky()] + good[7:], table)
    assert p.zone_count == 0 and p.active_voice_count() == 0


def test_sample_data_pickles_as_its_values():
    for data in (_voices.SampleData([0.25, -0.5, 1.0, 0.0], 2),
                 _voices.SampleData.from_bytes(b"\x00\x40" * 3, 1, True)):
        twin = pickle.loads(pickle.dumps(data))
        assert (twin.frames, twin.channels) == (data.frames, data.channels)
        a, b = Instrument([Zone(data, pan=-1.0)]).player(), Instrument([Zone(twin, pan=-1.0)]).player()
        a.note_on(60, 127)
        b.note_on(60, 127)
        assert np.array_equal(render(a, 4), render(b, 4))


def test_a_failed_render_takes_back_the_instrument_tracks_too(monkeypatch):
    def make() -> Song:
        song = Song(bpm=120, sample_rate=RATE)
        zone = Zone(sine(4000, 40.0), loop="continuous", loop_start=0, loop_end=4000, release=0.05)
        t = song.add_track("a", Instrument([zone]))
        t.add_notes([(0, 0.5, 60), (0.25, 0.5, 67), (0.6, 0.2, 72)])
        song.add_track("b", tamlor.SampleMap()).add_note(0, 1, 40)
        return song

    song, twin = make(), make()
    song.render(3000)
    twin.render(3000)
    import tamlor_song.song as module
    real = module._voices.add_scaled
    for size in (3000, 20_000):  # the block-like-the-last road, then the scheduling one
        def failing(*args: object) -> None:
            raise MemoryError("no room")

        monkeypatch.setattr(module._voices, "add_scaled", failing)
        with pytest.raises(MemoryError):
            song.render(size)
        monkeypatch.setattr(module._voices, "add_scaled", real)
        assert song.frame == twin.frame
        assert np.array_equal(np.frombuffer(song.render(size), np.float32),
                              np.frombuffer(twin.render(size), np.float32))
    song.seek(100)
    twin.seek(100)
    assert np.array_equal(np.frombuffer(song.render(5000), np.float32), np.frombuffer(twin.render(5000), np.float32))
