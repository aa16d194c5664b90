"""StepSequencer: the grid walk over half-open beat ranges, its event tuples,
and its answers for step durations and ranges that make no usable grid."""
import gc
import sys

import pytest
from hypothesis import given, settings, strategies as st

import tamlor
from tamlor import Pattern, Step, StepSequencer

NAN = float("nan")
INF = float("inf")
U64_MAX = 2**64 - 1


def sequencer(length, active=(), ticks=1, sd=0.25):
    p = Pattern(length)
    for i in active:
        p.set_step(i, Step(60, 100, ticks))
    seq = StepSequencer(p)
    seq.step_duration = sd
    return seq


def ons(events):
    return [e for e in events if e[0] == "note_on"]


def test_adjoining_ranges_and_reset():
    seq = sequencer(16, (0, 4))
    assert seq.process_beat_range(0.0, 1.0) == [("note_on", 60, 100, 0), ("note_off", 60, 0, 250000)]
    assert seq.current_step == 3
    assert seq.process_beat_range(1.0, 2.0) == [("note_on", 60, 100, 1000000), ("note_off", 60, 0, 1250000)]
    assert repr(seq) == "StepSequencer(step_duration=0.250, current_step=7)"
    assert seq.process_beat_range(0.0, 2.0) == []  # behind the remembered position
    later = seq.process_beat_range(2.0, 9.0)
    assert later[0][0] is later[2][0] and later[1][0] is later[3][0]  # one string per kind
    seq.reset()
    assert seq.current_step == 0 and len(seq.process_beat_range(0.0, 1.0)) == 2


@pytest.mark.parametrize("start,end", [(2.0, 2.0), (3.0, 1.0), (NAN, 1.0), (0.0, NAN), (-5.0, -1.0)])
def test_empty_ranges_change_nothing(start, end):
    seq = sequencer(16, range(16))
    assert seq.process_beat_range(start, end) == [] and seq.current_step == 0
    assert len(seq.process_beat_range(0.0, 0.5)) == 4  # the grid from 0.0 is still ahead


def test_grid_wraps_whatever_the_loop_flag_and_skips_are_not_recorded():
    p = Pattern(16)
    p.set_step(0, Step(60, 100))
    p.loop_enabled = False
    assert len(ons(StepSequencer(p).process_beat_range(0.0, 8.0))) == 2
    seq = sequencer(16, range(16))
    assert seq.process_beat_range(0.1, 0.2) == [] and seq.current_step == 0
    assert seq.process_beat_range(0.2, 0.3) == [("note_on", 60, 100, 250000), ("note_off", 60, 0, 500000)]
    assert seq.current_step == 1


def test_note_off_follows_its_note_on_and_default_velocity():
    p = Pattern(16)
    p.toggle_step(1)  # keeps the default velocity 0
    p.set_step(0, Step(62, 100, 4))
    assert StepSequencer(p).process_beat_range(0.0, 0.5) == [
        ("note_on", 62, 100, 0), ("note_off", 62, 0, 1000000), ("note_on", 60, 0, 250000), ("note_off", 60, 0, 500000)]
    assert sequencer(1, (0,), ticks=0).process_beat_range(0.0, 0.1) == [("note_on", 60, 100, 0), ("note_off", 60, 0, 0)]


def test_construction_and_copies():
    assert StepSequencer(Pattern(), channel=15).current_step == 0
    with pytest.raises(ValueError) as info:
        StepSequencer(Pattern(), channel=16)
    assert str(info.value) == "MidiChannel out of range: 16 (must be 0\u201315)"
    for bad in (None, Step(60, 100)):
        with pytest.raises(TypeError, match="^argument 'pattern': must be Pattern, not "):
            StepSequencer(bad)
    p = Pattern(4)
    p.set_step(0, Step(60, 100))
    seq = StepSequencer(p)
    p.set_step(1, Step(72, 1))
    assert len(seq.process_beat_range(0.0, 0.5)) == 2  # the later edit does not reach it
    seq.set_pattern(p)
    assert seq.current_step == 1  # set_pattern keeps the progress
    seq.reset()
    assert len(seq.process_beat_range(0.0, 0.5)) == 4
    assert StepSequencer(Pattern(0)).process_beat_range(0.0, 100.0) == []


def test_arithmetic_order_truncation_and_saturation():
    seq = sequencer(10, range(10), ticks=3, sd=0.1)
    t, expected = 0.0, []
    for _ in range(9):
        expected += [("note_on", 60, 100, int(t * 1e6)), ("note_off", 60, 0, int((3.0 * 0.1 + t) * 1e6))]
        t += 0.1
    assert seq.process_beat_range(0.0, 0.85) == expected
    # The ninth grid time is 0.7999999999999999: its time truncates, and it is
    # step 8 although floor(t / 0.1) is 7.
    assert expected[16] == ("note_on", 60, 100, 799999) and seq.current_step == 8
    seq = sequencer(1, (0,), sd=2e13)
    assert [e[3] for e in seq.process_beat_range(0.0, 5e13)] == [0] + [U64_MAX] * 5


@pytest.mark.parametrize("sd", [1 / 3, 1 / 6, 1 / 12, 0.1, 1 / 7])
def test_grids_that_are_not_binary_fractions_play_every_step_once(sd):
    p = Pattern(12)
    for i in range(12):
        p.set_step(i, Step(40 + i, 100))
    seq = StepSequencer(p)
    seq.step_duration = sd
    clock = tamlor.TransportClock(137.0)
    clock.play()
    played = []
    for _ in range(4000):  # about 40 bars in 512-frame blocks
        played += ons(seq.process_beat_range(*clock.advance_by_frames(512, 44100)))
    assert [n for _, n, _, _ in played] == [40 + k % 12 for k in range(len(played))]
    t = 0.0
    for event in played:
        assert event[3] == int(t * 1e6)
        t += sd


@pytest.mark.parametrize("sd,text", [(0.0, "0"), (-0.25, "-0.25"), (NAN, "NaN"), (INF, "inf"), (-INF, "-inf")])
def test_step_durations_that_make_no_grid_are_refused(sd, text):
    seq = sequencer(4, range(4))
    seq.process_beat_range(0.0, 0.3)
    seq.step_duration = sd
    with pytest.raises(ValueError) as info:
        seq.process_beat_range(0.3, 2.0)
    assert str(info.value) == f"step_duration must be positive and finite to walk the grid, not {text}"
    assert seq.process_beat_range(2.0, 1.0) == []  # nothing to walk, nothing to refuse
    seq.step_duration = 0.25
    assert seq.process_beat_range(0.3, 0.6) == [("note_on", 60, 100, 500000), ("note_off", 60, 0, 750000)]


@pytest.mark.parametrize("sd,start,end", [(5e-324, 0.0, 1.0), (1e-12, 0.0, 1.0), (1e-12, 1000.0, 1000.000001),
                                          (0.25, 0.0, INF), (0.25, -INF, INF), (0.25, 1e8, 1e8 + 1)])
def test_ranges_too_long_for_one_call_are_refused_before_any_work(sd, start, end):
    seq = sequencer(16, range(16), sd=sd)
    with pytest.raises(ValueError, match=r"^beat range needs more than \d+ grid times .*; use shorter ranges$"):
        seq.process_beat_range(start, end)
    assert seq.current_step == 0
    seq.step_duration = 5e-324
    assert len(seq.process_beat_range(0.0, 1e-322)) == 40  # tiny steps work over tiny ranges


def test_a_grid_that_stops_advancing_ends_the_walk():
    # Just below 2**45 a step of 0.6 units in the last place rounds up to one
    # unit; at 2**45 it is below half a unit, so t + sd == t and the grid ends.
    seq = sequencer(1, (0,), sd=2.0**45 - 3 * 2.0**-8)
    seq.process_beat_range(0.0, 2.0**45)
    seq.step_duration = 0.6 * 2.0**-8
    assert len(seq.process_beat_range(2.0**44, 2.0**45 + 1.0)) == 6
    assert seq.process_beat_range(2.0**45, 2.0**45 + 1.0) == []


@settings(max_examples=200, deadline=None)
@given(
    cells=st.lists(st.tuples(st.booleans(), st.integers(0, 127), st.integers(0, 4)), min_size=1, max_size=9),
    sd=st.one_of(st.sampled_from([1 / 3, 1 / 6, 1 / 12, 0.1, 0.25]), st.floats(0.01, 3.0)),
    bounds=st.lists(st.floats(-2.0, 40.0), min_size=2, max_size=8),
)
def test_adjoining_ranges_give_the_events_of_their_union(cells, sd, bounds):
    p = Pattern(len(cells))
    for i, (active, note, ticks) in enumerate(cells):
        s = Step(note, 100, ticks)
        s.active = active
        p.set_step(i, s)
    bounds = sorted(bounds)
    split, whole = StepSequencer(p), StepSequencer(p)
    split.step_duration = whole.step_duration = sd
    pieces = []
    for start, end in zip(bounds, bounds[1:]):
        pieces += split.process_beat_range(start, end)
    assert pieces == whole.process_beat_range(bounds[0], bounds[-1])
    assert split.current_step == whole.current_step


def test_bad_arguments_leave_the_sequencer_unchanged(reentrant):
    seq = sequencer(4, range(4))
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        seq.process_beat_range(reentrant(seq.reset, 0.0), 1.0)
    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        seq.step_duration = reentrant(lambda: seq.current_step, 0.5)
    with pytest.raises(TypeError, match="^argument 'dur': "):
        seq.step_duration = "0.5"
    with pytest.raises(TypeError, match="^argument 'end': "):
        seq.process_beat_range(0.0, "1")
    assert seq.step_duration == 0.25 and len(seq.process_beat_range(0.0, 1.0)) == 8


def test_no_reference_leaks():
    seq = sequencer(16, range(16))
    kind = seq.process_beat_range(0.0, 1.0)[0][0]
    gc.collect()
    before = (sys.getrefcount(kind), sys.getrefcount(StepSequencer))
    for _ in range(300):
        seq.reset()
        seq.process_beat_range(0.0, 4.0)
        seq.set_pattern(Pattern(4))
    gc.collect()
    assert (sys.getrefcount(kind), sys.getrefcount(StepSequencer)) == before
