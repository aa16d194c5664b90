"""The checks that each peer in peers_numpy.py computes what tamlor does, to
within 1e-6, and the set-ups they share: bench_peers.py runs them on the
inputs it times, the tests on small ones. It sets nothing in the process's
environment."""
from __future__ import annotations

import math
from array import array
from typing import Any

import numpy as np
import peers_numpy as peers
import tamlor
import tamlor_song

TOLERANCE = 1e-6


def same(expected: Any, got: Any, what: str) -> None:
    """Fails unless every value of `got` is within TOLERANCE of `expected`'s,
    as a share of full scale (1.0) or of the loudest expected value where that
    is louder: beyond full scale a 32-bit float's own step is coarser than
    1e-6, and sums formed in another order differ by it."""
    a = np.asarray(expected, dtype=np.float64).ravel()
    b = np.asarray(got, dtype=np.float64).ravel()
    if a.shape != b.shape:
        raise AssertionError(f"{what}: {b.shape} values, expected {a.shape}")
    if not len(a):
        return
    diff = float(np.max(np.abs(a - b))) / max(1.0, float(np.max(np.abs(a))))
    if not diff <= TOLERANCE:
        raise AssertionError(f"{what}: differs from tamlor by {diff:.3g}")


def voice_setup(voices: int, rate: int) -> tuple[tamlor.Sampler, peers.LoopVoices, peers.PythonLoopVoices]:
    """A looping one-second 440 Hz sine with `voices` held notes, in tamlor and
    both peers. The envelope has no attack or decay, so every voice is at its
    sustain level from the start."""
    data = (np.sin(np.arange(rate) * (2.0 * math.pi * 440.0 / rate)) / voices).astype(np.float32)
    sample = tamlor.AudioSample(data, sample_rate=rate, root_note=69)
    sample.loop_start, sample.loop_end = 0, rate
    sampler = tamlor.Sampler(sample, sample_rate=rate, max_voices=voices)
    sampler.set_envelope(tamlor.Envelope(0.0, 0.0, 1.0, 0.1))
    notes = [48 + i % 40 for i in range(voices)]
    velocities = [60 + (i * 13) % 68 for i in range(voices)]
    for note, velocity in zip(notes, velocities):
        sampler.note_on(note, velocity)
    incs = [peers.increment(69, n, rate, rate) for n in notes]
    gains = [v / 127.0 for v in velocities]
    return (sampler, peers.LoopVoices(data, 0, rate, incs, gains),
            peers.PythonLoopVoices(data.tolist(), 0, rate, incs, gains))


def check_voices(sampler: tamlor.Sampler, np_voices: peers.LoopVoices, py_voices: peers.PythonLoopVoices,
                 blocks: int, python_blocks: int, block: int = 512) -> None:
    """Renders `blocks` blocks with tamlor and the NumPy voices, the first
    `python_blocks` also with the Python ones, comparing every block."""
    ours, theirs = np.zeros(block, np.float32), np.zeros(block, np.float32)
    py_out = array("f", bytes(4 * block))
    for i in range(blocks):
        sampler.render_into(ours)
        np_voices.render_into(theirs)
        same(ours, theirs, f"sampler voices, NumPy, block {i}")
        if i < python_blocks:
            py_voices.render_into(py_out)
            same(ours, py_out, f"sampler voices, Python, block {i}")



def check_sine(ours: tamlor.SineOscillator, theirs: peers.NumpySine, plain: peers.PythonSine, blocks: int,
               block: int = 512) -> None:
    a, b = np.zeros(block, np.float32), np.zeros(block, np.float32)
    c = array("f", bytes(4 * block))
    for i in range(blocks):
        ours.render_into(a)
        theirs.render_into(b)
        plain.render_into(c)
        same(a, b, f"sine, NumPy, block {i}")
        same(a, c, f"sine, Python, block {i}")



def mix_setup(channels: int, frames: int) -> tuple[tamlor.Mixer, Any, Any, list[list[float]],
                                                   list[tuple[float, float]]]:
    """A mixer of `channels` channels with spread pans and gains, its (channels,
    frames) input, the NumPy gain and pan matrix, and the input and factors as
    plain lists."""
    mixer = tamlor.Mixer()
    gains = [0.3 + 0.1 * i for i in range(channels)]
    pans = [-1.0 + i * 2.0 / max(1, channels - 1) for i in range(channels)]
    for i in range(channels):
        mixer.add_channel(f"ch{i}")
        mixer.set_channel_gain(i, gains[i])
        mixer.set_channel_pan(i, pans[i])
    x = np.random.default_rng(7).uniform(-1.0, 1.0, (channels, frames)).astype(np.float32)
    m = peers.mix_matrix(gains, pans, mixer.master_gain)
    return mixer, x, m, x.tolist(), [(float(left), float(right)) for left, right in m]



def check_messages(triples: list[tuple[int, int, int]]) -> None:
    channels, notes, velocities = (np.array(v, dtype=np.int64) for v in zip(*triples))
    batch = peers.note_ons_numpy(channels, notes, velocities)
    for i, (c, n, v) in enumerate(triples):
        expected = peers.message_bytes(tamlor.MidiMessage.note_on(c, n, v))
        if not (bytes(peers.note_on_numpy(c, n, v)) == peers.note_on_bytes(c, n, v) == bytes(batch[i]) == expected):
            raise AssertionError(f"note-on {c}, {n}, {v}: peers give other bytes than {expected!r}")



def as_song(score: peers.Score) -> tamlor_song.Song:
    """The score as a tamlor_song.Song."""
    song = tamlor_song.Song(bpm=score.tempo[0][1], sample_rate=score.rate)
    for beat, bpm in score.tempo[1:]:
        song.set_tempo(beat, bpm)
    for i, t in enumerate(score.tracks):

        def sample(s: peers.Sample) -> tamlor.AudioSample:
            made = tamlor.AudioSample(s.frames, sample_rate=s.rate, root_note=s.root)
            if s.loop is not None:
                made.loop_start, made.loop_end = s.loop
            return made

        instrument: Any
        if len(t.zones) == 1:
            instrument = tamlor.Sampler(sample(t.zones[0][0]), sample_rate=score.rate)
        else:
            instrument = tamlor.SampleMap()
            for s, nl, nh, vl, vh in t.zones:
                instrument.add_mapping(tamlor.SampleMapping(sample(s), nl, nh, vl, vh))
        track = song.add_track(f"t{i}", instrument, gain=t.gain, pan=t.pan, envelope=tamlor.Envelope(*t.envelope),
                               max_voices=t.max_voices)
        track.add_notes(t.notes)
        if t.pattern is not None:
            steps, sd, start, end = t.pattern
            pattern = tamlor.Pattern(len(steps))
            for k, step in enumerate(steps):
                if step is not None:
                    pattern.set_step(k, tamlor.Step(*step))
            track.add_pattern(pattern, sd, start, end)
    song.master_gain = score.master_gain
    return song




def check_mix(mixer: tamlor.Mixer, x: Any, m: Any, rows: list[list[float]],
              factors: list[tuple[float, float]]) -> None:
    out = np.zeros(2 * x.shape[1], np.float32)
    mixer.mix_down_into(out, x)
    same(out, peers.mix_numpy(x, m), "mix, NumPy")
    same(out, peers.mix_python(rows, factors), "mix, Python")


def check_song(score: peers.Score, frames: int) -> Any:
    """Renders the score's first `frames` frames with tamlor_song and the NumPy
    peer, compares them, and returns tamlor's (interleaved stereo)."""
    out = np.zeros(2 * frames, np.float32)
    as_song(score).render_into(out)
    same(out, peers.render_song(score, frames), "song, NumPy")
    return out
