"""What showing a song in a notebook costs, as a share of writing it to a WAV
file: the 1,500-note, 2.5-minute piece of bench_song.py is written with
`Song.write_wav` as 16-bit PCM (the baseline), shown with `_repr_html_()`
(which renders a copy through the same write_wav, then embeds the file as
base64 beside the piano roll), and drawn alone with `piano_roll()`. Showing
is held to three times the write: the copy and the roll cost little, but
base64 of tens of megabytes is a fixed cost beside a render that is fast
(about 1.5 times on a quiet machine).

    python bench/bench_notebook.py
"""
import pathlib
import sys
import tempfile
import time
from typing import Any, Callable

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

from bench_song import piece  # noqa: E402
from common import Row, report  # noqa: E402

LIMIT = 3.0


def best(calls: list[Callable[[], Any]], rounds: int) -> list[float]:
    """Best seconds of each call, timed in turns (each once per round), so a
    change in the machine's load falls on all of them alike."""
    times = [float("inf")] * len(calls)
    for _ in range(rounds):
        for i, fn in enumerate(calls):
            start = time.perf_counter()
            fn()
            times[i] = min(times[i], time.perf_counter() - start)
    return times


def main(rounds: int = 5) -> list[str]:
    song = piece()
    length = song.length_frames()
    assert length is not None
    with tempfile.TemporaryDirectory() as tmp:
        path = pathlib.Path(tmp) / "piece.wav"
        assert "<audio" in song._repr_html_()
        write, show, roll = best([lambda: song.write_wav(str(path), "pcm16"), song._repr_html_, song.piano_roll],
                                 rounds)
    rows: list[Row] = [
        (f"song.write_wav, pcm16 ({length / song.sample_rate:.1f} s stereo)", write, None),
        ("song._repr_html_(): player and roll", show, LIMIT),
        ("song.piano_roll()", roll, None),
    ]
    return report("Showing a song in a notebook, as a share of writing its WAV file", rows, rows[0][0])


if __name__ == "__main__":
    sys.exit(1 if main() else 0)
