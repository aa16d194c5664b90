"""Cost of the sequencing hot paths, each as a ratio to the same work done in
plain Python in the same run: StepSequencer.process_beat_range over one bar
of a 16-step pattern with every step active (per event returned) against
building the same list of (kind, note, velocity, time) tuples in Python;
EventSequence.events_starting_in_range on 10,000 events against a Python
filter over the same data; and add_event of 10,000 events in random order
against bisect.insort into a Python list (both O(n log n) plus shifts)."""
import bisect
import random
import sys

import tamlor
from common import Row, per_call, report


def step_rows() -> list[Row]:
    pattern = tamlor.Pattern(16)
    for i in range(16):
        pattern.set_step(i, tamlor.Step(36 + i, 100))
    seq = tamlor.StepSequencer(pattern)
    events = seq.process_beat_range(0.0, 4.0)
    n = len(events)
    assert n == 32
    kinds = [e[0] for e in events]
    notes = [e[1] for e in events]
    vels = [e[2] for e in events]
    times = [e[3] for e in events]

    def native() -> list[tuple[str, int, int, int]]:
        seq.reset()
        return seq.process_beat_range(0.0, 4.0)

    def python() -> list[tuple[str, int, int, int]]:
        return [(k, note, v, t) for k, note, v, t in zip(kinds, notes, vels, times)]

    assert native() == python()
    env = {"native": native, "python": python}
    return [
        ("python: list of 32 tuples, per event", per_call("python()", globals=env, number=20_000) / n, None),
        ("process_beat_range, one bar, per event", per_call("native()", globals=env, number=20_000) / n, 1.5),
    ]


def query_rows() -> list[Row]:
    rng = random.Random(1)
    seq = tamlor.EventSequence()
    plain: list[tuple[float, float, int, int]] = []
    for _ in range(10_000):
        pos = rng.random() * 1000.0
        seq.add_event(tamlor.NoteEvent(pos, 0.5, 60, 100))
        plain.append((pos, 0.5, 60, 100))
    plain.sort(key=lambda e: e[0])
    env = {"seq": seq, "plain": plain}
    narrow = "seq.events_starting_in_range(500.0, 500.0232)"
    narrow_py = "[e for e in plain if 500.0 <= e[0] < 500.0232]"
    wide = "seq.events_starting_in_range(0.0, 100.0)"
    wide_py = "[e for e in plain if 0.0 <= e[0] < 100.0]"
    return [
        ("python filter, 10k events, one block", per_call(narrow_py, globals=env, number=200), None),
        ("events_starting_in_range, one block", per_call(narrow, globals=env, number=200), 0.5),
        ("python filter, 10k events, ~1000 hits", per_call(wide_py, globals=env, number=200), None),
        ("events_starting_in_range, ~1000 hits", per_call(wide, globals=env, number=200), 1.0),
    ]


def insert_rows() -> list[Row]:
    rng = random.Random(2)
    positions = [rng.random() * 1000.0 for _ in range(10_000)]
    events = [tamlor.NoteEvent(p, 0.5, 60, 100) for p in positions]
    plain = [(p, 0.5, 60, 100) for p in positions]

    def native() -> None:
        seq = tamlor.EventSequence()
        add = seq.add_event
        for e in events:
            add(e)

    def python() -> None:
        out: list[tuple[float, float, int, int]] = []
        insort = bisect.insort
        for e in plain:
            insort(out, e)

    env = {"native": native, "python": python}
    return [
        ("bisect.insort of 10k tuples", per_call("python()", globals=env, number=3, repeat=5), None),
        ("add_event of 10k events, random order", per_call("native()", globals=env, number=3, repeat=5), 1.5),
    ]


def main() -> list[str]:
    failures = report("StepSequencer (ratio to building the tuples in Python):", step_rows(),
                      "python: list of 32 tuples, per event")
    rows = query_rows()
    failures += report("EventSequence queries (ratio to a Python filter):", rows[:2],
                       "python filter, 10k events, one block")
    failures += report("EventSequence wide query (ratio to a Python filter):", rows[2:],
                       "python filter, 10k events, ~1000 hits")
    failures += report("EventSequence insertion (ratio to bisect.insort):", insert_rows(),
                       "bisect.insort of 10k tuples")
    return failures


if __name__ == "__main__":
    sys.exit(1 if main() else 0)
