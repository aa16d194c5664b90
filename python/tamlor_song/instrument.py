"""Sampled instruments: zones of recorded sound, each with its own keys,
velocities, tuning, level, pan, loop and volume envelope, played together as
one instrument on a song track.

An `Instrument` is a list of `Zone` objects. When a key is pressed, every zone
whose key and velocity ranges hold it sounds (overlapping zones are layers);
zones marked ``trigger="release"`` sound when the key is let go instead.
`tamlor_song.SoundFont` and `tamlor_song.load_sfz` build instruments from
sample libraries; you can build one by hand too:

    kick = Zone(samples, root_key=36, key_low=36, key_high=36)
    drums = Instrument([kick, snare, closed_hat, open_hat])

How a zone sounds, exactly:

- Pitch. Key k plays the recording at a rate of
  ``(sample_rate / output_rate) * 2 ** (cents / 1200)`` frames per output
  frame, where ``cents = (k - root_key) * key_tracking + tune_cents``.
- Level. The zone's gain is ``level_db`` plus the velocity's gain in dB:
  with ``velocity_tracking`` t (a percentage, 100 by default) the velocity v
  scales the amplitude by ``(1 - t/100) + (t/100) * (v / 127) ** 2``.
- Pan. A mono zone is panned with a constant-power law (left
  ``cos((pan + 1) * pi / 4)``, right ``sin(...)``: -3 dB per side in the
  middle, full level on one side at -1 or 1). A stereo zone plays its left
  channel on the left and its right channel on the right; its pan turns the
  other side down (at 0.5 the left plays at half level).
- Envelope. Delay, attack, hold, decay and release times are seconds,
  rounded to whole frames; ``sustain`` is a level from 0 to 1. The attack
  rises linearly from 0 to full level; the decay falls to the sustain level
  and the release from wherever the note was to silence, either linearly in
  amplitude (``curve="linear"``, over the decay or release time) or
  linearly in decibels (``curve="decibels"``, 100 dB per decay or release
  time, as sound banks define it; such a fall ends 100 dB down, or sooner
  once the voice is 100 dB below full scale, where nothing of it could show
  in any output). A sustain of 0 ends the note after the decay.
- Loop. ``"none"`` plays start to end once; ``"continuous"`` repeats the
  loop for as long as the note sounds; ``"until_release"`` repeats it while
  the key is held and then plays on to the end; ``"one_shot"`` plays start to
  end whatever the key does (releasing it changes nothing).
- Choke. A zone with a ``choke_group`` silences, with a 2 ms fade, every
  sounding zone whose ``off_by`` is that group when it starts (``off_by``
  is the zone's own group unless you say otherwise): an open hi-hat stops
  when the closed one plays.
"""
from __future__ import annotations

import array
import math
import operator
from typing import Any, Iterable, Iterator, Literal, Optional, Sequence, SupportsIndex, TypeAlias, Union, cast

import tamlor

from . import _voices

__all__ = ["Instrument", "Zone"]

#: How a zone repeats its recording.
_LoopMode: TypeAlias = Union[Literal["none"], Literal["continuous"], Literal["until_release"], Literal["one_shot"]]
#: How a zone's decay and release fall.
_Curve: TypeAlias = Union[Literal["linear"], Literal["decibels"]]

_LOOPS: dict[str, int] = {"none": 0, "continuous": 1, "until_release": 2, "one_shot": 3}
_CURVES: dict[str, int] = {"linear": 0, "decibels": 1}
_TRIGGERS = ("attack", "release")

# The velocity gains in dB of each velocity tracking used, made once.
_VELOCITY_TABLES: dict[float, tuple[float, ...]] = {}


def velocity_db(tracking: float) -> tuple[float, ...]:
    """Gain in dB of each velocity 0..127 at a velocity tracking of
    `tracking` percent (-100 to 100)."""
    table = _VELOCITY_TABLES.get(tracking)
    if table is None:
        t = abs(tracking) / 100.0
        values: list[float] = []
        for v in range(128):
            x = (v if tracking >= 0 else 127 - v) / 127.0
            gain = (1.0 - t) + t * x * x
            values.append(20.0 * math.log10(gain) if gain > 0.0 else -math.inf)
        table = tuple(values)
        _VELOCITY_TABLES[tracking] = table
    return table


def _number(value: Any, name: str) -> float:
    if isinstance(value, (str, bytes, bool)):
        raise TypeError(f"{name} must be a number, not {type(value).__name__}")
    try:
        x = float(value)
    except (TypeError, ValueError):
        raise TypeError(f"{name} must be a number, not {type(value).__name__}") from None
    if not math.isfinite(x):
        raise ValueError(f"{name} must be finite (got {x!r})")
    return x


def _whole(value: Any, name: str, low: int, high: int) -> int:
    if isinstance(value, bool):
        raise TypeError(f"{name} must be an integer, not bool")
    try:
        n = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}") from None
    if not low <= n <= high:
        raise ValueError(f"{name} must be {low} to {high} (got {n})")
    return n


def _seconds(value: Any, name: str) -> float:
    x = _number(value, name)
    if not 0.0 <= x <= 1e6:
        raise ValueError(f"{name} must be 0 to 1,000,000 seconds (got {x!r})")
    return x


def _sample_data(sample: Any) -> tuple["_voices.SampleData", Optional[int], Optional[int], Optional[tuple[int, int]]]:
    """The recording of a zone as shared native data, with the sample rate,
    root note and loop points it carries (None where it carries none)."""
    if isinstance(sample, _voices.SampleData):
        return sample, None, None, None
    if isinstance(sample, tamlor.AudioSample):
        loop = None
        if sample.loop_start is not None and sample.loop_end is not None:
            loop = (sample.loop_start, sample.loop_end)
        return _voices.SampleData(sample.data()), sample.sample_rate, sample.root_note, loop
    if isinstance(sample, tamlor.AudioBuffer):
        fmt = sample.format
        if fmt.channels not in (1, 2):
            raise ValueError(f"a zone plays mono or stereo sound, not {fmt.channels} channels")
        values = array.array("f", [0.0]) * len(sample)
        sample.samples_into(values)
        return _voices.SampleData(values, fmt.channels), fmt.sample_rate, None, None
    shape = getattr(sample, "shape", None)
    channels = 1
    if shape is not None and len(shape) == 2:
        channels = int(shape[1])
        if channels not in (1, 2):
            raise ValueError(f"a zone plays mono or stereo sound: (frames, 1) or (frames, 2), not shape {tuple(shape)}")
    elif isinstance(sample, (list, tuple)) and sample:
        rows: Sequence[Any] = cast("Sequence[Any]", sample)
        if isinstance(rows[0], (list, tuple)):
            channels = len(cast("Sequence[Any]", rows[0]))
            if channels not in (1, 2):
                raise ValueError(f"a zone plays mono or stereo sound, not frames of {channels} values")
            sample = [x for frame in rows for x in cast("Sequence[Any]", frame)]
    return _voices.SampleData(sample, channels), None, None, None


class Zone:
    """One recording and how it plays: which keys and velocities it answers,
    its pitch, level, pan, loop, envelope and choke group.

    `sample` is the recording: a sequence or 1-D array of floats (mono), a
    (frames, 2) float array or a list of (left, right) pairs (stereo), a
    `tamlor.AudioSample` (its rate, root note and loop points are used unless
    given here) or a `tamlor.AudioBuffer` of one or two channels. Positions
    (`start`, `end`, `loop_start`, `loop_end`) count frames of the recording;
    `end` and `loop_end` are one past the last frame played. Every argument is
    checked here: a bad one raises TypeError or ValueError and no zone is made.
    See the module's description for the exact rules.
    """

    def __init__(self, sample: Any, *, sample_rate: Optional[int] = None, key_low: int = 0, key_high: int = 127,
                 velocity_low: int = 0, velocity_high: int = 127, root_key: Optional[int] = None,
                 tune_cents: float = 0.0, key_tracking: float = 100.0, level_db: float = 0.0, pan: float = 0.0,
                 loop: Optional[_LoopMode] = None, start: int = 0, end: Optional[int] = None,
                 loop_start: Optional[int] = None, loop_end: Optional[int] = None, delay: float = 0.0,
                 attack: float = 0.0, hold: float = 0.0, decay: float = 0.0, sustain: float = 1.0,
                 release: float = 0.0, curve: _Curve = "linear", choke_group: int = 0, off_by: Optional[int] = None,
                 trigger: Literal["attack", "release"] = "attack", velocity_tracking: float = 100.0) -> None:
        data, rate, root, loop_points = _sample_data(sample)
        #: The recording, shared by every copy of the zone.
        self.sample: "_voices.SampleData" = data
        #: The rate the recording was made at, in frames per second.
        self.sample_rate: int = _whole(sample_rate if sample_rate is not None else (rate or 44100),
                                       "sample_rate", 1, 10_000_000)
        #: Lowest and highest key (MIDI note) the zone plays.
        self.key_low = _whole(key_low, "key_low", 0, 127)
        self.key_high = _whole(key_high, "key_high", 0, 127)
        #: Lowest and highest note-on velocity the zone plays.
        self.velocity_low = _whole(velocity_low, "velocity_low", 0, 127)
        self.velocity_high = _whole(velocity_high, "velocity_high", 0, 127)
        #: The key at which the recording sounds at its own pitch.
        self.root_key = _whole(root_key if root_key is not None else (root if root is not None else 60),
                               "root_key", 0, 127)
        #: Tuning in cents added to every key.
        self.tune_cents = _number(tune_cents, "tune_cents")
        #: Cents of pitch per key away from the root (100: one semitone per key; 0: every key the same pitch).
        self.key_tracking = _number(key_tracking, "key_tracking")
        #: Gain of the zone in dB (negative is quieter).
        self.level_db = _number(level_db, "level_db")
        #: Stereo position, -1.0 (left) to 1.0 (right).
        self.pan = _number(pan, "pan")
        frames = len(data)
        if loop_start is None and loop_end is None and loop_points is not None:
            loop_start, loop_end = loop_points
        if loop is None:
            loop = "continuous" if loop_end is not None and loop_start is not None else "none"
        #: How the recording repeats: "none", "continuous", "until_release" or "one_shot".
        self.loop: _LoopMode = loop
        #: First frame played.
        self.start = _whole(start, "start", 0, frames)
        #: One past the last frame played (the recording's length by default).
        self.end = _whole(end if end is not None else frames, "end", 0, frames)
        #: First frame of the loop.
        self.loop_start = _whole(loop_start if loop_start is not None else 0, "loop_start", 0, frames)
        #: One past the last frame of the loop (a loop needs loop_start < loop_end <= end).
        self.loop_end = _whole(loop_end if loop_end is not None else 0, "loop_end", 0, frames)
        #: Volume envelope: seconds of silence, rise, full level, fall to sustain, and fall after release.
        self.delay = _seconds(delay, "delay")
        self.attack = _seconds(attack, "attack")
        self.hold = _seconds(hold, "hold")
        self.decay = _seconds(decay, "decay")
        #: The level held while the key is down, 0.0 to 1.0.
        self.sustain = _number(sustain, "sustain")
        self.release = _seconds(release, "release")
        #: How decay and release fall: "linear" (amplitude) or "decibels".
        self.curve: _Curve = curve
        #: A note of this zone silences sounding zones whose off_by is this group (0: none).
        self.choke_group = _whole(choke_group, "choke_group", 0, 2**32 - 1)
        #: The group whose new notes silence this zone (0: none; the zone's own group by default).
        self.off_by = _whole(off_by if off_by is not None else self.choke_group, "off_by", 0, 2**32 - 1)
        #: "attack": sounds when the key is pressed; "release": when it is let go.
        self.trigger: Literal["attack", "release"] = trigger
        #: How much velocity changes the level, -100 to 100 percent.
        self.velocity_tracking = _number(velocity_tracking, "velocity_tracking")
        self._numbers()  # the remaining checks

    def __repr__(self) -> str:
        kind = "stereo" if self.sample.channels == 2 else "mono"
        return (f"Zone({kind}, frames={len(self.sample)}, keys={self.key_low}-{self.key_high}, "
                f"velocities={self.velocity_low}-{self.velocity_high}, root_key={self.root_key}, "
                f"loop={self.loop!r})")

    def __deepcopy__(self, memo: dict[int, Any]) -> "Zone":
        # Every field is an immutable value and the recording never changes,
        # so a copy of the fields is already a deep copy; the recording is
        # shared, not duplicated.
        twin = Zone.__new__(Zone)
        twin.__dict__.update(self.__dict__)
        return twin

    def _numbers(self) -> tuple[float, ...]:
        """The zone as the native player takes it, every field checked again
        (attributes may have been changed since the zone was made)."""
        if self.loop not in _LOOPS:
            raise ValueError(f"loop must be one of {', '.join(map(repr, _LOOPS))} (got {self.loop!r})")
        if self.curve not in _CURVES:
            raise ValueError(f"curve must be 'linear' or 'decibels' (got {self.curve!r})")
        if self.trigger not in _TRIGGERS:
            raise ValueError(f"trigger must be 'attack' or 'release' (got {self.trigger!r})")
        if not -1.0 <= self.pan <= 1.0:
            raise ValueError(f"pan must be from -1.0 to 1.0 (got {self.pan!r})")
        if not 0.0 <= self.sustain <= 1.0:
            raise ValueError(f"sustain must be a level from 0.0 to 1.0 (got {self.sustain!r})")
        if not -100.0 <= self.velocity_tracking <= 100.0:
            raise ValueError(f"velocity_tracking must be -100 to 100 percent (got {self.velocity_tracking!r})")
        if abs(self.tune_cents) > 1e6 or abs(self.key_tracking) > 1e4 or abs(self.level_db) > 1e4:
            raise ValueError("tune_cents, key_tracking or level_db is too large")
        frames = len(self.sample)
        for name in ("start", "end", "loop_start", "loop_end"):
            _whole(getattr(self, name), name, 0, frames)
        return (self.key_low, self.key_high, self.velocity_low, self.velocity_high, self.root_key,
                float(self.sample_rate), self.tune_cents, self.key_tracking, self.level_db, self.pan,
                _LOOPS[self.loop], self.start, self.end, self.loop_start, self.loop_end, self.delay, self.attack,
                self.hold, self.decay, self.sustain, self.release, _CURVES[self.curve], self.choke_group,
                self.off_by, 1 if self.trigger == "release" else 0)


class Instrument:
    """A sampled instrument: zones that sound together when their keys and
    velocities match. Give it to `Song.add_track` to play it.

    `zones` are `Zone` objects (each is checked again when the instrument is
    played). `name` is for display."""

    def __init__(self, zones: Iterable[Zone] = (), name: str = "") -> None:
        self._zones: list[Zone] = []
        if not isinstance(name, str):
            raise TypeError(f"name must be a str, not {type(name).__name__}")
        #: The instrument's name, for display.
        self.name = name
        added = list(zones)
        for zone in added:
            if not isinstance(zone, Zone):
                raise TypeError(f"zones must be Zone objects, not {type(zone).__name__}")
        self._zones = added

    def __repr__(self) -> str:
        return f"Instrument(name={self.name!r}, zones={len(self._zones)})"

    def __len__(self) -> int:
        return len(self._zones)

    def __iter__(self) -> Iterator[Zone]:
        return iter(self._zones)

    @property
    def zones(self) -> list[Zone]:
        """The zones, in the order they were added (a copy of the list)."""
        return list(self._zones)

    def add_zone(self, zone: Zone) -> None:
        """Adds a zone; it plays from the next track made with this instrument."""
        if not isinstance(zone, Zone):
            raise TypeError(f"zone must be a Zone, not {type(zone).__name__}")
        zone._numbers()
        self._zones.append(zone)

    def zones_for(self, key: int, velocity: int) -> list[Zone]:
        """The attack zones that a key pressed at `velocity` starts."""
        k = _whole(key, "key", 0, 127)
        v = _whole(velocity, "velocity", 0, 127)
        return [z for z in self._zones if z.trigger == "attack" and z.key_low <= k <= z.key_high
                and z.velocity_low <= v <= z.velocity_high]

    def tail_seconds(self, notes: Optional[Iterable[tuple[int, int]]] = None) -> float:
        """The longest a zone can sound after its key is released: its release
        time, or for a one-shot zone and a release zone the time its recording
        plays at the lowest key it answers (when that is longer). With `notes`,
        (key, velocity) pairs, only the zones they play count."""
        zones = self._zones
        if notes is not None:
            pairs = set(notes)
            zones = [z for z in zones if any(z.key_low <= k <= z.key_high and z.velocity_low <= v <= z.velocity_high
                                             for k, v in pairs)]
        longest = 0.0
        for z in zones:
            seconds = z.release
            if z.loop == "one_shot" or z.trigger == "release":
                key = z.key_low if z.key_tracking >= 0 else z.key_high
                rate = z.sample_rate * 2.0 ** (((key - z.root_key) * z.key_tracking + z.tune_cents) / 1200.0)
                played = max(0, z.end - z.start) / rate
                seconds = max(seconds, played + (z.release if z.trigger == "release" else 0.0))
            longest = max(longest, seconds)
        return longest

    def player(self, sample_rate: Union[int, SupportsIndex] = 44100,
               max_voices: Union[int, SupportsIndex] = 64) -> "_voices.Player":
        """A native player of this instrument at `sample_rate` frames per second
        with at most `max_voices` sounding zones (the oldest gives way)."""
        rate = _whole(sample_rate, "sample_rate", 1, 10_000_000)
        voices = _whole(max_voices, "max_voices", 1, 4096)
        numbers = [(zone, zone._numbers(), velocity_db(zone.velocity_tracking)) for zone in self._zones]
        p = _voices.Player(rate, voices)
        for zone, values, table in numbers:
            p.add_zone(zone.sample, values, table)
        return p

