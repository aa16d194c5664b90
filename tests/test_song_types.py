"""The song layer takes the numbers the native classes take: the typed
example built from NumPy scalars (which the type checkers check) gives the
same audio as the same song built from plain numbers."""
import pathlib
import sys

import pytest

import tamlor
import tamlor_song

pytest.importorskip("numpy")
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent / "typing"))
import numpy_scalars  # noqa: E402


def song_from_numbers():
    song = tamlor_song.Song(bpm=100.0, sample_rate=8000)
    sampler = tamlor.Sampler(tamlor.AudioSample([0.5] * 4000, sample_rate=8000), sample_rate=8000)
    track = song.add_track("lead", sampler, gain=0.75, pan=-0.5, max_voices=4)
    track.add_note(0.5, 1, 60)
    track.add_note(1.0, 0.25, 64, 90)
    track.add_notes([(2.0, 0.5, 67)])
    pattern = tamlor.Pattern(4)
    pattern.set_step(1, tamlor.Step(62, 80))
    track.add_pattern(pattern, 0.25, start_beat=3, end_beat=4.0)
    track.gain = 0.5
    song.master_gain = 1.0
    song.set_tempo(2.0, 120)
    return song


def test_numpy_scalars_give_the_song_plain_numbers_give():
    song = numpy_scalars.song_from_numpy()
    assert song.sample_rate == 8000 and type(song.sample_rate) is int
    assert song.tracks[0].pan == -0.5 and song.length_beats() == 3.5
    audio = numpy_scalars.render(song)
    assert any(audio) and audio == song_from_numbers().render(4 * 8000)
