"""Shared timing helpers for the benchmarks: every figure is a ratio to a
baseline measured in the same run, so machines and loads compare."""
import os
import time
import timeit
from typing import Any, Callable, Optional, Sequence

# One line of a report: name, seconds per call, and the largest ratio to the
# baseline allowed (None: no limit).
Row = tuple[str, float, Optional[float]]
# A line of a paired report: name, baseline seconds, seconds, limit or None.
PairRow = tuple[str, float, float, Optional[float]]

# NumPy baselines run on one thread, as the module does: its BLAS reads these
# when it is first imported, so they are set before any benchmark imports it.
for _var in ("OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS", "MKL_NUM_THREADS", "BLIS_NUM_THREADS",
             "VECLIB_MAXIMUM_THREADS", "NUMEXPR_NUM_THREADS"):
    os.environ[_var] = "1"


def seconds(call: Callable[[], Any]) -> float:
    """Seconds one call of `call` takes (for calls too long to repeat by the
    thousand, timed once per round by the caller)."""
    start = time.perf_counter()
    call()
    return time.perf_counter() - start


def per_call(stmt: str, setup: str = "pass", globals: Optional[dict[str, Any]] = None, number: int = 200_000,
             repeat: int = 7) -> float:
    """Best time per execution of `stmt`, in seconds."""
    timer = timeit.Timer(stmt, setup=setup, globals=globals)
    return min(timer.repeat(repeat=repeat, number=number)) / number


def best_per_call(stmts: Sequence[str], globals: dict[str, Any], number: int, rounds: int = 15) -> list[float]:
    """Best seconds per execution for each statement of `stmts`, timed in
    turns (each statement once per round, round after round) so that a change
    in the machine's load falls on the baseline and the measured calls alike."""
    timers = [timeit.Timer(s, globals=globals) for s in stmts]
    best = [float("inf")] * len(stmts)
    for _ in range(rounds):
        for i, timer in enumerate(timers):
            best[i] = min(best[i], timer.timeit(number) / number)
    return best


def _print_ratios(title: str, rows: Sequence[tuple[str, float, Optional[float]]], width: int,
                  digits: int) -> list[str]:
    """Prints rows (name, ratio, limit or None); returns the names over their limit."""
    print(title)
    failures: list[str] = []
    for name, ratio, limit in rows:
        mark = ""
        if limit is not None:
            mark = f"  (limit {limit:.{digits - 1}f}x)" + ("" if ratio <= limit else "  OVER")
            if ratio > limit:
                failures.append(name)
        print(f"  {name:<{width}} {ratio:6.{digits}f}x{mark}")
    return failures


def report(title: str, rows: Sequence[Row], baseline_name: str) -> list[str]:
    """Prints `rows` (name, seconds, limit or None) as ratios to the baseline row."""
    base = dict((name, t) for name, t, _ in rows)[baseline_name]
    return _print_ratios(title, [(name, t / base, limit) for name, t, limit in rows], 48, 2)


def report_pairs(title: str, rows: Sequence[PairRow]) -> list[str]:
    """Prints rows (name, baseline seconds, seconds, limit or None) as the
    ratio of each call to its own baseline; returns the names over their limit."""
    return _print_ratios(title, [(name, t / base, limit) for name, base, t, limit in rows], 60, 3)
