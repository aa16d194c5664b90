"""NoteEvent and EventSequence: ordered insertion, copies, range queries and
the latest end."""
import gc
import math
import sys

import pytest
from hypothesis import given, settings, strategies as st

from tamlor import EventSequence, NoteEvent, Step

NAN = float("nan")
INF = float("inf")


def sequence_of(*events):
    seq = EventSequence()
    for pos, dur, *note in events:
        seq.add_event(NoteEvent(pos, dur, note[0] if note else 60, 100))
    return seq


def starts(events):
    return [e.beat_position for e in events]


def test_note_event():
    e = NoteEvent(1.5, 0.25, 60, 100)
    assert e.end_position() == 1.75
    assert repr(e) == "NoteEvent(beat=1.500, dur=0.250, note=60, vel=100)"
    assert repr(NoteEvent(-INF, NAN, 0, 0)) == "NoteEvent(beat=-inf, dur=NaN, note=0, vel=0)"
    assert e == NoteEvent(1.5, 0.25, 60, 100) and e != NoteEvent(1.5, 0.25, 60, 101) and e != Step(60, 100)
    nan_event = NoteEvent(NAN, 1.0, 60, 100)
    assert nan_event != nan_event
    with pytest.raises(TypeError):
        hash(e)


@pytest.mark.parametrize("args,error,text", [
    ((0.0, 1.0, 128, 100), ValueError, "Note out of range: 128 (must be 0\u2013127)"),
    ((0.0, 1.0, 60, 128), ValueError, "Velocity out of range: 128 (must be 0\u2013127)"),
    ((0.0, 1.0, 128, 256), OverflowError, "out of range integral type conversion attempted"),
    (("0", 1.0, 128, 128), TypeError, "argument 'beat_position': must be real number, not str"),
])
def test_note_event_rejects(args, error, text):
    with pytest.raises(error) as info:
        NoteEvent(*args)
    assert str(info.value) == text


@pytest.mark.parametrize("prop,param,bad,error", [
    ("beat_position", "pos", "1", TypeError), ("duration", "dur", None, TypeError),
    ("note", "note", 128, ValueError), ("velocity", "velocity", 200, ValueError),
])
def test_note_event_setters_leave_the_event_unchanged(prop, param, bad, error):
    e = NoteEvent(1.0, 2.0, 3, 4)
    with pytest.raises(error) as info:
        setattr(e, prop, bad)
    assert error is not TypeError or str(info.value).startswith(f"argument '{param}': ")
    assert e == NoteEvent(1.0, 2.0, 3, 4)


def test_insertion_order_and_nan_positions():
    seq = sequence_of((2.0, 1.0, 1), (1.0, 1.0, 2), (3.0, 1.0, 3), (1.0, 1.0, 4))
    assert [(e.beat_position, e.note) for e in seq.events()] == [(1.0, 2), (1.0, 4), (2.0, 1), (3.0, 3)]
    # Every comparison with NaN counts as "before": a NaN goes first here; a
    # later 2.5 never meets it in the halving, a 0.5 ends on it and goes first.
    seq = sequence_of((1.0, 0.0, 60), (2.0, 0.0, 60), (3.0, 0.0, 60), (NAN, 0.0, 61), (2.5, 0.0, 62), (0.5, 0.0, 63))
    assert [e.note for e in seq.events()] == [63, 61, 60, 60, 62, 60]
    assert math.isnan(seq.events()[1].beat_position)


def test_range_queries():
    seq = sequence_of((0.0, 1.0), (1.0, 1.0), (2.0, 0.5), (3.0, 0.0))
    assert starts(seq.events_in_range(1.0, 2.0)) == [1.0]
    assert starts(seq.events_starting_in_range(1.0, 2.0)) == [1.0]
    assert starts(seq.events_in_range(0.5, 2.0)) == [0.0, 1.0]
    assert starts(seq.events_in_range(3.0, 4.0)) == []  # zero length at start
    assert starts(seq.events_starting_in_range(3.0, 4.0)) == [3.0]
    assert starts(seq.events_in_range(2.0, 0.0)) == []
    assert starts(seq.events_in_range(-INF, INF)) == [0.0, 1.0, 2.0, 3.0]
    # NaNs can leave later events out of order; the queries scan everything.
    out_of_order = sequence_of((1.0, 1.0), (NAN, 1.0), (NAN, 1.0), (2.0, 1.0))
    assert starts(out_of_order.events())[::3] == [2.0, 1.0]
    assert starts(out_of_order.events_starting_in_range(0.5, 1.5)) == [1.0]
    assert starts(out_of_order.events_in_range(0.0, 1.5)) == [1.0]


@pytest.mark.parametrize("events,expected", [
    ([], 0.0), ([(-4.0, 1.0)], 0.0), ([(0.0, 2.5), (3.0, 1.0)], 4.0), ([(1.0, NAN), (0.0, 2.0)], 2.0),
    ([(0.0, 2.0), (1.0, INF)], INF), ([(INF, -INF), (0.5, 0.5)], 1.0),
])
def test_duration(events, expected):
    assert sequence_of(*events).duration() == expected


def test_repr_remove_and_clear():
    assert repr(EventSequence()) == "EventSequence(events=0, duration=0.000)"
    seq = sequence_of((0.0, 1.0), (2.0, 0.3456))
    assert repr(seq) == "EventSequence(events=2, duration=2.346)" and len(seq) == 2
    assert seq.remove_event(5) is None and len(seq) == 2
    assert seq.remove_event(0) == NoteEvent(0.0, 1.0, 60, 100) and starts(seq.events()) == [2.0]
    with pytest.raises(OverflowError):
        seq.remove_event(-1)
    seq.clear()
    assert len(seq) == 0 and seq.events() == []


def test_events_are_copied_in_and_out():
    seq = EventSequence()
    e = NoteEvent(1.0, 1.0, 60, 100)
    seq.add_event(e)
    e.beat_position = -5.0
    seq.events()[0].beat_position = 9.0
    seq.events_in_range(0.0, 5.0)[0].note = 1
    assert seq.events() == [NoteEvent(1.0, 1.0, 60, 100)]
    for bad in (None, (1.0, 1.0, 60, 100), Step(60, 100)):
        with pytest.raises(TypeError, match="^argument 'event': must be NoteEvent, not "):
            seq.add_event(bad)
    assert len(seq) == 1


def test_reentrant_arguments_leave_the_sequence_unchanged(reentrant):
    seq = sequence_of((1.0, 1.0))
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        seq.remove_event(reentrant(seq.clear, 0))
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        seq.events_in_range(reentrant(lambda: seq.add_event(NoteEvent(0, 0, 1, 1)), 0.0), 5.0)
    assert len(seq) == 1
    assert len(seq.events_starting_in_range(reentrant(lambda: len(seq), 0.0), 5.0)) == 1


@settings(max_examples=200, deadline=None)
@given(ops=st.lists(st.one_of(
    st.tuples(st.just("add"), st.sampled_from([0.0, 0.5, 1.0, 2.0, -1.0])),
    st.tuples(st.just("add"), st.floats(-10, 10)),
    st.tuples(st.just("remove"), st.integers(0, 40)),
), max_size=60))
def test_events_stay_sorted_with_ties_in_insertion_order(ops):
    seq = EventSequence()
    model = []  # (position, serial), kept in order by a stable sort
    for serial, (op, arg) in enumerate(ops):
        if op == "add":
            seq.add_event(NoteEvent(arg, float(serial), 60, 100))
            model.append((arg, serial))
            model.sort(key=lambda pair: pair[0])
        elif arg < len(model):
            assert seq.remove_event(arg).duration == model.pop(arg)[1]
        else:
            assert seq.remove_event(arg) is None
    assert [(e.beat_position, int(e.duration)) for e in seq.events()] == model


def test_no_reference_leaks():
    seq = EventSequence()
    gc.collect()
    before = sys.getrefcount(NoteEvent)
    for i in range(300):
        seq.add_event(NoteEvent(i % 7, 1.0, 60, 100))
        seq.events_in_range(0.0, 3.0)
        seq.remove_event(0)
    del seq
    gc.collect()
    assert sys.getrefcount(NoteEvent) == before
