"""SFZ sample libraries: a text file of regions beside its samples, read as an
`Instrument`.

    strings = load_sfz("libraries/strings/violins.sfz")
    song.add_track("violins", strings)

Read: the headers ``<control>`` (``default_path``), ``<global>``,
``<master>``, ``<group>`` and ``<region>``, each region taking the opcodes of
the headers above it unless it sets its own; ``#define $NAME value`` and
``#include "file"``; comments (``//`` to the end of the line and ``/* ... */``).
Opcodes played: ``sample``, ``lokey``, ``hikey``, ``key`` (numbers or note
names such as ``c4``, ``f#3`` or ``eb5``, with ``c4`` = 60),
``lovel``, ``hivel``, ``pitch_keycenter``, ``pitch_keytrack``, ``tune``,
``transpose``, ``volume``, ``pan``, ``amp_veltrack``, ``loop_mode``,
``loop_start`` and ``loop_end`` (and ``loopmode``, ``loopstart``,
``loopend``), ``offset``, ``end``, ``ampeg_delay``, ``ampeg_attack``,
``ampeg_hold``, ``ampeg_decay``, ``ampeg_sustain``, ``ampeg_release``,
``group``, ``off_by`` and ``trigger`` (``attack``; ``release`` regions play
when their key is let go). Any other opcode or header is ignored, with one
warning that lists them all.

Samples: WAV files through `tamlor.AudioBuffer.read_wav`; FLAC and Ogg
files through the `soundfile` package when it is installed (ImportError
naming it otherwise). A sample used by several regions is read once.
"""
from __future__ import annotations

import array
import os
import re
import warnings
from typing import Optional, Union

import tamlor

from . import _voices
from .instrument import Instrument, _LoopMode, Zone

__all__ = ["load_sfz"]

_NOTES = {"c": 0, "d": 2, "e": 4, "f": 5, "g": 7, "a": 9, "b": 11}
_NOTE_NAME = re.compile(r"^([a-gA-G])([#b]?)(-?\d+)$")
_OPCODE = re.compile(r"([A-Za-z0-9_]+)=")
_HEADER = re.compile(r"<([A-Za-z_]+)>")
_INCLUDE = re.compile(r'^\s*#include\s+"([^"]+)"')
_DEFINE = re.compile(r"^\s*#define\s+(\$[A-Za-z0-9_]+)\s+(.*?)\s*$")
_BLOCK_COMMENT = re.compile(r"/\*.*?\*/", re.S)

_LOOP_MODES: dict[str, _LoopMode] = {"no_loop": "none", "one_shot": "one_shot", "loop_continuous": "continuous",
               "loop_sustain": "until_release"}
# Opcodes with other spellings.
_ALIASES = {"loopmode": "loop_mode", "loopstart": "loop_start", "loopend": "loop_end"}
_PLAYED = frozenset({"sample", "lokey", "hikey", "key", "lovel", "hivel", "pitch_keycenter", "pitch_keytrack",
                     "tune", "transpose", "volume", "pan", "amp_veltrack", "loop_mode", "loop_start", "loop_end",
                     "offset", "end", "ampeg_delay", "ampeg_attack", "ampeg_hold", "ampeg_decay",
                     "ampeg_sustain", "ampeg_release", "group", "off_by", "trigger", "default_path"})
_HEADERS = ("control", "global", "master", "group", "region")


def note_number(text: str) -> int:
    """A MIDI note from a number ("60") or a note name ("c4", "C#4", "eb3"; c4 is 60)."""
    text = text.strip()
    try:
        n = int(text)
    except ValueError:
        m = _NOTE_NAME.match(text)
        if m is None:
            raise ValueError(f"{text!r} is not a note") from None
        letter, accidental, octave = m.groups()
        n = (int(octave) + 1) * 12 + _NOTES[letter.lower()] + {"#": 1, "b": -1, "": 0}[accidental]
    if not 0 <= n <= 127:
        raise ValueError(f"note {text!r} is outside 0-127")
    return n


class _Reader:
    """One load: the file's text with includes and defines applied, then its
    regions turned into zones."""

    def __init__(self, path: str) -> None:
        self.path = path
        self.folder = os.path.dirname(os.path.abspath(path))
        self.unknown: set[str] = set()
        self.samples: dict[str, tuple["_voices.SampleData", int]] = {}

    def fail(self, reason: str) -> ValueError:
        return ValueError(f"{self.path}: {reason}")

    def lines(self, path: str, defines: dict[str, str], depth: int = 0) -> list[str]:
        """The lines of `path` with comments removed, defines replaced and
        includes read in place (relative to the first file's folder)."""
        if depth > 16:
            raise self.fail(f"#include nests too deep (at {path!r})")
        try:
            with open(path, "rb") as f:
                text = f.read().decode("utf-8", errors="replace")
        except OSError as exc:
            if depth == 0:
                raise
            raise self.fail(f"cannot read the included file {path!r}: {exc.strerror}") from None
        text = _BLOCK_COMMENT.sub(" ", text)
        out: list[str] = []
        for line in text.splitlines():
            cut = line.find("//")
            if cut >= 0:
                line = line[:cut]
            d = _DEFINE.match(line)
            if d:
                defines[d.group(1)] = d.group(2)
                continue
            for name in sorted(defines, key=len, reverse=True):
                if name in line:
                    line = line.replace(name, defines[name])
            inc = _INCLUDE.match(line)
            if inc:
                out.extend(self.lines(os.path.join(self.folder, inc.group(1)), defines, depth + 1))
                continue
            out.append(line)
        return out

    def regions(self, lines: list[str]) -> list[dict[str, str]]:
        """Every region's opcodes, with those of its global, master and group."""
        levels: dict[str, dict[str, str]] = {h: {} for h in _HEADERS}
        current: Optional[str] = None
        found: list[dict[str, str]] = []
        region: Optional[dict[str, str]] = None

        def close() -> None:
            if region is not None:
                merged = {**levels["control"], **levels["global"], **levels["master"], **levels["group"], **region}
                found.append(merged)

        for line in lines:
            # Split the line at its headers; each piece holds opcodes.
            pieces = _HEADER.split(line)
            for i, piece in enumerate(pieces):
                if i % 2 == 1:
                    header = piece.lower()
                    close()
                    region = None
                    if header not in _HEADERS:
                        self.unknown.add(f"<{header}>")
                        current = None
                        continue
                    current = header
                    if header == "region":
                        region = {}
                    else:
                        # A header starts afresh every level below it.
                        for lower in _HEADERS[_HEADERS.index(header):]:
                            if lower != "region":
                                levels[lower] = {}
                    continue
                matches = list(_OPCODE.finditer(piece))
                for j, m in enumerate(matches):
                    end = matches[j + 1].start() if j + 1 < len(matches) else len(piece)
                    name = _ALIASES.get(m.group(1), m.group(1))
                    value = piece[m.end():end].strip()
                    if current is None:
                        continue
                    if name not in _PLAYED:
                        self.unknown.add(name)
                        continue
                    if current == "region" and region is not None:
                        region[name] = value
                    else:
                        levels[current][name] = value
        close()
        return found

    def sample(self, name: str) -> tuple["_voices.SampleData", int]:
        """The recording and its rate, read once per file."""
        path = os.path.normpath(os.path.join(self.folder, name.replace("\\", "/")))
        found = self.samples.get(path)
        if found is not None:
            return found
        ext = os.path.splitext(path)[1].lower()
        if ext == ".wav":
            try:
                frames, channels = tamlor.AudioBuffer.wav_shape(path)
                if channels not in (1, 2):
                    raise self.fail(f"the sample {name!r} has {channels} channels (1 or 2 play)")
                # Straight from the file into one block of floats, no list between.
                values = array.array("f", [0.0]) * (frames * channels)
                rate = tamlor.AudioBuffer.read_wav_into(path, values)
            except OSError as exc:
                raise self.fail(f"cannot read the sample {name!r}: {exc.strerror or exc}") from None
            except ValueError as exc:
                if str(exc).startswith(self.path):
                    raise
                raise self.fail(f"the sample {name!r} is not a WAV file this library reads: {exc}") from None
            found = (_voices.SampleData(values, channels), rate)
        elif ext in (".flac", ".ogg", ".oga"):
            try:
                import soundfile  # type: ignore[import-not-found, import-untyped, unused-ignore]
            except ImportError:
                raise ImportError(f"{self.path}: reading the {ext[1:].upper()} sample {name!r} needs the "
                                  "soundfile package (pip install soundfile)") from None
            try:
                data, rate = soundfile.read(path, dtype="float32", always_2d=True)
            except Exception as exc:  # the package's own errors name no common base
                raise self.fail(f"cannot read the sample {name!r}: {exc}") from None
            if data.shape[1] not in (1, 2):
                raise self.fail(f"the sample {name!r} has {data.shape[1]} channels (1 or 2 play)")
            found = (_voices.SampleData(data, int(data.shape[1])), int(rate))
        else:
            raise self.fail(f"the sample {name!r} is not WAV, FLAC or Ogg")
        self.samples[path] = found
        return found

    def zone(self, r: dict[str, str]) -> Optional[Zone]:
        """The zone of one region (None for a region that cannot sound)."""
        name = r.get("sample")
        if not name:
            return None
        if name.startswith("*"):
            self.unknown.add(f"sample={name}")
            return None
        data, rate = self.sample(r.get("default_path", "") + name)
        frames = len(data)

        def number(key: str, default: float) -> float:
            text = r.get(key)
            if text is None:
                return default
            try:
                return float(text)
            except ValueError:
                raise self.fail(f"{key}={text} is not a number") from None

        def note(key: str, default: int) -> int:
            text = r.get(key)
            if text is None:
                return default
            try:
                return note_number(text)
            except ValueError as exc:
                raise self.fail(f"{key}: {exc}") from None

        def frame(value: float) -> int:
            return max(0, min(frames, int(value)))

        low, high, center = note("lokey", 0), note("hikey", 127), 60
        if "key" in r:
            low = high = center = note("key", 60)
        if r.get("pitch_keycenter", "").lower() != "sample":
            center = note("pitch_keycenter", center)
        if low > high:
            return None
        end_opcode = number("end", frames - 1)
        if end_opcode < 0 or (end_opcode == 0 and "end" in r):
            return None  # a region switched off
        start, end = frame(number("offset", 0)), frame(end_opcode + 1)
        mode = r.get("loop_mode")
        has_loop = "loop_start" in r or "loop_end" in r
        loop: _LoopMode
        if mode is None:
            loop = "continuous" if has_loop else "none"
        elif mode in _LOOP_MODES:
            loop = _LOOP_MODES[mode]
        else:
            raise self.fail(f"loop_mode={mode} is not one of {', '.join(_LOOP_MODES)}")
        loop_end = min(end, frame(number("loop_end", end - 1) + 1))
        loop_start = min(loop_end, frame(number("loop_start", 0)))
        trigger = r.get("trigger", "attack")
        if trigger not in ("attack", "release", "first", "legato", "release_key"):
            raise self.fail(f"trigger={trigger} is not attack or release")
        group = int(number("group", 0))
        off_by = int(number("off_by", 0))
        try:
            return Zone(data, sample_rate=rate, key_low=low, key_high=high,
                        velocity_low=int(number("lovel", 1)), velocity_high=int(number("hivel", 127)),
                        root_key=center, tune_cents=number("tune", 0) + 100 * number("transpose", 0),
                        key_tracking=number("pitch_keytrack", 100), level_db=number("volume", 0),
                        pan=max(-1.0, min(1.0, number("pan", 0) / 100.0)), loop=loop,
                        start=start, end=end, loop_start=loop_start, loop_end=loop_end,
                        delay=number("ampeg_delay", 0), attack=number("ampeg_attack", 0),
                        hold=number("ampeg_hold", 0), decay=number("ampeg_decay", 0),
                        sustain=max(0.0, min(1.0, number("ampeg_sustain", 100) / 100.0)),
                        release=number("ampeg_release", 0.001), curve="linear",
                        choke_group=max(0, group), off_by=max(0, off_by),
                        trigger="release" if trigger.startswith("release") else "attack",
                        velocity_tracking=max(-100.0, min(100.0, number("amp_veltrack", 100))))
        except (TypeError, ValueError) as exc:
            raise self.fail(f"a region playing {name!r}: {exc}") from None


def load_sfz(path: Union[str, "os.PathLike[str]"]) -> Instrument:
    """Reads an SFZ file and its samples as an `Instrument` (named after the
    file). See the module's description for what is read. A file that cannot
    be read raises OSError; a bad value, a missing sample or a sample that
    is not WAV, FLAC or Ogg raises ValueError "{path}: {reason}"."""
    p = os.fspath(path)
    reader = _Reader(p)
    regions = reader.regions(reader.lines(p, {}))
    zones = [z for z in (reader.zone(r) for r in regions) if z is not None]
    if reader.unknown:
        warnings.warn(f"{p}: ignored {', '.join(sorted(reader.unknown))}", stacklevel=2)
    return Instrument(zones, name=os.path.splitext(os.path.basename(p))[0])
