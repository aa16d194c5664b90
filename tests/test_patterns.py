"""Step and Pattern: validated cells, copies in and out, and index rules."""
import pytest

from tamlor import Note, Pattern, Step

OVERFLOW = "out of range integral type conversion attempted"


def test_step():
    s = Step(60, 100)
    assert repr(s) == "Step(note=60, velocity=100, duration_ticks=1, active=true)"
    s.active = False
    s.duration_ticks = 2**32 - 1
    assert repr(s) == "Step(note=60, velocity=100, duration_ticks=4294967295, active=false)"
    assert Step(60, 100) == Step(note=60, velocity=100, duration_ticks=1)
    for field, value in (("note", 61), ("velocity", 99), ("duration_ticks", 0), ("active", False)):
        other = Step(60, 100)
        setattr(other, field, value)
        assert other != Step(60, 100)
    with pytest.raises(TypeError):
        hash(s)


@pytest.mark.parametrize("args,error,text", [
    ((128, 100), ValueError, "Note out of range: 128 (must be 0\u2013127)"),
    ((60, 200), ValueError, "Velocity out of range: 200 (must be 0\u2013127)"),
    ((300, 100), OverflowError, OVERFLOW),
    ((200, 300), OverflowError, OVERFLOW),
    ((128, 100, 2**32), OverflowError, OVERFLOW),
])
def test_step_rejects(args, error, text):
    with pytest.raises(error) as info:
        Step(*args)
    assert str(info.value) == text


@pytest.mark.parametrize("prop,param,bad,error", [
    ("note", "note", 128, ValueError), ("velocity", "velocity", -1, OverflowError),
    ("duration_ticks", "ticks", 1.0, TypeError), ("active", "active", 1, TypeError),
])
def test_step_setters_leave_the_step_unchanged(prop, param, bad, error):
    s = Step(60, 100, 3)
    with pytest.raises(error) as info:
        setattr(s, prop, bad)
    assert error is not TypeError or str(info.value).startswith(f"argument '{param}': ")
    assert s == Step(60, 100, 3)


def test_pattern_indices_and_copies():
    p = Pattern()
    assert len(p) == p.length == 16 and repr(p) == "Pattern(length=16, active_steps=0, loop=true)"
    assert repr(p.get_step(15)) == "Step(note=60, velocity=0, duration_ticks=1, active=false)"
    assert p.toggle_step(3) is True and p.toggle_step(3) is True and p.get_step(3).active is False
    assert p.toggle_step(16) is False and p.set_step(16, Step(1, 1)) is False
    with pytest.raises(IndexError) as info:
        p.get_step(16)
    assert str(info.value) == "Step index 16 out of range (16)"
    with pytest.raises(OverflowError):
        p.get_step(-1)
    s = Step(64, 90, 2)
    assert p.set_step(1, s) is True
    s.note = 10
    p.get_step(1).velocity = 1
    assert p.get_step(1) == Step(64, 90, 2) and p.get_step(1) is not p.get_step(1)


def test_empty_pattern_clear_and_loop_flag():
    empty = Pattern(length=0)
    assert len(empty) == 0 and repr(empty) == "Pattern(length=0, active_steps=0, loop=true)"
    with pytest.raises(IndexError, match=r"^Step index 0 out of range \(0\)$"):
        empty.get_step(0)
    p = Pattern()
    p.set_step(0, Step(40, 90))
    p.toggle_step(4)
    assert repr(p) == "Pattern(length=16, active_steps=2, loop=true)"
    p.clear()
    p.loop_enabled = False
    assert repr(p) == "Pattern(length=16, active_steps=0, loop=false)"
    assert (p.get_step(0).note, p.get_step(0).velocity) == (40, 90)
    with pytest.raises(TypeError, match="^argument 'enabled': "):
        p.loop_enabled = 0


@pytest.mark.parametrize("bad", [None, (60, 100, 1, True), Pattern(1), Note(60)])
def test_set_step_needs_a_step(bad):
    p = Pattern(2)
    with pytest.raises(TypeError, match="^argument 'step': must be Step, not "):
        p.set_step(0, bad)
    assert repr(p) == "Pattern(length=2, active_steps=0, loop=true)"


def test_lengths_too_large_to_allocate_raise_memory_error():
    for length in (2**63, 2**64 - 1):
        with pytest.raises(MemoryError):
            Pattern(length)


def test_reentrant_arguments_leave_the_pattern_unchanged(reentrant):
    p = Pattern(4)
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        p.set_step(reentrant(lambda: p.toggle_step(0), 1), Step(1, 1))
    s = Step(60, 100)
    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        s.note = reentrant(lambda: s.velocity, 61)
    assert repr(p) == "Pattern(length=4, active_steps=0, loop=true)" and s == Step(60, 100)
    assert p.get_step(reentrant(lambda: len(p), 2)).note == 60  # reads may nest
