"""Step and Pattern: validated cells, copies in and out, and index rules."""
import pytest

import tamlor
from tamlor import Pattern, Step

OVERFLOW = "^out of range integral type conversion attempted$"
NOTE_128 = "Note out of range: 128 (must be 0\u2013127)"


def test_step_construction_and_repr():
    s = Step(60, 100)
    assert (s.note, s.velocity, s.duration_ticks, s.active) == (60, 100, 1, True)
    assert repr(s) == "Step(note=60, velocity=100, duration_ticks=1, active=true)"
    s.active = False
    assert repr(Step(note=0, velocity=0, duration_ticks=0)) == "Step(note=0, velocity=0, duration_ticks=0, active=true)"
    assert repr(s) == "Step(note=60, velocity=100, duration_ticks=1, active=false)"
    assert Step(1, 2, 2**32 - 1).duration_ticks == 2**32 - 1


@pytest.mark.parametrize("args,error,text", [
    ((128, 100), ValueError, NOTE_128),
    ((60, 200), ValueError, "Velocity out of range: 200 (must be 0\u2013127)"),
    ((128, 200), ValueError, NOTE_128),
    ((300, 100), OverflowError, "out of range integral type conversion attempted"),
    ((200, 300), OverflowError, "out of range integral type conversion attempted"),
    ((128, 100, -1), OverflowError, "out of range integral type conversion attempted"),
    ((128, 100, 2**32), OverflowError, "out of range integral type conversion attempted"),
    ((60, 1.5), TypeError, "argument 'velocity': 'float' object cannot be interpreted as an integer"),
])
def test_step_rejects(args, error, text):
    with pytest.raises(error) as info:
        Step(*args)
    assert str(info.value) == text


@pytest.mark.parametrize("prop,param,bad,error", [
    ("note", "note", 128, ValueError), ("note", "note", 256, OverflowError), ("note", "note", "1", TypeError),
    ("velocity", "velocity", 255, ValueError), ("velocity", "velocity", -1, OverflowError),
    ("duration_ticks", "ticks", 2**32, OverflowError), ("duration_ticks", "ticks", 1.0, TypeError),
    ("active", "active", 1, TypeError), ("active", "active", None, TypeError),
])
def test_step_setters_leave_step_unchanged_on_error(prop, param, bad, error):
    s = Step(60, 100, 3)
    with pytest.raises(error) as info:
        setattr(s, prop, bad)
    if error is TypeError:
        assert str(info.value).startswith(f"argument '{param}': ")
    assert s == Step(60, 100, 3)
    with pytest.raises(AttributeError, match="^property has no deleter$"):
        delattr(s, prop)


def test_step_equality():
    assert Step(60, 100) == Step(60, 100, 1)
    for change in (dict(note=61), dict(velocity=99), dict(duration_ticks=2), dict(active=False)):
        other = Step(60, 100)
        for k, v in change.items():
            setattr(other, k, v)
        assert other != Step(60, 100) and not (other == Step(60, 100))
    assert Step(60, 100) != (60, 100, 1, True)
    with pytest.raises(TypeError):
        hash(Step(60, 100))


def test_new_pattern():
    p = Pattern()
    assert len(p) == p.length == 16 and p.loop_enabled is True
    assert repr(p) == "Pattern(length=16, active_steps=0, loop=true)"
    assert all(p.get_step(i) == _default_step() for i in range(16))
    assert repr(p.get_step(0)) == "Step(note=60, velocity=0, duration_ticks=1, active=false)"


def _default_step():
    s = Step(60, 0)
    s.active = False
    return s


def test_empty_pattern():
    p = Pattern(length=0)
    assert len(p) == 0 and repr(p) == "Pattern(length=0, active_steps=0, loop=true)"
    for i in (0, 1, 2**64 - 1):
        with pytest.raises(IndexError, match=rf"^Step index {i} out of range \(0\)$"):
            p.get_step(i)
        assert p.toggle_step(i) is False and p.set_step(i, Step(1, 1)) is False


def test_index_rules():
    p = Pattern()
    assert p.toggle_step(3) is True and p.toggle_step(3) is True
    assert p.get_step(3).active is False
    assert p.toggle_step(16) is False and p.set_step(16, Step(1, 1)) is False
    with pytest.raises(IndexError) as info:
        p.get_step(16)
    assert str(info.value) == "Step index 16 out of range (16)"
    for bad in (-1, 2**64):
        with pytest.raises(OverflowError):
            p.get_step(bad)
        with pytest.raises(OverflowError):
            p.set_step(bad, Step(1, 1))
    assert repr(p) == "Pattern(length=16, active_steps=0, loop=true)"


def test_copies_in_and_out():
    p = Pattern(4)
    s = Step(64, 90, 2)
    assert p.set_step(1, s) is True
    s.note = 10
    out = p.get_step(1)
    out.velocity = 1
    assert p.get_step(1) == Step(64, 90, 2)
    assert p.get_step(1) is not p.get_step(1)


def test_clear_keeps_notes():
    p = Pattern()
    p.set_step(0, Step(40, 90))
    p.toggle_step(4)
    assert repr(p) == "Pattern(length=16, active_steps=2, loop=true)"
    p.clear()
    assert repr(p) == "Pattern(length=16, active_steps=0, loop=true)"
    assert (p.get_step(0).note, p.get_step(0).velocity, p.get_step(0).active) == (40, 90, False)


def test_loop_flag():
    p = Pattern(2)
    p.loop_enabled = False
    assert p.loop_enabled is False and repr(p) == "Pattern(length=2, active_steps=0, loop=false)"
    with pytest.raises(TypeError, match="^argument 'enabled': "):
        p.loop_enabled = 0
    with pytest.raises(AttributeError):
        p.length = 3


class StepLike:
    note, velocity, duration_ticks, active = 1, 1, 1, True


@pytest.mark.parametrize("bad", [None, StepLike(), (60, 100, 1, True), Pattern(1), tamlor.Note(60)])
def test_set_step_needs_a_step(bad):
    p = Pattern(2)
    with pytest.raises(TypeError, match="^argument 'step': must be Step, not "):
        p.set_step(0, bad)
    assert repr(p) == "Pattern(length=2, active_steps=0, loop=true)"


def test_huge_lengths_fail_cleanly():
    for length in (2**63, 2**64 - 1):
        with pytest.raises(MemoryError):
            Pattern(length)
    with pytest.raises(OverflowError):
        Pattern(2**64)
    with pytest.raises(OverflowError):
        Pattern(-1)


def test_reentrant_index_leaves_pattern_unchanged(reentrant):
    p = Pattern(4)
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        p.set_step(reentrant(lambda: p.toggle_step(0), 1), Step(1, 1))
    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        p.toggle_step(reentrant(lambda: len(p), 1))
    s = Step(60, 100)
    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        s.note = reentrant(lambda: s.velocity, 61)
    assert repr(p) == "Pattern(length=4, active_steps=0, loop=true)" and s == Step(60, 100)
    # A read may read again.
    assert p.get_step(reentrant(lambda: len(p), 2)).note == 60
