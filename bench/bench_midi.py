"""MIDI files and messages beside mido, the usual Python MIDI library, timed
in turns in the same run:

- reading a MIDI file held in memory into a song (tamlor_song.Song.from_midi,
  notes paired and tracks built) against mido.MidiFile reading the same
  bytes (messages only): a large file of 16 tracks and 120,000 events, and a
  typical one of 8 tracks and 6,000 events; tamlor must be at least 10x
  faster;
- MidiMessage.to_bytes and MidiMessage.from_bytes of 10,000 messages against
  mido's Message.bytes() and Message.from_bytes; at least 10x faster;
- rendering MIDI files with the built-in sounds, as multiples of real time:
  the typical file, and a 16-track, 3-minute song (15 melodic channels and
  drums); at least 500x real time.

    python bench/bench_midi.py
"""
from __future__ import annotations

import array
import io
import sys
import time
from typing import Any

import common
from common import best_per_call
import mido  # type: ignore[import-untyped]
import tamlor
import tamlor_song

RATE = 44100


def score(tracks: int, notes_per_track: int, beats: float, bpm_changes: int = 8) -> bytes:
    """A format 1 file: `tracks` tracks (the tenth on the drum channel), each
    with `notes_per_track` notes spread over `beats` beats, a program each and
    tempo changes."""
    song = tamlor_song.Song(bpm=100, sample_rate=RATE)
    zones = tamlor.SampleMap()
    for t in range(tracks):
        track = song.add_track(f"part {t}", zones)
        track.channel = t if t < 16 else t % 16
        track.program = (t * 5) % 128
        spacing = beats / notes_per_track
        low = 36 if track.channel == 9 else 40 + (t * 3) % 30
        track.add_notes([(i * spacing, spacing * (0.5 + (i % 3) * 0.4), low + (i * 7) % 24, 60 + (i * 13) % 60)
                         for i in range(notes_per_track)])
    for k in range(1, bpm_changes):
        song.set_tempo(k * beats / bpm_changes, 90 + (k * 7) % 40)
    out = io.BytesIO()
    song.write_midi(out)
    return out.getvalue()


def events(data: bytes) -> int:
    return sum(len(t) for t in mido.MidiFile(file=io.BytesIO(data)).tracks)


def read_rows() -> list[Any]:
    rows = []
    for name, data in (("large file", score(16, 3750, 2000.0)), ("typical file", score(8, 375, 400.0))):
        env = {"mido": mido, "io": io, "data": data, "Song": tamlor_song.Song}
        # The same notes both ways, then timed.
        song = tamlor_song.Song.from_midi(data)
        assert sum(len(t.notes()) for t in song.tracks) * 2 <= events(data)
        theirs, ours = best_per_call(["mido.MidiFile(file=io.BytesIO(data))", "Song.from_midi(data)"], env,
                                     number=1, rounds=5)
        rows.append((f"read a {name} of {events(data):,} events: mido / tamlor", ours, theirs, None))
    return rows


def message_rows() -> list[Any]:
    ours = [tamlor.MidiMessage.note_on(i % 16, (i * 7) % 128, (i * 11) % 128) if i % 3 else
            tamlor.MidiMessage.control_change(i % 16, (i * 5) % 128, (i * 3) % 128) for i in range(10_000)]
    theirs = [mido.Message.from_bytes(list(m.to_bytes())) for m in ours]
    wire = [m.to_bytes() for m in ours]
    assert [bytes(m.bytes()) for m in theirs] == wire
    assert [tamlor.MidiMessage.from_bytes(b) for b in wire] == ours
    lists = [list(b) for b in wire]
    env = {"ours": ours, "theirs": theirs, "wire": wire, "lists": lists, "from_bytes": tamlor.MidiMessage.from_bytes,
           "mido_from_bytes": mido.Message.from_bytes}
    t_mido, t_ours = best_per_call(["[m.bytes() for m in theirs]", "[m.to_bytes() for m in ours]"], env, number=3)
    f_mido, f_ours = best_per_call(["[mido_from_bytes(b) for b in lists]", "[from_bytes(b) for b in wire]"], env,
                                   number=3)
    return [("10,000 messages to bytes: mido / tamlor", t_ours, t_mido, None),
            ("10,000 messages from bytes: mido / tamlor", f_ours, f_mido, None)]


def render_speed(data: bytes) -> tuple[float, float, float]:
    """Multiples of real time of the whole file rendered in one call and in
    blocks of 4096 frames into one buffer (as a player or a file writer
    streams it), and the seconds of audio."""
    song = tamlor_song.Song.from_midi(data, sample_rate=RATE)
    frames = song.length_frames()
    assert frames is not None
    block = array.array("f", bytes(8 * 4096))
    one = blocks = float("inf")
    for _ in range(3):
        song.reset()
        t0 = time.perf_counter()
        song.render(frames)
        one = min(one, time.perf_counter() - t0)
        song.reset()
        t0 = time.perf_counter()
        for _ in range(frames // 4096):
            song.render_into(block)
        blocks = min(blocks, (time.perf_counter() - t0) * frames / (frames // 4096 * 4096))
    seconds = frames / RATE
    return seconds / one, seconds / blocks, seconds


def main() -> list[str]:
    failures: list[str] = []
    rows = read_rows() + message_rows()
    # Printed as tamlor's speed over mido's: the limit is a floor of 10.
    print("MIDI files and messages beside mido, same run (tamlor's speed as a multiple of mido's; at least 10x):")
    for name, ours, theirs, _ in rows:
        speed = theirs / ours
        low = speed < 10.0
        print(f"  {name:<60} {speed:8.1f}x{'  UNDER' if low else ''}")
        if low:
            failures.append(name)
    print("Rendering MIDI files with the built-in sounds (at least 500x real time):")
    for name, data in (("typical file, 8 tracks", score(8, 375, 400.0)),
                       ("16 tracks, 3 minutes", score(16, 300, 300.0, bpm_changes=2))):
        one, blocks, seconds = render_speed(data)
        for how, speed in (("one call", one), ("blocks of 4096", blocks)):
            low = speed < 500.0
            print(f"  {name + f' ({seconds:.0f} s of audio), {how}':<60} {speed:8.0f}x{'  UNDER' if low else ''}")
            if low:
                failures.append(f"render, {name}, {how}")
    return failures


assert common  # imported first: it holds NumPy's BLAS to one thread

if __name__ == "__main__":
    sys.exit(1 if main() else 0)
