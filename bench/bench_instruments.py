"""MIDI file + General MIDI SoundFont -> WAV file, here and with the reference
synthesizer (the Debian `fluidsynth` program, reverb and chorus off), timed
side by side in one run: a 60-second, eight-part General MIDI piece (about
1,900 notes, drums included) rendered whole, each side loading the bank,
reading the MIDI file and writing the WAV file; then the bank loaded and only
the first second rendered; then the samples of an SFZ library (one 60-second
stereo WAV) read beside `soundfile.read` of the same file. Each row is our
time over the reference's: the whole-file render is held to 0.5 (at least
twice as fast), the first second to 1.0. Rows whose reference is missing are
skipped with a note.

    python bench/bench_instruments.py [--font /usr/share/sounds/sf2/TimGM6mb.sf2]
"""
import argparse
import os
import pathlib
import random
import shutil
import subprocess
import sys
import tempfile
import time
import warnings
from typing import Callable, Optional

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import tamlor  # noqa: E402
from common import PairRow, report_pairs  # noqa: E402
from tamlor_song import Song, SoundFont, load_sfz  # noqa: E402

RATE = 44100
# (channel, program, lowest note, highest note, notes per beat): a small band.
PARTS = [(0, 0, 48, 84, 2), (1, 32, 28, 48, 1), (2, 48, 55, 79, 0.5), (3, 24, 48, 72, 2),
         (4, 73, 65, 89, 1), (5, 11, 60, 84, 2), (6, 56, 55, 77, 0.5)]


def piece(path: str, seconds: float) -> None:
    """Writes a seeded General MIDI piece of about `seconds` at 120 bpm."""
    rng = random.Random(5)
    song = Song(bpm=120, sample_rate=RATE)
    beats = seconds * 2
    for channel, program, low, high, rate in PARTS:
        track = song.add_track(f"part {channel}", tamlor.SampleMap())
        track.channel, track.program = channel, program
        step = 1 / rate
        notes = []
        b = 0.0
        while b < beats:
            notes.append((b, step * rng.choice((0.5, 0.9, 1.0)), rng.randint(low, high), rng.randint(50, 120)))
            b += step
        track.add_notes(notes)
    drums = song.add_track("drums", tamlor.SampleMap())
    drums.channel, drums.program = 9, 0
    drums.add_notes([(k * 0.25, 0.2, (36, 42, 38, 42)[k % 4], 100) for k in range(int(beats * 4))])
    song.write_midi(path)


def best(fn: Callable[[], object], rounds: int = 3) -> float:
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return min(times)


def ours(font: str, midi: str, out: str, frames: Optional[int] = None) -> None:
    song = Song.from_midi(midi, sample_rate=RATE, instruments=SoundFont(font))
    if frames is None:
        song.write_wav(out)
    else:
        tamlor.AudioBuffer.write_wav(out, song.render(frames), RATE, 2)


def theirs(font: str, midi: str, out: str) -> None:
    subprocess.run(["fluidsynth", "-ni", "-g", "1.0", "-R", "0", "-C", "0", "-r", str(RATE), "-F", out, font, midi],
                   check=True, capture_output=True)


def main() -> list[str]:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--font", default="/usr/share/sounds/sf2/TimGM6mb.sf2")
    args, _ = parser.parse_known_args()
    rows: list[PairRow] = []
    with tempfile.TemporaryDirectory() as tmp:
        whole, first = os.path.join(tmp, "piece.mid"), os.path.join(tmp, "first.mid")
        piece(whole, 60.0)
        piece(first, 1.0)
        out = os.path.join(tmp, "out.wav")
        if shutil.which("fluidsynth") and os.path.exists(args.font):
            ref = best(lambda: theirs(args.font, whole, out))
            mine = best(lambda: ours(args.font, whole, out))
            rows.append(("60 s piece, load bank + render + write WAV (vs fluidsynth -F)", ref, mine, 0.5))
            ref = best(lambda: theirs(args.font, first, out), 5)
            mine = best(lambda: ours(args.font, first, out, RATE), 5)
            rows.append(("load bank + render the first second (vs fluidsynth -F)", ref, mine, 1.0))
        else:
            print("(fluidsynth or the bank is missing: the reference rows are skipped)")
        try:
            import soundfile  # type: ignore[import-not-found, import-untyped, unused-ignore]
        except ImportError:
            print("(soundfile is missing: the sample-reading row is skipped)")
        else:
            wav = os.path.join(tmp, "long.wav")
            tamlor.AudioBuffer.write_wav(wav, [0.25, -0.25] * (60 * RATE), RATE, 2, "float32")
            sfz = os.path.join(tmp, "long.sfz")
            pathlib.Path(sfz).write_text("<region> sample=long.wav\n")
            ref = best(lambda: soundfile.read(wav, dtype="float32"))
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                mine = best(lambda: load_sfz(sfz))
            rows.append(("SFZ of one 60 s stereo WAV (vs soundfile.read)", ref, mine, None))
    return report_pairs("Instruments: our time / the reference's, same run", rows)


if __name__ == "__main__":
    sys.exit(1 if main() else 0)
