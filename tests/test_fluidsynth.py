"""A General MIDI bank played here and by the reference synthesizer (the
Debian `fluidsynth` program, reverb and chorus off) on the same MIDI file:
every note's pitch within 5 cents, every onset within one of its 64-frame
blocks. Skipped where the program or the bank is missing."""
from __future__ import annotations

import os
import shutil
import subprocess

import numpy as np
import pytest

import tamlor
from tamlor_song import Song, SoundFont

FONT = "/usr/share/sounds/sf2/TimGM6mb.sf2"
RATE = 44100
# A beat of 112896 frames (2.56 s, a whole number of microseconds): quarter
# beats fall on the reference's 64-frame block grid.
BEAT = 112896
BPM = 60.0 * RATE / BEAT

pytestmark = pytest.mark.skipif(shutil.which("fluidsynth") is None or not os.path.exists(FONT),
                                reason="needs the fluidsynth program and the timgm6mb-soundfont bank")

# (channel, program, note): pianos, mallets, guitar, bass, strings, organ, brass, and two drums.
NOTES = [(0, 0, 60), (1, 11, 67), (2, 24, 52), (3, 33, 40), (4, 48, 64), (5, 19, 55), (6, 56, 70), (0, 0, 72),
         (9, 0, 36), (9, 0, 38)]


def stereo(path: str) -> np.ndarray:
    buf = tamlor.AudioBuffer.read_wav(path)
    return np.asarray(buf.to_list(), np.float32).reshape(-1, 2)


@pytest.fixture(scope="module")
def renders(tmp_path_factory):
    folder = tmp_path_factory.mktemp("reference")
    song = Song(bpm=BPM, sample_rate=RATE)
    for i, (channel, program, note) in enumerate(NOTES):
        track = song.add_track(f"part {i}", tamlor.SampleMap())
        track.channel, track.program = channel, program
        track.add_note(1 + i + 0.25 * (i % 3), 0.25, note, 100)
    midi = str(folder / "parts.mid")
    song.write_midi(midi)
    theirs = str(folder / "theirs.wav")
    subprocess.run(["fluidsynth", "-ni", "-g", "1.0", "-R", "0", "-C", "0", "-r", str(RATE), "-F", theirs,
                    FONT, midi], check=True, capture_output=True, timeout=120)
    ours = Song.from_midi(midi, sample_rate=RATE, instruments=SoundFont(FONT))
    frames = len(NOTES) * BEAT + 2 * BEAT
    mine = np.frombuffer(ours.render(frames), np.float32).reshape(-1, 2)
    return mine, stereo(theirs)[:frames]


def onset(x: np.ndarray, start: int) -> int:
    """The first frame from `start` - 2048 on that stands out from what sounded
    before it (twice the loudest of the 2048 frames before, and above -80 dB)."""
    level = np.abs(x).max(axis=1)
    floor = 2 * float(level[start - 4096:start - 2048].max()) + 1e-4
    return start - 2048 + int(np.nonzero(level[start - 2048:start + 20000] > floor)[0][0])


def peak_hz(x: np.ndarray, near: float | None = None) -> float:
    """The frequency of the strongest spectral peak (or the strongest within 3%
    of `near`), placed by a parabola through the log magnitudes."""
    n = len(x)
    spectrum = np.abs(np.fft.rfft(x * np.hanning(n), 4 * n))
    hz = np.fft.rfftfreq(4 * n, 1 / RATE)
    allowed = (hz > 40) & (hz < 5000)
    if near is not None:
        allowed &= np.abs(hz / near - 1) < 0.03
    k = int(np.argmax(np.where(allowed, spectrum, 0)))
    a, b, c = np.log(spectrum[k - 1:k + 2] + 1e-30)
    return float(hz[k] + (a - c) / (2 * (a - 2 * b + c)) * (hz[1] - hz[0]))


def test_onsets_come_within_one_block_of_the_reference(renders):
    mine, theirs = renders
    for i in range(len(NOTES)):
        start = round((1 + i + 0.25 * (i % 3)) * BEAT)
        ours, ref = onset(mine, start), onset(theirs, start)
        assert ours >= start, f"note {i}"
        assert abs(ours - ref) <= 64, f"note {i}: ours at {ours}, the reference's at {ref}"


def test_pitches_agree_within_five_cents(renders):
    mine, theirs = renders
    for i, (channel, _, _) in enumerate(NOTES):
        if channel == 9:
            continue
        start = round((1 + i + 0.25 * (i % 3)) * BEAT) + 2048
        ours = mine[start:start + 16384].sum(axis=1).astype(np.float64)
        ref = theirs[start:start + 16384].sum(axis=1).astype(np.float64)
        f = peak_hz(ours)
        g = peak_hz(ref, near=f)
        assert abs(1200 * np.log2(f / g)) < 5.0, f"note {i}: {f:.2f} Hz here, {g:.2f} Hz in the reference"
