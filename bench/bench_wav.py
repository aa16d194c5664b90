"""What writing a rendered song to a WAV file costs, as a share of rendering
it: the demo song at 48 bars (102.9 seconds of stereo at 44.1 kHz) is rendered
once, then written with AudioBuffer.write_wav as 16-bit PCM and as 32-bit
float, from the float32 array the demo builds and from a list. NumPy is
blocked from loading, so the figures hold on a machine without it. Writing
the demo's array is held to 10% of the render; the list rows show what
reading 9 million Python floats one by one adds, and a plain write of the
float32 file's bytes shows the floor the file system sets.

    python bench/bench_wav.py
"""
import functools
import pathlib
import sys
import tempfile
from typing import Any, Callable, Optional

sys.modules["numpy"] = None  # type: ignore[assignment]  # any import of NumPy now fails

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent / "examples"))

import tamlor  # noqa: E402
from common import Row, report, seconds  # noqa: E402
import demo  # noqa: E402

BARS = 48
LIMIT = 0.10


def fresh(fn: Callable[[], Any], path: Optional[pathlib.Path] = None) -> float:
    """Seconds `fn` takes to write a new file at `path` (the old one is
    removed first, untimed)."""
    if path is not None and path.exists():
        path.unlink()
    return seconds(fn)


def main(rounds: int = 7) -> list[str]:
    song = demo.render_song(BARS, 7, verbose=False)
    as_list = song.tolist()
    length = len(song) / 2 / demo.RATE
    with tempfile.TemporaryDirectory() as tmp:
        names = [f"render the demo song ({length:.1f} s stereo)"]
        calls: list[tuple[Callable[[], Any], Optional[pathlib.Path]]] = [
            (lambda: demo.render_song(BARS, 7, verbose=False), None)]
        # The floor the file system sets: the float32 file's bytes written by Python.
        raw = song.tobytes()
        path = pathlib.Path(tmp) / "raw.bin"
        names.append("file.write of the same bytes as the float32 file")
        calls.append((functools.partial(path.write_bytes, raw), path))
        for name, samples in (("float32 array", song), ("list", as_list)):
            for encoding in ("pcm16", "float32"):
                path = pathlib.Path(tmp) / f"{encoding}-{len(calls)}.wav"
                names.append(f"write_wav {encoding} from a {name}")
                calls.append((functools.partial(tamlor.AudioBuffer.write_wav, path, samples, demo.RATE, 2, encoding),
                              path))
        # Round after round, every call once, so that a change in the
        # machine's load falls on the render and the writes alike.
        best = [float("inf")] * len(calls)
        for _ in range(rounds):
            for i, (call, target) in enumerate(calls):
                best[i] = min(best[i], fresh(call, target))
    rows: list[Row] = [(names[0], best[0], None)]
    rows += [(n, t, LIMIT if "array" in n else None) for n, t in zip(names[1:], best[1:])]
    return report("WAV writing against rendering (share of the render)", rows, names[0])


if __name__ == "__main__":
    sys.exit(1 if main() else 0)
