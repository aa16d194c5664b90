"""A melody from a list of notes, played straight on a `Sampler` through a
two-zone `SampleMap` whose zones split by velocity: soft notes sound a mellow
sine, accented ones a bright square.

The melody is a list of (note name, beats, velocity). There is no song layer
here: the script walks the list itself, looks each note's sample up with
`SampleMap.find_sample`, starts it with `Sampler.note_on_sample` (one
envelope and voice limit for both zones) and renders the sampler into
consecutive slices of one preallocated buffer with `render_into`, so every
note starts on an exact frame. The mono result is written as a 16-bit WAV.

    python examples/sample_map_melody.py [--output melody.wav]
"""
from __future__ import annotations

import argparse
import array
import sys
from typing import NoReturn

import tamlor

RATE = 44100
BPM = 132.0
# (note name, beats, velocity); "-" is a rest. Accents (velocity 100 and up) take the bright zone.
MELODY = [
    ("A4", 0.5, 110), ("C5", 0.5, 70), ("E5", 0.5, 70), ("A5", 0.5, 110),
    ("G5", 0.5, 80), ("E5", 0.5, 70), ("C5", 1.0, 100),
    ("D5", 0.5, 110), ("F5", 0.5, 70), ("A5", 0.5, 75), ("D6", 0.5, 115),
    ("C6", 0.5, 80), ("A5", 0.5, 70), ("F5", 1.0, 100),
    ("E5", 0.5, 110), ("G#5", 0.5, 75), ("B5", 0.5, 80), ("E6", 1.0, 120),
    ("-", 0.5, 0), ("A5", 2.0, 105),
]
SOFT_TOP = 99  # velocities 0..99: the mellow zone; 100..127: the bright one
PITCHES = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}


def midi(name: str) -> int:
    """'A4' -> 69, 'G#5' -> 80, 'Bb3' -> 58."""
    pitch = PITCHES[name[0]] + name[1:].count("#") - name[1:].count("b")
    return pitch + 12 * (int(name.lstrip("ABCDEFG#b")) + 1)


def looped(oscillator: tamlor.SineOscillator | tamlor.SquareOscillator) -> tamlor.AudioSample:
    """Half a second of an A4 (440 Hz) oscillator, looping over 110 whole cycles."""
    sample = tamlor.AudioSample(oscillator.render_to_buffer(RATE // 2), root_note=69)
    sample.loop_start, sample.loop_end = 0, round(110 * RATE / 440.0)
    return sample


def two_zones() -> tamlor.SampleMap:
    zones = tamlor.SampleMap()
    zones.add_mapping(tamlor.SampleMapping(looped(tamlor.SineOscillator(440.0, 0.7)), 0, 127, 0, SOFT_TOP))
    zones.add_mapping(tamlor.SampleMapping(looped(tamlor.SquareOscillator(440.0, 0.3)), 0, 127, SOFT_TOP + 1, 127))
    return zones


def render(zones: tamlor.SampleMap, release_beats: float = 1.0) -> array.array[float]:
    """The melody, mono, with room at the end for the last release."""
    frames_per_beat = RATE * 60.0 / BPM
    starts = [0.0]
    for _, beats, _ in MELODY:
        starts.append(starts[-1] + beats)
    total = round((starts[-1] + release_beats) * frames_per_beat)
    out = array.array("f", bytes(4 * total))
    view = memoryview(out)
    sampler = tamlor.Sampler(tamlor.AudioSample([]), sample_rate=RATE, max_voices=4)
    sampler.set_envelope(tamlor.Envelope(attack=0.004, decay=0.25, sustain=0.45, release=0.12))
    done = 0
    # Each note: render up to its start, start it, and stop it at its end (a
    # note-off due at the same frame as the next note-on comes first).
    events: list[tuple[int, int, int, int]] = []  # (frame, 0 off / 1 on, note, velocity)
    for (name, beats, velocity), beat in zip(MELODY, starts):
        if name == "-":
            continue
        note = midi(name)
        events.append((round(beat * frames_per_beat), 1, note, velocity))
        events.append((round((beat + beats) * frames_per_beat), 0, note, 0))
    for frame, on, note, velocity in sorted(events):
        sampler.render_into(view[done:frame])
        done = frame
        if on:
            sample = zones.find_sample(note, velocity)
            if sample is not None:
                sampler.note_on_sample(note, velocity, sample)
        else:
            sampler.note_off(note)
    sampler.render_into(view[done:])
    return out


class Arguments(argparse.ArgumentParser):
    """Bad arguments end in one line on stderr and exit status 2."""

    def error(self, message: str) -> NoReturn:
        self.exit(2, f"{self.prog}: {message} (see --help)\n")


def main() -> None:
    parser = Arguments(description=(__doc__ or "").split("\n\n")[0])
    parser.add_argument("--output", default="melody.wav", help="the WAV file to write")
    args = parser.parse_args()

    out = render(two_zones())
    try:
        tamlor.AudioBuffer.write_wav(args.output, out, RATE, 1)
    except OSError as exc:
        sys.exit(f"cannot write {args.output}: {exc.strerror or exc}")
    bright = sum(1 for name, _, velocity in MELODY if name != "-" and velocity > SOFT_TOP)
    soft = sum(1 for name, _, _ in MELODY if name != "-") - bright
    print(f"wrote {args.output}: {soft} soft and {bright} accented notes, {len(out)} frames "
          f"({len(out) / RATE:.2f} s mono at {BPM:g} bpm)")


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit("interrupted")
