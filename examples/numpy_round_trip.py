"""A NumPy round trip: tamlor renders into NumPy arrays, NumPy processes the
audio, and the result goes to a WAV file, which is read back and checked.

A sampler plays an arpeggio into one float32 array (each note starts on its
exact frame by rendering into slices), and a noise source and a sine render
into the rows of a (channels, frames) array; the mixer mixes the rows into
a (frames, 2) array with `mix_down_into`. NumPy then adds a ping-pong echo
(left repeats on the right and back), fades the end out and normalises the
peak, all in float32, and `AudioBuffer.write_wav` writes the array as 32-bit
float samples. Reading the file back with `AudioBuffer.read_wav` gives the
same numbers, bit for bit.

    python examples/numpy_round_trip.py [--output echo.wav]
"""
from __future__ import annotations

import argparse
import sys
from typing import NoReturn

import numpy as np
import numpy.typing as npt

import tamlor

RATE = 44100
SECONDS = 4.0
ARPEGGIO = [57, 60, 64, 69, 72, 69, 64, 60]  # A minor, up and down
NOTE_FRAMES = RATE // 8

Audio = npt.NDArray[np.float32]


def sources(frames: int) -> Audio:
    """Three mono sources as the rows of one array: sampler, breath noise, drone."""
    rows: Audio = np.zeros((3, frames), dtype=np.float32)
    period = np.arange(RATE // 2, dtype=np.float64)
    pluck = (np.sin(2 * np.pi * 220.0 / RATE * period) * np.exp(-period / (0.08 * RATE))).astype(np.float32)
    sampler = tamlor.Sampler(tamlor.AudioSample(pluck, root_note=57), sample_rate=RATE, max_voices=4)
    at = 0
    for note in ARPEGGIO * 2:
        sampler.render_into(rows[0, at:at + NOTE_FRAMES // 2])
        at += NOTE_FRAMES // 2
        sampler.note_on(note, 100)
        sampler.render_into(rows[0, at:at + NOTE_FRAMES // 2])
        at += NOTE_FRAMES // 2
        sampler.note_off(note)
    sampler.render_into(rows[0, at:])
    tamlor.NoiseSource(amplitude=0.08, seed=11).render_into(rows[1])
    rows[1] += np.float32(0.04)  # the noise is one-sided: centre it
    tamlor.SineOscillator(frequency=110.0, amplitude=0.15, sample_rate=RATE).render_into(rows[2])
    return rows


def ping_pong(stereo: Audio, delay: int, feedback: float, repeats: int) -> Audio:
    """Adds echoes `delay` frames apart, each `feedback` times the one before,
    alternating between the channels."""
    out = stereo.copy()
    tap = stereo
    for k in range(1, repeats + 1):
        tap = tap[:, ::-1] * np.float32(feedback)  # swap the sides
        out[k * delay:] += tap[:len(out) - k * delay]
    return out


class Arguments(argparse.ArgumentParser):
    """Bad arguments end in one line on stderr and exit status 2."""

    def error(self, message: str) -> NoReturn:
        self.exit(2, f"{self.prog}: {message} (see --help)\n")


def main() -> None:
    parser = Arguments(description=(__doc__ or "").split("\n\n")[0])
    parser.add_argument("--output", default="echo.wav", help="the WAV file to write")
    args = parser.parse_args()

    frames = round(SECONDS * RATE)
    rows = sources(frames)
    mixer = tamlor.Mixer()
    for name, gain, pan in (("Arpeggio", 1.0, -0.4), ("Breath", 0.5, 0.3), ("Drone", 0.8, 0.0)):
        index = mixer.add_channel(name)
        mixer.set_channel_gain(index, gain)
        mixer.set_channel_pan(index, pan)
    stereo: Audio = np.empty((frames, 2), dtype=np.float32)
    mixer.mix_down_into(stereo, rows)

    wet = ping_pong(stereo, delay=3 * NOTE_FRAMES // 2, feedback=0.5, repeats=4)
    fade = np.minimum(np.float32(1.0), np.linspace(4.0, 0.0, frames, dtype=np.float32))
    wet *= fade[:, None]
    wet *= np.float32(0.9) / np.abs(wet).max()

    try:
        tamlor.AudioBuffer.write_wav(args.output, wet.ravel(), RATE, 2, "float32")
    except OSError as exc:
        sys.exit(f"cannot write {args.output}: {exc.strerror or exc}")
    back = tamlor.AudioBuffer.read_wav(args.output)
    read: Audio = np.array(back.to_list(), dtype=np.float32).reshape(-1, 2)
    if not np.array_equal(read, wet):
        raise SystemExit(f"{args.output} does not hold the samples written")
    rms = np.sqrt(np.mean(np.square(wet, dtype=np.float64), axis=0))
    print(f"wrote {args.output}: {frames} frames of 32-bit float stereo; "
          f"RMS left {rms[0]:.4f}, right {rms[1]:.4f}; read back bit for bit")


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit("interrupted")
