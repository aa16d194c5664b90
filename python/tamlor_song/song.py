"""Songs from notes: an arrangement of tracks, each an instrument playing notes
and step patterns, under a tempo map, rendered to interleaved stereo with
every note starting on its own frame.

A `Song` keeps its notes in beats. It turns beats into seconds with its tempo
map and seconds into frames at its sample rate, and when you ask for audio it
renders each track's sampler up to the exact frame of the next note-on or
note-off, applies the notes due at that frame, and carries on; the tracks are
then mixed to stereo through a `tamlor.Mixer`. Every sample is computed by the
native classes: this module only decides where a block is split and which
note starts or stops there.

What a song guarantees:

1. Frame-exact timing. The tempo map is a list of segments, each a beat and a
   tempo in beats per minute; the first starts at beat 0. A beat b in the
   segment starting at beat s with tempo t, which itself starts at S seconds,
   is at S + ((b - s) * 60.0) / t seconds (double precision, in that order);
   S is that same formula applied to the segment's start beat in the segment
   before it. The event sounds at frame floor(seconds * sample_rate + 0.5).
   A note stops at start + duration; step k of a pattern starts at
   start_beat + k * step_duration and stops duration_ticks * step_duration
   beats after its start.
2. The audio does not depend on how you slice it: rendering in blocks of any
   size, or in one call, gives the same bits.
3. At one frame, note-offs come before note-ons (so a note repeated right
   after itself is not silenced by its own release), then tracks in the order
   they were added, then notes in the order they were added (the steps of one
   pattern in their order in time).
4. A `tamlor.SampleMap` track plays each note on the sample of the first zone
   that contains its note and velocity, with one envelope and one voice limit
   for the whole track; a note outside every zone is silent. A
   `tamlor_song.Instrument` track plays every zone that contains the note and
   velocity (layers), each with its own envelope, in stereo: the mixer's gain
   and master gain apply to it, its pan is a balance (the far side turns
   down), mute and solo as for any track.
5. Track gain, constant-power pan, mute and solo and the song's master gain
   are the mixer's; a change between two render calls applies from the next.
6. Bad input (a NaN, infinite or negative beat, duration or tempo, a MIDI
   number outside 0..127, an object of the wrong type) raises ValueError or
   TypeError from the call that gives it, and that call adds nothing. So do
   beats beyond a billion, tempos outside 1 to 10,000 beats per minute and
   pattern steps shorter than a thousandth of a beat, which no piece needs and
   which would make frames or grid walks run away.
7. Notes keep their own length: a note's end releases only the voice its own
   start began, on every kind of track (plain notes, patterns, notes read
   from MIDI files), so two overlapping notes of one pitch each end at their
   own written time. (A `tamlor.Sampler` played directly keeps its own rule:
   `note_off` releases every voice of the pitch.)
8. A render, seek, clear or add_track that fails part-way (no memory, a
   sampler busy in another call, a signal handler that raises) changes
   nothing: every track's sampler is saved before anything moves and put
   back, with the schedule and the play position, so the next call renders
   what the failed one would have. Such a call started while the song
   renders (from a signal handler or another thread) is refused.
9. Effects (`Track.effects`, buses fed by `Track.send`, `Song.effects`; see
   `tamlor_song.effects`) run after the track's gain and pan, and on the
   master after the master gain; their state carries from call to call, so
   the audio still does not depend on how it is sliced, and a call that fails
   leaves them as they were. A song without any is mixed by the one mixer,
   exactly as before.

A note shorter than one frame at its place (its start and its stop fall on
the same frame) is silent and releases nothing.
"""
from __future__ import annotations

import array
import copy
import math
import operator
import os
from bisect import bisect_left, bisect_right
from typing import Any, Callable, Iterable, Iterator, Optional, Sequence, SupportsFloat, SupportsIndex, TypeAlias, Union, cast

import tamlor

from . import _voices
from .instrument import Instrument
from .effects import Bus, Effect, Routing, all_effects, check_chain, restore, snapshot, tail_frames

__all__ = ["Song", "Track", "StepEvent"]

#: One event of ``tamlor.StepSequencer.process_beat_range``:
#: ``(kind, note, velocity, time)``, kind ``"note_on"`` or ``"note_off"``,
#: velocity 0 for a note-off, time in millionths of a beat (beat 1.5 is
#: 1500000), not microseconds.
StepEvent: TypeAlias = tuple[str, int, int, int]

# What the song takes for a number, as the native classes do: a real number
# (float, int, a NumPy scalar...) and a whole number (int, a NumPy integer).
_Real: TypeAlias = Union[SupportsFloat, SupportsIndex]
_Whole: TypeAlias = SupportsIndex

# Longest run of frames rendered into the tracks' buffers at once: a longer
# request is rendered in runs of this size (which changes no bit of the
# result, since the samplers and the mixer work frame by frame).
_RUN = 4096
# While looping patterns play, notes are scheduled this many frames ahead.
_WINDOW = 1 << 16

# Event kinds, in the order they are applied at one frame.
_OFF, _ON = 0, 1

_NoteLike = Union["tamlor.NoteEvent", tuple[_Real, _Real, _Whole], tuple[_Real, _Real, _Whole, _Whole]]
_Instrument = Union["tamlor.Sampler", "tamlor.SampleMap", Instrument]
# A scheduled note-on or note-off: (frame, kind, track, order, step, call,
# arguments, (track, order, step)). A note-on's call starts a voice and
# returns its handle (None: no voice); it is followed by the beat where the
# note stops and the call that releases a voice by handle, which is also a
# note-off's call.
_Event = tuple[Any, ...]

# The sampler calls made for every track of a song at once (through map, so
# that no Python code runs between two tracks).
_save_states = tamlor.Sampler.save_states
_render_into = tamlor.Sampler.render_into
_panic = tamlor.Sampler.panic
_restore_state = tamlor.Sampler.restore_state

# A frame later than any a song reaches: "no event scheduled".
_NEVER = 1 << 96


# Bounds that keep every frame a song computes finite and every grid walk
# short: a billion beats, tempos from 1 to 10,000 beats per minute, steps of
# at least a thousandth of a beat.
_MAX_BEAT = 1e9
_MIN_BPM, _MAX_BPM = 1.0, 10_000.0
_MIN_STEP = 0.001


def _real(value: Any, name: str, what: str) -> float:
    """`value` as a float: any number Python converts to one, but no string."""
    if isinstance(value, (str, bytes, bytearray)):
        raise TypeError(f"{name} must be {what}, not {type(value).__name__}")
    try:
        return float(value)
    except OverflowError:
        raise ValueError(f"{name} is too large") from None
    except TypeError:
        raise TypeError(f"{name} must be {what}, not {type(value).__name__}") from None


def _beat(value: Any, name: str, low: float = 0.0) -> float:
    """A beat position or length: a real number from `low` to _MAX_BEAT."""
    x = _real(value, name, "a number of beats")
    if not low <= x <= _MAX_BEAT:
        raise ValueError(f"{name} must be a number of beats from {low:g} to {_MAX_BEAT:g} (got {x!r})")
    return x


def _bpm(value: Any, name: str = "bpm") -> float:
    x = _real(value, name, "a tempo in beats per minute")
    if not _MIN_BPM <= x <= _MAX_BPM:
        raise ValueError(f"{name} must be from {_MIN_BPM:g} to {_MAX_BPM:g} beats per minute (got {x!r})")
    return x


def _integer(value: Any, name: str, kind: str = "an integer") -> int:
    """`value` as an int: any integer type (NumPy's too) but not bool, which
    is refused as a mistake rather than read as 0 or 1. The TypeError says
    `name` must be `kind`."""
    if isinstance(value, bool):
        raise TypeError(f"{name} must be {kind}, not bool")
    try:
        return operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be {kind}, not {type(value).__name__}") from None


def _midi(value: Any, name: str) -> int:
    """A MIDI note or velocity: an integer 0..127."""
    n = _integer(value, name, "an integer 0-127")
    if not 0 <= n <= 127:
        raise ValueError(f"{name.capitalize()} out of range: {n} (must be 0\u2013127)")
    return n


def _level(value: Any, name: str) -> float:
    """A finite gain or pan value (the mixer clamps it to its range)."""
    x = _real(value, name, "a number")
    if not math.isfinite(x):
        raise ValueError(f"{name} must be finite (got {x!r})")
    return x


class _Pattern:
    """A pattern placed on a track: a copy of its active steps on a grid."""

    __slots__ = ("seq", "start", "step", "end", "length", "count", "steps", "walks")

    def __init__(self, seq: int, pattern: "tamlor.Pattern", step: float, start: float,
                 end: Optional[float]) -> None:
        self.seq = seq
        self.start = start
        self.step = step
        self.end = end  # no step starts at or after this beat; None: no such bound
        self.length = len(pattern)
        # The steps played: the pattern's length once, or without end when it loops.
        self.count: Optional[int] = None if pattern.loop_enabled else self.length
        # Step index -> (note, velocity, duration in steps), active steps only.
        self.steps: dict[int, tuple[int, int, int]] = {}
        for i in range(self.length):
            s = pattern.get_step(i)
            if s.active:
                self.steps[i] = (s.note, s.velocity, s.duration_ticks)
        # The grid walks that find its events: -1 for the note-ons, then each
        # distinct step length for the note-offs of the steps that long.
        self.walks = [-1] + sorted({ticks for _, _, ticks in self.steps.values()})

    def stop_step(self) -> Optional[int]:
        """A step number past the last step that plays (None: it loops forever);
        steps below it still have to be tested against `end`."""
        bound = self.count
        if self.end is not None:
            by_end = max(0, math.ceil((self.end - self.start) / self.step) + 1)
            bound = by_end if bound is None else min(bound, by_end)
        return bound

    def played_steps(self, stop: int) -> Iterator[tuple[int, float, tuple[int, int, int]]]:
        """The steps numbered below `stop` that play, in order, as (step number,
        start beat, (note, velocity, duration in steps))."""
        for k in range(stop):
            found = self.steps.get(k % self.length)
            if found is None:
                continue
            on = self.start + k * self.step
            if self.end is not None and not on < self.end:
                continue
            yield k, on, found

    def last_beat(self) -> Optional[float]:
        """The beat where its last note stops, or None when it loops forever."""
        stop = self.stop_step()
        if not self.steps:
            return 0.0
        if stop is None:
            return None
        last = 0.0
        # The last pass of the pattern holds the last start of every step.
        for k in range(stop - 1, max(-1, stop - self.length - 3), -1):
            on = self.start + k * self.step
            found = self.steps.get(k % self.length)
            if found is not None and (self.end is None or on < self.end):
                last = max(last, on + found[2] * self.step)
        return last


def _track_of(song: "Song", index: int) -> "Track":
    """Track `index` of `song`: how a pickled or copied Track finds itself again."""
    return song.tracks[index]


class Track:
    """One instrument in a song, on a mixer channel of its own; `Song.add_track`
    makes it.

    Add notes in beats with `add_note`, `add_notes` and `add_pattern`. The
    mixer settings (`gain`, `pan`, `mute`, `solo`) can change at any time and
    apply from the next render call.
    """

    def __init__(self, song: "Song", index: int, name: str, sampler: Union["tamlor.Sampler", "_voices.Player"],
                 instrument: _Instrument) -> None:
        self._song = song
        self._index = index
        self._name = name
        self._sampler = sampler
        self._instrument = instrument
        self._notes: list[tuple[int, float, float, int, int]] = []  # (seq, start, duration, note, velocity)
        self._patterns: list[_Pattern] = []
        self._start: Callable[[int, int], Optional[int]]
        self._release: Callable[[int], bool]
        self._channel: Optional[int] = None
        self._program: Optional[int] = None
        self._effects: list[Effect] = []
        self._sends: dict[str, float] = {}
        if isinstance(sampler, _voices.Player):
            # An Instrument's player: a note-on starts every zone of the key
            # and hands back the note's handle; the note's end releases the
            # zones of that note only.
            self._start = sampler.note_on
            self._release = sampler.note_off
            return
        if isinstance(instrument, tamlor.SampleMap):
            zones: dict[tuple[int, int], "tamlor.AudioSample"] = {}
            find, play = instrument.find_sample, sampler.note_on_sample

            def start(note: int, velocity: int) -> Optional[int]:
                sample = zones.get((note, velocity))
                if sample is None:
                    # Zones are only ever added to a map, so the first match
                    # found for a note never changes; a miss is asked again.
                    sample = find(note, velocity)
                    if sample is None:
                        return None
                    zones[(note, velocity)] = sample
                return play(note, velocity, sample)

            self._start = start
        else:
            self._start = sampler.note_on_sample
        # A note's end releases the voice its own start began, by handle, so
        # two overlapping notes of one pitch each keep their written length.
        self._release = sampler.release_voice

    def __reduce__(self) -> tuple[Any, ...]:
        # A track lives in its song: it is saved as the song and its place.
        return (_track_of, (self._song, self._index))

    def __repr__(self) -> str:
        return (f"Track(name={self._name!r}, notes={len(self._notes)}, patterns={len(self._patterns)}, "
                f"gain={self.gain:.2f}, pan={self.pan:.2f}, mute={self.mute}, solo={self.solo})")

    @property
    def name(self) -> str:
        """The track's name, also its mixer channel's name."""
        return self._name

    @property
    def index(self) -> int:
        """The track's place in the song (0 for the first track added) and its mixer channel."""
        return self._index

    @property
    def instrument(self) -> _Instrument:
        """The Sampler, SampleMap or Instrument given to `Song.add_track`."""
        return self._instrument

    @property
    def sampler(self) -> "tamlor.Sampler":
        """The Sampler whose voices this track plays (built by the song for a
        SampleMap). An `Instrument` track plays through a player of its own and
        has none: asking raises TypeError."""
        if isinstance(self._sampler, _voices.Player):
            raise TypeError(f"track {self._name!r} plays an Instrument, not a Sampler")
        return self._sampler

    @property
    def channel(self) -> Optional[int]:
        """The MIDI channel (0-15) of a track read from a MIDI file, None for
        a track made by hand; `Song.write_midi` writes the track on it."""
        return self._channel

    @channel.setter
    def channel(self, value: Optional[int]) -> None:
        self._channel = None if value is None else _small_int(value, "channel", 15)

    @property
    def program(self) -> Optional[int]:
        """The MIDI program (instrument number 0-127) of a track read from a
        MIDI file, None when it is not known; `Song.write_midi` writes it."""
        return self._program

    @program.setter
    def program(self, value: Optional[int]) -> None:
        self._program = None if value is None else _small_int(value, "program", 127)

    def notes(self) -> list[tuple[float, float, int, int]]:
        """Every note of the track as (start_beat, duration_beats, note, velocity),
        sorted by start and, at one start, in the order they were added. The
        steps of a pattern are included; a pattern that loops without an end
        raises ValueError, as it never stops."""
        entries = [(seq, 0, b, d, n, v) for seq, b, d, n, v in self._notes]
        for p in self._patterns:
            stop = p.stop_step()
            if stop is None:
                raise ValueError(f"track {self._name!r} has a pattern that loops forever (give it an end_beat)")
            for k, on, found in p.played_steps(stop):
                entries.append((p.seq, k, on, found[2] * p.step, found[0], found[1]))
        entries.sort(key=lambda e: (e[2], e[0], e[1]))
        return [(b, d, n, v) for _, _, b, d, n, v in entries]

    @property
    def gain(self) -> float:
        """Linear gain of the track, 0.0 to 2.0 (values beyond are clamped)."""
        return float(self._song._mixer.get_channel(self._index).gain)

    @gain.setter
    def gain(self, value: _Real) -> None:
        self._song._mixer.set_channel_gain(self._index, _level(value, "gain"))

    @property
    def pan(self) -> float:
        """Stereo position, -1.0 (left) to 1.0 (right), with a constant-power pan law."""
        return float(self._song._mixer.get_channel(self._index).pan)

    @pan.setter
    def pan(self, value: _Real) -> None:
        self._song._mixer.set_channel_pan(self._index, _level(value, "pan"))

    @property
    def mute(self) -> bool:
        """True silences the track (its voices keep playing unheard)."""
        return bool(self._song._mixer.get_channel(self._index).mute)

    @mute.setter
    def mute(self, value: bool) -> None:
        self._song._mixer.set_channel_mute(self._index, _flag(value, "mute"))

    @property
    def solo(self) -> bool:
        """While any track is soloed, only soloed tracks are heard (a muted one stays silent)."""
        return bool(self._song._mixer.get_channel(self._index).solo)

    @solo.setter
    def solo(self, value: bool) -> None:
        self._song._mixer.set_channel_solo(self._index, _flag(value, "solo"))

    @property
    def effects(self) -> list[Effect]:
        """The track's effects chain (a list of `tamlor_fx` effects, stereo, at
        the song's sample rate), run in order on the track's stereo signal after
        its gain and pan. Edit the list in place; assigning a new list works too."""
        return self._effects

    @effects.setter
    def effects(self, value: list[Effect]) -> None:
        self._effects = check_chain(value, self._song.sample_rate, f"track {self._name!r} effects")

    @property
    def sends(self) -> dict[str, float]:
        """The track's sends, bus name to linear level (a copy)."""
        return dict(self._sends)

    def send(self, bus: str, level: float) -> None:
        """Feeds the track's signal, after its effects, to the bus named `bus`
        (see `Song.add_bus`) at the linear `level` (0 or more; 0 stops the
        send)."""
        if not isinstance(bus, str):
            raise TypeError(f"bus must be a str, not {type(bus).__name__}")
        if bus not in self._song._buses:
            raise ValueError(f"no bus named {bus!r} in this song")
        x = _level(level, "level")
        if x < 0.0:
            raise ValueError(f"level must be 0 or more (got {x!r})")
        if x == 0.0:
            self._sends.pop(bus, None)
        else:
            self._sends[bus] = x

    def add_note(self, start_beat: _Real, duration_beats: _Real, note: _Whole, velocity: _Whole = 100) -> None:
        """Plays `note` (MIDI 0..127) at `velocity` (0..127) from `start_beat` for
        `duration_beats` beats. Beats count from 0 at the start of the song."""
        entry = _note_entry(start_beat, duration_beats, note, velocity)
        self._notes.append((self._song._next_seq(), *entry))
        self._song._changed()

    def add_notes(self, notes: Union["tamlor.EventSequence", Iterable[_NoteLike]]) -> int:
        """Adds many notes at once, in the order given: a `tamlor.EventSequence`, or
        an iterable of `tamlor.NoteEvent` or of tuples (start_beat, duration_beats,
        note) or (start_beat, duration_beats, note, velocity). Every note is checked
        first: on an error none is added. Returns the number of notes added."""
        if isinstance(notes, tamlor.EventSequence):
            items: Iterable[Any] = notes.events()
        elif isinstance(notes, (str, bytes)) or not isinstance(notes, Iterable):
            raise TypeError(f"notes must be an EventSequence or an iterable of notes, not {type(notes).__name__}")
        else:
            items = notes
        entries: list[tuple[float, float, int, int]] = []
        for i, item in enumerate(items):
            kind = type(item).__name__
            fields = cast("Sequence[Any]", item) if isinstance(item, (tuple, list)) else ()
            try:
                if isinstance(item, tamlor.NoteEvent):
                    entry = _note_entry(item.beat_position, item.duration, item.note, item.velocity)
                elif len(fields) in (3, 4):
                    entry = _note_entry(*fields)
                else:
                    raise TypeError("expected a NoteEvent or a tuple (start_beat, duration_beats, note[, velocity]),"
                                    f" not {kind}")
            except (TypeError, ValueError) as exc:
                raise type(exc)(f"note {i}: {exc}") from None
            entries.append(entry)
        seq = self._song._take_seqs(len(entries))
        self._notes.extend((seq + i, *entry) for i, entry in enumerate(entries))
        self._song._changed()
        return len(entries)

    def add_pattern(self, pattern: "tamlor.Pattern", step_duration: _Real, start_beat: _Real = 0.0,
                    end_beat: Optional[_Real] = None) -> None:
        """Plays a copy of `pattern` on a grid of `step_duration` beats (at least
        0.001) from `start_beat`: step k (counting on past the pattern's length,
        which wraps) starts at start_beat + k * step_duration, and lasts its
        duration_ticks steps. The pattern loops while its `loop_enabled` is set,
        else plays once; `end_beat` stops it earlier (no step starts at or after
        it). Later edits to the pattern object do not reach the song."""
        if not isinstance(pattern, tamlor.Pattern):
            raise TypeError(f"pattern must be a tamlor.Pattern, not {type(pattern).__name__}")
        step = _beat(step_duration, "step_duration", _MIN_STEP)
        start = _beat(start_beat, "start_beat")
        end = None if end_beat is None else _beat(end_beat, "end_beat")
        placed = _Pattern(self._song._next_seq(), pattern, step, start, end)
        self._patterns.append(placed)
        self._song._changed()

    def clear(self) -> None:
        """Removes every note and pattern of the track and releases its sounding
        voices (they fade out with the envelope's release)."""
        if self._song._states is None:
            raise _busy()
        sounding = self._song._open
        mine = [key for key in sounding if key[0] == self._index]
        # The one step that can be refused (a sampler busy in another call)
        # comes before anything is removed.
        self._sampler.all_notes_off()
        self._notes.clear()
        self._patterns.clear()
        for key in mine:
            del sounding[key]
        self._song._changed()


def _small_int(value: Any, name: str, top: int) -> int:
    """An integer 0..top (a MIDI channel or program)."""
    n = _integer(value, name, f"an integer 0-{top}")
    if not 0 <= n <= top:
        raise ValueError(f"{name} must be 0-{top} (got {n})")
    return n


_RELEASES: dict[tuple[float, int], int] = {}


def _release_frames(release: float, rate: int) -> int:
    """Frames a voice still sounds from the frame of its release on, counted as
    the envelope counts them: its release clock adds 1/rate per frame and the
    voice falls silent on the first frame the clock reaches the release time."""
    if not release > 0.0:
        return 0
    found = _RELEASES.get((release, rate))
    if found is not None:
        return found
    period = 1.0 / rate
    if release * rate > 1 << 20:
        count = math.ceil(release * rate) + 2  # too long to count: a frame or two more than needed
    else:
        clock, count = 0.0, 0
        while 1.0 - clock / release > 0.0:
            clock += period
            count += 1
    _RELEASES[(release, rate)] = count
    return count


def _busy() -> RuntimeError:
    return RuntimeError("the song is rendering (a render, seek, clear or add_track from a signal handler "
                        "or another thread must wait for it)")


def _flag(value: Any, name: str) -> bool:
    if not isinstance(value, bool):
        raise TypeError(f"{name} must be True or False, not {type(value).__name__}")
    return value


def _stereo_out(view: memoryview[Any]) -> memoryview[Any]:
    """`view` as one flat writable run of 32-bit floats: it must be
    contiguous and flat, or of shape (frames, 2). Every check is made here,
    before anything is rendered."""
    if view.readonly:
        raise TypeError("out must be writable")
    if view.format not in ("f", "<f", "=f", "@f") or view.itemsize != 4:
        raise TypeError(f"out must hold 32-bit floats (format 'f'), not format {view.format!r}")
    if not view.c_contiguous:
        raise ValueError("out must be contiguous")
    shape = view.shape or ()
    if len(shape) != 1 and (len(shape) != 2 or shape[1] != 2):
        raise ValueError(f"out must be flat or of shape (frames, 2), not of shape {shape}")
    return view.cast("B").cast("f")


def _note_entry(start_beat: Any, duration_beats: Any, note: Any, velocity: Any = 100) -> tuple[float, float, int, int]:
    return (_beat(start_beat, "start_beat"), _beat(duration_beats, "duration_beats"), _midi(note, "note"),
            _midi(velocity, "velocity"))


class Song:
    """An arrangement of tracks under a tempo map, rendered to interleaved stereo.

    `bpm` is the tempo from beat 0 on; `set_tempo` changes it from any later
    beat. `render(frames)` hands back the next `frames` frames and
    `render_into(out)` fills a buffer of yours; successive calls continue where
    the last one stopped, and `seek(frame)` or `reset()` move the play position.
    In a notebook a song shows as a player and its piano roll.
    """

    #: Songs longer than this many seconds show no player in a notebook (only
    #: their piano roll): an embedded 16-bit WAV grows by about 10 MB a minute.
    #: Set it on one song or on the class.
    player_limit_seconds: float = 600.0
    #: A song that loops forever shows the piano roll of this many seconds.
    loop_preview_seconds: float = 120.0

    def __init__(self, bpm: _Real = 120.0, sample_rate: _Whole = 44100) -> None:
        bpm = _bpm(bpm)
        rate = _integer(sample_rate, "sample_rate")
        if not 1 <= rate <= 0xFFFFFFFF:
            raise ValueError(f"sample_rate must be 1 to 4294967295 frames per second (got {rate})")
        self._rate = rate
        # The tempo map: segment starts in beats, their tempos and their starts in seconds.
        self._tempo_beats = [0.0]
        self._tempo_bpms = [bpm]
        self._tempo_seconds = [0.0]
        self._mixer = tamlor.Mixer()
        self._tracks: list[Track] = []
        self._seq = 0
        self._frame = 0
        # Per-track buffers of `_RUN` frames and their views, plus the calls
        # made for every run; cut views of the last run length are kept.
        self._buffers: list[array.array[float]] = []
        self._views: list[memoryview] = []
        self._renders: list[Callable[[memoryview], None]] = []
        self._samplers: list["tamlor.Sampler"] = []
        # Per track, where its sampler is saved before each render call; None
        # while a render call holds them.
        self._states: Optional[list[object]] = []
        self._cut_length = -1
        self._cut_views: list[memoryview] = []
        self._cut_renders: list[tuple[Callable[[memoryview], None], memoryview]] = []
        # What the mixer reads per track: the track's own buffer, or for an
        # Instrument track (which renders stereo into `_views`) a block of
        # silence, its sound being added after the mix (see _add_stereo).
        self._mix_sources: list[memoryview[Any]] = []
        self._mix_views: list[memoryview[Any]] = []
        # Instrument tracks: (track index, flat view of its stereo buffer).
        self._stereo: list[tuple[int, memoryview[Any], "_voices.Player"]] = []
        # The players and their stereo views cut to the last run length.
        self._stereo_cuts: list[tuple["_voices.Player", memoryview[Any], memoryview[Any]]] = []
        # The schedule: events sorted by (frame, kind, track, order, step),
        # each ending with the call and a tuple of its arguments. `_due` is the frame of
        # the next event, or of `_horizon` when the schedule must be extended.
        self._events: list[_Event] = []
        self._next = 0
        self._horizon = 0
        self._fixed: list[_Event] = []
        self._fixed_frames: list[int] = []
        self._dirty = True
        self._due = 0
        # The notes started and not yet stopped, by (track, order, step): the
        # beat of their note-off, the call that releases a voice and the
        # handle of the voice the note started. A tempo change can
        # move a note-off before the play position; it is then given at once.
        self._open: dict[tuple[int, int, int], tuple[float, Callable[[int], bool], int]] = {}
        self._late: list[_Event] = []
        # Effects: the master chain, the buses by name, and the routing that
        # runs them (made on first use); `_road` is the current call's.
        self._master_effects: list[Effect] = []
        self._buses: dict[str, Bus] = {}
        self._routing: Optional[Routing] = None
        self._road: Optional[Routing] = None

    def __repr__(self) -> str:
        return (f"Song(bpm={self._tempo_bpms[0]:.1f}, sample_rate={self._rate}, tracks={len(self._tracks)}, "
                f"frame={self._frame})")

    # -- looking and listening ------------------------------------------------

    def piano_roll(self, path: Optional[Union[str, "os.PathLike[str]"]] = None, width: _Whole = 960,
                   height: Optional[_Whole] = None, end_beat: Optional[_Real] = None) -> str:
        """The song's notes as an SVG piano roll: time in beats and bars of four
        beats left to right (tempo changes marked), pitches bottom to top (named
        as C4 for MIDI 60), one rectangle per note in its track's colour, as
        opaque as the note is loud, and a legend of the tracks. The roll spans
        the whole song, or beat 0 to `end_beat`; a song that loops forever is
        drawn for its first `loop_preview_seconds`. `width` (200 to 20,000) and
        `height` (up to 20,000, with room for the legend and a pixel a pitch)
        are in pixels; the height follows from the range of pitches when None.
        Returns the SVG text, and also writes it to `path` when given (replaced
        only once the whole roll is written). A roll of more than a million
        notes raises ValueError before anything is drawn or written."""
        from .pianoroll import song_roll

        if path is not None and not isinstance(path, (str, os.PathLike)):
            raise TypeError(f"path must be a str or a path object, not {type(path).__name__}")
        svg = song_roll(self, width, height, end_beat)
        if path is not None:
            # Through the one safe writer: a failed write leaves what was there.
            from ._smf import save
            save(path, svg.encode("utf-8"))
        return svg

    def _repr_html_(self) -> str:
        """What a notebook shows: a player with the whole song and its piano roll."""
        from .notebook import song_html

        return song_html(self)

    # -- time -----------------------------------------------------------------

    @property
    def sample_rate(self) -> int:
        """Frames per second of the rendered audio."""
        return self._rate

    @property
    def bpm(self) -> float:
        """The tempo at beat 0, in beats per minute."""
        return self._tempo_bpms[0]

    @property
    def tempo_map(self) -> list[tuple[float, float]]:
        """The tempo changes as (beat, bpm) pairs in beat order, the first at beat 0."""
        return list(zip(self._tempo_beats, self._tempo_bpms))

    def set_tempo(self, beat: _Real, bpm: _Real) -> None:
        """Plays at `bpm` beats per minute (1 to 10,000) from `beat` on, until the
        next tempo change; a change at a beat that already has one replaces it.
        Notes keep their beats, so every later note moves in time (a note
        already sounding whose end moves before the play position stops at
        once)."""
        b = _beat(beat, "beat")
        t = _bpm(bpm)
        # The new map is built apart and replaces the old one whole.
        beats, bpms, secs = list(self._tempo_beats), list(self._tempo_bpms), list(self._tempo_seconds)
        i = bisect_left(beats, b)
        if i < len(beats) and beats[i] == b:
            bpms[i] = t
        else:
            beats.insert(i, b)
            bpms.insert(i, t)
            secs.insert(i, 0.0)
        for j in range(max(i, 1), len(beats)):
            secs[j] = secs[j - 1] + ((beats[j] - beats[j - 1]) * 60.0) / bpms[j - 1]
        self._tempo_beats, self._tempo_bpms, self._tempo_seconds = beats, bpms, secs
        self._changed()

    def seconds_at(self, beat: _Real) -> float:
        """The time in seconds at which `beat` sounds, by the tempo map."""
        return self._seconds(_beat(beat, "beat"))

    def frame_at(self, beat: _Real) -> int:
        """The frame at which an event at `beat` sounds: seconds × sample rate, rounded half up."""
        return self._frame_of(_beat(beat, "beat"))

    def _seconds(self, b: float) -> float:
        i = bisect_right(self._tempo_beats, b) - 1
        return self._tempo_seconds[i] + ((b - self._tempo_beats[i]) * 60.0) / self._tempo_bpms[i]

    def _frame_of(self, b: float) -> int:
        return math.floor(self._seconds(b) * self._rate + 0.5)

    def _beat_near(self, frame: float) -> float:
        """About the beat at `frame` (inverse of the tempo map, to within rounding)."""
        s = frame / self._rate
        i = max(0, bisect_right(self._tempo_seconds, s) - 1)
        return self._tempo_beats[i] + (s - self._tempo_seconds[i]) * self._tempo_bpms[i] / 60.0

    def length_beats(self) -> Optional[float]:
        """The beat at which the last note stops (0.0 for an empty song), or None
        when a pattern loops forever."""
        last = 0.0
        for track in self._tracks:
            for _, start, duration, _, _ in track._notes:
                last = max(last, start + duration)
            for p in track._patterns:
                end = p.last_beat()
                if end is None:
                    return None
                last = max(last, end)
        return last

    def set_tempo_map(self, tempo_map: Iterable[tuple[float, float]]) -> None:
        """Replaces the whole tempo map with `tempo_map`, (beat, bpm) pairs in
        beat order, the first at beat 0 (a later pair at the same beat as the
        one before replaces it, as `set_tempo` would). Every pair is checked
        first: on an error the map is left as it was."""
        if isinstance(tempo_map, (str, bytes)) or not isinstance(tempo_map, Iterable):
            raise TypeError(f"tempo_map must be an iterable of (beat, bpm) pairs, not {type(tempo_map).__name__}")
        beats: list[float] = []
        bpms: list[float] = []
        for i, pair in enumerate(tempo_map):
            if not isinstance(pair, (tuple, list)) or len(pair) != 2:
                raise TypeError(f"tempo_map[{i}] must be a (beat, bpm) pair, not {type(pair).__name__}")
            b, t = _beat(pair[0], f"tempo_map[{i}] beat"), _bpm(pair[1], f"tempo_map[{i}] bpm")
            if not beats:
                if b != 0.0:
                    raise ValueError(f"the tempo map must start at beat 0 (its first beat is {b!r})")
            elif b < beats[-1]:
                raise ValueError(f"tempo_map[{i}] beat {b!r} comes before the beat of the pair before it")
            elif b == beats[-1]:
                bpms[-1] = t
                continue
            beats.append(b)
            bpms.append(t)
        if not beats:
            raise ValueError("the tempo map needs at least one (beat, bpm) pair, at beat 0")
        secs = [0.0] * len(beats)
        for j in range(1, len(beats)):
            secs[j] = secs[j - 1] + ((beats[j] - beats[j - 1]) * 60.0) / bpms[j - 1]
        self._tempo_beats, self._tempo_bpms, self._tempo_seconds = beats, bpms, secs
        self._changed()

    def length_frames(self) -> Optional[int]:
        """The first frame after the last sound of the song has ended: the
        latest note end with its track's release tail (the envelope's release,
        counted frame by frame as the sampler plays it), or 0 for a song with
        no sounding note; None while a pattern loops forever. A sample that
        runs out before its release ends leaves silence up to that frame."""
        last = 0
        for track in self._tracks:
            ends: list[int] = []
            for p in track._patterns:
                stop = p.last_beat()
                if stop is None:
                    return None
                if p.steps:
                    ends.append(self._frame_of(stop))
            plain = self._last_off_frame([(b, d, n, v) for _, b, d, n, v in track._notes])
            if plain is not None:
                ends.append(plain)
            if ends:
                sampler = track._sampler
                if isinstance(sampler, _voices.Player):
                    # The longest tail of the zones the track's notes play.
                    assert isinstance(track._instrument, Instrument)
                    played = {(n, v) for _, _, _, n, v in track._notes}
                    played.update((n, v) for p in track._patterns for n, v, _ in p.steps.values())
                    tail = math.ceil(track._instrument.tail_seconds(played) * self._rate) + 1
                else:
                    tail = _release_frames(sampler.envelope.release, self._rate)
                last = max(last, max(ends) + tail)
        return last + self._tail_frames()

    def _tail_frames(self) -> int:
        """Frames of sound after the tracks' voices have ended: the effects'
        tails (reverb, echoes, lookahead)."""
        return tail_frames(self)

    def _last_off_frame(self, notes: list[tuple[float, float, int, int]]) -> Optional[int]:
        """The latest note-off frame among `notes` that sound (None if none does)."""
        frame_of = self._frame_of
        best: Optional[int] = None
        # Latest end first: frames rise with beats, so once a note ends on a
        # frame no later than the best found, no note after it can end later.
        for b, d, _, _ in sorted(notes, key=lambda n: n[0] + n[1], reverse=True):
            off = frame_of(b + d)
            if best is not None and off <= best:
                break
            if off > frame_of(b):
                best = off
        return best

    def write_wav(self, path: str, encoding: str = "pcm16") -> None:
        """Writes the whole song, from frame 0 to `length_frames()`, to a stereo
        WAV file at `path`: "pcm16" (16-bit), "pcm24" (24-bit) or "float32".
        The song's own play position and voices are left as they are.
        ValueError when a pattern loops forever."""
        if encoding not in ("pcm16", "pcm24", "float32"):
            raise ValueError(f"encoding must be 'pcm16', 'pcm24' or 'float32', not {encoding!r}")
        samples = self._whole()
        tamlor.AudioBuffer.write_wav(path, samples, self._rate, 2, cast(Any, encoding))

    def play(self, output: Optional["tamlor.AudioOutput"] = None) -> None:
        """Plays the whole song from its start on `output`, a started or
        stopped `tamlor.AudioOutput` of the song's sample rate and 2 channels
        (left playing afterwards), or on the default device when None (opened
        for the song and closed once it has played out). The song's own play
        position and voices are left as they are."""
        if output is not None and not isinstance(output, tamlor.AudioOutput):
            raise TypeError(f"output must be a tamlor.AudioOutput or None, not {type(output).__name__}")
        fork = self._fork_at_start()
        total = self._whole_length()
        device = output if output is not None else tamlor.AudioOutput(sample_rate=self._rate, channels=2)
        if not device.is_playing():
            device.start()
        block = 1 << 13
        done = 0
        while done < total:
            device.write(fork.render(min(block, total - done)))
            done += block
        if output is None:
            device.stop()

    def _whole_length(self) -> int:
        n = self.length_frames()
        if n is None:
            name = next(t.name for t in self._tracks if any(p.stop_step() is None for p in t._patterns))
            raise ValueError(f"track {name!r} has a pattern that loops forever: the song has no end")
        return n

    def _whole(self) -> "array.array[float]":
        """The whole song from frame 0 as interleaved stereo, rendered on a fork."""
        total = self._whole_length()
        return self._fork_at_start().render(total)

    def _fork_at_start(self) -> "Song":
        """An independent copy of the song at frame 0 with no voice sounding."""
        state = self.__getstate__()
        state["frame"] = 0
        state["open"] = {}
        state["tracks"] = [dict(t, voices=(t["voices"][0], [])) for t in state["tracks"]]
        fork = Song.__new__(Song)
        fork.__setstate__(copy.deepcopy(state))
        return fork

    # -- MIDI files -----------------------------------------------------------

    @classmethod
    def from_midi(cls, source: Any, sample_rate: int = 44100, instruments: Any = None) -> "Song":
        """A new song from a Standard MIDI File: `source` is a path, bytes or a
        binary file object; `instruments` is None (built-in sounds: a pitched
        tone, and a drum kit on channel index 9), a callable
        ``(channel, program, track_name) -> instrument``, or an object with an
        ``instrument_for(channel, program, track_name)`` method. See
        `tamlor_song.midifile` for the reading rules."""
        from .midifile import read_midi
        return read_midi(source, sample_rate, instruments)

    def write_midi(self, destination: Any, ticks_per_beat: int = 480) -> None:
        """Writes the song as a format 1 Standard MIDI File (a path, replaced
        only once the whole file is written, or a binary file object): the
        tempo map, then one MIDI track per song track with its name, program
        and notes on its channel. ValueError when a pattern loops forever."""
        from .midifile import write_midi
        write_midi(self, destination, ticks_per_beat)

    # -- saving and forking ---------------------------------------------------

    def __getstate__(self) -> dict[str, Any]:
        """The song as plain values: pickle and copy.deepcopy use it, so a copy
        renders the same bits as the original from the same position on."""
        tracks: list[dict[str, Any]] = []
        for track in self._tracks:
            sampler = track._sampler
            if isinstance(sampler, _voices.Player):
                # An Instrument's player is rebuilt from the instrument; its
                # sounding voices and held notes travel as saved bytes.
                tracks.append({
                    "name": track._name, "instrument": track._instrument, "player": True,
                    "max_voices": sampler.max_voices, "voices": (None, sampler.save_state()),
                    "notes": list(track._notes), "patterns": list(track._patterns),
                    "channel": track._channel, "program": track._program,
                })
                continue
            tracks.append({
                "name": track._name,
                # A Sampler played directly is rebuilt from its own parts.
                "instrument": None if track._instrument is sampler else track._instrument,
                "sample": sampler.sample, "envelope": sampler.envelope, "max_voices": sampler.max_voices,
                "voices": sampler._voices(),
                "notes": list(track._notes), "patterns": list(track._patterns),
                "channel": track._channel, "program": track._program,
                "effects": list(track._effects), "sends": dict(track._sends),
            })
        return {
            "rate": self._rate, "tempo": (list(self._tempo_beats), list(self._tempo_bpms), list(self._tempo_seconds)),
            "mixer": self._mixer, "seq": self._seq, "frame": self._frame, "tracks": tracks,
            "open": {key: (beat, handle) for key, (beat, _, handle) in self._open.items()},
            "effects": list(self._master_effects),
            "buses": [(name, list(bus.effects)) for name, bus in self._buses.items()],
        }

    def __copy__(self) -> "Song":
        # A song shares nothing with its copy (its mixer and samplers least of all).
        return copy.deepcopy(self)

    def __setstate__(self, state: dict[str, Any]) -> None:
        fresh = Song(sample_rate=state["rate"])
        self.__dict__.update(fresh.__dict__)
        self._tempo_beats, self._tempo_bpms, self._tempo_seconds = (list(x) for x in state["tempo"])
        self._mixer = state["mixer"]
        self._seq = state["seq"]
        for index, t in enumerate(state["tracks"]):
            if t.get("player"):
                player = t["instrument"].player(self._rate, t["max_voices"])
                if isinstance(t["voices"][1], bytes):
                    player.restore_state(t["voices"][1])
                track = self._install_stereo(index, t["name"], player, t["instrument"])
                track._notes = list(t["notes"])
                track._patterns = list(t["patterns"])
                track._channel, track._program = t["channel"], t["program"]
                continue
            sampler = tamlor.Sampler(t["sample"], sample_rate=self._rate, max_voices=t["max_voices"])
            sampler.set_envelope(t["envelope"])
            sampler._set_voices(t["voices"])
            instrument = t["instrument"] if t["instrument"] is not None else sampler
            track = self._install(index, t["name"], sampler, instrument)
            track._notes = list(t["notes"])
            track._patterns = list(t["patterns"])
            track._channel, track._program = t["channel"], t["program"]
            track._effects, track._sends = list(t.get("effects", [])), dict(t.get("sends", {}))
        self._master_effects = list(state.get("effects", []))
        self._buses = {name: Bus(name, list(effects)) for name, effects in state.get("buses", [])}
        releases: list[Callable[[int], bool]] = [track._release for track in self._tracks]
        self._open = {key: (beat, releases[key[0]], handle) for key, (beat, handle) in state["open"].items()}
        self._frame = state["frame"]
        self._changed()

    # -- tracks ---------------------------------------------------------------

    @property
    def tracks(self) -> tuple[Track, ...]:
        """The tracks in the order they were added."""
        return tuple(self._tracks)

    @property
    def master_gain(self) -> float:
        """Linear gain applied to the mixed stereo signal, 0.0 to 2.0 (clamped); 0.8 at first."""
        return float(self._mixer.master_gain)

    @master_gain.setter
    def master_gain(self, value: _Real) -> None:
        self._mixer.master_gain = _level(value, "master_gain")

    @property
    def effects(self) -> list[Effect]:
        """The master effects chain: `tamlor_fx` effects (stereo, at the song's
        sample rate) run in order on the whole mix after the master gain, so a
        limiter here is the last thing the signal meets. Edit the list in place;
        assigning a new list works too."""
        return self._master_effects

    @effects.setter
    def effects(self, value: list[Effect]) -> None:
        self._master_effects = check_chain(value, self._rate, "song.effects")

    @property
    def buses(self) -> dict[str, Bus]:
        """The buses by name, in the order they were added (a copy of the mapping)."""
        return dict(self._buses)

    def add_bus(self, name: str, effects: Optional[list[Effect]] = None) -> Bus:
        """Adds a shared effects chain named `name` (a reverb for many tracks,
        say) and returns it. Tracks feed it with `Track.send(name, level)`; its
        `effects` run on the sum of the sends, and the result is mixed in with
        the tracks before the master gain."""
        if not isinstance(name, str):
            raise TypeError(f"name must be a str, not {type(name).__name__}")
        if name in self._buses:
            raise ValueError(f"there is already a bus named {name!r}")
        bus = Bus(name, check_chain([] if effects is None else effects, self._rate, f"bus {name!r} effects"))
        self._buses[name] = bus
        return bus

    def add_track(self, name: str, instrument: _Instrument, gain: _Real = 0.8, pan: _Real = 0.0,
                  envelope: Optional["tamlor.Envelope"] = None, max_voices: Optional[_Whole] = None) -> Track:
        """Adds a track that plays `instrument` and returns it.

        `instrument` is a `tamlor.Sampler` (played as it is, with its own sample,
        envelope and voice limit; its sample rate must be the song's, and it may
        serve only one track) or a `tamlor.SampleMap` (the song builds one sampler
        for the track that plays every zone) or a `tamlor_song.Instrument` (a
        player of its zones as they are when the track is made, rendering in
        stereo; its zones carry their own envelopes, so `envelope` must be
        None, and `max_voices` defaults to 64). `envelope` and `max_voices`, when
        given, set the track's envelope and voice limit (for a SampleMap they
        default to the Sampler's: an envelope of 0.005, 0.1, 0.8, 0.1 and 8
        voices). `gain` (0.0 to 2.0) and `pan` (-1.0 left to 1.0 right) set its
        mixer channel."""
        if not isinstance(name, str):
            raise TypeError(f"name must be a str, not {type(name).__name__}")
        g, p = _level(gain, "gain"), _level(pan, "pan")
        if envelope is not None and not isinstance(envelope, tamlor.Envelope):
            raise TypeError(f"envelope must be a tamlor.Envelope or None, not {type(envelope).__name__}")
        voices = None
        if max_voices is not None:
            voices = _integer(max_voices, "max_voices")
            if not 1 <= voices <= 4096:
                raise ValueError(f"max_voices must be 1 to 4096 (got {voices})")
        if isinstance(instrument, tamlor.Sampler):
            if instrument.sample_rate != self._rate:
                raise ValueError(f"the Sampler renders at {instrument.sample_rate} Hz, the song at {self._rate} Hz")
            for track in self._tracks:
                if track._sampler is instrument:
                    raise ValueError(f"this Sampler already plays track {track.name!r}")
            sampler = instrument
        elif isinstance(instrument, tamlor.SampleMap):
            sampler = tamlor.Sampler(tamlor.AudioSample([]), sample_rate=self._rate)
        elif isinstance(instrument, Instrument):
            if envelope is not None:
                raise ValueError("an Instrument's zones carry their own envelopes: envelope must be None")
            # A player of the instrument's zones as they are now: later
            # changes to the instrument do not reach this track.
            if self._states is None:
                raise _busy()
            player = instrument.player(self._rate, 64 if voices is None else voices)
            index = len(self._tracks)
            try:
                self._mixer.add_channel(name)
                self._mixer.set_channel_gain(index, g)
                self._mixer.set_channel_pan(index, p)
                track = self._install_stereo(index, name, player, instrument)
            except BaseException:
                for target in self._track_lists():
                    del target[index:]
                self._stereo = [entry for entry in self._stereo if entry[0] < index]
                if self._mixer.channel_count() > index:
                    self._mixer.remove_channel(index)
                raise
            self._changed()
            return track
        else:
            raise TypeError("instrument must be a tamlor.Sampler or a tamlor.SampleMap or a tamlor_song.Instrument, "
                            f"not {type(instrument).__name__}")
        if self._states is None:
            raise _busy()
        # What the track needs is made first; then the sampler, the mixer and
        # the song's lists change, and a failure in between (a sampler busy
        # in another call, no memory, Ctrl+C) takes every change back.
        state = sampler.save_state()
        index = len(self._tracks)
        touched = False
        try:
            if envelope is not None or voices is not None:
                touched = True
                if envelope is not None:
                    sampler.set_envelope(envelope)
                if voices is not None:
                    sampler.max_voices = voices
            self._mixer.add_channel(name)
            self._mixer.set_channel_gain(index, g)
            self._mixer.set_channel_pan(index, p)
            track = self._install(index, name, sampler, instrument, state)
        except BaseException:
            for target in self._track_lists():
                del target[index:]
            if self._mixer.channel_count() > index:
                self._mixer.remove_channel(index)
            if touched:
                sampler.restore_state(state)
            raise
        self._changed()
        return track

    def _track_lists(self) -> tuple[list[Any], ...]:
        """The song's lists that hold one item per track, in one order."""
        assert self._states is not None
        return (self._tracks, self._buffers, self._views, self._renders, self._samplers, self._states,
                self._mix_sources)

    def _install(self, index: int, name: str, sampler: "tamlor.Sampler", instrument: Any,
                 state: Optional[object] = None) -> Track:
        """Adds the Track object of mixer channel `index` with its render
        buffer and its sampler's saved state (taken now when not given)."""
        track = Track(self, index, name, sampler, instrument)
        buffer = array.array("f", bytes(4 * _RUN))
        view = memoryview(buffer)
        if state is None:
            state = sampler.save_state()
        items: tuple[Any, ...] = (track, buffer, view, sampler.render_into, sampler, state, view)
        for target, item in zip(self._track_lists(), items):
            target.append(item)
        self._cut_length = -1
        return track

    def _install_stereo(self, index: int, name: str, player: "_voices.Player", instrument: Instrument) -> Track:
        """The Track of mixer channel `index` for a player that renders stereo:
        its buffer holds (frames, 2), the mixer reads silence for it and its
        sound is added after the mix."""
        track = Track(self, index, name, player, instrument)
        buffer = array.array("f", bytes(8 * _RUN))
        flat = memoryview(buffer)
        frames: memoryview[Any] = flat.cast("B").cast("f", (_RUN, 2))
        # A silent stand-in takes the track's place among the song's samplers
        # (saved, rendered and restored together); the mixer reads its
        # silence, and the player's stereo is added after the mix.
        stand_in = tamlor.Sampler(tamlor.AudioSample([]), sample_rate=self._rate)
        silence = memoryview(array.array("f", bytes(4 * _RUN)))
        items: tuple[Any, ...] = (track, buffer, frames, player.render_into, stand_in, stand_in.save_state(),
                                  silence)
        for target, item in zip(self._track_lists(), items):
            target.append(item)
        self._stereo.append((index, flat, player))
        self._cut_length = -1
        return track

    def _save_players(self) -> Optional[list[bytes]]:
        """The saved state of every Instrument track's player (None: there is none)."""
        return [player.save_state() for _, _, player in self._stereo] if self._stereo else None

    def _restore_players(self, played: Optional[list[bytes]]) -> None:
        if played is not None:
            for (_, _, player), state in zip(self._stereo, played):
                player.restore_state(state)

    def _add_stereo(self, out: memoryview, n: int) -> None:
        """Adds the first `n` frames of every Instrument track into the mixed
        `out`, with the track's gain, the master gain and its pan as a balance
        (the side it leans away from turns down: at 0.5 the left plays at half
        level); a muted track, or an unsoloed one while another is soloed, adds
        nothing."""
        mixer = self._mixer
        master = float(mixer.master_gain)
        channels = [mixer.get_channel(i) for i in range(len(self._tracks))]
        any_solo = any(c.solo for c in channels)
        for index, flat, _ in self._stereo:
            c = channels[index]
            if c.mute or (any_solo and not c.solo):
                continue
            g = master * float(c.gain)
            pan = float(c.pan)
            _voices.add_scaled(out, flat[:2 * n], g * min(1.0, 1.0 - pan), g * min(1.0, 1.0 + pan))

    # -- rendering ------------------------------------------------------------

    @property
    def frame(self) -> int:
        """The next frame to render, counted from 0 at beat 0."""
        return self._frame

    @property
    def seconds(self) -> float:
        """The play position in seconds."""
        return self._frame / self._rate

    def render(self, frames: _Whole) -> array.array[float]:
        """The next `frames` frames of the song as interleaved stereo: an
        `array.array('f')` of 2 × frames values, left, right, left, right..."""
        n = _integer(frames, "frames")
        if n < 0:
            raise ValueError(f"frames must be 0 or more (got {n})")
        try:
            out = array.array("f", bytes(8 * n))
        except (MemoryError, OverflowError):
            raise MemoryError(f"a render of {n} frames does not fit in memory") from None
        self.render_into(out)
        return out

    def render_into(self, out: Any) -> None:
        """Fills `out`, a writable buffer of 32-bit floats (an `array.array('f')`,
        a float32 numpy array, flat or of shape (frames, 2), ...) with the next
        len(out) / 2 frames of interleaved stereo, exactly as `render` would
        give them. A call that fails or is interrupted (Ctrl+C) leaves the
        song as it was: the next call renders what this one would have."""
        try:
            view = memoryview(out)
        except TypeError:
            raise TypeError(f"out must be a writable buffer of 32-bit floats, not {type(out).__name__}") from None
        if view.format != "f" or view.ndim != 1 or view.readonly or not view.c_contiguous:
            view = _stereo_out(view)
        count = len(view)
        if count & 1:
            raise ValueError(f"out must hold a whole number of stereo frames (got {count} values)")
        total = count >> 1
        frame = self._frame
        # Every sampler is saved into its slot before anything moves, and put
        # back with the play position (and the schedule) if the call fails.
        # While the call runs, it holds the slots: a render started meanwhile
        # (by a signal handler, or another thread) is refused.
        states = self._states
        if states is None:
            raise _busy()
        # The effects are checked before anything moves, and their states
        # kept to put back with the samplers'.
        road = self._road = self._effects_road()
        effects = snapshot(road.effects()) if road is not None else None
        if total == self._cut_length and self._due >= frame + total:
            # The common case, a block like the last one with nothing starting
            # or stopping inside it: one pass over the tracks and the mix.
            try:
                self._states = None
                _save_states(self._samplers, states)
                played = self._save_players()
                try:
                    cuts = self._mix_views
                    any(map(_render_into, self._samplers, cuts))  # each call gives None: all run
                    for player, _, cut in self._stereo_cuts:
                        player.render_into(cut)
                    if road is None:
                        self._mixer.mix_down_into(view, cuts)
                        if self._stereo:
                            self._add_stereo(view, total)
                    else:
                        road.mix(view, cuts, total)
                    self._frame = frame + total
                except BaseException:
                    self._undo(states, None, frame, played, effects)
                    raise
            finally:
                self._states = states
            return
        if not total:
            return
        if not self._tracks and road is None:
            view[:] = array.array("f", bytes(8 * total))
            self._frame = frame + total
            return
        try:
            self._states = None
            _save_states(self._samplers, states)
            # The schedule's state is replaced or changed in place as events
            # are found: keep all of it (the open notes by copy) to put back.
            saved = self._schedule()
            played = self._save_players()
            try:
                if total <= _RUN:
                    self._run(view, total)
                else:
                    for done in range(0, total, _RUN):
                        n = min(_RUN, total - done)
                        self._run(view[2 * done:2 * (done + n)], n)
            except BaseException:
                self._undo(states, saved, frame, played, effects)
                raise
        finally:
            self._states = states

    def _schedule(self) -> tuple[Any, ...]:
        """The play position and everything the scheduling keeps (the open notes
        by copy, the rest is replaced rather than changed), for `_undo`."""
        return (self._frame, self._events, self._next, self._horizon, self._due, self._dirty, self._fixed,
                self._fixed_frames, self._late, self._open.copy(), self._cut_length, self._cut_views,
                self._cut_renders, self._mix_views, self._stereo_cuts)

    def _undo(self, states: list[object], saved: Optional[tuple[Any, ...]], frame: int,
              played: Optional[list[bytes]] = None,
              effects: Optional[list[tuple[Effect, Effect]]] = None) -> None:
        """Puts every track's sampler, the play position and (when `saved` holds
        it) the schedule back as they were before a render call that failed,
        and the effects' states from `effects` (a `snapshot`) when given.
        An interrupt (a second Ctrl+C) during the undo starts it again, so that
        it always completes; the error that stopped the render is the one
        raised."""
        for _ in range(16):
            try:
                any(map(_restore_state, self._samplers, states))
                self._restore_players(played)
                if effects is not None:
                    restore(effects)
                if saved is not None:
                    (_, self._events, self._next, self._horizon, self._due, self._dirty, self._fixed,
                     self._fixed_frames, self._late, self._open, self._cut_length, self._cut_views,
                     self._cut_renders, self._mix_views, self._stereo_cuts) = saved
                self._frame = frame
                return
            except BaseException:  # noqa: BLE001 - interrupted: undo again
                continue

    def _effects_road(self) -> Optional[Routing]:
        """The effects routing, checked and ready, when the song has any effect,
        bus or send; None when the one mixer does it all."""
        if not (self._master_effects or self._buses or any(t._effects or t._sends for t in self._tracks)):
            return None
        if self._routing is None:
            self._routing = Routing(self, _RUN)
        self._routing.prepare()
        return self._routing

    def _run(self, out: memoryview, n: int) -> None:
        """Renders n <= _RUN frames into `out` (2n floats)."""
        if n != self._cut_length:
            self._cut_length = n
            self._cut_views = [v[:n] for v in self._views]
            self._cut_renders = list(zip(self._renders, self._cut_views))
            self._mix_views = [v[:n] for v in self._mix_sources]
            self._stereo_cuts = [(player, flat, self._cut_views[index]) for index, flat, player in self._stereo]
        pos = self._frame
        end = pos + n
        if self._due >= end:
            # Nothing starts or stops inside the run: one call per track.
            for render, cut in self._cut_renders:
                render(cut)
        else:
            # The events of the run, track by track, in schedule order. Tracks
            # play separate samplers, so each is split only where its own notes
            # start or stop: up to the frame, then the notes, then on.
            by_track: dict[int, list[tuple[int, _Event]]] = {}
            due = self._due
            while due < end:
                if self._dirty or due >= self._horizon:
                    # Nothing scheduled before the horizon is left: rebuild or extend.
                    if self._dirty:
                        self._compile(due)
                    else:
                        self._extend(due)
                    due = self._due
                    continue
                events, i = self._events, self._next
                count = len(events)
                at = due - pos
                while i < count:
                    event = events[i]
                    if event[0] != due:
                        break
                    track_events = by_track.get(event[2])
                    if track_events is None:
                        by_track[event[2]] = [(at, event)]
                    else:
                        track_events.append((at, event))
                    i += 1
                self._next = i
                due = events[i][0] if i < count else self._horizon
            self._due = due
            sounding = self._open
            views = self._views
            for ti, (render, cut) in enumerate(self._cut_renders):
                mine = by_track.get(ti)
                if mine is None:
                    render(cut)
                    continue
                view = views[ti]
                a = 0
                for at, event in mine:
                    if at > a:
                        render(view[a:at])
                        a = at
                    if event[1]:  # a note-on: remember the voice it started
                        handle = event[5](*event[6])
                        if handle is not None:
                            sounding[event[7]] = (event[8], event[9], handle)
                    else:  # a note-off: release that voice, if it started
                        started = sounding.pop(event[7], None)
                        if started is not None:
                            event[5](started[2])
                if a < n:
                    render(view[a:n])
        if self._road is None:
            self._mixer.mix_down_into(out, self._mix_views)
            if self._stereo:
                self._add_stereo(out, n)
        else:
            self._road.mix(out, self._mix_views, n)
        self._frame = end

    def _compile(self, frame: int) -> None:
        """Computes the frames of every note from the tempo map and schedules the
        events from `frame` on."""
        self._dirty = False
        fixed: list[_Event] = []
        append = fixed.append
        # The tempo map's formula, inlined: this runs for every note.
        beats, bpms, secs, rate = self._tempo_beats, self._tempo_bpms, self._tempo_seconds, self._rate
        floor = math.floor
        for ti, track in enumerate(self._tracks):
            start, release = track._start, track._release
            for seq, b, d, note, velocity in track._notes:
                i = bisect_right(beats, b) - 1
                on = floor((secs[i] + ((b - beats[i]) * 60.0) / bpms[i]) * rate + 0.5)
                e = b + d
                i = bisect_right(beats, e) - 1
                off = floor((secs[i] + ((e - beats[i]) * 60.0) / bpms[i]) * rate + 0.5)
                if off <= on:
                    continue  # shorter than a frame: silent
                key = (ti, seq, 0)
                append((on, _ON, ti, seq, 0, start, (note, velocity), key, e, release))
                append((off, _OFF, ti, seq, 0, release, (), key))
        fixed.sort()
        self._fixed = fixed
        self._fixed_frames = [e[0] for e in fixed]
        self._late = [(frame, _OFF, *key, release, (), key) for key, (stop_beat, release, _)
                      in self._open.items() if self._frame_of(stop_beat) < frame]
        self._horizon = frame
        self._events = []
        self._next = 0
        self._extend(frame)

    def _extend(self, frame: int) -> None:
        """Schedules the events of the frames from `frame` to the next horizon."""
        looping = any(track._patterns for track in self._tracks)
        start = frame
        end = start + _WINDOW if looping else _NEVER
        lo = bisect_left(self._fixed_frames, start)
        hi = bisect_left(self._fixed_frames, end)
        events = self._fixed[lo:hi]
        extra = self._pattern_events(start, end) if looping else []
        if self._late:
            extra += self._late
            self._late = []
        if extra:
            events.extend(extra)
            events.sort()
        self._events = events
        self._next = 0
        self._horizon = end
        self._due = events[0][0] if events else end

    def _pattern_events(self, first: int, stop: int) -> list[_Event]:
        """The events of every pattern with frames in [first, stop). The grid is
        walked step by step, from a little before the window to a little after
        it (the tempo map is inverted only approximately): once for the
        note-ons, and once per step length in the pattern for the note-offs,
        shifted back by that length. Only events whose exact frames fall
        inside the window are kept."""
        out: list[_Event] = []
        frame_of = self._frame_of
        b0 = self._beat_near(first - 1)
        b1 = self._beat_near(stop + 1)
        for ti, track in enumerate(self._tracks):
            start, release = track._start, track._release
            for p in track._patterns:
                sd, length, end, steps = p.step, p.length, p.end, p.steps
                last = p.stop_step()
                for walk in p.walks:  # -1: note-ons; a length in steps: note-offs of steps that long
                    shift = 0.0 if walk < 0 else walk * sd
                    lo = max(0, math.floor((b0 - shift - p.start) / sd) - 2)
                    hi = math.ceil((b1 - shift - p.start) / sd) + 2
                    if last is not None:
                        hi = min(hi, last)
                    for k in range(lo, hi):
                        found = steps.get(k % length)
                        if found is None:
                            continue
                        note, velocity, ticks = found
                        if walk >= 0 and ticks != walk:
                            continue
                        on_b = p.start + k * sd
                        if end is not None and not on_b < end:
                            continue
                        on = frame_of(on_b)
                        off = frame_of(on_b + ticks * sd)
                        if off <= on:
                            continue  # shorter than a frame: silent
                        if walk < 0:
                            if first <= on < stop:
                                out.append((on, _ON, ti, p.seq, k, start, (note, velocity), (ti, p.seq, k),
                                            on_b + ticks * sd, release))
                        elif first <= off < stop:
                            out.append((off, _OFF, ti, p.seq, k, release, (), (ti, p.seq, k)))
        return out

    def seek(self, frame: _Whole) -> None:
        """Moves the play position to `frame` (0 is beat 0). Every sounding voice
        stops at once; notes that began before `frame` are not heard."""
        f = _integer(frame, "frame")
        if not 0 <= f < 1 << 62:
            raise ValueError(f"frame must be 0 to 2**62 - 1 (got {f})")
        # Every voice of every track stops, or (when a sampler is busy in
        # another call, or Ctrl+C comes in between) none does.
        states = self._states
        if states is None:
            raise _busy()
        _save_states(self._samplers, states)
        saved = self._schedule()
        played = self._save_players()
        effects = all_effects(self)
        kept = snapshot(effects) if effects else None
        try:
            any(map(_panic, self._samplers))
            for _, _, player in self._stereo:
                player.panic()
            # Silence everywhere: the effects' tails stop too.
            for effect in effects:
                effect.reset()
            self._open.clear()
            self._frame = f
            self._changed()
        except BaseException:
            self._undo(states, saved, saved[0], played, kept)
            raise

    def reset(self) -> None:
        """Back to the start: every voice stops and the next render begins at frame 0."""
        self.seek(0)

    # -- bookkeeping ----------------------------------------------------------

    def _next_seq(self) -> int:
        self._seq += 1
        return self._seq

    def _take_seqs(self, count: int) -> int:
        first = self._seq + 1
        self._seq += count
        return first

    def _changed(self) -> None:
        """Notes or tempo changed: the schedule is rebuilt from the play position."""
        self._dirty = True
        self._due = self._frame
