"""Piano rolls: a song's notes drawn as an SVG picture.

Time runs left to right in beats, with bars of four beats numbered along the
top and every tempo change marked there as a dashed line and its tempo; pitch
runs bottom to top, one row per semitone, named in scientific pitch (MIDI 60
is C4). Each note is one rectangle in its track's colour, as long as the note
and as opaque as it is loud; a legend below names the tracks.

The picture stays readable from a four-bar sketch to a piece of thousands of
notes: rows and bars get thinner, labels and grid lines are thinned out so
they never crowd each other, and every rectangle stays inside the drawing
(a note that runs past the end of the drawn stretch is cut at its edge).
"""
from __future__ import annotations

import math
import numbers
import operator
import re
from dataclasses import dataclass
from typing import Any, Optional, Sequence

from .song import Song, Track, _beat, _Real, _Whole

__all__ = ["RollTrack", "render_svg", "song_roll", "pitch_name", "beat_at_seconds"]

# Track colours, in the order tracks were added (then again from the first).
PALETTE = ("#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd",
           "#8c564b", "#e377c2", "#17becf", "#7f7f7f", "#bcbd22")

BEATS_PER_BAR = 4
# The most notes one roll draws, and the longest stretch of a song that loops
# forever it shows: bounds that keep a picture from running away.
MAX_NOTES = 1_000_000
MAX_PREVIEW_SECONDS = 3600.0
_NAMES = ("C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B")
_BLACK = frozenset((1, 3, 6, 8, 10))

# Layout, in pixels.
_LEFT, _RIGHT, _TOP = 46.0, 14.0, 36.0
_LEGEND_ROW, _LEGEND_GAP = 18.0, 12.0
_MIN_WIDTH, _MAX_SIZE = 200, 20_000
_MIN_ROWS = 13


@dataclass(frozen=True)
class RollTrack:
    """One track as the roll draws it: its name, its notes as
    (start_beat, duration_beats, note, velocity), and whether it is muted or
    soloed (the legend says so)."""

    name: str
    notes: Sequence[tuple[float, float, int, int]]
    muted: bool = False
    solo: bool = False


def pitch_name(note: int) -> str:
    """The name of a MIDI note in scientific pitch: 60 is "C4", 61 "C#4"."""
    return f"{_NAMES[note % 12]}{note // 12 - 1}"


def beat_at_seconds(tempo_map: Sequence[tuple[float, float]], seconds: float) -> float:
    """The beat that sounds `seconds` after beat 0 under a tempo map of
    (beat, bpm) pairs, the first at beat 0."""
    start_beat, bpm = tempo_map[0]
    start_seconds = 0.0
    for beat, next_bpm in tempo_map[1:]:
        at = start_seconds + ((beat - start_beat) * 60.0) / bpm
        if at > seconds:
            break
        start_beat, bpm, start_seconds = beat, next_bpm, at
    return start_beat + (seconds - start_seconds) * bpm / 60.0


# Characters XML 1.0 cannot hold at all (a track name may contain anything).
_NOT_XML = re.compile("[\x00-\x08\x0b\x0c\x0e-\x1f\ufffe\uffff\ud800-\udfff]")


def _text(value: str) -> str:
    """`value` safe inside an XML element or a double-quoted attribute."""
    value = _NOT_XML.sub("\ufffd", value)
    return (value.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
            .replace('"', "&quot;"))


def _num(x: float) -> str:
    """A coordinate with at most two decimals and no trailing zeros."""
    text = f"{x:.2f}".rstrip("0").rstrip(".")
    return "0" if text == "-0" else text


def _size(value: Any, name: str, low: int) -> int:
    if isinstance(value, bool):
        raise TypeError(f"{name} must be an integer number of pixels, not bool")
    try:
        n = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an integer number of pixels, not {type(value).__name__}") from None
    if not low <= n <= _MAX_SIZE:
        raise ValueError(f"{name} must be {low} to {_MAX_SIZE} pixels (got {n})")
    return n


def _text_width(text: str, size: float = 10.0) -> float:
    """About how wide `text` is drawn at `size` pixels (a generous average
    glyph width, so labels that are kept apart by it never touch)."""
    return 0.62 * size * len(text)


def _step_for(unit_px: float, min_px: float) -> int:
    """The smallest power of two k for which k units span at least `min_px`."""
    k = 1
    while k * unit_px < min_px and k < 1 << 40:
        k *= 2
    return k


def _legend_rows(tracks: Sequence[RollTrack], width: float) -> list[list[tuple[int, str, float]]]:
    """The legend's entries (track index, label, x), wrapped into rows that fit `width`."""
    rows: list[list[tuple[int, str, float]]] = [[]]
    x = _LEFT
    for i, track in enumerate(tracks):
        label = track.name + (" (muted)" if track.muted else "") + (" (solo)" if track.solo else "")
        # About 7 pixels per character at the legend's font size, plus the swatch.
        span = 18.0 + 7.0 * len(label) + 16.0
        if rows[-1] and x + span > width - _RIGHT:
            rows.append([])
            x = _LEFT
        rows[-1].append((i, label, x))
        x += span
    return rows if rows[0] else []


def _whole_bars(beat: float) -> float:
    """`beat` rounded up to a whole number of bars, at least one bar, so the
    last bar line closes the drawing."""
    if not math.isfinite(beat):
        raise ValueError("the end of the roll must be a finite beat")
    return float(max(1, math.ceil(beat / BEATS_PER_BAR - 1e-9)) * BEATS_PER_BAR)


def render_svg(tracks: Sequence[RollTrack], tempo_map: Sequence[tuple[float, float]], end_beat: float,
               width: int = 960, height: Optional[int] = None, note: Optional[str] = None) -> str:
    """The piano roll of `tracks` from beat 0 to `end_beat` as an SVG document.

    `width` is the picture's width in pixels; `height`, when given, its
    height (else it follows from the range of pitches). `note`, when given,
    is a line of text printed under the legend."""
    width = _size(width, "width", _MIN_WIDTH)
    end = _whole_bars(end_beat)

    pitches = [n[2] for t in tracks for n in t.notes]
    low, high = (min(pitches), max(pitches)) if pitches else (60, 72)
    low, high = max(0, low - 1), min(127, high + 1)
    while high - low + 1 < _MIN_ROWS:
        low, high = max(0, low - 1), min(127, high + 1)
    rows = high - low + 1

    plot_w = width - _LEFT - _RIGHT
    legend = _legend_rows(tracks, width)
    below = _LEGEND_GAP + _LEGEND_ROW * len(legend) + (_LEGEND_ROW if note else 0.0) + 6.0
    if height is None:
        row_h = min(14.0, max(3.0, 420.0 / rows))
        plot_h = rows * row_h
        total_h = math.ceil(_TOP + plot_h + below)
    else:
        least = math.ceil(_TOP + rows + below)
        total_h = _size(height, "height", least)
        plot_h = total_h - _TOP - below
        row_h = plot_h / rows
    ppb = plot_w / end  # pixels per beat
    right = _LEFT + plot_w
    bottom = _TOP + plot_h

    out: list[str] = []
    add = out.append
    add(f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{total_h}" '
        f'viewBox="0 0 {width} {total_h}" font-family="DejaVu Sans, Arial, sans-serif" font-size="10" '
        'class="tamlor-piano-roll" role="img">')
    notes = sum(len(t.notes) for t in tracks)
    add(f'<title>Piano roll: {len(tracks)} track{"" if len(tracks) == 1 else "s"}, {notes} note'
        f'{"" if notes == 1 else "s"}, {int(end) // BEATS_PER_BAR} bars of {BEATS_PER_BAR} beats</title>')
    add(f'<rect class="background" x="0" y="0" width="{width}" height="{total_h}" fill="#ffffff"/>')

    # Pitch rows: the black keys shaded, a line under each C, names on the left.
    add('<g class="pitches">')
    label_all = row_h >= 9.0
    for n in range(low, high + 1):
        y = _TOP + (high - n) * row_h
        if n % 12 in _BLACK and row_h >= 2.0:
            add(f'<rect x="{_num(_LEFT)}" y="{_num(y)}" width="{_num(plot_w)}" height="{_num(row_h)}" '
                'fill="#f1f1f4"/>')
        if n % 12 == 0:
            add(f'<line x1="{_num(_LEFT)}" y1="{_num(y + row_h)}" x2="{_num(right)}" y2="{_num(y + row_h)}" '
                'stroke="#c8c8d0" stroke-width="0.6"/>')
        if label_all or n % 12 == 0:
            size = min(10.0, row_h - 1.0) if label_all else 10.0
            add(f'<text class="pitch" x="{_num(_LEFT - 5)}" y="{_num(y + row_h / 2)}" text-anchor="end" '
                f'dominant-baseline="central" font-size="{_num(size)}" fill="#444">{pitch_name(n)}</text>')
    add('</g>')

    # Beats and bars: lines only where they stay apart, bar numbers spaced wider.
    add('<g class="time">')
    if ppb >= 6.0:
        for b in range(int(end)):
            if b % BEATS_PER_BAR:
                x = _LEFT + b * ppb
                add(f'<line class="beat" x1="{_num(x)}" y1="{_num(_TOP)}" x2="{_num(x)}" y2="{_num(bottom)}" '
                    'stroke="#e2e2e8" stroke-width="0.6"/>')
    bar_px = BEATS_PER_BAR * ppb
    bars = int(end) // BEATS_PER_BAR
    line_step = _step_for(bar_px, 6.0)
    label_step = _step_for(bar_px, max(30.0, _text_width(str(bars)) + 12.0))
    for bar in range(0, bars + 1):
        x = _LEFT + bar * bar_px
        if bar % line_step == 0 or bar == bars:
            add(f'<line class="bar" x1="{_num(x)}" y1="{_num(_TOP - 14)}" x2="{_num(x)}" y2="{_num(bottom)}" '
                'stroke="#a8a8b4" stroke-width="0.8"/>')
        if bar % label_step == 0 and bar < bars:
            add(f'<text class="bar-number" x="{_num(x + 3)}" y="{_num(_TOP - 5)}" fill="#444">{bar + 1}</text>')
    add('</g>')

    # Tempo: the first tempo and each change, a dashed line at every change;
    # a label that would run into the one before is left out.
    add('<g class="tempo">')
    free_from = -math.inf  # where the last label drawn ends
    for beat, bpm in tempo_map:
        if beat >= end:
            break
        x = _LEFT + beat * ppb
        if beat > 0.0:
            add(f'<line class="tempo-change" x1="{_num(x)}" y1="{_num(_TOP - 19)}" x2="{_num(x)}" '
                f'y2="{_num(bottom)}" stroke="#b05a00" stroke-width="1" stroke-dasharray="3,2">'
                f'<title>\u2669 = {bpm:g} from beat {beat:g}</title></line>')
        label = f"\u2669 = {_num(round(bpm, 1))}"
        if x + 3 >= free_from and x + 3 + _text_width(label) <= width:
            add(f'<text class="tempo-label" x="{_num(x + 3)}" y="{_num(_TOP - 22)}" fill="#b05a00">{label}</text>')
            free_from = x + 3 + _text_width(label) + 8.0
    add('</g>')

    # The notes, one group per track.
    gap = 0.5 if row_h >= 4.0 else 0.0
    for ti, track in enumerate(tracks):
        colour = PALETTE[ti % len(PALETTE)]
        name = _text(track.name)
        add(f'<g class="track" data-track="{ti}" fill="{colour}">')
        for start, duration, pitch, velocity in track.notes:
            if start > end or not low <= pitch <= high:
                continue
            # A note of no length at the very end is drawn against the edge.
            x = min(_LEFT + start * ppb, right - 1.0)
            # At least a pixel wide so short notes show, but never past the edge.
            w = min(max(duration * ppb, 1.0), right - x)
            y = _TOP + (high - pitch) * row_h + gap / 2
            opacity = 0.3 + 0.7 * velocity / 127.0
            add(f'<rect x="{_num(x)}" y="{_num(y)}" width="{_num(w)}" height="{_num(row_h - gap)}" '
                f'fill-opacity="{opacity:.3f}"><title>{name}: {pitch_name(pitch)} ({pitch}) at beat {start:g}, '
                f'{duration:g} beats, velocity {velocity}</title></rect>')
        add('</g>')

    # The frame of the plot, drawn over the notes' edges.
    add(f'<rect class="frame" x="{_num(_LEFT)}" y="{_num(_TOP)}" width="{_num(plot_w)}" height="{_num(plot_h)}" '
        'fill="none" stroke="#8a8a96" stroke-width="1"/>')

    # The legend: one swatch and name per track.
    add('<g class="legend">')
    y = bottom + _LEGEND_GAP
    for row in legend:
        for ti, label, x in row:
            colour = PALETTE[ti % len(PALETTE)]
            add(f'<g class="legend-entry" data-track="{ti}"><rect x="{_num(x)}" y="{_num(y + 3)}" width="12" '
                f'height="10" fill="{colour}"/><text x="{_num(x + 18)}" y="{_num(y + 12)}" font-size="11" '
                f'fill="#222">{_text(label)}</text></g>')
        y += _LEGEND_ROW
    add('</g>')
    if note:
        add(f'<text class="note" x="{_num(_LEFT)}" y="{_num(y + 12)}" font-size="11" fill="#555">'
            f'{_text(note)}</text>')
    if not pitches:
        add(f'<text class="empty" x="{_num(_LEFT + plot_w / 2)}" y="{_num(_TOP + plot_h / 2)}" '
            'text-anchor="middle" font-size="12" fill="#777">no notes</text>')
    add('</svg>')
    return "\n".join(out)


# -- from a song --------------------------------------------------------------

def track_notes(track: Track, until: float) -> list[tuple[float, float, int, int]]:
    """The notes a track plays that start before beat `until` (every note when
    it is infinite), as (start_beat, duration_beats, note, velocity), its
    patterns' steps included."""
    if all(p.stop_step() is not None for p in track._patterns):
        return [n for n in track.notes() if n[0] < until]
    # A pattern that loops forever: its steps up to `until`, found on its grid.
    notes = [(start, duration, n, velocity) for _, start, duration, n, velocity in track._notes if start < until]
    for p in track._patterns:
        if not p.steps:
            continue
        stop = p.stop_step()
        if math.isfinite(until):
            by_until = max(0, math.ceil((until - p.start) / p.step) + 1)
            stop = by_until if stop is None else min(stop, by_until)
        if stop is None:
            raise ValueError(f"track {track.name!r} loops forever: give the roll an end")
        for _, on, (n, velocity, ticks) in p.played_steps(stop):
            if on >= until:
                continue
            notes.append((on, ticks * p.step, n, velocity))
    return notes


def song_roll(song: Song, width: _Whole = 960, height: Optional[_Whole] = None, end_beat: Optional[_Real] = None,
              preview_seconds: Optional[_Real] = None) -> str:
    """The piano roll of a whole song (or up to `end_beat`). A song that loops
    forever is drawn for its first `preview_seconds` (the song's
    `loop_preview_seconds` when None), and the roll says so."""
    pixels_wide = _size(width, "width", _MIN_WIDTH)
    pixels_high = None if height is None else _size(height, "height", 1)
    tempo = song.tempo_map
    note: Optional[str] = None
    if end_beat is not None:
        end = _beat(end_beat, "end_beat")
        if end <= 0.0:
            raise ValueError("end_beat must be after beat 0")
    else:
        length = song.length_beats()
        if length is None or loops_forever(song):
            seconds = _seconds_setting(song.loop_preview_seconds if preview_seconds is None else preview_seconds,
                                       "loop_preview_seconds", MAX_PREVIEW_SECONDS)
            end = beat_at_seconds(tempo, seconds)
            note = f"This song loops forever: the roll shows its first {_duration(seconds)}."
        else:
            end = length
    # Every note of a song that ends is drawn; else those that start in the drawn bars.
    until = math.inf if end_beat is None and note is None else _whole_bars(end)
    check_size(song, until)
    drawn = [RollTrack(t.name, track_notes(t, until), t.mute, t.solo) for t in song.tracks]
    return render_svg(drawn, tempo, end, pixels_wide, pixels_high, note)


def _seconds_setting(value: Any, name: str, most: float) -> float:
    """A display setting: a number of seconds above 0, up to `most` (which may be infinite)."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a number of seconds, not {type(value).__name__}")
    x = float(value)
    if not 0.0 < x <= most:
        raise ValueError(f"{name} must be a number of seconds above 0, up to {most:g} (got {value!r})")
    return x


class TooManyNotes(ValueError):
    """A roll of more notes than a picture can hold; `notes` says about how many."""

    def __init__(self, notes: float) -> None:
        super().__init__(f"the roll would draw about {notes:.3g} notes, more than {MAX_NOTES:,}: give it an end_beat")
        self.notes = notes


def loops_forever(song: Song) -> bool:
    """Whether a pattern of the song loops without an end (even one with no
    step to play: the song then has no end, as its length in frames says)."""
    return any(p.stop_step() is None for t in song.tracks for p in t._patterns)


def check_size(song: Song, until: float) -> None:
    """Refuses a roll of more notes than a picture can hold, before any is
    gathered: a pattern drawn far enough would give billions."""
    total = 0.0
    for track in song.tracks:
        total += len(track._notes)
        for p in track._patterns:
            if not p.steps:
                continue
            stop = p.stop_step()
            steps = math.inf if stop is None else float(stop)
            if math.isfinite(until):
                steps = min(steps, max(0.0, (until - p.start) / p.step + 1.0))
            total += steps * len(p.steps) / p.length
    if total > MAX_NOTES:
        raise TooManyNotes(total)


def _duration(seconds: float) -> str:
    """A duration as a musician would say it: "2 minutes", "90 seconds", "1 minute 30 seconds"."""
    whole = round(seconds)
    if abs(seconds - whole) > 1e-9 or whole < 60:
        return f"{seconds:g} second{'s' if seconds != 1 else ''}"
    minutes, rest = divmod(whole, 60)
    text = f"{minutes} minute{'s' if minutes != 1 else ''}"
    return text + (f" {rest} second{'s' if rest != 1 else ''}" if rest else "")

