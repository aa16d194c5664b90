"""Cost of rendering a 512-frame block with each generator, as ratios to
array('f', ...).tolist() of 512 floats measured in the same run: turning a
ready block of 32-bit samples into a Python list is the floor for any
renderer that hands its block back as a list."""
import sys
from array import array

import tamlor
from common import per_call, report


def main():
    block = array("f", [0.25] * 512)
    env = {
        "block": block,
        "sine": tamlor.SineOscillator(),
        "square": tamlor.SquareOscillator(),
        "saw": tamlor.SawOscillator(),
        "noise": tamlor.NoiseSource(),
    }
    n = 5_000
    rows = [("array('f', 512).tolist()", per_call("block.tolist()", globals=env, number=n), None)]
    for name in ("sine", "square", "saw", "noise"):
        rows.append((f"{name}.render_to_buffer(512)", per_call(f"{name}.render_to_buffer(512)", globals=env, number=n), 2.0))
    return report("Generators, one 512-frame block (ratio to array.tolist):", rows, "array('f', 512).tolist()")


if __name__ == "__main__":
    sys.exit(1 if main() else 0)
