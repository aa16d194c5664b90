"""Per-call cost of the TransportClock hot paths, as ratios to
math.copysign(1.0, 2.0) measured in the same run: a two-argument builtin call
that makes a float is the floor for any method call from Python."""
import math
import sys

import tamlor
from common import Row, best_per_call, report


def main() -> list[str]:
    clock = tamlor.TransportClock()
    clock.play()
    env = {"clock": clock, "math": math, "copysign": math.copysign}
    cases = [
        ("math.copysign(1.0, 2.0)", "math.copysign(1.0, 2.0)", None),
        # The same call without the module attribute lookup, for scale.
        ("copysign(1.0, 2.0), pre-bound (reference)", "copysign(1.0, 2.0)", None),
        ("clock.advance_by_frames(512, 44100)", "clock.advance_by_frames(512, 44100)", 1.5),
        ("clock.seek(1.0)", "clock.seek(1.0)", 1.5),
        ("clock.beats_to_ticks(1.0)", "clock.beats_to_ticks(1.0)", 1.5),
        ("clock.bpm", "clock.bpm", 1.5),
        # For scale: the interpreter's own call that returns a fresh pair of floats.
        ("divmod(7.0, 3.0) (reference)", "divmod(7.0, 3.0)", None),
    ]
    times = best_per_call([stmt for _, stmt, _ in cases], env, number=100_000)
    rows: list[Row] = [(name, t, limit) for (name, _, limit), t in zip(cases, times)]
    return report("TransportClock, per call (ratio to math.copysign):", rows, "math.copysign(1.0, 2.0)")


if __name__ == "__main__":
    sys.exit(1 if main() else 0)
