"""Cost of rendering a 512-frame block with each generator, as ratios to
array('f', ...).tolist() of 512 floats measured in the same run: turning a
ready block of 32-bit samples into a Python list is the floor for any
renderer that hands its block back as a list."""
import sys
from array import array

import tamlor
from common import Row, best_per_call, report


def main() -> list[str]:
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
    rows: list[Row] = [("array('f', 512).tolist()", times[0], None)]
    rows += [(stmt, t, 2.0) for stmt, t in zip(stmts[1:], times[1:])]
    return report("Generators, one 512-frame block (ratio to array.tolist):", rows, "array('f', 512).tolist()")


if __name__ == "__main__":
    sys.exit(1 if main() else 0)
