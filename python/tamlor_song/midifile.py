"""Standard MIDI Files to songs and back.

`read_midi` (also `Song.from_midi`) turns a file into a `Song`, by these rules:

1. Files: format 0 and format 1, timed in ticks per beat. Format 2 and SMPTE
   time division are refused with a ValueError. Running status is understood;
   meta events (other than tempo and track names) and SysEx are skipped;
   chunks other than the header and tracks are skipped, wherever they are.
2. Time: tick t is beat t / ticks_per_beat. A tempo event of u microseconds
   per beat sets the tempo to 60000000 / u beats per minute from its beat on;
   before the first one the tempo is 120. Frames then follow the song's
   tempo map exactly.
3. Notes: a note-on with a velocity above 0 starts a note; a note-off, or a
   note-on with velocity 0, ends the oldest sounding note of that channel
   and pitch in that track. Notes still sounding when their track ends end
   there. While the sustain pedal (controller 64 at 64 or more) is down on a
   channel of a track, its note-offs wait, and the notes end when the pedal
   comes up.
4. Tracks: one song track per MIDI track and channel that has notes, ordered
   by MIDI track, then channel. Each is named after its MIDI track's name
   event ("track N" without one), with " (channel C)" added when the MIDI
   track plays on several channels. `program` is the channel's last program
   change at or before its first note (0 if none); a program change after
   that starts a new song track for the notes that follow (named with
   " (program P)" added; a program that comes back plays on its track). The last controller 7 (volume) and 10 (pan) at or
   before the first note set the track's gain, 0.8 × (v/127)², and pan,
   (v − 64)/63 held to −1..1. Later controller moves, pitch bend and
   aftertouch are not played.
5. Bad files (not MIDI, cut short, a chunk longer than the file, running
   status with no status byte, a data byte of 0x80 or more, ...) raise
   ValueError "{source}: {reason} at byte {offset}", and nothing is read past
   the end of the data.

Sounds: by default every track plays a built-in sound made from tamlor's
oscillators and noise, a soft pitched tone for melodic channels and a small
drum kit on channel index 9 (the General MIDI drum channel). Pass
`instruments` to choose your own: a callable ``(channel, program,
track_name) -> instrument`` or an object with a method
``instrument_for(channel, program, track_name)``, returning anything
`Song.add_track` takes (a new `tamlor.Sampler` per track, or a
`tamlor.SampleMap`), or None for the built-in sound.

`write_midi` (also `Song.write_midi`) writes format 1: track 0 holds the
tempo map, then one MIDI track per song track with its name, its program
(when known) and its notes on its channel; tracks without a channel get
channels in order, skipping index 9. Beats go to the nearest tick. Reading
back gives the same notes, tempo map, channels and programs for notes on the
tick grid and tempos the file can hold (a whole number of microseconds per
beat), except notes of one pitch on one channel that lie inside each other
(the file cannot tell whose end is whose). A note of velocity 0 would
read back as a note-off, so it is left out.
"""
from __future__ import annotations

import copy
import os
import stat
import tempfile
from typing import Any, Callable, Optional, Protocol, Union, cast

import tamlor

from . import _smf
from .song import Song

__all__ = ["read_midi", "write_midi", "InstrumentSource"]


class _InstrumentMaker(Protocol):
    def instrument_for(self, channel: int, program: int, track_name: str) -> Any: ...


#: What `Song.from_midi` takes as `instruments`: a callable
#: ``(channel, program, track_name) -> instrument or None`` or an object with
#: such an ``instrument_for`` method (a SoundFont, a sample library, ...).
InstrumentSource = Union[Callable[[int, int, str], Any], _InstrumentMaker]

_Source = Union[str, "os.PathLike[str]", bytes, bytearray, memoryview, Any]

DRUM_CHANNEL = 9


def _read_source(source: _Source) -> tuple[bytes, str]:
    """The bytes of `source` and the name errors give it."""
    if isinstance(source, (str, os.PathLike)):
        path = os.fspath(cast("str | os.PathLike[str]", source))
        with open(path, "rb") as f:
            return f.read(), path
    if isinstance(source, (bytes, bytearray, memoryview)):
        return bytes(cast("bytes | bytearray | memoryview[int]", source)), "<bytes>"
    read = getattr(source, "read", None)
    if callable(read):
        data: Any = read()
        if not isinstance(data, (bytes, bytearray, memoryview)):
            raise TypeError(f"the file object gave {type(data).__name__}, not bytes: open it in binary mode")
        name: Any = getattr(source, "name", None)
        return bytes(cast("bytes | bytearray | memoryview[int]", data)), name if isinstance(name, str) else "<file>"
    raise TypeError(f"source must be a path, bytes or a binary file object, not {type(source).__name__}")


def _chooser(instruments: Optional[InstrumentSource]) -> Callable[[int, int, str], Any]:
    if instruments is None:
        return lambda channel, program, name: None
    maker = getattr(instruments, "instrument_for", None)
    if callable(maker):
        return maker  # type: ignore[no-any-return]
    if callable(instruments):
        return instruments
    raise TypeError("instruments must be None, a callable (channel, program, track_name) -> instrument, "
                    f"or an object with an instrument_for method, not {type(instruments).__name__}")


def read_midi(source: _Source, sample_rate: int = 44100,
              instruments: Optional[InstrumentSource] = None) -> Song:
    """A new `Song` at `sample_rate` holding the notes, tempo changes, tracks,
    channels and programs of a Standard MIDI File (`source`: a path, bytes or
    a binary file object), each track playing the instrument `instruments`
    gives it or a built-in sound."""
    choose = _chooser(instruments)
    song = Song(sample_rate=sample_rate)
    data, name = _read_source(source)
    _format, _tpb, _count, tempo, parts = _smf.read(data, name, song._seq + 1)
    song.set_tempo_map(tempo)
    last_seq = song._seq
    for track_index, channel, program, volume, pan, title, split_channels, split_programs, notes in parts:
        extras: list[str] = []
        if split_channels:
            extras.append(f"channel {channel}")
        if split_programs:
            extras.append(f"program {program}")
        track_name = (title or f"track {track_index}") + (f" ({', '.join(extras)})" if extras else "")
        instrument = choose(channel, program, track_name)
        envelope = None
        if instrument is None:
            instrument, envelope = default_sound(channel)
        gain = 0.8 * (volume / 127) ** 2 if volume >= 0 else 0.8
        place = min(1.0, max(-1.0, (pan - 64) / 63)) if pan >= 0 else 0.0
        track = song.add_track(track_name, instrument, gain=gain, pan=place, envelope=envelope)
        track._channel, track._program = channel, program
        track._notes = notes
        if notes:
            last_seq = max(last_seq, notes[-1][0])
    song._seq = last_seq
    song._changed()
    return song


def write_midi(song: Song, destination: Union[str, "os.PathLike[str]", Any], ticks_per_beat: int = 480) -> None:
    """Writes `song` as a format 1 Standard MIDI File to `destination` (a path,
    replaced only once the whole file is written, or a binary file object)."""
    if isinstance(ticks_per_beat, bool) or not isinstance(ticks_per_beat, int):
        raise TypeError(f"ticks_per_beat must be an integer, not {type(ticks_per_beat).__name__}")
    if not 1 <= ticks_per_beat <= 0x7FFF:
        raise ValueError(f"ticks_per_beat must be 1 to 32767 (got {ticks_per_beat})")
    free = [c for c in range(16) if c != DRUM_CHANNEL]
    given = 0
    tracks: list[tuple[str, int, int, list[tuple[float, float, int, int]]]] = []
    for track in song.tracks:
        channel = track.channel
        if channel is None:
            channel = free[given % len(free)]
            given += 1
        program = track.program
        tracks.append((track.name, channel, -1 if program is None else program, track.notes()))
    data = _smf.write(song.tempo_map, tracks, ticks_per_beat)
    if isinstance(destination, (str, os.PathLike)):
        write_file(os.fspath(destination), data)
        return
    write = getattr(destination, "write", None)
    if not callable(write):
        raise TypeError(f"destination must be a path or a binary file object, not {type(destination).__name__}")
    write(data)


def write_file(path: str, data: bytes) -> None:
    """Writes `data` to `path` so that a reader never sees half a file and a
    failed write leaves what was there: a regular file (or the one a link
    points to) is replaced by a complete new one; anything else (a device, a
    pipe) is written in place."""
    target = os.path.realpath(path)
    try:
        mode: Optional[int] = os.stat(target).st_mode
    except FileNotFoundError:
        mode = None
    if mode is not None and not stat.S_ISREG(mode):
        with open(target, "wb") as f:
            f.write(data)
        return
    folder = os.path.dirname(target) or "."
    fd, temp = tempfile.mkstemp(dir=folder, prefix=".tamlor-", suffix=".part")
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(temp, stat.S_IMODE(mode) if mode is not None else 0o666 & ~umask)
        os.replace(temp, target)
    except BaseException:
        try:
            os.unlink(temp)
        except OSError:
            pass
        raise


# -- the built-in sounds ------------------------------------------------------

_SOUNDS: dict[str, "tamlor.SampleMap"] = {}
_RATE = 44100


def _shaped(parts: list[tuple[list[float], int]], decay: float, seconds: float) -> list[float]:
    """The sum of `parts` (sample frames at 44.1 kHz and a velocity each)
    under a fall from full to silence over `decay` seconds, `seconds` long:
    a struck sound, rendered by a sampler."""
    sampler = tamlor.Sampler(tamlor.AudioSample([0.0]), sample_rate=_RATE, max_voices=len(parts))
    sampler.set_envelope(tamlor.Envelope(0.001, decay, 0.0, 0.0))
    for frames, velocity in parts:
        sampler.note_on_sample(60, velocity, tamlor.AudioSample(frames, _RATE, 60))
    return sampler.render(int(seconds * _RATE))


def _drum_kit() -> "tamlor.SampleMap":
    n = _RATE * 2

    def noise(seed: int) -> list[float]:
        return tamlor.NoiseSource(1.0, seed).render_to_buffer(n)

    def tone(hz: float) -> list[float]:
        return tamlor.SineOscillator(hz, 1.0, _RATE).render_to_buffer(n)

    kick = _shaped([(tone(55.0), 127), (noise(1), 12)], 0.3, 0.35)
    snare = _shaped([(noise(2), 90), (tone(185.0), 60)], 0.18, 0.2)
    clap = _shaped([(noise(3), 100)], 0.12, 0.15)
    closed_hat = _shaped([(noise(4), 70)], 0.05, 0.06)
    open_hat = _shaped([(noise(5), 70)], 0.35, 0.4)
    tom = _shaped([(tone(110.0), 127), (noise(6), 15)], 0.35, 0.4)
    crash = _shaped([(noise(7), 80)], 1.2, 1.25)
    ride = _shaped([(noise(8), 45), (tone(520.0), 20)], 0.7, 0.75)
    other = _shaped([(noise(9), 60), (tone(800.0), 40)], 0.1, 0.12)
    zones = [(kick, 35, 36, 36), (snare, 37, 38, 38), (clap, 39, 39, 39), (snare, 40, 40, 40),
             (closed_hat, 42, 42, 42), (closed_hat, 44, 44, 44), (open_hat, 46, 46, 46),
             (tom, 41, 50, 45), (crash, 49, 49, 49), (crash, 52, 52, 52), (crash, 55, 55, 55),
             (crash, 57, 57, 57), (ride, 51, 51, 51), (ride, 53, 53, 53), (ride, 59, 59, 59),
             (other, 0, 127, 60)]
    kit = tamlor.SampleMap()
    for frames, low, high, root in zones:
        kit.add_mapping(tamlor.SampleMapping(tamlor.AudioSample(frames, _RATE, root), low, high, 0, 127))
    return kit


def _tone() -> "tamlor.SampleMap":
    # A cycle of a 440 Hz sine at 44 kHz is exactly 100 frames: 100 cycles
    # make a loop with no seam (and few wraps), played at every pitch from
    # its root, note 69.
    cycles = tamlor.SineOscillator(440.0, 0.3, 44000).render_to_buffer(10_000)
    sample = tamlor.AudioSample(cycles, 44000, 69)
    sample.loop_start, sample.loop_end = 0, 10_000
    return tamlor.SampleMap.single_sample(sample)


# The tone rises in 3 ms, holds while the note lasts (held voices take the
# sampler's quickest road) and fades in 60 ms.
TONE_ENVELOPE = tamlor.Envelope(0.003, 0.0, 1.0, 0.06)
DRUM_ENVELOPE = tamlor.Envelope(0.0, 0.0, 1.0, 1.0)


def default_sound(channel: int) -> tuple["tamlor.SampleMap", "tamlor.Envelope"]:
    """The built-in instrument of a MIDI channel and its envelope: the drum
    kit on channel index 9, the tone elsewhere. Each call gives a copy of its
    own (the sounds are made once), so changing one track's instrument
    changes no other."""
    kind = "drums" if channel == DRUM_CHANNEL else "tone"
    found = _SOUNDS.get(kind)
    if found is None:
        found = _drum_kit() if kind == "drums" else _tone()
        _SOUNDS[kind] = found
    return copy.copy(found), DRUM_ENVELOPE if kind == "drums" else TONE_ENVELOPE
