"""A chord pad made only of oscillators: four voices, each an oscillator on a
mixer channel of its own, spread across the stereo field with the mixer's
constant-power pan, moving through a chord progression.

Each chord gets fresh oscillators tuned to its tones
(`tamlor.Note(n).to_hz()`); the swell of each chord, the mixer's channel
gain moved every 64 frames, starts and ends at silence, so the changes do
not click. The
voices render with `render_into` into the rows of one buffer per block, and
`Mixer.mix_down_into` mixes them into the song's interleaved stereo, which is
written as a 16-bit WAV.

    python examples/chord_pad.py [--output pad.wav]
"""
from __future__ import annotations

import argparse
import array
import math
import sys
from typing import NoReturn, Union

import tamlor

RATE = 44100
BLOCK = 64
CHORD_SECONDS = 1.5
# C major 7, A minor 9 without its third, F major 7, G6: four voices each, lowest first.
CHORDS = [(48, 64, 67, 71), (45, 64, 67, 71), (41, 64, 69, 72), (43, 62, 64, 71)]
Oscillator = Union[tamlor.SineOscillator, tamlor.SawOscillator, tamlor.SquareOscillator]
# (name, oscillator kind, level, pan): the bass in the middle, the upper voices spread out.
VOICES: list[tuple[str, type[Oscillator], float, float]] = [
    ("Bass", tamlor.SawOscillator, 0.25, 0.0), ("Low", tamlor.SineOscillator, 0.35, -0.7),
    ("Mid", tamlor.SquareOscillator, 0.08, 0.7), ("High", tamlor.SineOscillator, 0.3, -0.25)]


def swell(t: float) -> float:
    """The level of a chord `t` seconds after it starts: in over 0.4 s, out over the last 0.5 s."""
    rise = min(1.0, t / 0.4)
    fall = min(1.0, (CHORD_SECONDS - t) / 0.5)
    return math.sin(0.5 * math.pi * max(0.0, min(rise, fall)))


def render() -> array.array[float]:
    chord_frames = round(CHORD_SECONDS * RATE)
    total = chord_frames * len(CHORDS)
    mixer = tamlor.Mixer()
    for name, _, _, pan in VOICES:
        mixer.set_channel_pan(mixer.add_channel(name), pan)
    mixer.master_gain = 0.9
    out = array.array("f", bytes(8 * total))
    view = memoryview(out)
    rows = [memoryview(array.array("f", bytes(4 * BLOCK))) for _ in VOICES]
    for chord_index, chord in enumerate(CHORDS):
        oscillators = [kind(frequency=tamlor.Note(note).to_hz(), amplitude=level, sample_rate=RATE)
                       for (_, kind, level, _), note in zip(VOICES, chord)]
        start = chord_index * chord_frames
        for at in range(0, chord_frames, BLOCK):
            n = min(BLOCK, chord_frames - at)
            level = swell((at + n / 2) / RATE)
            for index, (oscillator, row) in enumerate(zip(oscillators, rows)):
                mixer.set_channel_gain(index, level)
                oscillator.render_into(row[:n])
            frame = start + at
            mixer.mix_down_into(view[2 * frame:2 * (frame + n)], [row[:n] for row in rows])
    return out


class Arguments(argparse.ArgumentParser):
    """Bad arguments end in one line on stderr and exit status 2."""

    def error(self, message: str) -> NoReturn:
        self.exit(2, f"{self.prog}: {message} (see --help)\n")


def main() -> None:
    parser = Arguments(description=(__doc__ or "").split("\n\n")[0])
    parser.add_argument("--output", default="pad.wav", help="the WAV file to write")
    args = parser.parse_args()

    out = render()
    try:
        tamlor.AudioBuffer.write_wav(args.output, out, RATE, 2)
    except OSError as exc:
        sys.exit(f"cannot write {args.output}: {exc.strerror or exc}")
    left = math.sqrt(sum(x * x for x in out[0::2]) / (len(out) // 2))
    right = math.sqrt(sum(x * x for x in out[1::2]) / (len(out) // 2))
    print(f"wrote {args.output}: {len(CHORDS)} chords, {len(out) // 2} frames; RMS left {left:.4f}, right {right:.4f}")


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit("interrupted")
