"""Effects in songs: track chains after gain and pan, sends to shared buses,
the master chain after the master gain, tails counted in the song's length,
and the same bits however the song is sliced or copied."""
import array
import copy
import pickle
import random

import numpy as np
import pytest

import tamlor
import tamlor_fx as fx
import tamlor_song
from conftest import interrupted_within

SR = 44100


def song_of(tracks=2, gain=0.8, pan=-0.4):
    song = tamlor_song.Song(bpm=120.0, sample_rate=SR)
    for t in range(tracks):
        wave = tamlor.SawOscillator(110.0 * (t + 1), 0.5).render_to_buffer(4410)
        sample = tamlor.AudioSample(wave, root_note=57)
        sample.loop_start, sample.loop_end = 0, 4410
        track = song.add_track(f"t{t}", tamlor.Sampler(sample, sample_rate=SR), gain=gain, pan=pan + 0.5 * t)
        track.add_notes([(0.5 * i + 0.25 * t, 0.4, 57 + (i * 5) % 12, 90) for i in range(12)])
    return song


def render_all(song, frames):
    return np.frombuffer(song.render(frames), dtype=np.float32).reshape(-1, 2).copy()


def test_no_effects_mixes_exactly_as_the_mixer_does():
    plain, emptied = song_of(), song_of()
    for track in emptied.tracks:
        track.effects = [fx.Filter("lowpass", channels=2)]
        track.effects = []
    n = plain.length_frames()
    assert plain.length_frames() == n and emptied.length_frames() == n
    assert np.array_equal(render_all(plain, n), render_all(emptied, n))


def test_track_chain_runs_in_order_on_the_panned_signal():
    dry, wet = song_of(tracks=1), song_of(tracks=1)
    dry.master_gain = wet.master_gain = 1.0
    chain = [fx.Filter("highpass", frequency=400.0), fx.Compressor(threshold_db=-24.0, ratio=8.0)]
    wet.tracks[0].effects = [copy.deepcopy(e) for e in chain]
    n = dry.length_frames()
    expected = render_all(dry, n)
    for effect in chain:
        effect.process_into(expected)
    assert np.array_equal(render_all(wet, n), expected)


def test_sends_feed_a_bus_after_the_track_effects_at_a_linear_level():
    dry, wet = song_of(tracks=1), song_of(tracks=1)
    dry.master_gain = wet.master_gain = 1.0
    echo = fx.Delay(time=0.1, feedback=0.0, mix=1.0, max_time=0.2)
    bus = wet.add_bus("echo", [copy.deepcopy(echo)])
    assert isinstance(bus, tamlor_song.Bus) and list(wet.buses) == ["echo"]
    wet.tracks[0].send("echo", 0.5)
    assert wet.tracks[0].sends == {"echo": 0.5}
    n = dry.length_frames() + 5000
    track = render_all(dry, n).astype(np.float64)
    sent = (track * 0.5).astype(np.float32)
    echo.process_into(sent)
    expected = (track + sent).astype(np.float32)
    assert np.array_equal(render_all(wet, n), expected)
    with pytest.raises(ValueError):
        wet.tracks[0].send("nowhere", 0.5)
    with pytest.raises(ValueError):
        wet.tracks[0].send("echo", -1.0)
    with pytest.raises(ValueError):
        wet.add_bus("echo")
    wet.tracks[0].send("echo", 0.0)
    assert wet.tracks[0].sends == {}


def test_master_chain_runs_after_the_master_gain_and_the_limiter_is_last():
    song = song_of(tracks=2, gain=2.0)
    song.master_gain = 2.0
    song.effects = [fx.Filter("peak", frequency=200.0, gain_db=12.0), fx.Limiter(ceiling_db=-1.0)]
    out = render_all(song, song.length_frames())
    assert np.max(np.abs(out)) <= 10 ** (-1 / 20) and np.max(np.abs(out)) > 0.8
    # Lowering the master gain so nothing reaches the ceiling lets the signal
    # through the limiter unchanged but for its lookahead.
    quiet, reference = song_of(tracks=2), song_of(tracks=2)
    quiet.master_gain = reference.master_gain = 0.1
    limiter = fx.Limiter(ceiling_db=-1.0)
    quiet.effects = [limiter]
    n = reference.length_frames()
    d = limiter.lookahead_frames
    assert np.array_equal(render_all(quiet, n + d)[d:], render_all(reference, n))


def test_length_counts_the_effect_tails_and_the_tail_fades_out():
    song = song_of(tracks=1)
    dry_length = song.length_frames()
    reverb = fx.Reverb(decay=0.5, predelay=0.01, mix=1.0)
    song.add_bus("room", [reverb])
    song.tracks[0].send("room", 0.5)
    song.effects.append(fx.Limiter())
    assert song.length_frames() == dry_length + reverb.tail_frames + fx.Limiter().tail_frames
    out = render_all(song, song.length_frames() + 2000)
    peak = np.max(np.abs(out))
    assert np.max(np.abs(out[-2000:])) < peak * 1e-3


def full_song():
    song = song_of(tracks=2)
    for track in song.tracks:
        track.effects = [fx.Filter("lowpass", frequency=2000.0), fx.Compressor()]
    song.add_bus("room", [fx.Reverb(decay=0.6, mix=1.0)])
    song.add_bus("echo", [fx.Delay(time=0.12, feedback=0.5, mix=1.0)])
    song.tracks[0].send("room", 0.4)
    song.tracks[1].send("echo", 0.3)
    song.effects = [fx.Limiter(ceiling_db=-3.0)]
    return song


def test_effects_do_not_depend_on_how_the_song_is_sliced():
    song = full_song()
    n = song.length_frames()
    whole = song.render(n)
    for sizes in ([1], [512], [333, 4096], None):
        song.reset()
        rng = random.Random(5)
        parts = array.array("f")
        while len(parts) < 2 * n:
            k = rng.randint(1, 5000) if sizes is None else sizes[len(parts) % len(sizes)]
            if sizes == [1] and len(parts) > 2000:
                k = 4096  # frame by frame for a while, then faster
            parts.extend(song.render(min(k, n - len(parts) // 2)))
        assert parts == whole, sizes


def test_copies_and_pickles_mid_tail_continue_the_same_bits():
    song = full_song()
    song.render(song.length_frames() - 3000)
    twins = [copy.deepcopy(song), pickle.loads(pickle.dumps(song))]
    rest = song.render(20000)
    for twin in twins:
        assert list(twin.buses) == ["room", "echo"] and len(twin.effects) == 1
        assert twin.render(20000) == rest


def test_mute_and_solo_silence_a_track_before_its_effects():
    song = full_song()
    song.tracks[1].mute = True
    reference = full_song()
    reference.tracks[1].mute = True
    reference.tracks[1].gain = 0.0
    n = song.length_frames()
    assert np.array_equal(render_all(song, n), render_all(reference, n))
    solo = full_song()
    solo.tracks[0].solo = True
    muted = full_song()
    muted.tracks[1].mute = True
    assert np.array_equal(render_all(solo, n), render_all(muted, n))


def test_bad_chains_are_refused_before_anything_moves():
    song = full_song()
    track = song.tracks[0]
    for bad, error in [(fx.Filter("lowpass", channels=1), ValueError),
                       (fx.Filter("lowpass", sample_rate=48000), ValueError),
                       ("reverb", TypeError), (tamlor.Mixer(), TypeError)]:
        with pytest.raises(error):
            track.effects = [bad]
        with pytest.raises(error):
            song.add_bus(f"bad{id(bad)}", [bad])
        track.effects.append(bad)  # slipped in by editing the list in place
        before = pickle.dumps(song)
        with pytest.raises(error):
            song.render(100)
        assert pickle.dumps(song) == before and song.frame == 0
        track.effects.pop()
    with pytest.raises(TypeError):
        song.effects = fx.Limiter()
    shared = fx.Compressor()
    song.tracks[0].effects.append(shared)
    song.tracks[1].effects.append(shared)  # one state for two signals
    with pytest.raises(ValueError, match="twice"):
        song.render(100)
    song.tracks[0].effects.pop()
    song.tracks[1].effects.pop()
    clean = full_song()
    assert song.render(3000) == clean.render(3000)


def test_an_interrupted_render_leaves_the_effects_as_they_were():
    song = full_song()
    song.render(5000)
    states = [pickle.dumps(e) for e in (song.tracks[0].effects + song.buses["room"].effects + song.effects)]
    interrupted_within(0.2, lambda: song.render(200 * SR))
    after = [pickle.dumps(e) for e in (song.tracks[0].effects + song.buses["room"].effects + song.effects)]
    assert after == states


def test_seek_and_reset_silence_the_effect_tails():
    song = full_song()
    first = song.render(20000)
    song.render(song.length_frames())
    song.reset()
    assert song.render(20000) == first


def test_an_instrument_track_runs_through_its_chain_with_its_balance(tmp_path):
    import banks

    banks.write_wav(str(tmp_path / "st.wav"), [0.5, -0.25] * 4000, channels=2)
    (tmp_path / "lib.sfz").write_text("<region> sample=st.wav ampeg_release=0")

    def make(effects):
        song = tamlor_song.Song(bpm=60, sample_rate=SR)
        track = song.add_track("pad", tamlor_song.load_sfz(str(tmp_path / "lib.sfz")), gain=0.5, pan=0.5)
        song.master_gain = 1.0
        track.add_note(0, 0.05, 60, 127)
        track.effects = effects
        return render_all(song, 1000)

    dry = make([])
    gain = fx.Compressor(threshold_db=-60.0, ratio=1.0, makeup_db=6.0)  # ratio 1: a plain gain
    wet = make([copy.deepcopy(gain)])
    expected = dry.copy()
    gain.process_into(expected)
    assert np.array_equal(wet, expected) and np.any(wet)
