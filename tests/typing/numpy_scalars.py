"""A song built from NumPy scalars, as arrays hand them out: checked by mypy
--strict and pyright in strict mode (scripts/test-types) and run by the tests,
which compare it with the same song built from plain numbers."""
from __future__ import annotations

import array

import numpy as np

import tamlor
import tamlor_song


def song_from_numpy() -> tamlor_song.Song:
    song = tamlor_song.Song(bpm=np.float64(100.0), sample_rate=np.int32(8000))
    sampler = tamlor.Sampler(tamlor.AudioSample([0.5] * 4000, sample_rate=8000), sample_rate=8000)
    track = song.add_track("lead", sampler, gain=np.float32(0.75), pan=np.float16(-0.5), max_voices=np.uint8(4))
    track.add_note(np.float32(0.5), 1, np.int64(60))
    track.add_note(np.float64(1.0), np.float32(0.25), np.uint8(64), np.int16(90))
    track.add_notes([(np.float32(2.0), np.float32(0.5), np.int8(67))])
    pattern = tamlor.Pattern(4)
    pattern.set_step(np.int64(1), tamlor.Step(np.int64(62), np.int64(80)))
    track.add_pattern(pattern, np.float32(0.25), start_beat=np.int64(3), end_beat=np.float64(4.0))
    track.gain = np.float32(0.5)
    song.master_gain = np.float64(1.0)
    song.set_tempo(np.float32(2.0), np.int64(120))
    song.seek(np.int64(0))
    return song


def render(song: tamlor_song.Song) -> array.array[float]:
    return song.render(np.int64(4 * song.sample_rate))
