"""Live playback: a short piece rendered block by block, each block played on
the default audio output as soon as it is made.

The piece (a looping arpeggio from a step pattern over a bass line, on a
`tamlor_song.Song`) is rendered 512 frames at a time into one reused buffer,
and `AudioOutput.write` hands each block to the device, returning once the
device has taken it, so the loop runs at the pace of the sound card. At the
end `stop()` lets the last frames play out and the script reports the
underruns (blocks that came too late). Everything played is also written to
the --output WAV file. On a machine without an output device the script
says so, still writes the file, and exits with status 1.

    python examples/live_playback.py [--output played.wav]
"""
from __future__ import annotations

import argparse
import array
import sys
from typing import NoReturn

import tamlor
import tamlor_song

RATE = 44100
BLOCK = 512
BPM = 128.0
BARS = 2
ARPEGGIO = (57, 64, 69, 72, 76, 72, 69, 64)   # sixteenth notes over A minor
BASS = [(0.0, 1.5, 33), (1.5, 0.5, 45), (2.0, 2.0, 41), (4.0, 1.5, 36), (5.5, 0.5, 48), (6.0, 2.0, 40)]


def looped(oscillator: tamlor.SawOscillator | tamlor.SquareOscillator, hz: float, root: int,
           cycles: int) -> tamlor.AudioSample:
    sample = tamlor.AudioSample(oscillator.render_to_buffer(RATE // 2), root_note=root)
    sample.loop_start, sample.loop_end = 0, round(cycles * RATE / hz)
    return sample


def build() -> tamlor_song.Song:
    song = tamlor_song.Song(bpm=BPM, sample_rate=RATE)
    pattern = tamlor.Pattern(len(ARPEGGIO))
    for i, note in enumerate(ARPEGGIO):
        pattern.set_step(i, tamlor.Step(note, 110 if i % 4 == 0 else 75))
    arp = song.add_track("Arpeggio", tamlor.Sampler(looped(tamlor.SquareOscillator(440.0, 0.25), 440.0, 69, 110),
                                                    sample_rate=RATE), gain=0.6, pan=0.3,
                         envelope=tamlor.Envelope(attack=0.002, decay=0.12, sustain=0.2, release=0.08))
    arp.add_pattern(pattern, 0.25, end_beat=4.0 * BARS)
    bass = song.add_track("Bass", tamlor.Sampler(looped(tamlor.SawOscillator(110.0, 0.5), 110.0, 45, 55),
                                                 sample_rate=RATE), gain=0.8, pan=-0.2,
                          envelope=tamlor.Envelope(attack=0.005, decay=0.3, sustain=0.6, release=0.1))
    bass.add_notes([(beat, length, note, 110) for beat, length, note in BASS])
    return song


class Arguments(argparse.ArgumentParser):
    """Bad arguments end in one line on stderr and exit status 2."""

    def error(self, message: str) -> NoReturn:
        self.exit(2, f"{self.prog}: {message} (see --help)\n")


def main() -> None:
    parser = Arguments(description=(__doc__ or "").split("\n\n")[0])
    parser.add_argument("--output", default="played.wav", help="the WAV file that records what was played")
    args = parser.parse_args()

    song = build()
    frames = song.frame_at(4.0 * BARS) + RATE // 4  # and a little for the releases
    try:
        output: tamlor.AudioOutput | None = tamlor.AudioOutput(sample_rate=RATE, channels=2, buffer_size=BLOCK)
    except RuntimeError as exc:
        output = None
        print(f"cannot play: {exc}; writing {args.output} without playing it", file=sys.stderr)
    played = array.array("f")
    block = array.array("f", bytes(8 * BLOCK))
    try:
        if output is not None:
            print(f"playing on {output.device_name()} ...")
            output.start()
        for start in range(0, frames, BLOCK):
            view = memoryview(block)[:2 * min(BLOCK, frames - start)]
            song.render_into(view)
            if output is not None:
                output.write(view)
            played.extend(view)
    except RuntimeError as exc:
        sys.exit(f"cannot play: {exc}")
    try:
        tamlor.AudioBuffer.write_wav(args.output, played, RATE, 2)
    except OSError as exc:
        sys.exit(f"cannot write {args.output}: {exc.strerror or exc}")
    if output is None:
        raise SystemExit(1)
    try:
        output.stop()
    except RuntimeError as exc:
        sys.exit(f"cannot play: {exc}")
    print(f"played {frames} frames ({frames / RATE:.2f} s) with {output.underruns()} underruns; "
          f"wrote {args.output}")


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit("interrupted")
