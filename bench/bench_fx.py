"""Each effect processing one 512-frame stereo block of 32-bit floats in place
(process_into), as a ratio to pedalboard's matching plugin called on the same
block in the same run (pedalboard takes (channels, frames) and returns a new
array; it is called with reset=False, so both keep their state from block to
block, as in a live stream; ours is handed a fresh copy of the block each
call, so every call sees the same input, and pays for the copy). Below 1.0 is faster than pedalboard. Then, for
every effect, processing silence right after a loud burst as a ratio to
processing noise: state that turned subnormal would make silence slower.
Last, a 16-track, 3-minute song with a filter and a compressor on every
track, a reverb send and a limiter on the master, rendered in one call: its
render time over its duration."""
import sys
from typing import Any

from common import PairRow, best_per_call, report_pairs
import numpy as np
import tamlor_fx as fx

SR = 44100


def pairs_with_pedalboard(env: dict[str, Any]) -> list[PairRow]:
    try:
        import pedalboard as pb  # type: ignore[import-not-found, unused-ignore]
    except ImportError:
        print("pedalboard is not installed: no comparison")
        return []
    cases = [
        ("Filter lowpass", fx.Filter("lowpass", frequency=1200.0, q=0.707), pb.LowpassFilter(cutoff_frequency_hz=1200.0)),
        ("Filter highpass", fx.Filter("highpass", frequency=300.0, q=0.707), pb.HighpassFilter(cutoff_frequency_hz=300.0)),
        ("Filter peak", fx.Filter("peak", frequency=1000.0, q=1.0, gain_db=6.0),
         pb.PeakFilter(cutoff_frequency_hz=1000.0, gain_db=6.0, q=1.0)),
        ("Filter lowshelf", fx.Filter("lowshelf", frequency=200.0, q=0.707, gain_db=4.0),
         pb.LowShelfFilter(cutoff_frequency_hz=200.0, gain_db=4.0, q=0.707)),
        ("Filter highshelf", fx.Filter("highshelf", frequency=5000.0, q=0.707, gain_db=-4.0),
         pb.HighShelfFilter(cutoff_frequency_hz=5000.0, gain_db=-4.0, q=0.707)),
        ("Delay", fx.Delay(time=0.375, feedback=0.4, mix=0.3), pb.Delay(delay_seconds=0.375, feedback=0.4, mix=0.3)),
        ("Reverb", fx.Reverb(decay=2.0, mix=0.25), pb.Reverb(room_size=0.5, wet_level=0.25, dry_level=0.75)),
        ("Compressor", fx.Compressor(threshold_db=-18.0, ratio=4.0, attack=0.005, release=0.1),
         pb.Compressor(threshold_db=-18.0, ratio=4.0, attack_ms=5.0, release_ms=100.0)),
        ("Limiter", fx.Limiter(ceiling_db=-0.3, release=0.05), pb.Limiter(threshold_db=-0.3, release_ms=50.0)),
    ]
    rows: list[PairRow] = []
    for name, ours, theirs in cases:
        env["ours"], env["theirs"] = ours, theirs
        # The block is copied in first each time (a cost pedalboard is spared),
        # so every call sees the same input.
        base, t = best_per_call(["theirs(planar, SR, reset=False)", "work[:] = block; ours.process_into(work)"],
                                env, number=500)
        rows.append((f"{name}: process_into(512x2) vs pedalboard", base, t, 1.0))
    return rows


def denormal_rows(env: dict[str, Any]) -> list[PairRow]:
    rows: list[PairRow] = []
    effects: list[fx.Filter | fx.Delay | fx.Reverb | fx.Compressor | fx.Limiter] = [
        fx.Filter("lowpass", frequency=1200.0), fx.Delay(), fx.Reverb(), fx.Compressor(), fx.Limiter()]
    for effect in effects:
        burst = (np.random.default_rng(2).standard_normal((SR, 2)) * 2.0).astype(np.float32)
        effect.process_into(burst)
        env["effect"] = effect
        # Silence first, while the tail of the burst is still dying away.
        silent, noisy = best_per_call(["work[:] = silence; effect.process_into(work)",
                                       "work[:] = noise; effect.process_into(work)"], env, number=200, rounds=7)
        rows.append((f"{type(effect).__name__}: silence after a burst vs noise", noisy, silent, 1.2))
    return rows


def main() -> list[str]:
    rng = np.random.default_rng(1)
    block = (rng.standard_normal((512, 2)) * 0.3).astype(np.float32)
    env: dict[str, Any] = {
        "SR": SR,
        "block": block,
        "planar": np.ascontiguousarray(block.T),
        "silence": np.zeros((512, 2), np.float32),
        "noise": block.copy(),
        "work": block.copy(),
    }
    failures = report_pairs("Effects, one 512-frame stereo block (ratio to pedalboard's plugin):",
                            pairs_with_pedalboard(env))
    print()
    failures += report_pairs("Effects, silence after a burst (ratio to noise):", denormal_rows(env))
    print()
    return failures + report_pairs("A 16-track, 3-minute song with effects, one call (ratio of render time to "
                                   "the song's duration; 0.005 is 200x real time):", [song_row()])


def song_row() -> PairRow:
    import array
    import time

    song, frames = effects_song()
    out = array.array("f", bytes(8 * frames))
    best = float("inf")
    for _ in range(3):
        song.reset()
        start = time.perf_counter()
        song.render_into(out)
        best = min(best, time.perf_counter() - start)
    return ("render_into(whole song) / duration", frames / SR, best, 0.005)



def effects_song() -> tuple[Any, int]:
    """16 tracks (four sets of a lead, a bass, two-zone chords and drums), 288
    beats at 96 bpm (three minutes), a filter and a compressor on every track,
    every track sending to a reverb bus, a limiter on the master."""
    import math

    import tamlor
    import tamlor_song

    def looped(oscillator: Any, frames: int, root: int) -> tamlor.AudioSample:
        sample = tamlor.AudioSample(oscillator.render_to_buffer(frames), root_note=root)
        sample.loop_start, sample.loop_end = 0, frames
        return sample

    song = tamlor_song.Song(bpm=96.0, sample_rate=SR)
    env = tamlor.Envelope(0.005, 0.1, 0.7, 0.1)
    decay = [math.exp(-i / 2000.0) for i in range(8000)]
    hit = tamlor.NoiseSource(0.5, seed=3).render_to_buffer(8000)
    song.add_bus("room", [fx.Reverb(decay=1.8, mix=1.0, sample_rate=SR)])
    beats = 288.0
    for copy_index in range(4):
        zones = tamlor.SampleMap()
        zones.add_mapping(tamlor.SampleMapping(looped(tamlor.SawOscillator(220.0, 0.2), 4410, 57), 0, 63, 0, 127))
        zones.add_mapping(tamlor.SampleMapping(looped(tamlor.SineOscillator(440.0, 0.3), 4410, 69), 64, 127, 0, 127))
        instruments: list[tuple[tamlor.Sampler | tamlor.SampleMap, int, int]] = [
            (tamlor.Sampler(looped(tamlor.SquareOscillator(440.0, 0.3), 4400, 69), sample_rate=SR), 600, 60),
            (tamlor.Sampler(looped(tamlor.SawOscillator(55.0, 0.5), 4410, 33), sample_rate=SR), 300, 36),
            (zones, 400, 55),
        ]
        for i, (instrument, count, low) in enumerate(instruments):
            track = song.add_track(f"t{copy_index}{i}", instrument, gain=0.3, pan=0.25 * (i - 1), envelope=env,
                                   max_voices=6)
            spacing = beats / count
            track.add_notes([(k * spacing, 0.8 * spacing, low + (k * 7 + copy_index) % 17, 70 + k % 50)
                             for k in range(count)])
        drum = tamlor.Sampler(tamlor.AudioSample([2.0 * x * d + 0.5 * d for x, d in zip(hit, decay)]),
                              sample_rate=SR)
        pattern = tamlor.Pattern(128)
        for i in range(25):
            pattern.set_step(i * 5, tamlor.Step(60 + i % 5, 100, 1))
        song.add_track(f"drums{copy_index}", drum, gain=0.3, max_voices=4).add_pattern(pattern, 0.25, end_beat=beats)
    for track in song.tracks:
        track.effects = [fx.Filter("lowpass", frequency=3000.0, sample_rate=SR),
                         fx.Compressor(threshold_db=-20.0, ratio=3.0, sample_rate=SR)]
        track.send("room", 0.2)
    song.effects.append(fx.Limiter(ceiling_db=-0.3, sample_rate=SR))
    return song, int(beats * 60 / 96.0 * SR)


if __name__ == "__main__":
    sys.exit(1 if main() else 0)
