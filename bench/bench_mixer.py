"""Cost of Mixer.mix_down for 8 channels of 512 frames, as a ratio to the
cheapest way the same work's list handling can be done without the mixer in
the same run: converting each of the 8 input lists with array('f', lst) and
making the 1024-float output list with tolist(). The mixing arithmetic itself
is small beside that conversion. Then the array road: mix_down_into a
float32 output from one (8, 512) float32 array and from a list of eight 1-D
arrays, as ratios to NumPy's own (X.T @ M).ravel() on the same arrays, M the
8 x 2 matrix of the channels' left and right factors (NumPy's BLAS held to
one thread)."""
import sys
from array import array

from common import best_per_call, report, report_pairs
import numpy as np
import tamlor


def main():
    mixer = tamlor.Mixer()
    for i in range(8):
        mixer.add_channel(f"ch{i}")
        mixer.set_channel_pan(i, -1.0 + i * 2.0 / 7.0)
    buffers = [[((i * 31 + j * 7) % 200 - 100) / 100.0 for j in range(512)] for i in range(8)]
    out = array("f", [0.0] * 1024)
    env = {"mixer": mixer, "buffers": buffers, "array": array, "out": out}
    baseline = "[array('f', b) for b in buffers]; out.tolist()"
    base_time, mix_time = best_per_call([baseline, "mixer.mix_down(buffers)"], env, number=300)
    rows = [(baseline, base_time, None), ("mixer.mix_down(buffers), 8 x 512", mix_time, 2.0)]
    failures = report("Mixer, one 8-channel 512-frame block (ratio to array conversion):", rows, baseline)
    print()
    x = np.asarray(buffers, dtype=np.float32)
    weights = np.array([[c.gain * np.cos((c.pan + 1.0) * 0.25 * np.pi), c.gain * np.sin((c.pan + 1.0) * 0.25 * np.pi)]
                        for c in (mixer.get_channel(i) for i in range(8))], dtype=np.float32) * mixer.master_gain
    env.update(x=x, rows=list(x), m=weights, flat=np.zeros(1024, dtype=np.float32))
    numpy_time, block_time, rows_time = best_per_call(
        ["(x.T @ m).ravel()", "mixer.mix_down_into(flat, x)", "mixer.mix_down_into(flat, rows)"], env, number=2_000)
    return failures + report_pairs("Mixer, the array road (ratio to NumPy's (X.T @ M).ravel()):", [
        ("mix_down_into(out, one (8, 512) float32 array)", numpy_time, block_time, 1.5),
        ("mix_down_into(out, eight 1-D float32 arrays)", numpy_time, rows_time, 3.0),
    ])


if __name__ == "__main__":
    sys.exit(1 if main() else 0)
