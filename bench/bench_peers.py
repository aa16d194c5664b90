"""tamlor beside what a user would write without it: NumPy and plain Python
versions of the same operations (peers_numpy.py), each first checked to give
the same numbers as tamlor to within 1e-6, then timed in turns with it in
the same run. One table:

- sampler voices sustained in real time: how many held voices of a looping
  sample each renders in the time a 512-frame block lasts at 44.1 kHz (32
  voices timed, the count scaled to the block's length);
- a 512-frame sine block (float32 out), as multiples of real time;
- the stereo mix of 8 channels of 512 frames from one (8, 512) float32
  array (NumPy: (X.T @ M).ravel() with M the gain and pan matrix), as
  multiples of real time;
- note-on message creation, checked ranges included, one at a time and
  1,000 at once: the cost per message as a multiple of one plain builtin
  call (math.copysign(1.0, 2.0));
- a song of 1,500 notes on 4 tracks rendered in one call, as multiples of
  real time (NumPy renders each note whole and mixes the tracks; no
  pure-Python version, which would take minutes).

The last two columns give tamlor's speed as a multiple of each peer's.
NumPy's BLAS runs on one thread (common.py)."""
from __future__ import annotations

import math
import sys
from array import array
from typing import Any, Callable, Optional

import common
from common import best_per_call
import numpy as np
import peers_checks as checks
import peers_numpy as peers
import tamlor
import tamlor_song

RATE = 44100
BLOCK = 512
BLOCK_SECONDS = BLOCK / RATE
VOICES = 32

# (label, unit, tamlor, NumPy, pure Python, higher is better)
Row = tuple[str, str, float, float, Optional[float], bool]


# -- the sampler ---------------------------------------------------------------

def voices_row() -> Row:
    sampler, np_voices, py_voices = checks.voice_setup(VOICES, RATE)
    checks.check_voices(sampler, np_voices, py_voices, blocks=120, python_blocks=3)
    env = {"tamlor": sampler.render_into, "numpy": np_voices.render_into, "python": py_voices.render_into,
           "out": np.zeros(BLOCK, np.float32), "py_out": array("f", bytes(4 * BLOCK))}
    ours, theirs = best_per_call(["tamlor(out)", "numpy(out)"], env, number=200)
    (plain,) = best_per_call(["python(py_out)"], env, number=1, rounds=5)
    a, b, c = (VOICES * BLOCK_SECONDS / t for t in (ours, theirs, plain))
    return ("sampler voices sustained in real time", "voices", a, b, c, True)


# -- the oscillator ------------------------------------------------------------


def sine_row() -> Row:
    ours = tamlor.SineOscillator(frequency=440.0, amplitude=0.5)
    theirs = peers.NumpySine(440.0, 0.5)
    plain = peers.PythonSine(440.0, 0.5)
    checks.check_sine(ours, theirs, plain, 20)
    env = {"tamlor": ours.render_into, "numpy": theirs.render_into, "python": plain.render_into,
           "out": np.zeros(BLOCK, np.float32), "py_out": array("f", bytes(4 * BLOCK))}
    times = best_per_call(["tamlor(out)", "numpy(out)", "python(py_out)"], env, number=200)
    a, b, c = (BLOCK_SECONDS / t for t in times)
    return ("sine oscillator, one 512-frame block", "x real time", a, b, c, True)


# -- the mixer -----------------------------------------------------------------


def mix_row() -> Row:
    mixer, x, m, rows, factors = checks.mix_setup(8, BLOCK)
    checks.check_mix(mixer, x, m, rows, factors)
    out = np.zeros(2 * BLOCK, np.float32)
    env = {"mixer": mixer, "x": x, "m": m, "out": out, "mix_numpy": peers.mix_numpy,
           "mix_python": peers.mix_python, "rows": rows, "factors": factors}
    times = best_per_call(["mixer.mix_down_into(out, x)", "mix_numpy(x, m)", "mix_python(rows, factors)"],
                          env, number=100)
    a, b, c = (BLOCK_SECONDS / t for t in times)
    return ("mix 8 x 512 to stereo", "x real time", a, b, c, True)


# -- MIDI messages -------------------------------------------------------------


def midi_rows() -> list[Row]:
    triples = [(i % 16, (i * 7) % 128, (i * 11) % 128) for i in range(1000)]
    checks.check_messages(triples)
    channels, notes, velocities = (np.array(v, dtype=np.int64) for v in zip(*triples))
    env = {"copysign": math.copysign, "note_on": tamlor.MidiMessage.note_on, "np_note_on": peers.note_on_numpy,
           "py_note_on": peers.note_on_bytes, "triples": triples, "many": peers.note_ons_numpy,
           "channels": channels, "notes": notes, "velocities": velocities}
    base, *one = best_per_call(["copysign(1.0, 2.0)", "note_on(3, 60, 100)", "np_note_on(3, 60, 100)",
                                "py_note_on(3, 60, 100)"], env, number=20_000)
    many = best_per_call(["[note_on(c, n, v) for c, n, v in triples]", "many(channels, notes, velocities)",
                          "[py_note_on(c, n, v) for c, n, v in triples]"], env, number=50)
    a, b, c = (t / base for t in one)
    d, e, f = (t / 1000 / base for t in many)
    return [("note-on message, one", "x a builtin call", a, b, c, False),
            ("note-on messages, 1,000 at once (each)", "x a builtin call", d, e, f, False)]


# -- a song --------------------------------------------------------------------


def looped(data: Any, root: int) -> peers.Sample:
    frames = np.asarray(data, dtype=np.float32)
    return peers.Sample(frames, RATE, root, (0, len(frames)))


def piece() -> peers.Score:
    """600 melody notes, 300 bass notes, 400 chord notes over two zones and 200
    drum hits from a looping pattern: 256 beats at 100 to 116 bpm (about 2.5
    minutes)."""
    env = (0.005, 0.1, 0.7, 0.1)
    lead = peers.TrackScore([(looped(tamlor.SquareOscillator(440.0, 0.3).render_to_buffer(4400), 69), 0, 127, 0, 127)],
                            env, 8, 0.6, -0.3)
    bass = peers.TrackScore([(looped(tamlor.SawOscillator(55.0, 0.5).render_to_buffer(4410), 33), 0, 127, 0, 127)],
                            env, 8, 0.9, 0.0)
    chords = peers.TrackScore([(looped(tamlor.SawOscillator(220.0, 0.2).render_to_buffer(4410), 57), 0, 63, 0, 127),
                               (looped(tamlor.SineOscillator(440.0, 0.3).render_to_buffer(4410), 69), 64, 127, 0, 127)],
                              env, 6, 0.5, 0.3)
    decay = [math.exp(-i / 2000.0) for i in range(8000)]
    hit = tamlor.NoiseSource(0.5, seed=3).render_to_buffer(8000)
    drum = peers.Sample(np.array([2.0 * x * d + 0.5 * d for x, d in zip(hit, decay)], dtype=np.float32), RATE, 69)
    steps: list[Optional[tuple[int, int, int]]] = [None] * 128
    for i in range(25):
        steps[i * 5] = (60 + i % 5, 100, 1)
    drums = peers.TrackScore([(drum, 0, 127, 0, 127)], (0.005, 0.1, 0.8, 0.1), 4, 0.7, 0.1,
                             pattern=(steps, 0.25, 0.0, 256.0))
    for track, count, length, low in ((lead, 600, 0.8, 60), (bass, 300, 0.9, 36), (chords, 400, 0.9, 55)):
        spacing = 256.0 / count
        track.notes = [(i * spacing, length * spacing, low + (i * 7) % 17, 70 + i % 50) for i in range(count)]
    return peers.Score([(0.0, 100.0), (64.0, 108.0), (128.0, 116.0), (192.0, 100.0)],
                       [lead, bass, chords, drums], RATE)


def song_row() -> Row:
    score = piece()
    song = checks.as_song(score)
    frames = song.frame_at(song.length_beats() or 0.0)
    out = checks.check_song(score, frames)
    env = {"song": song, "out": out, "render_song": peers.render_song, "score": score, "frames": frames}
    ours, theirs = best_per_call(["song.reset(); song.render_into(out)", "render_song(score, frames)"], env,
                                 number=1, rounds=3)
    seconds = frames / RATE
    return ("song of 1,500 notes, one call", "x real time", seconds / ours, seconds / theirs, None, True)


def table(rows: list[Row]) -> None:
    print("tamlor beside NumPy and pure Python, same run (NumPy's BLAS on one thread); "
          "the last two columns: tamlor's speed as a multiple of the peer's")
    print(f"  {'':<40} {'unit':<17} {'tamlor':>9} {'NumPy':>9} {'Python':>9} {'vs NumPy':>9} {'vs Python':>10}")

    def fmt(v: Optional[float]) -> str:
        if v is None:
            return "-"
        return f"{v:.0f}" if v >= 100 else f"{v:.1f}" if v >= 10 else f"{v:.2f}"

    for label, unit, ours, theirs, plain, higher in rows:
        def speed(peer: Optional[float]) -> Optional[float]:
            if peer is None:
                return None
            return ours / peer if higher else peer / ours

        print(f"  {label:<40} {unit:<17} {fmt(ours):>9} {fmt(theirs):>9} {fmt(plain):>9} "
              f"{fmt(speed(theirs)) + 'x':>9} {(fmt(speed(plain)) + 'x') if plain is not None else '-':>10}")


def main() -> list[str]:
    steps: list[Callable[[], Any]] = [voices_row, sine_row, mix_row, midi_rows, song_row]
    rows: list[Row] = []
    for step in steps:
        got = step()
        rows += got if isinstance(got, list) else [got]
    table(rows)
    return []


assert common  # imported first: it holds NumPy's BLAS to one thread

if __name__ == "__main__":
    sys.exit(1 if main() else 0)
