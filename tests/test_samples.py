"""AudioSample, SampleMapping and SampleMap: 32-bit frames from any sequence
of numbers, loop points stored as assigned, first-match zone lookup, and
copies that behave as if each owned its frames."""
import re
from array import array
from collections.abc import Sequence

import pytest

import tamlor



def note_error(value):
    """A `match` pattern for exactly the note range message."""
    return "^" + re.escape(f"Note out of range: {value} (must be 0\u2013127)") + "$"


def velocity_error(value):
    return "^" + re.escape(f"Velocity out of range: {value} (must be 0\u2013127)") + "$"


def test_repr_duration_and_widened_frames():
    assert repr(tamlor.AudioSample([0.0] * 22050)) == "AudioSample(samples=22050, sr=44100, root_note=69, duration=0.500s)"
    empty = tamlor.AudioSample([], sample_rate=0)
    assert empty.duration_seconds() == 0.0
    assert repr(empty).endswith("duration=0.000s)")
    assert len(empty) == 0 and empty.data() == []
    # the duration counts the frames only: 4 frames at 4 Hz last exactly one second
    assert tamlor.AudioSample([0.0] * 4, sample_rate=4).duration_seconds() == 1.0
    assert tamlor.AudioSample([], sample_rate=1).duration_seconds() == 0.0
    s = tamlor.AudioSample([0.1, 0.2])
    assert s.data() == [0.10000000149011612, 0.20000000298023224]
    assert (len(s), s.sample_rate, s.root_note, s.loop_start, s.loop_end) == (2, 44100, 69, None, None)


@pytest.mark.parametrize(
    "data", [(1, 2.5, 3), range(3), array("d", [1.0, 2.0]), bytearray(b"\x01\x02")], ids=type
)
def test_any_sequence_of_numbers_is_accepted(data):
    assert tamlor.AudioSample(data).data() == [float(x) for x in data]


class Raises:
    def __float__(self):
        raise ZeroDivisionError("no number here")


class ShortSequence(Sequence):
    """Claims five items but runs out after two."""

    def __len__(self):
        return 5

    def __getitem__(self, i):
        if i >= 2:
            raise IndexError(i)
        return 1.0


@pytest.mark.parametrize(
    "data, error",
    [
        ("0.5", TypeError), (b"\x01", None), (5, TypeError), (iter([1.0]), TypeError),
        ([1.0, "x"], TypeError), ([1.0, Raises(), 2.0], ZeroDivisionError), (ShortSequence(), IndexError),
    ],
)
def test_bad_data_is_refused(data, error):
    if error is None:  # bytes are a sequence of ints, not a string
        assert tamlor.AudioSample(data).data() == [1.0]
        return
    with pytest.raises(error) as info:
        tamlor.AudioSample(data)
    if error is TypeError:
        assert "argument 'data'" in str(info.value)


def test_a_list_that_shrinks_while_read_fails_cleanly():
    data = [1.0, 2.0, 3.0, 4.0]

    class Shrink:
        def __float__(self):
            data.clear()
            return 0.5

    data[1] = Shrink()
    with pytest.raises(RuntimeError, match="changed size"):
        tamlor.AudioSample(data)


def test_a_list_that_grows_while_read_keeps_its_first_length():
    data = [1.0, 2.0]

    class Grow:
        def __float__(self):
            data.extend([9.0] * 100)
            return 0.5

    data[0] = Grow()
    assert tamlor.AudioSample(data).data() == [0.5, 2.0]


def test_root_note_checks():
    with pytest.raises(ValueError, match=note_error(128)):
        tamlor.AudioSample([1.0], root_note=128)
    with pytest.raises(OverflowError):
        tamlor.AudioSample([1.0], root_note=256)
    with pytest.raises(OverflowError):
        tamlor.AudioSample([1.0], sample_rate=-1)
    s = tamlor.AudioSample([1.0], root_note=60)
    s.root_note = 72
    with pytest.raises(ValueError, match=note_error(200)):
        s.root_note = 200
    with pytest.raises(TypeError, match="argument 'note'"):
        s.root_note = 1.5
    assert s.root_note == 72


def test_loop_points_are_stored_as_assigned():
    s = tamlor.AudioSample([0.0] * 4)
    s.loop_start = 10
    s.loop_end = 5
    assert (s.loop_start, s.loop_end) == (10, 5)
    s.loop_end = None
    assert s.loop_end is None
    s.loop_start = 2**64 - 1
    assert s.loop_start == 2**64 - 1
    with pytest.raises(OverflowError):
        s.loop_start = -1
    with pytest.raises(TypeError, match="argument 'end'"):
        s.loop_end = "x"
    with pytest.raises(AttributeError, match="property has no deleter"):
        del s.loop_start
    assert (s.loop_start, s.loop_end) == (2**64 - 1, None)
    with pytest.raises(AttributeError):
        s.sample_rate = 1


def test_mapping_zones():
    s = tamlor.AudioSample([1.0])
    m = tamlor.SampleMapping(s, 60, 72, 0, 127)
    assert m.matches(72, 127) and m.matches(60, 0)
    assert not m.matches(73, 0) and not m.matches(59, 0)
    assert not any(tamlor.SampleMapping(s, 72, 60, 0, 127).matches(n, 64) for n in range(128))
    assert repr(tamlor.SampleMapping(s, 60, 72, 1, 100)) == "SampleMapping(notes=60-72, vel=1-100)"
    assert not tamlor.SampleMapping(s, 0, 127, 1, 100).matches(60, 101)


@pytest.mark.parametrize(
    "bounds, error, text",
    [
        ((128, 60, 0, 300), OverflowError, None),  # every bound converts before any is checked
        ((60, 128, 200, 0), ValueError, note_error(128)),
        ((60, 72, 200, 128), ValueError, velocity_error(200)),
        ((60, 72, 0, 128), ValueError, velocity_error(128)),
        ((-1, 72, 0, 127), OverflowError, None),
    ],
)
def test_mapping_validation_order(bounds, error, text):
    with pytest.raises(error, match=text):
        tamlor.SampleMapping(tamlor.AudioSample([1.0]), *bounds)


def test_mapping_needs_an_audio_sample():
    with pytest.raises(TypeError, match="argument 'sample'"):
        tamlor.SampleMapping([1.0], 0, 127, 0, 127)


@pytest.mark.parametrize(
    "args, text",
    [((60, 200), velocity_error(200)), ((200, 200), note_error(200)), ((128, 0), note_error(128))],
)
def test_lookup_validates_before_looking(args, text):
    with pytest.raises(ValueError, match=text):
        tamlor.SampleMap().find_sample(*args)
    with pytest.raises(ValueError, match=text):
        tamlor.SampleMapping(tamlor.AudioSample([1.0]), 0, 127, 0, 127).matches(*args)


def test_first_added_zone_wins():
    a = tamlor.AudioSample([1.0], root_note=60)
    b = tamlor.AudioSample([2.0, 2.0], root_note=66)
    m = tamlor.SampleMap()
    assert m.add_mapping(tamlor.SampleMapping(a, 60, 72, 0, 127)) is None
    m.add_mapping(tamlor.SampleMapping(b, 66, 80, 0, 127))
    m.add_mapping(tamlor.SampleMapping(b, 60, 72, 0, 127))  # duplicates are accepted
    assert (len(m), m.mapping_count(), repr(m)) == (3, 3, "SampleMap(mappings=3)")
    assert m.find_sample(70, 64).data() == [1.0]
    assert m.find_sample(75, 64).root_note == 66
    assert m.find_sample(59, 64) is None
    with pytest.raises(TypeError, match="argument 'mapping'"):
        m.add_mapping(a)


def test_single_sample_covers_every_key_and_velocity():
    s = tamlor.AudioSample([0.25, 0.5], root_note=48)
    m = tamlor.SampleMap.single_sample(s)
    assert (len(m), repr(m)) == (1, "SampleMap(mappings=1)")
    for note, velocity in ((0, 0), (127, 127)):
        found = m.find_sample(note, velocity)
        assert (found.data(), found.root_note) == ([0.25, 0.5], 48)
    assert repr(tamlor.SampleMap()) == "SampleMap(mappings=0)"


def test_every_hand_over_is_a_copy():
    s = tamlor.AudioSample([0.5] * 3, root_note=60)
    m = tamlor.SampleMap.single_sample(s)
    s.root_note = 61
    s.loop_start = 1
    found = m.find_sample(60, 60)
    assert (found.root_note, found.loop_start) == (60, None)
    found.root_note = 10
    found.loop_end = 2
    again = m.find_sample(60, 60)
    assert (again.root_note, again.loop_end) == (60, None)
    assert found is not again
