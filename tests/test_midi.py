"""MIDI vocabulary: Note, Velocity, MidiChannel, MidiMessage and MidiEvent."""
import math

import pytest

import tamlor
from tamlor import MidiChannel, MidiEvent, MidiMessage, Note, Velocity

NAN = float("nan")
INF = float("inf")
OVERFLOW = "^out of range integral type conversion attempted$"

VALUE_TYPES = [(Note, 127, "Note out of range: {} (must be 0\u2013127)"),
               (Velocity, 127, "Velocity out of range: {} (must be 0\u2013127)"),
               (MidiChannel, 15, "MidiChannel out of range: {} (must be 0\u201315)")]


@pytest.mark.parametrize("cls,top,message", VALUE_TYPES)
def test_value_type_ranges(cls, top, message):
    assert cls(0).value == 0 and cls(top).value == top
    for bad in (top + 1, 255):
        with pytest.raises(ValueError) as info:
            cls(bad)
        assert str(info.value) == message.format(bad)
    for bad in (256, -1, 2**64):
        with pytest.raises(OverflowError, match=OVERFLOW):
            cls(bad)
    with pytest.raises(TypeError, match="^argument 'value': "):
        cls(1.0)
    assert cls(value=True).value == 1


@pytest.mark.parametrize("cls,top,message", VALUE_TYPES)
def test_value_type_text_equality_and_hash(cls, top, message):
    name = cls.__name__
    assert repr(cls(9)) == f"{name}(9)" and str(cls(9)) == "9"
    assert cls(9) == cls(9) and not (cls(9) != cls(9))
    assert cls(9) != cls(10)
    assert cls(9) != 9 and not (cls(9) == 9)
    with pytest.raises(TypeError):
        cls(1) < cls(2)
    with pytest.raises(TypeError):
        hash(cls(1))
    with pytest.raises(AttributeError):
        cls(1).value = 2


def test_distinct_value_types_are_never_equal():
    assert Note(5) != Velocity(5) and Velocity(5) != MidiChannel(5)


@pytest.mark.parametrize("note,hz", [(69, 440.0), (60, 261.6255653005986), (21, 27.5),
                                     (0, 8.175798915643707), (127, 12543.853951415975)])
def test_to_hz(note, hz):
    assert Note(note).to_hz() == hz


@pytest.mark.parametrize("hz,note", [(440.0, 69), (261.63, 60), (1000.0, 83), (8.0, 0), (20000.0, 127),
                                     (0.0, 0), (-5.0, 0), (NAN, 0), (INF, 127), (1e12, 127), (-INF, 0)])
def test_from_hz(hz, note):
    assert Note.from_hz(hz) == Note(note)
    assert Note.from_hz(hz=hz).value == note


def test_from_hz_round_trips_every_note_and_is_static():
    assert all(Note.from_hz(Note(n).to_hz()).value == n for n in range(128))
    assert Note.from_hz.__text_signature__ == "(hz)"
    assert Note(1).from_hz(440.0) == Note(69)
    with pytest.raises(TypeError, match="^argument 'hz': "):
        Note.from_hz("440")


def test_message_is_not_instantiable_and_has_no_signature():
    with pytest.raises(TypeError):
        MidiMessage()
    assert MidiMessage.__text_signature__ is None and MidiMessage.__doc__ is None
    assert MidiMessage.note_on.__text_signature__ == "(channel, note, velocity)"
    assert MidiMessage.clock.__text_signature__ == "()"


@pytest.mark.parametrize("message,text", [
    (MidiMessage.note_on(0, 60, 100), "NoteOn { channel: MidiChannel(0), note: Note(60), velocity: Velocity(100) }"),
    (MidiMessage.note_off(15, 127, 0), "NoteOff { channel: MidiChannel(15), note: Note(127), velocity: Velocity(0) }"),
    (MidiMessage.control_change(1, 7, 100), "ControlChange { channel: MidiChannel(1), control: ControlNumber(7), value: 100 }"),
    (MidiMessage.control_change(0, 7, 200), "ControlChange { channel: MidiChannel(0), control: ControlNumber(7), value: 200 }"),
    (MidiMessage.program_change(2, 5), "ProgramChange { channel: MidiChannel(2), program: 5 }"),
    (MidiMessage.program_change(0, 255), "ProgramChange { channel: MidiChannel(0), program: 255 }"),
    (MidiMessage.pitch_bend(0, 8192), "PitchBend { channel: MidiChannel(0), value: 8192 }"),
    (MidiMessage.pitch_bend(15, 65535), "PitchBend { channel: MidiChannel(15), value: 65535 }"),
    (MidiMessage.clock(), "Clock"),
    (MidiMessage.start(), "Start"),
    (MidiMessage.stop(), "Stop"),
])
def test_message_text(message, text):
    assert str(message) == text
    assert repr(message) == f"MidiMessage({text})"


def test_message_equality():
    m = MidiMessage.note_on(0, 60, 100)
    assert m == MidiMessage.note_on(channel=0, note=60, velocity=100)
    assert m != MidiMessage.note_off(0, 60, 100)
    assert m != MidiMessage.note_on(1, 60, 100)
    assert MidiMessage.clock() == MidiMessage.clock() and MidiMessage.clock() != MidiMessage.stop()
    assert MidiMessage.program_change(0, 5) != MidiMessage.control_change(0, 5, 0)
    with pytest.raises(TypeError):
        hash(m)
    with pytest.raises(TypeError):
        m < m


@pytest.mark.parametrize("call,error,text", [
    (lambda: MidiMessage.note_on(16, 200, 200), ValueError, "MidiChannel out of range: 16 (must be 0\u201315)"),
    (lambda: MidiMessage.note_on(0, 128, 200), ValueError, "Note out of range: 128 (must be 0\u2013127)"),
    (lambda: MidiMessage.note_on(0, 60, 128), ValueError, "Velocity out of range: 128 (must be 0\u2013127)"),
    (lambda: MidiMessage.note_off(0, 60, 128), ValueError, "Velocity out of range: 128 (must be 0\u2013127)"),
    (lambda: MidiMessage.note_on(16, 60, 300), OverflowError, "out of range integral type conversion attempted"),
    (lambda: MidiMessage.control_change(0, 128, 0), ValueError, "ControlNumber out of range: 128 (must be 0\u2013127)"),
    (lambda: MidiMessage.control_change(16, 128, 0), ValueError, "MidiChannel out of range: 16 (must be 0\u201315)"),
    (lambda: MidiMessage.control_change(99, 128, 256), OverflowError, "out of range integral type conversion attempted"),
    (lambda: MidiMessage.program_change(16, 256), OverflowError, "out of range integral type conversion attempted"),
    (lambda: MidiMessage.program_change(16, 0), ValueError, "MidiChannel out of range: 16 (must be 0\u201315)"),
    (lambda: MidiMessage.pitch_bend(0, 65536), OverflowError, "out of range integral type conversion attempted"),
    (lambda: MidiMessage.pitch_bend(16, -1), OverflowError, "out of range integral type conversion attempted"),
    (lambda: MidiMessage.pitch_bend(16, 0), ValueError, "MidiChannel out of range: 16 (must be 0\u201315)"),
    (lambda: MidiMessage.note_on(200, 60, "x"), TypeError, "argument 'velocity': 'str' object cannot be interpreted as an integer"),
    (lambda: MidiMessage.note_on(0, 60), TypeError, "note_on() missing required argument 'velocity' (pos 3)"),
    (lambda: MidiMessage.clock(1), TypeError, "MidiMessage.clock() takes no arguments (1 given)"),
])
def test_message_conversion_before_range_checks(call, error, text):
    with pytest.raises(error) as info:
        call()
    assert str(info.value) == text


def test_event():
    m = MidiMessage.clock()
    ev = MidiEvent(m, 1500)
    assert repr(ev) == "MidiEvent(Clock, timestamp_us=1500)" and str(ev) == repr(ev)
    assert ev.timestamp_us == 1500
    assert ev.message == m and ev.message is not ev.message
    off = MidiEvent(message=MidiMessage.note_off(0, 60, 0), timestamp_us=2**64 - 1)
    assert repr(off) == ("MidiEvent(NoteOff { channel: MidiChannel(0), note: Note(60), velocity: Velocity(0) }, "
                         "timestamp_us=18446744073709551615)")
    # Identity semantics: equal contents are not equal events, and events hash.
    assert MidiEvent(m, 1) != MidiEvent(m, 1) and ev == ev
    assert {ev: 1}[ev] == 1
    with pytest.raises(AttributeError):
        ev.timestamp_us = 3


@pytest.mark.parametrize("args,error,name", [
    ((MidiMessage.clock(), -1), OverflowError, None),
    ((MidiMessage.clock(), 2**64), OverflowError, None),
    ((42, 0), TypeError, "message"),
    ((Note(1), 0), TypeError, "message"),
    ((MidiMessage.clock(), 1.0), TypeError, "timestamp_us"),
])
def test_event_rejects(args, error, name):
    with pytest.raises(error) as info:
        MidiEvent(*args)
    if name:
        assert str(info.value).startswith(f"argument '{name}': ")
