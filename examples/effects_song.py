"""Effects on a song: a bass line and a pluck melody, each through a filter
and a compressor on its own track, the melody sent to a shared reverb bus
and a ping-pong echo bus, and a limiter last on the master, written to a
16-bit stereo WAV file with the reverb's tail.

Effects come from `tamlor_fx` and are plain objects in lists: `track.effects`
runs on the track after its gain and pan, `song.add_bus(name, effects)` makes
a shared chain fed by `track.send(name, level)`, and `song.effects` runs on
the whole mix after the master gain. `song.length_frames()` counts the
effects' tails, so the file ends once the reverb has died away.

    python examples/effects_song.py [--output effects.wav] [--dry]
"""
from __future__ import annotations

import argparse
import sys
from typing import NoReturn

import tamlor
import tamlor_fx as fx
import tamlor_song

RATE = 44100


def looped(oscillator: tamlor.SawOscillator | tamlor.SquareOscillator, root: int) -> tamlor.AudioSample:
    """One second of a waveform as a looping sample played at `root`."""
    sample = tamlor.AudioSample(oscillator.render_to_buffer(RATE), root_note=root)
    sample.loop_start, sample.loop_end = 0, RATE
    return sample


def build(dry: bool = False) -> tamlor_song.Song:
    song = tamlor_song.Song(bpm=110.0, sample_rate=RATE)
    bass = song.add_track("Bass", tamlor.Sampler(looped(tamlor.SawOscillator(55.0, 0.6), 33), sample_rate=RATE),
                          gain=0.9, envelope=tamlor.Envelope(0.005, 0.2, 0.6, 0.1))
    lead = song.add_track("Lead", tamlor.Sampler(looped(tamlor.SquareOscillator(440.0, 0.3), 69), sample_rate=RATE),
                          gain=0.6, pan=-0.2, envelope=tamlor.Envelope(0.002, 0.25, 0.0, 0.05))
    line = [33, 33, 36, 31] * 2
    bass.add_notes([(2.0 * i, 1.8, note, 100) for i, note in enumerate(line)])
    melody = [69, 72, 76, 74, 72, 69, 67, 69, 72, 74, 76, 79, 76, 74, 72, 69]
    lead.add_notes([(i, 0.5, note, 90 + (i % 4) * 8) for i, note in enumerate(melody)])
    if dry:
        return song
    bass.effects = [fx.Filter("lowpass", frequency=600.0, q=1.2),
                    fx.Compressor(threshold_db=-18.0, ratio=4.0, attack=0.01, release=0.15)]
    lead.effects = [fx.Filter("peak", frequency=2500.0, q=1.0, gain_db=4.0),
                    fx.Compressor(threshold_db=-20.0, ratio=3.0)]
    song.add_bus("room", [fx.Reverb(decay=2.5, predelay=0.03, damping=0.4, mix=1.0)])
    song.add_bus("echo", [fx.Delay(time=60.0 / 110.0 * 0.75, feedback=0.35, mix=1.0, ping_pong=True)])
    lead.send("room", 0.35)
    lead.send("echo", 0.25)
    bass.send("room", 0.1)
    song.master_gain = 1.2
    song.effects = [fx.Limiter(ceiling_db=-1.0)]
    return song


class Arguments(argparse.ArgumentParser):
    """Bad arguments end in one line on stderr and exit status 2."""

    def error(self, message: str) -> NoReturn:
        self.exit(2, f"{self.prog}: {message} (see --help)\n")


def main() -> None:
    parser = Arguments(description=(__doc__ or "").split("\n\n")[0])
    parser.add_argument("--output", default="effects.wav", help="the WAV file to write")
    parser.add_argument("--dry", action="store_true", help="leave the effects off")
    args = parser.parse_args()

    song = build(args.dry)
    frames = song.length_frames() or 0
    samples = song.render(frames)
    try:
        tamlor.AudioBuffer.write_wav(args.output, samples, RATE, 2)
    except OSError as exc:
        sys.exit(f"cannot write {args.output}: {exc.strerror or exc}")
    peak = max(abs(x) for x in samples)
    print(f"wrote {args.output}: {frames} frames ({frames / RATE:.2f} s), peak {peak:.3f}")


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit("interrupted")
