"""A drum machine: kick and snare on a grid of sixteenth notes, and a hi-hat
on a grid of eighth-note triplets (three steps to the beat, step_duration
1/3), written to a 16-bit stereo WAV file.

Each drum is a `Pattern` of steps looping under its own grid through
`Track.add_pattern`; the two grids meet on every beat, and each triplet step
lands on the frame its beat falls on. The drum sounds are made here from a
sine, a square and the seeded noise source, shaped with a fading level.

    python examples/drum_machine.py [--output drums.wav] [--bars 2]
"""
from __future__ import annotations

import argparse
import array
import math
import sys
from typing import NoReturn

import tamlor
import tamlor_song

RATE = 44100
BPM = 100.0
KICK, SNARE, HAT = 36, 38, 42


def decaying(block: list[float], seconds: float) -> array.array[float]:
    """The block with an exponential fade: a drum hit."""
    k = math.exp(-1.0 / (seconds * RATE))
    return array.array("f", (x * k**i for i, x in enumerate(block)))


def centred_noise(amplitude: float, seed: int, frames: int) -> list[float]:
    """Seeded noise around zero (the source itself gives -amplitude..0)."""
    return [2.0 * x + amplitude for x in tamlor.NoiseSource(amplitude, seed).render_to_buffer(frames)]


def drum_samples() -> dict[int, tamlor.AudioSample]:
    n = RATE // 3
    kick = decaying(tamlor.SineOscillator(50.0, 1.0).render_to_buffer(n), 0.08)
    tone = tamlor.SquareOscillator(180.0, 0.2).render_to_buffer(n)
    snare = decaying([a + b for a, b in zip(tone, centred_noise(0.6, 5, n))], 0.05)
    hat = decaying(centred_noise(0.4, 9, n // 4), 0.012)
    return {note: tamlor.AudioSample(sound, root_note=note)
            for note, sound in ((KICK, kick), (SNARE, snare), (HAT, hat))}


def pattern(length: int, hits: dict[int, int], note: int) -> tamlor.Pattern:
    """A looping pattern of `length` steps; `hits` maps a step to its velocity."""
    p = tamlor.Pattern(length)
    for index, velocity in hits.items():
        p.set_step(index, tamlor.Step(note, velocity))
    return p


def build() -> tamlor_song.Song:
    song = tamlor_song.Song(bpm=BPM, sample_rate=RATE)
    sounds = drum_samples()
    hit = tamlor.Envelope(attack=0.0, decay=0.0, sustain=1.0, release=0.03)
    # One bar of sixteenths for the kick and the snare (backbeat with a ghost note).
    kick = pattern(16, {0: 127, 7: 90, 8: 120, 10: 100}, KICK)
    snare = pattern(16, {4: 120, 12: 120, 15: 45}, SNARE)
    # One beat of triplets for the hi-hat: accent, soft, medium.
    hat = pattern(3, {0: 110, 1: 50, 2: 75}, HAT)
    for name, note, grid, gain, pan, p in (("Kick", KICK, 0.25, 0.9, 0.0, kick),
                                           ("Snare", SNARE, 0.25, 0.7, -0.15, snare),
                                           ("Hat", HAT, 1 / 3, 0.5, 0.45, hat)):
        track = song.add_track(name, tamlor.Sampler(sounds[note], sample_rate=RATE, max_voices=4),
                               gain=gain, pan=pan, envelope=hit)
        track.add_pattern(p, grid)
    return song


class Arguments(argparse.ArgumentParser):
    """Bad arguments end in one line on stderr and exit status 2."""

    def error(self, message: str) -> NoReturn:
        self.exit(2, f"{self.prog}: {message} (see --help)\n")


def main() -> None:
    parser = Arguments(description=(__doc__ or "").split("\n\n")[0])
    parser.add_argument("--output", default="drums.wav", help="the WAV file to write")
    parser.add_argument("--bars", type=int, default=2, help="how many bars to play")
    args = parser.parse_args()
    if not 1 <= args.bars <= 512:
        parser.error(f"argument --bars: {args.bars} is not a number of bars from 1 to 512")

    song = build()
    frames = song.frame_at(4.0 * args.bars)
    samples = song.render(frames)
    try:
        tamlor.AudioBuffer.write_wav(args.output, samples, RATE, 2)
    except OSError as exc:
        sys.exit(f"cannot write {args.output}: {exc.strerror or exc}")
    hats = [song.frame_at(k / 3) for k in range(4)]
    print(f"wrote {args.output}: {args.bars} bars at {BPM:g} bpm, {frames} frames; "
          f"the first hi-hat triplets start on frames {hats}")


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit("interrupted")
