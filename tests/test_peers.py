"""The benchmark's NumPy and pure-Python peers compute what tamlor computes
(to within 1e-6), on small inputs chosen to reach the cases where a peer
would drift: loop wraps mid-block, odd block lengths, voice stealing, a
note-off that releases two voices of one pitch, zones, a sample that runs
out, tempo changes and the range checks of MIDI values. The benchmark runs
the same checks on the inputs it times."""
import pathlib
import sys

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import tamlor

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "bench"))
import peers_checks as checks  # noqa: E402
import peers_numpy as peers  # noqa: E402

RATE = 8000


def test_held_voices_match_across_loop_wraps():
    # 8000-frame loop, pitches up to 2.6x: every voice wraps within the run.
    sampler, np_voices, py_voices = checks.voice_setup(6, RATE)
    checks.check_voices(sampler, np_voices, py_voices, blocks=40, python_blocks=40, block=333)


def test_held_voices_match_on_a_loop_inside_the_sample():
    data = (np.sin(np.arange(1000) * 0.05) * 0.3).astype(np.float32)
    sample = tamlor.AudioSample(data, sample_rate=RATE, root_note=60)
    sample.loop_start, sample.loop_end = 100, 900
    sampler = tamlor.Sampler(sample, sample_rate=RATE, max_voices=3)
    sampler.set_envelope(tamlor.Envelope(0.0, 0.0, 0.5, 0.1))
    notes, velocities = (60, 67, 79), (127, 90, 40)
    for n, v in zip(notes, velocities):
        sampler.note_on(n, v)
    incs = [peers.increment(60, n, RATE, RATE) for n in notes]
    gains = [v / 127.0 for v in velocities]
    # Frame 0 is the envelope's attack at level 1; from frame 1 on it holds the sustain level.
    head = np.zeros(2, np.float32)
    sampler.render_into(head)
    np_voices = peers.LoopVoices(data, 100, 900, incs, gains, level=0.5)
    py_voices = peers.PythonLoopVoices(data.tolist(), 100, 900, incs, gains, level=0.5)
    np_voices.positions = [2 * i for i in incs]
    py_voices.positions = [2 * i for i in incs]
    checks.check_voices(sampler, np_voices, py_voices, blocks=12, python_blocks=12, block=250)


@pytest.mark.parametrize("frequency, amplitude, block", [(440.0, 0.5, 512), (1234.5, 1.0, 77), (3.0, 0.25, 500)])
def test_sine_blocks_match(frequency, amplitude, block):
    checks.check_sine(tamlor.SineOscillator(frequency, amplitude, RATE),
                      peers.NumpySine(frequency, amplitude, RATE, block),
                      peers.PythonSine(frequency, amplitude, RATE), blocks=30, block=block)


def test_mix_matches_with_master_gain_and_hard_pans():
    mixer, x, _, rows, _ = checks.mix_setup(5, 129)
    mixer.master_gain = 0.7
    gains = [mixer.get_channel(i).gain for i in range(5)]
    pans = [mixer.get_channel(i).pan for i in range(5)]
    assert pans[0] == -1.0 and pans[-1] == 1.0
    m = peers.mix_matrix(gains, pans, 0.7)
    checks.check_mix(mixer, x, m, rows, [(float(a), float(b)) for a, b in m])


def test_note_on_bytes_match_at_the_edges_of_every_range():
    checks.check_messages([(c, n, v) for c in (0, 9, 15) for n in (0, 64, 127) for v in (0, 1, 127)])


@pytest.mark.parametrize("args", [(16, 60, 100), (-1, 60, 100), (0, 128, 100), (0, -1, 100), (0, 60, 128),
                                  (256, 60, 100), (0, 60, 1000), (16, 200, 300)])
def test_note_on_range_errors_match(args):
    """The peers refuse what tamlor refuses, with the same error: too wide for
    a byte first (OverflowError), then out of range (ValueError)."""
    errors = []
    for make in (tamlor.MidiMessage.note_on, peers.note_on_bytes, peers.note_on_numpy,
                 lambda *a: peers.note_ons_numpy(*(np.array([0, x], dtype=np.int64) for x in a))):
        with pytest.raises((ValueError, OverflowError)) as caught:
            make(*args)
        errors.append((type(caught.value), str(caught.value)))
    assert errors[1:] == errors[:1] * 3


def ramp(frames, loop=True, root=60):
    data = (np.linspace(-0.4, 0.6, frames) * np.cos(np.arange(frames) * 0.3)).astype(np.float32)
    return peers.Sample(data, RATE, root, (0, frames) if loop else None)


def test_song_matches_with_stealing_shared_releases_zones_and_tempo_changes():
    low, high, hit = ramp(800), ramp(500, root=72), ramp(1200, loop=False)
    # Two voices at most, three overlapping notes (the oldest is stolen); two
    # overlapping notes of pitch 64 (the first note-off releases both); notes
    # shorter than a frame; a second release while the first is under way.
    lead = peers.TrackScore([(low, 0, 127, 0, 127)], (0.01, 0.05, 0.6, 0.08), 2, 0.9, -0.4, notes=[
        (0.0, 2.0, 60, 100), (0.5, 2.0, 62, 90), (1.0, 1.0, 65, 127), (3.0, 1.0, 64, 80), (3.5, 2.0, 64, 70),
        (4.0, 0.00001, 70, 100), (5.9, 0.13, 67, 90), (6.0, 0.02, 67, 100), (6.021, 0.5, 67, 100)])
    # Zones by note and by velocity, with a note outside every zone; no attack or decay.
    zones = peers.TrackScore([(low, 0, 59, 0, 127), (high, 60, 127, 64, 127)], (0.0, 0.0, 0.8, 0.0), 4, 0.5, 0.5,
                             notes=[(0.0, 1.0, 48, 100), (1.0, 1.0, 72, 100), (2.0, 1.0, 72, 10),
                                    (2.5, 3.0, 50, 127), (2.75, 0.5, 80, 64)])
    # A pattern with steps of one and three lengths on a sample that runs out.
    steps = [(36, 100, 1), None, (38, 80, 3), None, (42, 127, 1), None]
    drums = peers.TrackScore([(hit, 0, 127, 0, 127)], (0.001, 0.02, 0.9, 0.01), 3, 1.2, 0.0,
                             pattern=(steps, 0.25, 0.5, 6.0))
    score = peers.Score([(0.0, 120.0), (2.0, 90.0), (4.5, 150.0)], [lead, zones, drums], RATE, master_gain=0.8)
    frames = score.frame_of(7.0)
    out = checks.check_song(score, frames)
    left, right = out[0::2], out[1::2]
    assert np.count_nonzero(left) > frames // 2 and np.count_nonzero(right) > frames // 2
    # Each track alone matches too, so a fault cannot hide behind the others.
    for track in score.tracks:
        checks.check_song(peers.Score(score.tempo, [track], RATE), frames)



notes = st.lists(st.tuples(st.floats(0.0, 6.0), st.floats(0.0, 1.5), st.integers(40, 80), st.integers(0, 127)),
                 max_size=12)
envelopes = st.tuples(st.sampled_from([0.0, 0.001, 0.02]), st.sampled_from([0.0, 0.01, 0.1]),
                      st.sampled_from([0.0, 0.5, 1.0]), st.sampled_from([0.0, 0.005, 0.2]))


@settings(max_examples=40, deadline=None)
@given(notes, envelopes, st.integers(1, 4), st.booleans(),
       st.lists(st.tuples(st.floats(0.5, 6.0), st.floats(30.0, 300.0)), max_size=2))
def test_random_songs_match(track_notes, envelope, voices, loops, changes):
    """Any notes (repeated pitches, overlaps, notes under a frame), envelope
    and voice limit give the same audio from the peer as from tamlor."""
    track = peers.TrackScore([(ramp(700, loop=loops), 0, 127, 0, 127)], envelope, voices, 1.0, 0.2,
                             notes=track_notes)
    tempo = [(0.0, 120.0)] + sorted(dict(changes).items())
    score = peers.Score(tempo, [track], RATE)
    checks.check_song(score, score.frame_of(8.0))


@settings(max_examples=30, deadline=None)
@given(st.lists(st.tuples(st.integers(30, 100), st.integers(0, 127)), min_size=1, max_size=5),
       st.integers(0, 600), st.integers(1, 400), st.integers(1, 700))
def test_random_held_voices_match(voices, loop_start, loop_length, block):
    """Any pitches, velocities, loop inside the sample and block length: the
    peers read, wrap and sum as the sampler does."""
    frames = loop_start + loop_length + 50
    data = (np.sin(np.arange(frames) * 0.07) * 0.2).astype(np.float32)
    sample = tamlor.AudioSample(data, sample_rate=RATE, root_note=60)
    sample.loop_start, sample.loop_end = loop_start, loop_start + loop_length
    sampler = tamlor.Sampler(sample, sample_rate=RATE, max_voices=len(voices))
    sampler.set_envelope(tamlor.Envelope(0.0, 0.0, 1.0, 0.1))
    for note, velocity in voices:
        sampler.note_on(note, velocity)
    incs = [peers.increment(60, n, RATE, RATE) for n, _ in voices]
    gains = [v / 127.0 for _, v in voices]
    loop_end = loop_start + loop_length
    checks.check_voices(sampler, peers.LoopVoices(data, loop_start, loop_end, incs, gains),
                        peers.PythonLoopVoices(data.tolist(), loop_start, loop_end, incs, gains),
                        blocks=6, python_blocks=6, block=block)


@settings(max_examples=30, deadline=None)
@given(st.lists(st.tuples(st.floats(0.0, 1.0), st.floats(-1.0, 1.0)), min_size=1, max_size=10),
       st.floats(0.0, 1.0), st.integers(1, 300))
def test_random_mixes_match(channels, master, frames):
    mixer, x, _, rows, _ = checks.mix_setup(len(channels), frames)
    for i, (gain, pan) in enumerate(channels):
        mixer.set_channel_gain(i, gain)
        mixer.set_channel_pan(i, pan)
    mixer.master_gain = master
    m = peers.mix_matrix([g for g, _ in channels], [p for _, p in channels], master)
    checks.check_mix(mixer, x, m, rows, [(float(a), float(b)) for a, b in m])


@settings(max_examples=30, deadline=None)
@given(st.lists(st.one_of(st.none(), st.tuples(st.integers(40, 80), st.integers(1, 127), st.integers(1, 4))),
                min_size=1, max_size=8),
       st.sampled_from([0.05, 0.25, 1.0 / 3.0]), st.floats(0.0, 2.0), st.integers(0, 127))
def test_random_patterns_on_zones_match(steps, step, start, split):
    """Looping patterns of steps of any length, on two zones split by velocity."""
    zones = [(ramp(500), 0, 127, 0, split), (ramp(900, loop=False, root=64), 0, 127, split, 127)]
    track = peers.TrackScore(zones, (0.002, 0.01, 0.7, 0.03), 3, 0.9, -0.6, pattern=(steps, step, start, 5.0))
    score = peers.Score([(0.0, 140.0), (3.0, 70.0)], [track], RATE)
    checks.check_song(score, score.frame_of(6.0))
