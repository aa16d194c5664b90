"""StepSequencer: the grid walk over half-open beat ranges, its event tuples,
and its answers for step durations that cannot make a grid."""
import math
import time

import pytest
from hypothesis import given, settings, strategies as st

import tamlor
from tamlor import Pattern, Step, StepSequencer

NAN = float("nan")
INF = float("inf")
U64_MAX = 2**64 - 1


def pattern_of(length, active=(), note=60, velocity=100, ticks=1):
    p = Pattern(length)
    for i in active:
        p.set_step(i, Step(note, velocity, ticks))
    return p


def note_ons(events):
    return [e for e in events if e[0] == "note_on"]


def test_two_adjoining_ranges():
    seq = StepSequencer(pattern_of(16, (0, 4)))
    assert seq.process_beat_range(0.0, 1.0) == [("note_on", 60, 100, 0), ("note_off", 60, 0, 250000)]
    assert seq.current_step == 3
    assert seq.process_beat_range(1.0, 2.0) == [("note_on", 60, 100, 1000000), ("note_off", 60, 0, 1250000)]
    assert repr(seq) == "StepSequencer(step_duration=0.250, current_step=7)"
    later = seq.process_beat_range(2.0, 9.0)
    assert {type(k) for k, *_ in later} == {str}
    assert later[0][0] is later[2][0] and later[1][0] is later[3][0]  # one string per kind


def test_events_only_once_until_reset():
    seq = StepSequencer(pattern_of(16, (0,)))
    first = seq.process_beat_range(0.0, 1.0)
    assert first and seq.process_beat_range(0.0, 1.0) == []
    seq.reset()
    assert seq.current_step == 0 and seq.process_beat_range(0.0, 1.0) == first


@pytest.mark.parametrize("start,end", [(2.0, 2.0), (3.0, 1.0), (NAN, 1.0), (0.0, NAN), (NAN, NAN),
                                       (-5.0, -1.0), (INF, INF), (-INF, -INF)])
def test_empty_ranges_change_nothing(start, end):
    seq = StepSequencer(pattern_of(16, range(16)))
    assert seq.process_beat_range(start, end) == []
    assert seq.current_step == 0
    assert len(seq.process_beat_range(0.0, 0.5)) == 4  # the grid from 0.0 is still ahead


def test_grid_wraps_whatever_the_loop_flag():
    for loop in (True, False):
        p = pattern_of(16, (0,))
        p.loop_enabled = loop
        seq = StepSequencer(p)
        assert note_ons(seq.process_beat_range(0.0, 8.0)) == [("note_on", 60, 100, 0), ("note_on", 60, 100, 4000000)]
        assert seq.current_step == 15


def test_note_off_follows_its_note_on():
    p = pattern_of(16, (1,))
    p.set_step(0, Step(60, 100, 4))
    seq = StepSequencer(p)
    assert seq.process_beat_range(0.0, 0.5) == [
        ("note_on", 60, 100, 0), ("note_off", 60, 0, 1000000),
        ("note_on", 60, 100, 250000), ("note_off", 60, 0, 500000)]
    seq = StepSequencer(pattern_of(1, (0,), ticks=0))
    assert seq.process_beat_range(0.0, 0.1) == [("note_on", 60, 100, 0), ("note_off", 60, 0, 0)]


def test_skipped_grid_times_are_not_recorded():
    seq = StepSequencer(pattern_of(16, range(16)))
    assert seq.process_beat_range(0.1, 0.2) == [] and seq.current_step == 0
    assert seq.process_beat_range(0.2, 0.3) == [("note_on", 60, 100, 250000), ("note_off", 60, 0, 500000)]
    assert seq.current_step == 1
    seq = StepSequencer(pattern_of(16, range(16)))
    assert len(seq.process_beat_range(0.0, 0.3)) == 4


def test_ranges_before_the_remembered_position_yield_nothing():
    seq = StepSequencer(pattern_of(4, range(4)))
    seq.process_beat_range(0.0, 2.0)
    assert seq.process_beat_range(0.0, 1.0) == []
    assert seq.current_step == 3
    assert note_ons(seq.process_beat_range(0.0, 2.5)) == [("note_on", 60, 100, 2000000), ("note_on", 60, 100, 2250000)]


def test_toggled_step_plays_with_default_velocity():
    p = Pattern()
    p.toggle_step(0)
    assert StepSequencer(p).process_beat_range(0.0, 0.1) == [("note_on", 60, 0, 0), ("note_off", 60, 0, 250000)]


def test_empty_pattern_yields_nothing():
    seq = StepSequencer(Pattern(0))
    assert seq.process_beat_range(0.0, 100.0) == []
    seq.step_duration = 0.0
    assert seq.process_beat_range(0.0, 100.0) == []


def test_channel():
    assert repr(StepSequencer(Pattern(), channel=15)) == "StepSequencer(step_duration=0.250, current_step=0)"
    with pytest.raises(ValueError) as info:
        StepSequencer(Pattern(), channel=16)
    assert str(info.value) == "MidiChannel out of range: 16 (must be 0\u201315)"
    with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
        StepSequencer(Pattern(), 256)


@pytest.mark.parametrize("bad", [None, Step(60, 100), [Step(60, 100)], 16])
def test_pattern_argument_must_be_a_pattern(bad):
    with pytest.raises(TypeError, match="^argument 'pattern': must be Pattern, not "):
        StepSequencer(bad)
    seq = StepSequencer(pattern_of(1, (0,)))
    with pytest.raises(TypeError, match="^argument 'pattern': must be Pattern, not "):
        seq.set_pattern(bad)
    assert len(seq.process_beat_range(0.0, 0.1)) == 2


def test_pattern_is_copied_and_set_pattern_keeps_progress():
    p = pattern_of(4, (0,))
    seq = StepSequencer(p)
    p.set_step(1, Step(72, 1))
    assert note_ons(seq.process_beat_range(0.0, 0.5)) == [("note_on", 60, 100, 0)]
    seq.set_pattern(p)
    p.clear()
    assert seq.current_step == 1
    assert note_ons(seq.process_beat_range(0.5, 1.25)) == [("note_on", 60, 100, 1000000)]
    seq.reset()
    assert note_ons(seq.process_beat_range(0.0, 0.5)) == [("note_on", 60, 100, 0), ("note_on", 72, 1, 250000)]


def test_step_duration_property():
    seq = StepSequencer(Pattern())
    for value, text in [(0.125, "0.125"), (-1, "-1.000"), (NAN, "NaN"), (INF, "inf"), (0.0005, "0.001")]:
        seq.step_duration = value
        assert repr(seq) == f"StepSequencer(step_duration={text}, current_step=0)"
    with pytest.raises(TypeError, match="^argument 'dur': "):
        seq.step_duration = "0.5"
    with pytest.raises(AttributeError, match="^property has no deleter$"):
        del seq.step_duration
    with pytest.raises(AttributeError):
        seq.current_step = 2


def test_a_new_step_duration_continues_from_the_last_grid_time():
    seq = StepSequencer(pattern_of(8, range(8)))
    seq.process_beat_range(0.0, 0.3)  # visits 0.0 and 0.25
    seq.step_duration = 0.5
    assert note_ons(seq.process_beat_range(0.3, 1.3)) == [("note_on", 60, 100, 750000), ("note_on", 60, 100, 1250000)]
    assert seq.current_step == 2  # floor(1.25 / 0.5)


def test_note_off_arithmetic_order_and_truncation():
    seq = StepSequencer(pattern_of(10, range(10), ticks=3))
    seq.step_duration = 0.1
    events = seq.process_beat_range(0.0, 0.85)
    t = 0.0
    expected = []
    for _ in range(9):
        expected += [("note_on", 60, 100, int(t * 1000000.0)), ("note_off", 60, 0, int((3.0 * 0.1 + t) * 1000000.0))]
        t += 0.1
    assert events == expected
    # The ninth grid time is 0.7999999999999999: its time truncates, and its
    # index is 8 although floor(t / 0.1) is 7.
    assert events[16] == ("note_on", 60, 100, 799999) and seq.current_step == 8


def test_times_saturate():
    seq = StepSequencer(pattern_of(1, (0,)))
    seq.step_duration = 2e13
    assert seq.process_beat_range(0.0, 5e13) == [
        ("note_on", 60, 100, 0), ("note_off", 60, 0, U64_MAX),
        ("note_on", 60, 100, U64_MAX), ("note_off", 60, 0, U64_MAX),
        ("note_on", 60, 100, U64_MAX), ("note_off", 60, 0, U64_MAX)]
    seq = StepSequencer(pattern_of(1, (0,), ticks=2**32 - 1))
    assert seq.process_beat_range(0.0, 0.1)[1] == ("note_off", 60, 0, int(((2**32 - 1) * 0.25) * 1e6))


@pytest.mark.parametrize("sd", [1 / 3, 1 / 6, 1 / 12, 0.1, 0.2, 1 / 7, 0.3])
def test_grids_that_are_not_binary_fractions_play_every_step_once(sd):
    length = 12
    p = Pattern(length)
    for i in range(length):
        p.set_step(i, Step(40 + i, 100))
    seq = StepSequencer(p)
    seq.step_duration = sd
    clock = tamlor.TransportClock(137.0)
    clock.play()
    ons = []
    for _ in range(4000):  # about 64 beats in 512-frame blocks at 44100 Hz
        start, end = clock.advance_by_frames(512, 44100)
        ons += note_ons(seq.process_beat_range(start, end))
    assert len(ons) > 180
    assert [n for _, n, _, _ in ons] == [40 + k % length for k in range(len(ons))]
    t = 0.0
    for _, _, _, when in ons:
        assert when == int(t * 1e6)
        t += sd


def test_eighth_triplet_grid_time_is_step_seven():
    seq = StepSequencer(pattern_of(16, ()))
    seq.step_duration = 1 / 3
    t = 0.0
    for _ in range(7):
        t += 1 / 3
    assert t == 2.333333333333333 and math.floor(t / (1 / 3)) == 6
    seq.process_beat_range(0.0, 2.4)
    assert seq.current_step == 7


@pytest.mark.parametrize("sd,text", [(0.0, "0"), (-0.0, "-0"), (-0.25, "-0.25"), (NAN, "NaN"), (INF, "inf"), (-INF, "-inf")])
def test_step_durations_that_make_no_grid_are_refused(sd, text):
    seq = StepSequencer(pattern_of(4, range(4)))
    seq.process_beat_range(0.0, 0.3)
    seq.step_duration = sd
    with pytest.raises(ValueError) as info:
        seq.process_beat_range(0.3, 2.0)
    assert str(info.value) == f"step_duration must be positive and finite to walk the grid, not {text}"
    assert seq.current_step == 1
    assert seq.process_beat_range(2.0, 1.0) == []  # nothing to walk: no error
    seq.step_duration = 0.25
    assert seq.process_beat_range(0.3, 0.6) == [("note_on", 60, 100, 500000), ("note_off", 60, 0, 750000)]


@pytest.mark.parametrize("sd,start,end", [
    (5e-324, 0.0, 1.0), (1e-12, 0.0, 1.0), (1e-12, 1000.0, 1000.000001), (0.25, 0.0, INF),
    (0.25, 0.0, 1e300), (0.25, -INF, INF), (0.25, 1e8, 1e8 + 1), (1e-6, 0.0, 2.0)])
def test_ranges_too_long_for_one_call_fail_fast_and_change_nothing(sd, start, end):
    seq = StepSequencer(pattern_of(16, range(16)))
    seq.step_duration = sd
    began = time.monotonic()
    with pytest.raises(ValueError, match=r"^beat range needs more than \d+ grid times .*; use shorter ranges$"):
        seq.process_beat_range(start, end)
    assert time.monotonic() - began < 5.0  # generous: refusal happens before any walking
    assert seq.current_step == 0 and seq.process_beat_range(-1.0, 0.0) == []


def test_tiny_step_durations_work_over_short_ranges():
    seq = StepSequencer(pattern_of(4, range(4)))
    seq.step_duration = 5e-324
    events = seq.process_beat_range(0.0, 1e-322)  # 20 grid times, all at time 0
    assert len(events) == 40 and {e[3] for e in events} == {0}
    assert seq.current_step == 19 % 4
    seq = StepSequencer(pattern_of(4, range(4)))
    seq.step_duration = 1e-12
    events = seq.process_beat_range(0.0, 1e-7)
    assert len(note_ons(events)) in (100000, 100001)


def test_a_grid_that_stops_advancing_ends_the_walk():
    # Step to just below 2**45, then use a step of 0.6 units in the last place
    # there: three more grid times advance (rounding up), and at 2**45 the
    # step is below half a unit, so t + sd == t and the grid ends.
    seq = StepSequencer(pattern_of(1, (0,)))
    seq.step_duration = 2.0**45 - 3 * 2.0**-8
    seq.process_beat_range(0.0, 2.0**45)
    seq.step_duration = 0.6 * 2.0**-8
    events = seq.process_beat_range(2.0**44, 2.0**45 + 1.0)
    assert [e[3] for e in note_ons(events)] == [U64_MAX] * 3
    assert seq.process_beat_range(2.0**45, 2.0**45 + 1.0) == []


@settings(max_examples=200, deadline=None)
@given(
    cells=st.lists(st.tuples(st.booleans(), st.integers(0, 127), st.integers(0, 127), st.integers(0, 4)),
                   min_size=1, max_size=9),
    sd=st.one_of(st.sampled_from([1 / 3, 1 / 6, 1 / 12, 0.1, 0.25, 0.7]), st.floats(0.01, 3.0)),
    bounds=st.lists(st.floats(-2.0, 40.0), min_size=2, max_size=8),
)
def test_adjoining_ranges_give_the_events_of_their_union(cells, sd, bounds):
    p = Pattern(len(cells))
    for i, (active, note, velocity, ticks) in enumerate(cells):
        s = Step(note, velocity, ticks)
        s.active = active
        p.set_step(i, s)
    bounds = sorted(bounds)
    split = StepSequencer(p)
    whole = StepSequencer(p)
    split.step_duration = whole.step_duration = sd
    pieces = []
    for start, end in zip(bounds, bounds[1:]):
        pieces += split.process_beat_range(start, end)
    assert pieces == whole.process_beat_range(bounds[0], bounds[-1])
    assert split.current_step == whole.current_step


def test_reentrant_bounds_leave_the_sequencer_unchanged(reentrant):
    seq = StepSequencer(pattern_of(4, range(4)))
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        seq.process_beat_range(reentrant(seq.reset, 0.0), 1.0)
    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        seq.process_beat_range(0.0, reentrant(lambda: repr(seq), 1.0))
    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        seq.step_duration = reentrant(lambda: seq.current_step, 0.5)
    assert seq.current_step == 0 and seq.step_duration == 0.25
    with pytest.raises(TypeError, match="^argument 'end': "):
        seq.process_beat_range(0.0, "1")
    assert len(seq.process_beat_range(0.0, 1.0)) == 8


def test_no_reference_leaks():
    import gc
    import sys

    seq = StepSequencer(pattern_of(16, range(16)))
    kind = seq.process_beat_range(0.0, 1.0)[0][0]
    gc.collect()
    before = (sys.getrefcount(kind), sys.getrefcount(StepSequencer), sys.getrefcount(Pattern))
    for _ in range(500):
        seq.reset()
        seq.process_beat_range(0.0, 4.0)
        seq.set_pattern(pattern_of(4, (1,)))
        try:
            seq.process_beat_range(0.0, "x")
        except TypeError:
            pass
    gc.collect()
    assert (sys.getrefcount(kind), sys.getrefcount(StepSequencer), sys.getrefcount(Pattern)) == before
