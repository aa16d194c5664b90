"""The tamlor demo: a short song rendered block by block to a 16-bit stereo WAV
file, or played on the default audio output device.

A `tamlor_song.Song` holds the arrangement: drum patterns looping on a grid
of sixteenth notes, a bass line and a melody from event sequences, and a pad
of three held notes, each part a track with a Sampler whose sound was made
with the oscillators and the seeded noise source. The song starts and stops
every note at its own frame, and mixes the tracks (gain, constant-power pan,
master gain) to interleaved stereo, 512 frames at a time, straight into the
song's preallocated buffer, which goes to the file through
`AudioBuffer.write_wav`, or with --play to an `AudioOutput`. The same seed
gives the same file, byte for byte.

With --midi FILE the demo plays a MIDI file instead: with a General MIDI
SoundFont when one is installed in /usr/share/sounds/sf2/ (Debian's
fluid-soundfont-gm or timgm6mb-soundfont), else with the built-in sounds.

    python examples/demo.py [--output song.wav] [--seed 7] [--bars 8] [--play] [--midi FILE]
"""
from __future__ import annotations

import argparse
import array
import math
import os
import sys
from typing import NoReturn, Sequence

import tamlor
import tamlor_song

RATE = 44100
BLOCK = 512
BPM = 112.0
# The longest song --bars asks for: about 17 minutes, 350 MB of samples.
MAX_BARS = 512

# Drum voices: MIDI note -> mixer channel name.
KICK, SNARE, HAT = 36, 38, 42
# One bar of sixteenth notes per drum: kick, snare on 2 and 4, hats.
DRUM_PATTERN = {KICK: (0, 6, 8, 11), SNARE: (4, 12), HAT: (0, 2, 4, 6, 8, 10, 12, 14, 15)}
# Chords for the bass and the melody, one per bar: A minor, F, C, G.
CHORDS = [(57, 60, 64), (53, 57, 60), (48, 52, 55), (55, 59, 62)]
# The pad's drone: A3, E4, A4, held for the whole song.
PAD = (57, 64, 69)


def decaying(block: Sequence[float], seconds: float) -> list[float]:
    """Shapes a rendered block with an exponential fade (for drum sounds)."""
    k = math.exp(-1.0 / (seconds * RATE))
    level, out = 1.0, list[float]()
    for x in block:
        out.append(x * level)
        level *= k
    return out


def make_sounds(seed: int) -> dict[str, tamlor.AudioSample]:
    """The samplers' sounds, made from the generators."""
    n = int(0.35 * RATE)
    kick = decaying(tamlor.SineOscillator(frequency=55.0, amplitude=1.0).render_to_buffer(n), 0.09)
    body = tamlor.SineOscillator(frequency=185.0, amplitude=0.5).render_to_buffer(n)
    # The noise source is one-sided (-amplitude..0); centre it on zero.
    rattle = [2.0 * x + 0.5 for x in tamlor.NoiseSource(amplitude=0.5, seed=seed).render_to_buffer(n)]
    snare = decaying([a + b for a, b in zip(body, rattle)], 0.06)
    hiss = [2.0 * x + 0.4 for x in tamlor.NoiseSource(amplitude=0.4, seed=seed + 1).render_to_buffer(n // 4)]
    hat = decaying(hiss, 0.015)
    # The bass: a looped sawtooth at A1 (55 Hz), whole cycles between the loop points.
    cycles = 24
    bass = tamlor.AudioSample(tamlor.SawOscillator(frequency=55.0, amplitude=0.6).render_to_buffer(RATE),
                              root_note=33)
    bass.loop_start, bass.loop_end = 0, round(cycles * RATE / 55.0)
    lead = tamlor.AudioSample(tamlor.SquareOscillator(frequency=440.0, amplitude=0.25).render_to_buffer(RATE),
                              root_note=69)
    lead.loop_start, lead.loop_end = 0, round(110 * RATE / 440.0)
    # The pad: a sine at A4, 110 whole cycles between the loop points.
    pad = tamlor.AudioSample(tamlor.SineOscillator(frequency=440.0, amplitude=0.2).render_to_buffer(RATE),
                             root_note=69)
    pad.loop_start, pad.loop_end = 0, round(110 * RATE / 440.0)
    return {
        "kick": tamlor.AudioSample(kick, root_note=KICK),
        "snare": tamlor.AudioSample(snare, root_note=SNARE),
        "hat": tamlor.AudioSample(hat, root_note=HAT),
        "bass": bass,
        "lead": lead,
        "pad": pad,
    }


def make_parts(bars: int, seed: int) -> tuple[list[tamlor.Pattern], tamlor.EventSequence,
                                             tamlor.EventSequence]:
    """The drum patterns and the bass and melody sequences."""
    # A pattern cell holds one note, so each drum has a pattern of its own.
    drums: list[tamlor.Pattern] = []
    for note, steps in DRUM_PATTERN.items():
        pattern = tamlor.Pattern(16)
        for i in steps:
            pattern.set_step(i, tamlor.Step(note, 120 if note != HAT else 70))
        drums.append(pattern)

    bass, melody = tamlor.EventSequence(), tamlor.EventSequence()
    # A small seeded generator picks the melody notes from each bar's chord.
    state = seed & 0xFFFFFFFF
    for bar in range(bars):
        chord = CHORDS[bar % len(CHORDS)]
        root = chord[0] - 24
        for beat in (0.0, 1.5, 2.0, 3.0):
            bass.add_event(tamlor.NoteEvent(bar * 4 + beat, 0.45, root + (12 if beat == 1.5 else 0), 110))
        for eighth in range(8):
            state = (state * 1103515245 + 12345) & 0x7FFFFFFF
            if state % 3 == 0:
                continue  # a rest
            note = chord[state % 3] + 12 * (1 + (state >> 8) % 2)
            melody.add_event(tamlor.NoteEvent(bar * 4 + eighth * 0.5, 0.4, note, 70 + state % 40))
    return drums, bass, melody


def render_song(bars: int, seed: int, verbose: bool = True) -> array.array[float]:
    sounds = make_sounds(seed)
    drums, bass_line, melody = make_parts(bars, seed)
    song = tamlor_song.Song(bpm=BPM, sample_rate=RATE)
    song.master_gain = 0.7
    tight = tamlor.Envelope(attack=0.0, decay=0.0, sustain=1.0, release=0.02)
    for (name, gain, pan), sound, pattern in zip(
            [("Kick", 0.9, 0.0), ("Snare", 0.7, 0.1), ("Hats", 0.45, 0.4)],
            [sounds["kick"], sounds["snare"], sounds["hat"]], drums):
        track = song.add_track(name, tamlor.Sampler(sound, sample_rate=RATE), gain=gain, pan=pan,
                               envelope=tight, max_voices=4)
        # Sixteenth-note steps, looping for the whole song.
        track.add_pattern(pattern, 0.25)
    bass = song.add_track("Bass", tamlor.Sampler(sounds["bass"], sample_rate=RATE), gain=0.8, pan=-0.05,
                          envelope=tamlor.Envelope(attack=0.005, decay=0.2, sustain=0.6, release=0.05),
                          max_voices=2)
    bass.add_notes(bass_line)
    lead = song.add_track("Lead", tamlor.Sampler(sounds["lead"], sample_rate=RATE), gain=0.55, pan=-0.35,
                          envelope=tamlor.Envelope(attack=0.01, decay=0.1, sustain=0.5, release=0.15),
                          max_voices=4)
    lead.add_notes(melody)
    # The pad: one looping sine per note, held from the first beat to the last.
    for i, (note, pan) in enumerate(zip(PAD, (-0.6, 0.0, 0.6))):
        pad = song.add_track(f"Pad {i + 1}", tamlor.Sampler(sounds["pad"], sample_rate=RATE), gain=0.5, pan=pan,
                             envelope=tamlor.Envelope(attack=0.5, decay=0.0, sustain=1.0, release=0.5))
        pad.add_note(0.0, bars * 4.0, note, 100)

    total_frames = song.frame_at(bars * 4.0)
    if verbose:
        for track in song.tracks:
            print(track)
        # Each note starts at the frame its beat falls on, whatever the block size.
        for name, sequence in (("bass", bass_line), ("melody", melody)):
            starts = [(e.beat_position, e.note, song.frame_at(e.beat_position))
                      for e in sequence.events_starting_in_range(0.0, 2.0)]
            print(f"{name} notes in the first two beats (beat, note, frame): {starts}")
    # The whole song's memory at once; each block is rendered into its slice.
    out = array.array("f", bytes(4 * 2 * total_frames))
    view = memoryview(out)
    for start in range(0, total_frames, BLOCK):
        song.render_into(view[2 * start:2 * min(total_frames, start + BLOCK)])
    view.release()
    return out


def play(samples: Sequence[float]) -> bool:
    """Plays interleaved stereo on the default output device; False when there
    is none or it fails."""
    try:
        output = tamlor.AudioOutput(sample_rate=RATE, channels=2, buffer_size=BLOCK)
    except RuntimeError as exc:
        print(f"cannot play: {exc} (this machine has no audio output to play on)", file=sys.stderr)
        return False
    print(f"playing on {output.device_name()} ...")
    try:
        output.start()
        output.write(samples)  # returns once the device has taken every frame
        output.stop()  # lets the last frames play out
    except RuntimeError as exc:
        print(f"cannot play: {exc}", file=sys.stderr)
        return False
    return True


def side_stats(samples: Sequence[float]) -> list[tuple[float, float]]:
    left, right = samples[0::2], samples[1::2]
    stats: list[tuple[float, float]] = []
    for side in (left, right):
        peak = max((abs(x) for x in side), default=0.0)
        rms = math.sqrt(sum(x * x for x in side) / len(side)) if side else 0.0
        stats.append((peak, rms))
    return stats


# General MIDI banks, in the order they are looked for.
GM_BANKS = ("/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/sounds/sf2/FluidR3_GM.sf2",
            "/usr/share/sounds/sf2/TimGM6mb.sf2")


def render_midi(path: str, verbose: bool = True) -> array.array[float]:
    """The whole of a MIDI file, with a General MIDI bank when one is installed."""
    bank = next((b for b in GM_BANKS if os.path.exists(b)), None)
    instruments = tamlor_song.SoundFont(bank) if bank is not None else None
    if verbose:
        print(f"{path}: played with {bank if bank is not None else 'the built-in sounds'}")
    song = tamlor_song.Song.from_midi(path, sample_rate=RATE, instruments=instruments)
    frames = song.length_frames()
    return song.render(frames if frames is not None else 0)


class Arguments(argparse.ArgumentParser):
    """Bad arguments end in one line on stderr and exit status 2."""

    def error(self, message: str) -> NoReturn:
        self.exit(2, f"{self.prog}: {message} (see --help)\n")


def main() -> None:
    parser = Arguments(description=__doc__.split("\n\n")[0])
    parser.add_argument("--output", default="tamlor_demo.wav", help="the WAV file to write")
    parser.add_argument("--seed", type=int, default=7, help="seed for the noise and the melody, 0 to 4294967295")
    parser.add_argument("--bars", type=int, default=8, help=f"length of the song in bars, 1 to {MAX_BARS}")
    parser.add_argument("--quiet", action="store_true", help="print only the summary")
    parser.add_argument("--play", action="store_true", help="play the song instead of writing it")
    parser.add_argument("--midi", metavar="FILE", help="play this MIDI file instead of the demo song")
    args = parser.parse_args()
    if not 0 <= args.seed <= 0xFFFFFFFF:
        parser.error(f"argument --seed: {args.seed} is not a seed from 0 to 4294967295")
    if not 1 <= args.bars <= MAX_BARS:
        parser.error(f"argument --bars: {args.bars} is not a number of bars from 1 to {MAX_BARS}")
    folder = os.path.dirname(os.path.abspath(args.output))
    if not args.play and not os.path.isdir(folder):
        sys.exit(f"cannot write {args.output}: there is no folder {folder}")

    if args.midi is not None:
        try:
            samples = render_midi(args.midi, verbose=not args.quiet)
        except (OSError, ValueError) as exc:
            print(f"demo: {args.midi}: {exc.strerror if isinstance(exc, OSError) and exc.strerror else exc}",
                  file=sys.stderr)
            sys.exit(1)
    else:
        samples = render_song(args.bars, args.seed, verbose=not args.quiet)
    frames = len(samples) // 2
    if args.play:
        if not play(samples):
            sys.exit(1)
        print(f"played {frames} frames, {frames / RATE:.2f} s")
    else:
        try:
            tamlor.AudioBuffer.write_wav(args.output, samples, RATE, 2, "pcm16")
        except OSError as exc:
            sys.exit(f"cannot write {args.output}: {exc.strerror or exc}")
        path = os.path.abspath(args.output)
        print(f"wrote {path}: {frames} frames, {frames / RATE:.2f} s, 16-bit stereo at {RATE} Hz")
    for name, (peak, rms) in zip(("left", "right"), side_stats(samples)):
        print(f"  {name:5}: peak {peak:.4f}, RMS {rms:.4f}")


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit("interrupted")
