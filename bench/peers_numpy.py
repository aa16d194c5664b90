"""What a user without tamlor would write instead: NumPy and pure-Python
versions of the operations bench_peers.py times (sustained sampler voices, a
sine block, an 8-channel stereo mix, note-on messages and a whole song), each
computing the same numbers as the tamlor call it stands beside, to within
1e-6. The NumPy versions work a block (or a whole note) at a time; the
pure-Python ones a sample at a time in 64-bit floats, stored as 32-bit at the
end."""
from __future__ import annotations

import math
import re
from array import array
from dataclasses import dataclass, field
from typing import Any, Optional, Sequence

import numpy as np
import numpy.typing as npt

F32 = npt.NDArray[np.float32]
F64 = npt.NDArray[np.float64]
U8 = npt.NDArray[np.uint8]

PI32 = np.float32(math.pi)


def note_hz(note: int) -> float:
    """The equal-tempered pitch of a MIDI note: 440 * 2^((note - 69) / 12)."""
    return float(2.0 ** ((note - 69.0) / 12.0)) * 440.0


def increment(root: int, note: int, sample_rate: int, output_rate: int) -> float:
    """Read-position advance per output frame for `note` on a sample rooted at `root`."""
    return (sample_rate / output_rate) * (note_hz(note) / note_hz(root))


def padded(data: Sequence[float] | F32) -> F32:
    """The sample's frames with the last one repeated, so that interpolating
    at the last frame reads no further than the array."""
    d = np.asarray(data, dtype=np.float32)
    return np.append(d, d[-1:] if len(d) else np.zeros(1, np.float32)).astype(np.float32)


def read_positions(pos: float, inc: float, n: int, end: float,
                   loop: Optional[tuple[float, float]]) -> tuple[F64, float]:
    """The read positions of the next `n` frames of a voice at `pos` moving
    `inc` a frame, each the previous plus `inc` (summed in order, as a voice
    does), wrapped into the loop (start, length) where one runs past `end`.
    Returns the positions (fewer than n when a sample without a loop runs
    out) and the position after the last one."""
    steps = np.full(n, inc)
    if n == 0:
        return np.empty(0), pos
    steps[0] = pos
    p = np.cumsum(steps)
    k = 0
    while True:
        k = k + int(np.searchsorted(p[k:], end, "left"))
        if k >= n:
            break
        if loop is None:
            return p[:k], float(p[k])
        start, length = loop
        steps[k] = start + math.fmod(float(p[k]) - start, length)
        p[k:] = np.cumsum(steps[k:])
    return p, float(p[-1]) + inc


def interpolate(d: F32, p: F64) -> F32:
    """32-bit linear interpolation of the padded frames `d` at positions `p`."""
    idx = p.astype(np.int64)
    x0 = d[idx]
    x1 = d[idx + 1]
    frac = (p - idx).astype(np.float32)
    return frac * (x1 - x0) + x0


# -- sampler voices held on a looping sample ----------------------------------


@dataclass
class LoopVoices:
    """Voices of one looping sample held at a constant envelope level, each at
    its own pitch and velocity: the steady state of a sustained chord."""

    data: F32
    loop_start: int
    loop_end: int
    increments: list[float]
    gains: list[float]
    level: float = 1.0
    positions: list[float] = field(default_factory=list)

    def __post_init__(self) -> None:
        self.padded = padded(self.data)
        self.positions = [0.0] * len(self.increments)

    def render_into(self, out: F32) -> None:
        """Adds every voice's next len(out) frames into a zeroed `out`, then clips to -1..1."""
        n = len(out)
        out[:] = 0.0
        level = np.float32(self.level)
        loop = (float(self.loop_start), float(self.loop_end - self.loop_start))
        end = float(len(self.data))
        for v, (inc, gain) in enumerate(zip(self.increments, self.gains)):
            p, self.positions[v] = read_positions(self.positions[v], inc, n, end, loop)
            out += np.float32(gain) * (level * interpolate(self.padded, p))
        np.clip(out, -1.0, 1.0, out=out)


class PythonLoopVoices:
    """LoopVoices one sample at a time in plain Python."""

    def __init__(self, data: Sequence[float], loop_start: int, loop_end: int, increments: list[float],
                 gains: list[float], level: float = 1.0) -> None:
        self.data = [float(x) for x in data] + [float(data[-1])]
        self.end = float(len(data))
        self.loop_start = float(loop_start)
        self.loop_length = float(loop_end - loop_start)
        self.increments = increments
        self.gains = [g * level for g in gains]
        self.positions = [0.0] * len(increments)

    def render_into(self, out: array[float]) -> None:
        n = len(out)
        acc = [0.0] * n
        d, end, ls, ll = self.data, self.end, self.loop_start, self.loop_length
        fmod = math.fmod
        for v, inc in enumerate(self.increments):
            pos, g = self.positions[v], self.gains[v]
            for i in range(n):
                if pos >= end:
                    pos = ls + fmod(pos - ls, ll)
                idx = int(pos)
                x0 = d[idx]
                acc[i] += g * ((pos - idx) * (d[idx + 1] - x0) + x0)
                pos += inc
            self.positions[v] = pos
        out[:] = array("f", [1.0 if x > 1.0 else (-1.0 if x < -1.0 else x) for x in acc])


# -- a sine oscillator ---------------------------------------------------------


class NumpySine:
    """A sine of a phase ramp: the phase of each frame of the block (a fraction
    of a cycle, in 64-bit floats), as a 32-bit angle through np.sin."""

    def __init__(self, frequency: float, amplitude: float = 1.0, sample_rate: int = 44100,
                 block: int = 512) -> None:
        self.phase = 0.0
        self.inc = frequency / sample_rate
        self.amplitude = np.float32(amplitude)
        self._ramp = np.arange(block, dtype=np.float64) * self.inc
        self._p = np.empty(block)
        self._angle = np.empty(block, dtype=np.float32)

    def render_into(self, out: F32) -> None:
        n = len(out)
        p = self._p[:n]
        np.add(self._ramp[:n], self.phase, out=p)
        p -= np.floor(p)
        angle = self._angle[:n]
        np.multiply(p, 2.0 * math.pi, out=angle, casting="same_kind")
        np.sin(angle, out=out)
        out *= self.amplitude
        self.phase = math.fmod(self.phase + n * self.inc, 1.0)


class PythonSine:
    def __init__(self, frequency: float, amplitude: float = 1.0, sample_rate: int = 44100) -> None:
        self.phase = 0.0
        self.inc = frequency / sample_rate
        self.amplitude = amplitude

    def render_into(self, out: array[float]) -> None:
        p, inc, a, sin, tau = self.phase, self.inc, self.amplitude, math.sin, 2.0 * math.pi
        values = []
        for _ in range(len(out)):
            values.append(a * sin(tau * p))
            p += inc
            if p >= 1.0:
                p -= 1.0
        self.phase = p
        out[:] = array("f", values)


# -- the stereo mix ------------------------------------------------------------


def pan_factors(pan: float) -> tuple[np.float32, np.float32]:
    """Constant-power pan in 32-bit floats: cos and sin of (pan + 1) / 4 * pi."""
    theta = ((np.float32(pan) + np.float32(1.0)) * np.float32(0.25)) * PI32
    return np.cos(theta), np.sin(theta)


def mix_matrix(gains: Sequence[float], pans: Sequence[float], master: float = 1.0) -> F32:
    """The (channels, 2) matrix of every channel's left and right factor, so
    that (X.T @ M).ravel() is the interleaved stereo mix of X (channels, frames)."""
    m = np.empty((len(gains), 2), dtype=np.float32)
    for c, (gain, pan) in enumerate(zip(gains, pans)):
        left, right = pan_factors(pan)
        m[c, 0] = np.float32(gain) * left * np.float32(master)
        m[c, 1] = np.float32(gain) * right * np.float32(master)
    return m


def mix_numpy(x: F32, m: F32) -> F32:
    return (x.T @ m).ravel()


def mix_python(channels: Sequence[Sequence[float]], factors: Sequence[tuple[float, float]]) -> array[float]:
    """The mix a frame at a time: left and right sums over the channels, interleaved."""
    frames = len(channels[0])
    out = [0.0] * (2 * frames)
    for ch, (left, right) in zip(channels, factors):
        for i in range(frames):
            s = ch[i]
            out[2 * i] += s * left
            out[2 * i + 1] += s * right
    return array("f", out)


# -- note-on messages ----------------------------------------------------------


_WIDTH = "out of range integral type conversion attempted"


def _check(channel: int, note: int, velocity: int) -> None:
    """tamlor's checks, in its order: each number must fit a byte
    (OverflowError), then each must be in its range (ValueError)."""
    if not (0 <= channel <= 255 and 0 <= note <= 255 and 0 <= velocity <= 255):
        raise OverflowError(_WIDTH)
    if not 0 <= channel <= 15:
        raise ValueError(f"MidiChannel out of range: {channel} (must be 0–15)")
    if not 0 <= note <= 127:
        raise ValueError(f"Note out of range: {note} (must be 0–127)")
    if not 0 <= velocity <= 127:
        raise ValueError(f"Velocity out of range: {velocity} (must be 0–127)")


def note_on_numpy(channel: int, note: int, velocity: int) -> U8:
    """A checked note-on as the three bytes of a uint8 array."""
    _check(channel, note, velocity)
    return np.array((0x90 | channel, note, velocity), dtype=np.uint8)


def note_on_bytes(channel: int, note: int, velocity: int) -> bytes:
    """A checked note-on as three bytes."""
    _check(channel, note, velocity)
    return bytes((0x90 | channel, note, velocity))


def note_ons_numpy(channels: npt.NDArray[np.int64], notes: npt.NDArray[np.int64],
                   velocities: npt.NDArray[np.int64]) -> U8:
    """Many checked note-ons at once, as an (n, 3) uint8 array."""
    for values in (channels, notes, velocities):
        if ((values < 0) | (values > 255)).any():
            raise OverflowError(_WIDTH)
    for values, top, name in ((channels, 15, "MidiChannel"), (notes, 127, "Note"), (velocities, 127, "Velocity")):
        bad = (values < 0) | (values > top)
        if bad.any():
            raise ValueError(f"{name} out of range: {values[bad][0]} (must be 0–{top})")
    out = np.empty((len(notes), 3), dtype=np.uint8)
    out[:, 0] = channels | 0x90
    out[:, 1] = notes
    out[:, 2] = velocities
    return out


_NOTE_ON = re.compile(r"NoteOn \{ channel: MidiChannel\((\d+)\), note: Note\((\d+)\), velocity: Velocity\((\d+)\) \}")


def message_bytes(message: Any) -> bytes:
    """The three bytes of a tamlor note-on message, read from its text form."""
    found = _NOTE_ON.fullmatch(str(message))
    if found is None:
        raise ValueError(f"not a note-on: {message!r}")
    channel, note, velocity = (int(g) for g in found.groups())
    return bytes((0x90 | channel, note, velocity))


# -- a whole song --------------------------------------------------------------


@dataclass
class Sample:
    frames: F32
    rate: int = 44100
    root: int = 60
    loop: Optional[tuple[int, int]] = None


@dataclass
class TrackScore:
    """One instrument: zones (sample, lowest and highest note, lowest and
    highest velocity; the first that holds a note plays it), an ADSR envelope
    (attack, decay, sustain, release), a voice limit, mixer gain and pan, notes
    as (beat, beats, note, velocity) and at most one looping pattern: its
    steps (note, velocity, length in steps, or None), step length, start and
    end beat."""

    zones: list[tuple[Sample, int, int, int, int]]
    envelope: tuple[float, float, float, float] = (0.005, 0.1, 0.8, 0.1)
    max_voices: int = 8
    gain: float = 0.8
    pan: float = 0.0
    notes: list[tuple[float, float, int, int]] = field(default_factory=list)
    pattern: Optional[tuple[list[Optional[tuple[int, int, int]]], float, float, float]] = None


@dataclass
class Score:
    tempo: list[tuple[float, float]]  # (beat, bpm), the first at beat 0
    tracks: list[TrackScore]
    rate: int = 44100
    master_gain: float = 1.0

    def frame_of(self, beat: float) -> int:
        """floor(seconds * rate + 0.5), seconds from the tempo segment holding `beat`."""
        secs = 0.0
        i = 0
        for j in range(1, len(self.tempo)):
            if self.tempo[j][0] > beat:
                break
            secs += ((self.tempo[j][0] - self.tempo[j - 1][0]) * 60.0) / self.tempo[j - 1][1]
            i = j
        b, bpm = self.tempo[i]
        return math.floor((secs + ((beat - b) * 60.0) / bpm) * self.rate + 0.5)


class _StageTimes:
    """Seconds spent in an envelope stage at each of its frames: 0, then one
    frame period more each frame, summed in order as the envelope does."""

    def __init__(self, rate: int) -> None:
        self.period = 1.0 / rate
        self.t = np.zeros(1)

    def __call__(self, n: int) -> F64:
        if len(self.t) < n:
            steps = np.full(max(n, 2 * len(self.t)), self.period)
            steps[0] = 0.0
            self.t = np.cumsum(steps)
        return self.t[:n]


def attack_decay_sustain(env: tuple[float, float, float, float], n: int, times: _StageTimes) -> F64:
    """The envelope's level at frames 0..n-1 of a note that is never released."""
    a, d, s, _ = env
    lv = np.empty(n)
    i = 0
    if n and a <= 0.0:
        lv[0] = 1.0
        i = 1
    elif n:
        rise = times(n) / a
        k = int(np.searchsorted(rise, 1.0, "left"))
        lv[:k] = rise[:k]
        if k < n:
            lv[k] = 1.0
        i = min(n, k + 1)
    if i < n:
        if d <= 0.0:
            lv[i] = s
            i += 1
        else:
            m = n - i
            fall = 1.0 - (times(m + 1)[1:] / d) * (1.0 - s)
            below = fall <= s
            k = int(np.argmax(below)) if below.any() else m
            lv[i:i + k] = fall[:k]
            i += k
    lv[i:] = s
    return lv


def release_curve(release: float, level: float, times: _StageTimes) -> F64:
    """The levels of a release from `level`, up to the frame where it is done."""
    if release <= 0.0 or level <= 0.0:
        return np.empty(0)
    n = int(release * (1.0 / times.period)) + 4
    while True:
        curve = (1.0 - times(n) / release) * level
        done = curve <= 0.0
        if done.any():
            return curve[:int(np.argmax(done))]
        n *= 2


@dataclass
class _Voice:
    start: int
    note: int
    gain: float
    sample: Sample
    data: F32
    inc: float
    envelope: tuple[float, float, float, float]
    releases: list[int] = field(default_factory=list)
    cut: Optional[int] = None
    _done: Optional[int] = None

    def _end_of_sample(self) -> Optional[int]:
        if self.sample.loop is not None:
            return None
        n = len(self.sample.frames)
        p, _ = read_positions(0.0, self.inc, int(n / self.inc) + 2, float(n), None)
        return len(p)

    def levels(self, times: _StageTimes, limit: Optional[int] = None) -> tuple[F64, Optional[int]]:
        """Levels from the voice's start, up to where its envelope is done (its
        index returned) or to `limit` frames (None returned)."""
        if not self.releases:
            if limit is None:
                return np.empty(0), None
            return attack_decay_sustain(self.envelope, limit, times), None
        first = self.releases[0] - self.start
        parts = [attack_decay_sustain(self.envelope, first, times)]
        at, level = first, float(parts[0][-1])
        for r in self.releases:
            rel = r - self.start
            if rel > at:
                level = float(parts[-1][rel - at - 1])
                parts[-1] = parts[-1][:rel - at]
            at = rel
            parts.append(release_curve(self.envelope[3], level, times))
        out = np.concatenate(parts)
        return (out, len(out)) if limit is None or len(out) < limit else (out[:limit], None)

    def done(self, times: _StageTimes) -> float:
        """The first frame the voice adds nothing to (inf while it may sound on)."""
        if self._done is None:
            env = self.levels(times)[1]
            ends = [self.start + e for e in (env, self._end_of_sample()) if e is not None]
            self._done = min(ends) if ends else -1
        return math.inf if self._done < 0 else self._done

    def release(self, frame: int) -> None:
        # A second release at the same frame starts from the same level: no change.
        if not self.releases or self.releases[-1] != frame:
            self.releases.append(frame)
            self._done = None


def track_events(score: Score, track: TrackScore) -> list[tuple[int, int, int, int, int]]:
    """(frame, 0 for a note-off or 1 for a note-on, order, note, velocity), in
    the order they apply; notes shorter than a frame dropped."""
    events = []
    timed = [(b, d, n, v) for b, d, n, v in track.notes]
    if track.pattern is not None:
        steps, sd, start, end = track.pattern
        k = 0
        while start + k * sd < end:
            step = steps[k % len(steps)]
            if step is not None:
                timed.append((start + k * sd, step[2] * sd, step[0], step[1]))
            k += 1
    for order, (b, d, note, velocity) in enumerate(timed):
        on = score.frame_of(b)
        off = score.frame_of(b + d)
        if off > on:
            events.append((on, 1, order, note, velocity))
            events.append((off, 0, order, note, 0))
    events.sort()
    return events


def render_track(score: Score, track: TrackScore, frames: int, times: _StageTimes) -> F32:
    """One track's mono audio: every note a voice, whole notes at a time,
    added in the order the voices started and clipped to -1..1."""
    sounding: list[_Voice] = []
    started: list[_Voice] = []
    padded_zones = [(padded(z[0].frames), *z) for z in track.zones]
    by_order: dict[int, _Voice] = {}
    for frame, kind, order, note, velocity in track_events(score, track):
        if frame >= frames:
            break
        if kind == 0:
            # A note's end releases the voice its own start began, if that
            # voice still sounds (it may have been stolen or have finished).
            mine = by_order.pop(order, None)
            if mine is not None and mine.cut is None and mine.done(times) >= frame:
                mine.release(frame)
            continue
        sounding = [v for v in sounding if v.done(times) >= frame]
        zone = next((z for z in padded_zones if z[2] <= note <= z[3] and z[4] <= velocity <= z[5]), None)
        if zone is None:
            continue
        if sounding and len(sounding) >= track.max_voices:
            sounding.pop(0).cut = frame
        sample = zone[1]
        voice = _Voice(frame, note, velocity / 127.0, sample, zone[0],
                       increment(sample.root, note, sample.rate, score.rate), track.envelope)
        sounding.append(voice)
        started.append(voice)
        by_order[order] = voice
    buf = np.zeros(frames, dtype=np.float32)
    for v in started:
        end = min(frames, v.done(times), math.inf if v.cut is None else v.cut)
        n = int(end) - v.start
        lv, _ = v.levels(times, n)
        n = min(n, len(lv))
        loop = None if v.sample.loop is None else (float(v.sample.loop[0]), float(v.sample.loop[1] - v.sample.loop[0]))
        p, _ = read_positions(0.0, v.inc, n, float(len(v.sample.frames)), loop)
        n = len(p)
        buf[v.start:v.start + n] += np.float32(v.gain) * (lv[:n].astype(np.float32) * interpolate(v.data, p))
    return np.clip(buf, -1.0, 1.0, out=buf)


def render_song(score: Score, frames: int) -> F32:
    """The first `frames` frames of the score as interleaved stereo: each
    track rendered whole, then gain and pan, summed in track order."""
    times = _StageTimes(score.rate)
    left = np.zeros(frames, dtype=np.float32)
    right = np.zeros(frames, dtype=np.float32)
    for track in score.tracks:
        s = render_track(score, track, frames, times) * np.float32(track.gain)
        lf, rf = pan_factors(track.pan)
        left += s * lf
        right += s * rf
    out = np.empty(2 * frames, dtype=np.float32)
    out[0::2] = left * np.float32(score.master_gain)
    out[1::2] = right * np.float32(score.master_gain)
    return out
