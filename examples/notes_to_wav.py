"""A short piece written as plain lists of notes, rendered with the song layer
and written to a 16-bit stereo WAV file, or played on the default output.

Each note is a tuple (start beat, length in beats, MIDI note, velocity). The
melody plays on a two-zone sample map (a soft sine below middle C, a brighter
square from it up) and the accompaniment on one looping sawtooth; both
sounds are made with the oscillators, and the envelopes shape them into
plucked notes. The last bar slows down through a few tempo changes. Every
note starts at the frame its beat falls on; the song is rendered 1024 frames
at a time, as it would be for a sound card, and the file is the same
whatever the block size.

    python examples/notes_to_wav.py [--output notes.wav] [--play]
"""
import argparse
import array
import sys
from typing import NoReturn

import tamlor
import tamlor_song

RATE = 44100

# (start beat, beats, note, velocity). Triplets in bar 3, a held last chord.
MELODY = [
    (0.0, 1.0, 64, 90), (1.0, 0.5, 67, 80), (1.5, 0.5, 69, 80), (2.0, 1.5, 72, 100), (3.5, 0.5, 71, 70),
    (4.0, 1.0, 69, 90), (5.0, 1.0, 67, 80), (6.0, 2.0, 64, 85),
    (8.0, 1 / 3, 62, 80), (8 + 1 / 3, 1 / 3, 64, 80), (8 + 2 / 3, 1 / 3, 65, 80), (9.0, 1.0, 67, 95),
    (10.0, 1 / 3, 69, 80), (10 + 1 / 3, 1 / 3, 67, 75), (10 + 2 / 3, 1 / 3, 65, 70), (11.0, 1.0, 64, 85),
    (12.0, 1.0, 62, 80), (13.0, 1.0, 59, 75), (14.0, 2.0, 60, 90),
]
CHORDS = [(0.0, (48, 55, 64)), (4.0, (45, 52, 60)), (8.0, (41, 48, 57)), (10.0, (43, 50, 59)),
          (12.0, (43, 50, 53)), (14.0, (36, 43, 52))]
ACCOMPANIMENT = [(beat + i * 0.02, 2.0 - i * 0.02, note, 60 + 8 * i)   # a gently rolled chord
                 for beat, chord in CHORDS for i, note in enumerate(chord)]


def looped(oscillator: "tamlor.SineOscillator | tamlor.SquareOscillator | tamlor.SawOscillator",
           hz: float, root: int) -> tamlor.AudioSample:
    """One second of the oscillator, looping over a whole number of cycles."""
    sample = tamlor.AudioSample(oscillator.render_to_buffer(RATE), root_note=root)
    sample.loop_start, sample.loop_end = 0, round(int(hz) * RATE / hz)
    return sample


def build() -> tamlor_song.Song:
    song = tamlor_song.Song(bpm=96.0, sample_rate=RATE)
    # A ritardando over the last bar.
    for beat, bpm in ((12.0, 88.0), (13.0, 80.0), (14.0, 70.0)):
        song.set_tempo(beat, bpm)
    zones = tamlor.SampleMap()
    zones.add_mapping(tamlor.SampleMapping(looped(tamlor.SineOscillator(440.0, 0.6), 440.0, 69), 0, 59, 0, 127))
    zones.add_mapping(tamlor.SampleMapping(looped(tamlor.SquareOscillator(440.0, 0.25), 440.0, 69), 60, 127, 0, 127))
    pluck = tamlor.Envelope(attack=0.003, decay=0.9, sustain=0.25, release=0.25)
    melody = song.add_track("Melody", zones, gain=0.9, pan=0.2, envelope=pluck, max_voices=6)
    melody.add_notes(MELODY)
    saw = tamlor.Sampler(looped(tamlor.SawOscillator(110.0, 0.4), 110.0, 45), sample_rate=RATE, max_voices=8)
    accompaniment = song.add_track("Accompaniment", saw, gain=0.6, pan=-0.25,
                                   envelope=tamlor.Envelope(attack=0.01, decay=1.5, sustain=0.3, release=0.6))
    accompaniment.add_notes(ACCOMPANIMENT)
    song.master_gain = 0.8
    return song


class Arguments(argparse.ArgumentParser):
    """Bad arguments end in one line on stderr and exit status 2."""

    def error(self, message: str) -> NoReturn:
        self.exit(2, f"{self.prog}: {message} (see --help)\n")


def main() -> None:
    parser = Arguments(description=__doc__.split("\n\n")[0])
    parser.add_argument("--output", default="tamlor_notes.wav", help="the WAV file to write")
    parser.add_argument("--play", action="store_true", help="play the piece instead of writing it")
    args = parser.parse_args()

    song = build()
    length = song.length_beats()
    assert length is not None  # no looping patterns here
    # The last note's release is 0.6 s: leave a second for it to ring out.
    frames = song.frame_at(length) + RATE
    out = array.array("f", bytes(8 * frames))
    view = memoryview(out)
    block = 1024
    for start in range(0, frames, block):
        song.render_into(view[2 * start:2 * min(frames, start + block)])
    if args.play:
        try:
            device = tamlor.AudioOutput(sample_rate=RATE, channels=2, buffer_size=block)
        except RuntimeError as exc:
            sys.exit(f"cannot play: {exc}")
        try:
            device.start()
            device.write(out)  # returns once the device has taken every frame
            device.stop()  # lets the last frames play out
        except RuntimeError as exc:
            sys.exit(f"cannot play: {exc}")
        print(f"played {frames} frames, {frames / RATE:.2f} s")
        return
    try:
        tamlor.AudioBuffer.write_wav(args.output, out, RATE, 2)
    except OSError as exc:
        sys.exit(f"cannot write {args.output}: {exc.strerror or exc}")
    print(f"wrote {args.output}: {len(MELODY) + len(ACCOMPANIMENT)} notes, {frames} frames, "
          f"{frames / RATE:.2f} s ({length:g} beats at {', '.join(f'{bpm:g}' for _, bpm in song.tempo_map)} bpm)")


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit("interrupted")
