"""Cost of rendering a 512-frame block with each generator, as ratios to
array('f', ...).tolist() of 512 floats measured in the same run: turning a
ready block of 32-bit samples into a Python list is the floor for any
renderer that hands its block back as a list. Then render_into a 512-frame
float32 NumPy array, as a ratio to render_to_buffer(512) of the same class:
what handing the block over as an array saves."""
import sys
from array import array

from common import best_per_call, report, report_pairs
import numpy as np
import tamlor


def main():
    block = array("f", [0.25] * 512)
    env = {
        "block": block,
        "sine": tamlor.SineOscillator(),
        "square": tamlor.SquareOscillator(),
        "saw": tamlor.SawOscillator(),
        "noise": tamlor.NoiseSource(),
    }
    names = ("sine", "square", "saw", "noise")
    stmts = ["block.tolist()"] + [f"{name}.render_to_buffer(512)" for name in names]
    times = best_per_call(stmts, env, number=1_000)
    rows = [("array('f', 512).tolist()", times[0], None)]
    rows += [(stmt, t, 2.0) for stmt, t in zip(stmts[1:], times[1:])]
    failures = report("Generators, one 512-frame block (ratio to array.tolist):", rows, "array('f', 512).tolist()")
    print()
    env["out"] = np.zeros(512, dtype=np.float32)
    pairs = []
    for name in names:
        base, t = best_per_call([f"{name}.render_to_buffer(512)", f"{name}.render_into(out)"], env, number=1_000)
        pairs.append((f"{type(env[name]).__name__}.render_into(512 float32)", base, t, 0.2))
    return failures + report_pairs("Generators, render_into (ratio to render_to_buffer(512) of the same class):",
                                   pairs)


if __name__ == "__main__":
    sys.exit(1 if main() else 0)
