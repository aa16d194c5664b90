"""A score written as text, parsed and played by three instruments, and
written to a 16-bit stereo WAV file.

The score (the one below, or a file given with --score) has one line per
voice and bar lines between the bars: a note is PITCH:BEATS[:VELOCITY], with
pitches such as E5, F#3 or Bb2, a chord joins pitches with "+", "r" is a
rest, and lengths may be fractions (1/3 for triplets). `meter` sets the beats
in a bar, and every bar is checked to add up to it exactly; `tempo BPM
[at BEAT]` builds the tempo map. Lines starting with "#" are comments. A
mistake is reported with its line number. Each voice plays on a track of a
`tamlor_song.Song` whose sampler sound is made with the oscillators.

    python examples/text_score.py [--output score.wav] [--score my_score.txt]
"""
from __future__ import annotations

import argparse
import sys
from dataclasses import dataclass, field
from fractions import Fraction
from typing import NoReturn

import tamlor
import tamlor_song

RATE = 44100

SCORE = """\
# A short tune in C: a lead with a triplet turn, held chords and a bass.
meter 4
tempo 120
tempo 96 at 10
lead | E5:1 G5:1/2 A5:1/2 B5:1 A5:1:70 | G5:1/3 A5:1/3 G5:1/3 E5:1 D5:2 | E5:1/2 D5:1/2 C5:1 C5+E5:2:110 |
keys | C4+E4+G4:4:55 | A3+C4+E4:2:55 F3+A3+C4:2:55 | G3+B3+D4:2:55 C4+E4+G4:2:60 |
bass | C3:2 r:1 G2:1 | A2:2 F2:2 | G2:2 C2:2:110 |
"""

PITCHES = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}


class ScoreError(ValueError):
    pass


@dataclass
class Score:
    meter: Fraction = Fraction(4)
    tempos: list[tuple[float, float]] = field(default_factory=list)  # (beat, bpm)
    # voice -> [(start beat, beats, note, velocity)]
    voices: dict[str, list[tuple[float, float, int, int]]] = field(default_factory=dict)
    lengths: dict[str, Fraction] = field(default_factory=dict)


def pitch(text: str) -> int:
    """'C4' -> 60, 'F#3' -> 54, 'Bb2' -> 46."""
    letter, rest = text[:1].upper(), text[1:]
    accidental = 0
    while rest[:1] in ("#", "b"):
        accidental += 1 if rest[0] == "#" else -1
        rest = rest[1:]
    if letter not in PITCHES or not rest.lstrip("-").isdigit():
        raise ScoreError(f"not a pitch: {text!r}")
    note = PITCHES[letter] + accidental + 12 * (int(rest) + 1)
    if not 0 <= note <= 127:
        raise ScoreError(f"pitch {text!r} is outside MIDI notes 0-127")
    return note


def beats(text: str) -> Fraction:
    try:
        value = Fraction(text)
    except (ValueError, ZeroDivisionError):
        raise ScoreError(f"not a length in beats: {text!r}") from None
    if value <= 0:
        raise ScoreError(f"a length must be more than 0 beats: {text!r}")
    return value


def parse(text: str) -> Score:
    score = Score()
    for number, raw in enumerate(text.splitlines(), 1):
        line = raw.strip()
        if not line or line.startswith("#"):
            continue
        try:
            parse_line(score, line)
        except ScoreError as exc:
            raise ScoreError(f"line {number}: {exc}") from None
    if not score.tempos or score.tempos[0][0] != 0.0:
        raise ScoreError("the score needs a tempo from beat 0 (a line such as 'tempo 120')")
    return score


def parse_line(score: Score, line: str) -> None:
    words = line.split()
    if words[0] == "meter" and len(words) == 2:
        score.meter = beats(words[1])
        return
    if words[0] == "tempo" and len(words) in (2, 4) and (len(words) == 2 or words[2] == "at"):
        try:
            bpm, at = float(words[1]), float(words[3]) if len(words) == 4 else 0.0
        except ValueError:
            raise ScoreError(f"not a tempo: {line!r}") from None
        score.tempos.append((at, bpm))
        return
    voice, bars = words[0], line[len(words[0]):].split("|")
    notes = score.voices.setdefault(voice, [])
    beat = score.lengths.get(voice, Fraction(0))
    for index, bar in enumerate(bars):
        tokens = bar.split()
        if not tokens:
            continue
        bar_start = beat
        for token in tokens:
            parts = token.split(":")
            if len(parts) not in (2, 3):
                raise ScoreError(f"a note is PITCH:BEATS[:VELOCITY], not {token!r}")
            length = beats(parts[1])
            velocity = 90
            if len(parts) == 3:
                if not parts[2].isdigit() or not 1 <= int(parts[2]) <= 127:
                    raise ScoreError(f"velocity must be 1 to 127 in {token!r}")
                velocity = int(parts[2])
            if parts[0] != "r":
                for name in parts[0].split("+"):
                    notes.append((float(beat), float(length), pitch(name), velocity))
            beat += length
        # A bar between two bar lines must be whole; the open ends of a line may hold part of one.
        if 0 < index < len(bars) - 1 and beat - bar_start != score.meter:
            raise ScoreError(f"bar {index} of {voice} lasts {beat - bar_start} beats, not {score.meter}")
    score.lengths[voice] = beat


def looped(oscillator: tamlor.SineOscillator | tamlor.SquareOscillator | tamlor.SawOscillator,
           cycles: int) -> tamlor.AudioSample:
    """Half a second of a 440 Hz oscillator (A4), looping over whole cycles."""
    sample = tamlor.AudioSample(oscillator.render_to_buffer(RATE // 2), root_note=69)
    sample.loop_start, sample.loop_end = 0, round(cycles * RATE / 440.0)
    return sample


def instruments() -> dict[str, tuple[tamlor.Sampler, float, float]]:
    """The voices a score may use: a sampler, a gain and a pan each."""
    def sampler(sample: tamlor.AudioSample, envelope: tamlor.Envelope) -> tamlor.Sampler:
        s = tamlor.Sampler(sample, sample_rate=RATE, max_voices=8)
        s.set_envelope(envelope)
        return s
    return {
        "lead": (sampler(looped(tamlor.SquareOscillator(440.0, 0.2), 110),
                         tamlor.Envelope(attack=0.01, decay=0.2, sustain=0.6, release=0.15)), 0.8, 0.25),
        "keys": (sampler(looped(tamlor.SineOscillator(440.0, 0.35), 110),
                         tamlor.Envelope(attack=0.08, decay=0.5, sustain=0.7, release=0.4)), 0.7, -0.3),
        "bass": (sampler(looped(tamlor.SawOscillator(440.0, 0.35), 110),
                         tamlor.Envelope(attack=0.005, decay=0.3, sustain=0.5, release=0.1)), 0.8, 0.0),
    }


def build(score: Score) -> tamlor_song.Song:
    song = tamlor_song.Song(bpm=score.tempos[0][1], sample_rate=RATE)
    for at, bpm in score.tempos[1:]:
        song.set_tempo(at, bpm)
    available = instruments()
    for voice, notes in score.voices.items():
        if voice not in available:
            raise ScoreError(f"no instrument called {voice!r} (there are {', '.join(available)})")
        sampler, gain, pan = available[voice]
        song.add_track(voice, sampler, gain=gain, pan=pan).add_notes(notes)
    return song


class Arguments(argparse.ArgumentParser):
    """Bad arguments end in one line on stderr and exit status 2."""

    def error(self, message: str) -> NoReturn:
        self.exit(2, f"{self.prog}: {message} (see --help)\n")


def main() -> None:
    parser = Arguments(description=(__doc__ or "").split("\n\n")[0])
    parser.add_argument("--output", default="score.wav", help="the WAV file to write")
    parser.add_argument("--score", help="a text file with the score to play instead of the one built in")
    args = parser.parse_args()

    try:
        text = SCORE
        if args.score:
            with open(args.score, encoding="utf-8") as f:
                text = f.read()
        score = parse(text)
        song = build(score)
    except (OSError, ValueError) as exc:
        print(f"{args.score or 'score'}: {exc}", file=sys.stderr)
        raise SystemExit(2) from None
    length = song.length_beats() or 0.0
    frames = song.frame_at(length) + RATE // 2  # room for the last release
    try:
        tamlor.AudioBuffer.write_wav(args.output, song.render(frames), RATE, 2)
    except OSError as exc:
        sys.exit(f"cannot write {args.output}: {exc.strerror or exc}")
    count = sum(len(notes) for notes in score.voices.values())
    print(f"wrote {args.output}: {count} notes in {len(score.voices)} voices, {length:g} beats, {frames} frames")


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit("interrupted")
