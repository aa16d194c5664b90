"""Shared timing helpers for the benchmarks: every figure is a ratio to a
baseline measured in the same run, so machines and loads compare."""
import os
import timeit

# NumPy baselines run on one thread, as the module does: its BLAS reads these
# when it is first imported, so they are set before any benchmark imports it.
for _var in ("OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS", "MKL_NUM_THREADS", "BLIS_NUM_THREADS",
             "VECLIB_MAXIMUM_THREADS", "NUMEXPR_NUM_THREADS"):
    os.environ[_var] = "1"


def per_call(stmt, setup="pass", globals=None, number=200_000, repeat=7):
    """Best time per execution of `stmt`, in seconds."""
    timer = timeit.Timer(stmt, setup=setup, globals=globals)
    return min(timer.repeat(repeat=repeat, number=number)) / number


def best_per_call(stmts, globals, number, rounds=15):
    """Best seconds per execution for each statement of `stmts`, timed in
    turns (each statement once per round, round after round) so that a change
    in the machine's load falls on the baseline and the measured calls alike."""
    timers = [timeit.Timer(s, globals=globals) for s in stmts]
    best = [float("inf")] * len(stmts)
    for _ in range(rounds):
        for i, timer in enumerate(timers):
            best[i] = min(best[i], timer.timeit(number) / number)
    return best


def report(title, rows, baseline_name):
    """Prints `rows` (name, seconds, limit or None) as ratios to the baseline row."""
    base = dict((name, t) for name, t, _ in rows)[baseline_name]
    print(title)
    failures = []
    for name, t, limit in rows:
        ratio = t / base
        mark = ""
        if limit is not None:
            mark = f"  (limit {limit:.1f}x)" + ("" if ratio <= limit else "  OVER")
            if ratio > limit:
                failures.append(name)
        print(f"  {name:<48} {ratio:6.2f}x{mark}")
    return failures


def report_pairs(title, rows):
    """Prints rows (name, baseline seconds, seconds, limit or None) as the
    ratio of each call to its own baseline; returns the names over their limit."""
    print(title)
    failures = []
    for name, base, t, limit in rows:
        ratio = t / base
        mark = ""
        if limit is not None:
            mark = f"  (limit {limit:.2f}x)" + ("" if ratio <= limit else "  OVER")
            if ratio > limit:
                failures.append(name)
        print(f"  {name:<60} {ratio:6.3f}x{mark}")
    return failures
