"""NoteEvent and EventSequence: ordered insertion, copies, range queries and
the latest end."""
import math
import random

import pytest
from hypothesis import given, settings, strategies as st

from tamlor import EventSequence, NoteEvent, Step

NAN = float("nan")
INF = float("inf")


def positions(seq):
    return [e.beat_position for e in seq.events()]


def test_note_event_basics():
    e = NoteEvent(1.5, 0.25, 60, 100)
    assert e.end_position() == 1.75
    assert repr(e) == "NoteEvent(beat=1.500, dur=0.250, note=60, vel=100)"
    assert (e.beat_position, e.duration, e.note, e.velocity) == (1.5, 0.25, 60, 100)
    assert repr(NoteEvent(-INF, NAN, 0, 0)) == "NoteEvent(beat=-inf, dur=NaN, note=0, vel=0)"
    assert repr(NoteEvent(beat_position=2, duration=1e20, note=1, velocity=2)) == \
        "NoteEvent(beat=2.000, dur=100000000000000000000.000, note=1, vel=2)"


@pytest.mark.parametrize("args,error,text", [
    ((0.0, 1.0, 128, 100), ValueError, "Note out of range: 128 (must be 0\u2013127)"),
    ((0.0, 1.0, 60, 128), ValueError, "Velocity out of range: 128 (must be 0\u2013127)"),
    ((0.0, 1.0, 128, 256), OverflowError, "out of range integral type conversion attempted"),
    (("0", 1.0, 128, 128), TypeError, "argument 'beat_position': must be real number, not str"),
    ((0.0, None, 60, 100), TypeError, "argument 'duration': must be real number, not NoneType"),
])
def test_note_event_rejects(args, error, text):
    with pytest.raises(error) as info:
        NoteEvent(*args)
    assert str(info.value) == text


@pytest.mark.parametrize("prop,param,bad,error", [
    ("beat_position", "pos", "1", TypeError), ("duration", "dur", None, TypeError),
    ("note", "note", 128, ValueError), ("velocity", "velocity", 200, ValueError), ("note", "note", -1, OverflowError),
])
def test_note_event_setters(prop, param, bad, error):
    e = NoteEvent(1.0, 2.0, 3, 4)
    with pytest.raises(error) as info:
        setattr(e, prop, bad)
    if error is TypeError:
        assert str(info.value).startswith(f"argument '{param}': ")
    assert e == NoteEvent(1.0, 2.0, 3, 4)
    setattr(e, prop, 5)
    assert getattr(e, prop) == 5


def test_note_event_equality():
    assert NoteEvent(1.0, 2.0, 3, 4) == NoteEvent(1, 2, 3, 4)
    assert NoteEvent(1.0, 2.0, 3, 4) != NoteEvent(1.0, 2.0, 3, 5)
    nan_event = NoteEvent(NAN, 1.0, 60, 100)
    assert nan_event != nan_event and not (nan_event == nan_event)
    assert NoteEvent(1.0, 2.0, 3, 4) != Step(3, 4)
    with pytest.raises(TypeError):
        hash(nan_event)


def test_insertion_keeps_ties_in_order():
    seq = EventSequence()
    for pos, note in [(2.0, 1), (1.0, 2), (3.0, 3), (1.0, 4)]:
        seq.add_event(NoteEvent(pos, 1.0, note, 100))
    assert [(e.beat_position, e.note) for e in seq.events()] == [(1.0, 2), (1.0, 4), (2.0, 1), (3.0, 3)]
    assert len(seq) == 4 and repr(seq) == "EventSequence(events=4, duration=4.000)"


def test_nan_positions_take_the_place_the_search_gives():
    seq = EventSequence()
    for pos in (1.0, 2.0, 3.0):
        seq.add_event(NoteEvent(pos, 0.0, 60, 100))
    # Every comparison with NaN counts as "before": the NaN goes first.
    seq.add_event(NoteEvent(NAN, 0.0, 61, 100))
    got = positions(seq)
    assert math.isnan(got[0]) and got[1:] == [1.0, 2.0, 3.0]
    # The halving never meets the NaN for 2.5, but ends on it for 0.5, which
    # then counts as "before" it.
    seq.add_event(NoteEvent(2.5, 0.0, 62, 100))
    seq.add_event(NoteEvent(0.5, 0.0, 63, 100))
    assert [e.note for e in seq.events()] == [63, 61, 60, 60, 62, 60]


def test_range_queries():
    seq = EventSequence()
    for pos, dur in [(0.0, 1.0), (1.0, 1.0), (2.0, 0.5)]:
        seq.add_event(NoteEvent(pos, dur, 60, 100))
    assert positions_of(seq.events_in_range(1.0, 2.0)) == [1.0]
    assert positions_of(seq.events_starting_in_range(1.0, 2.0)) == [1.0]
    assert positions_of(seq.events_in_range(0.5, 2.0)) == [0.0, 1.0]
    assert positions_of(seq.events_in_range(2.0, 0.0)) == []
    assert positions_of(seq.events_in_range(-INF, INF)) == [0.0, 1.0, 2.0]
    assert positions_of(seq.events_starting_in_range(0.0, INF)) == [0.0, 1.0, 2.0]
    assert positions_of(seq.events_starting_in_range(NAN, INF)) == []
    seq.add_event(NoteEvent(3.0, 0.0, 60, 100))
    assert positions_of(seq.events_in_range(3.0, 4.0)) == []  # zero length at start
    assert positions_of(seq.events_starting_in_range(3.0, 4.0)) == [3.0]


def positions_of(events):
    return [e.beat_position for e in events]


def test_query_scans_past_out_of_order_nan_events():
    seq = EventSequence()
    seq.add_event(NoteEvent(5.0, 1.0, 60, 100))
    seq.add_event(NoteEvent(NAN, 1.0, 60, 100))
    seq.add_event(NoteEvent(0.5, 1.0, 60, 100))
    assert positions_of(seq.events_starting_in_range(0.0, 1.0)) == [0.5]
    assert positions_of(seq.events_in_range(4.0, 6.0)) == [5.0]


@pytest.mark.parametrize("events,expected", [
    ([], 0.0), ([(-4.0, 1.0)], 0.0), ([(0.0, 2.5), (3.0, 1.0)], 4.0), ([(1.0, NAN), (0.0, 2.0)], 2.0),
    ([(0.0, 2.0), (NAN, 1.0), (1.0, INF)], INF), ([(0.0, -INF)], 0.0), ([(INF, -INF), (0.5, 0.5)], 1.0),
])
def test_duration(events, expected):
    seq = EventSequence()
    for pos, dur in events:
        seq.add_event(NoteEvent(pos, dur, 60, 100))
    assert seq.duration() == expected


def test_repr():
    seq = EventSequence()
    assert repr(seq) == "EventSequence(events=0, duration=0.000)"
    seq.add_event(NoteEvent(0.0, 1.0, 60, 100))
    seq.add_event(NoteEvent(2.0, 0.3456, 60, 100))
    assert repr(seq) == "EventSequence(events=2, duration=2.346)"


def test_remove_and_clear():
    seq = EventSequence()
    seq.add_event(NoteEvent(1.0, 2.0, 3, 4))
    assert seq.remove_event(5) is None and len(seq) == 1
    assert seq.remove_event(2**64 - 1) is None
    assert seq.remove_event(0) == NoteEvent(1.0, 2.0, 3, 4) and len(seq) == 0
    for pos in (3.0, 1.0, 2.0):
        seq.add_event(NoteEvent(pos, 1.0, 60, 100))
    assert seq.remove_event(1).beat_position == 2.0 and positions(seq) == [1.0, 3.0]
    with pytest.raises(OverflowError):
        seq.remove_event(-1)
    seq.clear()
    assert len(seq) == 0 and seq.events() == []


def test_events_are_copied_in_and_out():
    seq = EventSequence()
    e = NoteEvent(1.0, 1.0, 60, 100)
    seq.add_event(e)
    e.beat_position = -5.0
    out = seq.events()[0]
    out.beat_position = 9.0
    seq.events_in_range(0.0, 5.0)[0].note = 1
    assert seq.events() == [NoteEvent(1.0, 1.0, 60, 100)]
    assert seq.events()[0] is not seq.events()[0]


@pytest.mark.parametrize("bad", [None, (1.0, 1.0, 60, 100), Step(60, 100), EventSequence()])
def test_add_event_needs_a_note_event(bad):
    seq = EventSequence()
    with pytest.raises(TypeError, match="^argument 'event': must be NoteEvent, not "):
        seq.add_event(bad)
    assert len(seq) == 0


def test_reentrant_arguments(reentrant):
    seq = EventSequence()
    seq.add_event(NoteEvent(1.0, 1.0, 60, 100))
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        seq.remove_event(reentrant(seq.clear, 0))
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        seq.events_in_range(reentrant(lambda: seq.add_event(NoteEvent(0, 0, 1, 1)), 0.0), 5.0)
    e = NoteEvent(1.0, 1.0, 60, 100)
    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        e.beat_position = reentrant(lambda: e.end_position(), 3.0)
    assert len(seq) == 1 and e.beat_position == 1.0
    assert len(seq.events_starting_in_range(reentrant(lambda: len(seq), 0.0), 5.0)) == 1


@settings(max_examples=200, deadline=None)
@given(ops=st.lists(st.one_of(
    st.tuples(st.just("add"), st.sampled_from([0.0, 0.5, 1.0, 1.5, 2.0, -1.0, 1e300])),
    st.tuples(st.just("add"), st.floats(-10, 10)),
    st.tuples(st.just("remove"), st.integers(0, 40)),
), max_size=60))
def test_events_stay_sorted_with_ties_in_insertion_order(ops):
    seq = EventSequence()
    model = []  # (position, serial), kept by a stable sort
    for serial, (op, arg) in enumerate(ops):
        if op == "add":
            seq.add_event(NoteEvent(arg, float(serial), 60, 100))
            model.append((arg, serial))
            model.sort(key=lambda pair: pair[0])
        else:
            removed = seq.remove_event(arg)
            if arg < len(model):
                assert removed.duration == model.pop(arg)[1]
            else:
                assert removed is None
    assert [(e.beat_position, int(e.duration)) for e in seq.events()] == model


def test_many_random_insertions_stay_sorted():
    rng = random.Random(7)
    seq = EventSequence()
    values = [rng.choice([rng.random() * 100, float(rng.randrange(20))]) for _ in range(3000)]
    for i, v in enumerate(values):
        seq.add_event(NoteEvent(v, float(i), 60, 100))
    got = [(e.beat_position, e.duration) for e in seq.events()]
    assert got == sorted(((v, float(i)) for i, v in enumerate(values)), key=lambda p: p[0])


def test_no_reference_leaks():
    import gc
    import sys

    seq = EventSequence()
    gc.collect()
    before = sys.getrefcount(NoteEvent)
    for i in range(300):
        seq.add_event(NoteEvent(i % 7, 1.0, 60, 100))
        seq.events_in_range(0.0, 3.0)
        seq.remove_event(0)
        seq.remove_event(10**6)
    del seq
    gc.collect()
    assert sys.getrefcount(NoteEvent) == before
