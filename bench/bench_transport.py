"""Per-call cost of the TransportClock hot paths, as ratios to
math.copysign(1.0, 2.0) measured in the same run: a two-argument builtin call
that makes a float is the floor for any method call from Python."""
import math
import sys

import tamlor
from common import per_call, report


def main():
    clock = tamlor.TransportClock()
    clock.play()
    env = {"clock": clock, "math": math}
    rows = [
        ("math.copysign(1.0, 2.0)", per_call("copysign(1.0, 2.0)", globals={"copysign": math.copysign}), None),
        ("clock.advance_by_frames(512, 44100)", per_call("clock.advance_by_frames(512, 44100)", globals=env), 1.5),
        ("clock.seek(1.0)", per_call("clock.seek(1.0)", globals=env), 1.5),
        ("clock.beats_to_ticks(1.0)", per_call("clock.beats_to_ticks(1.0)", globals=env), 1.5),
        ("clock.bpm", per_call("clock.bpm", globals=env), 1.5),
        # For scale: the interpreter's own call that returns a fresh pair of floats.
        ("divmod(7.0, 3.0) (reference)", per_call("divmod(7.0, 3.0)"), None),
    ]
    return report("TransportClock, per call (ratio to math.copysign):", rows, "math.copysign(1.0, 2.0)")


if __name__ == "__main__":
    sys.exit(1 if main() else 0)
