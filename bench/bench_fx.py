"""Each effect processing one 512-frame stereo block of 32-bit floats in place
(process_into), as a ratio to pedalboard's matching plugin called on the same
block in the same run (pedalboard takes (channels, frames) and returns a new
array; it is called with reset=False, so both keep their state from block to
block, as in a live stream). Below 1.0 is faster than pedalboard. Then, for
every effect, processing silence right after a loud burst as a ratio to
processing noise: state that turned subnormal would make silence slower."""
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
        base, t = best_per_call(["theirs(planar, SR, reset=False)", "ours.process_into(block)"], env, number=500)
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
        silent, noisy = best_per_call(["effect.process_into(silence)", "effect.process_into(noise)"], env,
                                      number=200, rounds=7)
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
    }
    failures = report_pairs("Effects, one 512-frame stereo block (ratio to pedalboard's plugin):",
                            pairs_with_pedalboard(env))
    print()
    return failures + report_pairs("Effects, silence after a burst (ratio to noise):", denormal_rows(env))


if __name__ == "__main__":
    sys.exit(1 if main() else 0)
