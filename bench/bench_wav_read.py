"""Reading a WAV file into a NumPy array of shape (frames, channels), float32,
beside soundfile.read(path, dtype="float32") on the same file in the same run:
60 seconds of stereo at 44.1 kHz as 32-bit float and as 16-bit PCM. tamlor's
road is AudioBuffer.wav_shape + AudioBuffer.read_wav_into (no list, one pass
into the array); read_wav + samples_into (through an AudioBuffer) is shown
too. Both read from the page cache (each file is read once before timing).
The float32 row is held to 1.5x of soundfile. Skipped without soundfile.

    python bench/bench_wav_read.py
"""
from __future__ import annotations

import pathlib
import sys
import tempfile
import time
from typing import Any, Callable

import numpy as np

import common  # noqa: F401  (one BLAS thread)
from common import PairRow, report_pairs
import tamlor

RATE = 44100
SECONDS = 60
LIMIT = 1.5


def seconds(call: Callable[[], Any]) -> float:
    start = time.perf_counter()
    call()
    return time.perf_counter() - start


def direct(path: pathlib.Path) -> np.ndarray[Any, np.dtype[np.float32]]:
    out = np.empty(tamlor.AudioBuffer.wav_shape(path), np.float32)
    tamlor.AudioBuffer.read_wav_into(path, out)
    return out


def through_buffer(path: pathlib.Path) -> np.ndarray[Any, np.dtype[np.float32]]:
    buffer = tamlor.AudioBuffer.read_wav(path)
    out = np.empty((buffer.frames, buffer.channels), np.float32)
    buffer.samples_into(out)
    return out


def main(rounds: int = 15) -> list[str]:
    try:
        import soundfile  # type: ignore[import-untyped, unused-ignore]
    except ImportError:
        print("soundfile is not installed: WAV reading is not compared")
        return []
    audio = np.random.default_rng(7).uniform(-1, 1, (RATE * SECONDS, 2)).astype(np.float32)
    rows: list[PairRow] = []
    with tempfile.TemporaryDirectory() as tmp:
        for encoding in ("float32", "pcm16"):
            path = pathlib.Path(tmp) / f"{encoding}.wav"
            tamlor.AudioBuffer.write_wav(path, audio, RATE, 2, encoding)
            theirs = soundfile.read(path, dtype="float32")[0]
            if not np.array_equal(direct(path), theirs) or not np.array_equal(through_buffer(path), theirs):
                raise SystemExit(f"{encoding}: tamlor and soundfile read different samples")
            calls = [lambda: soundfile.read(path, dtype="float32"), lambda: direct(path),
                     lambda: through_buffer(path)]
            times = [float("inf")] * len(calls)
            for _ in range(rounds):  # in turns, so load changes fall on both alike
                for i, call in enumerate(calls):
                    times[i] = min(times[i], seconds(call))
            rows.append((f"{encoding}: wav_shape + read_wav_into", times[0], times[1],
                         LIMIT if encoding == "float32" else None))
            rows.append((f"{encoding}: read_wav + samples_into", times[0], times[2], None))
    return report_pairs(f"{SECONDS} s stereo WAV into a float32 array (time / soundfile.read's)", rows)


if __name__ == "__main__":
    sys.exit(1 if main() else 0)
