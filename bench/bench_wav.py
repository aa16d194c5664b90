"""What writing a rendered song to a WAV file costs, as a share of rendering
it: the demo song at 48 bars (102.9 seconds of stereo at 44.1 kHz) is rendered
once, then written with AudioBuffer.write_wav as 16-bit PCM and as 32-bit
float, from the float32 array the demo builds and from a list. NumPy is
blocked from loading, so the figures hold on a machine without it. Writing
the demo's array is held to 10% of the render; the list rows show what
reading 9 million Python floats one by one adds.

    python bench/bench_wav.py
"""
import pathlib
import sys
import tempfile
import time

sys.modules["numpy"] = None  # any import of NumPy now fails

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent / "examples"))

import tamlor  # noqa: E402
from common import report  # noqa: E402
import demo  # noqa: E402

BARS = 48
LIMIT = 0.10


def best_of(fn, repeat):
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def main():
    box = {}

    def render():
        box["song"] = demo.render_song(BARS, 7, verbose=False)

    render_time = best_of(render, 3)
    song = box["song"]
    as_list = song.tolist()
    seconds = len(song) / 2 / demo.RATE
    with tempfile.TemporaryDirectory() as tmp:
        path = pathlib.Path(tmp) / "song.wav"
        rows = [(f"render the demo song ({seconds:.1f} s stereo)", render_time, None)]
        for name, samples in (("float32 array", song), ("list", as_list)):
            for encoding in ("pcm16", "float32"):
                t = best_of(lambda: tamlor.AudioBuffer.write_wav(path, samples, demo.RATE, 2, encoding), 7)
                rows.append((f"write_wav {encoding} from a {name}", t, LIMIT if name != "list" else None))
    return report("WAV writing against rendering (share of the render)", rows, rows[0][0])


if __name__ == "__main__":
    sys.exit(1 if main() else 0)
