"""Cost of Mixer.mix_down for 8 channels of 512 frames, as a ratio to the
cheapest way the same work's list handling can be done without the mixer in
the same run: converting each of the 8 input lists with array('f', lst) and
making the 1024-float output list with tolist(). The mixing arithmetic itself
is small beside that conversion."""
import sys
from array import array

import tamlor
from common import Row, best_per_call, report


def main() -> list[str]:
    mixer = tamlor.Mixer()
    for i in range(8):
        mixer.add_channel(f"ch{i}")
        mixer.set_channel_pan(i, -1.0 + i * 2.0 / 7.0)
    buffers = [[((i * 31 + j * 7) % 200 - 100) / 100.0 for j in range(512)] for i in range(8)]
    out = array("f", [0.0] * 1024)
    env = {"mixer": mixer, "buffers": buffers, "array": array, "out": out}
    baseline = "[array('f', b) for b in buffers]; out.tolist()"
    base_time, mix_time = best_per_call([baseline, "mixer.mix_down(buffers)"], env, number=300)
    rows: list[Row] = [(baseline, base_time, None), ("mixer.mix_down(buffers), 8 x 512", mix_time, 2.0)]
    return report("Mixer, one 8-channel 512-frame block (ratio to array conversion):", rows, baseline)


if __name__ == "__main__":
    sys.exit(1 if main() else 0)
