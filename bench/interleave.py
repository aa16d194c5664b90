"""Timing that takes turns: each statement is timed once per round, round
after round, and keeps its best time, so a change in the machine's load
during the run falls on the baseline and the measured calls alike."""
import timeit


def best_per_call(stmts, globals, number, rounds=15):
    """Best seconds per execution for each statement of `stmts`."""
    timers = [timeit.Timer(s, globals=globals) for s in stmts]
    best = [float("inf")] * len(stmts)
    for _ in range(rounds):
        for i, timer in enumerate(timers):
            best[i] = min(best[i], timer.timeit(number) / number)
    return best
