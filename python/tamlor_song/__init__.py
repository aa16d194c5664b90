"""Songs from notes: tracks of instruments playing notes and step patterns
under a tempo map, rendered to interleaved stereo with every note on its own
frame. See `tamlor_song.song` for what a song guarantees.

This package only gathers the public names; each concern lives in a module
of its own.
"""
from __future__ import annotations

from .cli import render_file
from .effects import Bus
from .instrument import Instrument, Zone
from .midifile import read_midi, write_midi
from .sfz import load_sfz
from .soundfont import SoundFont
from .song import Song, StepEvent, Track

__all__ = ["Song", "Track", "StepEvent", "read_midi", "write_midi", "render_file", "Instrument", "Zone",
           "SoundFont", "load_sfz", "Bus"]
