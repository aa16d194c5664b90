"""The tamlor demo: a short song rendered block by block to a 16-bit stereo WAV
file, or played on the default audio output device.

A TransportClock hands out the beat range of each 512-frame block. Step
sequencers play the drum patterns and event sequences the bass line and the
melody; their events start and release voices on Samplers whose sounds were
made with the oscillators and the seeded noise source. A pad of sine
oscillators holds a drone on A and E under the chords. Every source renders
into its own preallocated block, and the Mixer pans and balances the parts
and mixes each block down to interleaved stereo straight into the song's
buffer, which goes to the file through AudioBuffer.write_wav, or with --play
to an AudioOutput. The same seed gives the same file, byte for byte.

    python examples/demo.py [--output song.wav] [--seed 7] [--bars 8] [--play]
"""
from __future__ import annotations

import argparse
import array
import math
import os
import sys
from typing import Sequence

import tamlor

RATE = 44100
BLOCK = 512
BPM = 112.0

# Drum voices: MIDI note -> mixer channel name.
KICK, SNARE, HAT = 36, 38, 42
# One bar of sixteenth notes per drum: kick, snare on 2 and 4, hats.
DRUM_PATTERN = {KICK: (0, 6, 8, 11), SNARE: (4, 12), HAT: (0, 2, 4, 6, 8, 10, 12, 14, 15)}
# Chords for the bass and the melody, one per bar: A minor, F, C, G.
CHORDS = [(57, 60, 64), (53, 57, 60), (48, 52, 55), (55, 59, 62)]
# The pad's drone: A3, E4, A4. Its oscillators run for the whole song, so their
# waves never break off (a restarted oscillator would click).
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
    return {
        "kick": tamlor.AudioSample(kick, root_note=KICK),
        "snare": tamlor.AudioSample(snare, root_note=SNARE),
        "hat": tamlor.AudioSample(hat, root_note=HAT),
        "bass": bass,
        "lead": lead,
    }


def make_parts(bars: int, seed: int) -> tuple[list[tamlor.StepSequencer], tamlor.EventSequence,
                                             tamlor.EventSequence]:
    """The drum pattern and the bass and melody sequences."""
    # A pattern cell holds one note, so each drum has a pattern of its own.
    drums = []
    for note, steps in DRUM_PATTERN.items():
        pattern = tamlor.Pattern(16)
        for i in steps:
            pattern.set_step(i, tamlor.Step(note, 120 if note != HAT else 70))
        drums.append(tamlor.StepSequencer(pattern, channel=9))

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


class Part:
    """A sampler and the note-offs it still owes."""

    def __init__(self, sample: tamlor.AudioSample, envelope: tamlor.Envelope, voices: int = 8) -> None:
        self.sampler = tamlor.Sampler(sample, sample_rate=RATE, max_voices=voices)
        self.sampler.set_envelope(envelope)
        self.pending_offs: list[tuple[float, int]] = []  # (beat, note)

    def play(self, event: tamlor.NoteEvent) -> None:
        self.sampler.note_on(event.note, event.velocity)
        self.pending_offs.append((event.end_position(), event.note))

    def release_until(self, end: float) -> None:
        due = [off for off in self.pending_offs if off[0] < end]
        self.pending_offs = [off for off in self.pending_offs if off[0] >= end]
        for _, note in due:
            self.sampler.note_off(note)


def render_song(bars: int, seed: int, verbose: bool = True) -> array.array[float]:
    sounds = make_sounds(seed)
    drums, bass_line, melody = make_parts(bars, seed)
    tight = tamlor.Envelope(attack=0.0, decay=0.0, sustain=1.0, release=0.02)
    drum_parts = {note: Part(sounds[name], tight, voices=4)
                  for note, name in ((KICK, "kick"), (SNARE, "snare"), (HAT, "hat"))}
    bass = Part(sounds["bass"], tamlor.Envelope(attack=0.005, decay=0.2, sustain=0.6, release=0.05), voices=2)
    lead = Part(sounds["lead"], tamlor.Envelope(attack=0.01, decay=0.1, sustain=0.5, release=0.15), voices=4)

    mixer = tamlor.Mixer()
    layout = [("Kick", 0.9, 0.0), ("Snare", 0.7, 0.1), ("Hats", 0.45, 0.4), ("Bass", 0.8, -0.05),
              ("Lead", 0.55, -0.35), ("Pad 1", 0.5, -0.6), ("Pad 2", 0.5, 0.0), ("Pad 3", 0.5, 0.6)]
    for name, gain, pan in layout:
        index = mixer.add_channel(name)
        mixer.set_channel_gain(index, gain)
        mixer.set_channel_pan(index, pan)
    mixer.master_gain = 0.7

    clock = tamlor.TransportClock(bpm=BPM)
    clock.play()
    total_frames = round(bars * 4 * 60.0 / BPM * RATE)
    pad = [tamlor.SineOscillator(frequency=tamlor.Note(n).to_hz(), amplitude=0.2) for n in PAD]
    # One block per mixer channel, in channel order, rendered in place every
    # block and mixed straight into the song's own memory.
    sources: list[tamlor.Sampler | tamlor.SineOscillator] = [
        drum_parts[KICK].sampler, drum_parts[SNARE].sampler, drum_parts[HAT].sampler, bass.sampler, lead.sampler]
    sources += pad
    blocks = [array.array("f", bytes(4 * BLOCK)) for _ in sources]
    block_count = -(-total_frames // BLOCK)
    out = array.array("f", bytes(4 * 2 * BLOCK * block_count))
    song = memoryview(out)
    for block_index in range(block_count):
        span = clock.advance_by_frames(BLOCK, RATE)
        assert span is not None  # None only while the clock is not playing
        start, end = span
        # The sequencer reports each note-off with its note-on; its time (in
        # millionths of a beat) says when it is due.
        hits = [hit for sequencer in drums for hit in sequencer.process_beat_range(start, end)]
        for kind, note, velocity, time in hits:
            part = drum_parts[note]
            if kind == "note_on":
                part.sampler.note_on(note, velocity)
            else:
                part.pending_offs.append((time / 1_000_000, note))
        for part in drum_parts.values():
            part.release_until(end)
        started: list[int] = []
        for part, sequence in ((bass, bass_line), (lead, melody)):
            part.release_until(end)
            for event in sequence.events_starting_in_range(start, end):
                part.play(event)
                started.append(event.note)
        if verbose and start < 2.0 and (hits or started):
            print(f"block {block_index:3} beats [{start:.3f}, {end:.3f}): drums {hits} notes {started}")
        for source, block in zip(sources, blocks):
            source.render_into(block)
        mixer.mix_down_into(song[2 * BLOCK * block_index:2 * BLOCK * (block_index + 1)], blocks)
    song.release()
    del out[2 * total_frames:]
    if verbose:
        print(mixer)
    return out


def play(samples: Sequence[float]) -> bool:
    """Plays interleaved stereo on the default output device; False when there is none."""
    try:
        output = tamlor.AudioOutput(sample_rate=RATE, channels=2, buffer_size=BLOCK)
    except RuntimeError as exc:
        print(f"cannot play: {exc} (this machine has no audio output to play on)", file=sys.stderr)
        return False
    print(f"playing on {output.device_name()} ...")
    output.start()
    output.write(samples)  # returns once the device has taken every frame
    output.stop()  # lets the last frames play out
    return True


def side_stats(samples: Sequence[float]) -> list[tuple[float, float]]:
    left, right = samples[0::2], samples[1::2]
    stats: list[tuple[float, float]] = []
    for side in (left, right):
        peak = max((abs(x) for x in side), default=0.0)
        rms = math.sqrt(sum(x * x for x in side) / len(side)) if side else 0.0
        stats.append((peak, rms))
    return stats


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--output", default="tamlor_demo.wav", help="the WAV file to write")
    parser.add_argument("--seed", type=int, default=7, help="seed for the noise and the melody")
    parser.add_argument("--bars", type=int, default=8, help="length of the song in bars")
    parser.add_argument("--quiet", action="store_true", help="print only the summary")
    parser.add_argument("--play", action="store_true", help="play the song instead of writing it")
    args = parser.parse_args()

    samples = render_song(args.bars, args.seed, verbose=not args.quiet)
    frames = len(samples) // 2
    if args.play:
        if not play(samples):
            sys.exit(1)
        print(f"played {frames} frames, {frames / RATE:.2f} s")
    else:
        tamlor.AudioBuffer.write_wav(args.output, samples, RATE, 2, "pcm16")
        path = os.path.abspath(args.output)
        print(f"wrote {path}: {frames} frames, {frames / RATE:.2f} s, 16-bit stereo at {RATE} Hz")
    for name, (peak, rms) in zip(("left", "right"), side_stats(samples)):
        print(f"  {name:5}: peak {peak:.4f}, RMS {rms:.4f}")


if __name__ == "__main__":
    main()
