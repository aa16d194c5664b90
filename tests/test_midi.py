"""MIDI vocabulary: Note, Velocity, MidiChannel, MidiMessage and MidiEvent."""
import pytest

from tamlor import MidiChannel, MidiEvent, MidiMessage, Note, Velocity

NAN = float("nan")
INF = float("inf")
OVERFLOW = "out of range integral type conversion attempted"
RANGE = "{} out of range: {} (must be 0\u2013{})"


@pytest.mark.parametrize("cls,top", [(Note, 127), (Velocity, 127), (MidiChannel, 15)])
def test_value_types(cls, top):
    name = cls.__name__
    assert cls(0).value == 0 and cls(value=top).value == top
    for bad in (top + 1, 255):
        with pytest.raises(ValueError) as info:
            cls(bad)
        assert str(info.value) == RANGE.format(name, bad, top)
    for bad in (256, -1, 2**64):
        with pytest.raises(OverflowError, match=f"^{OVERFLOW}$"):
            cls(bad)
    with pytest.raises(TypeError, match="^argument 'value': "):
        cls(1.0)
    assert repr(cls(9)) == f"{name}(9)" and str(cls(9)) == "9"
    assert cls(9) == cls(9) and cls(9) != cls(10) and cls(9) != 9 and not (cls(9) == 9)
    with pytest.raises(TypeError):
        cls(1) < cls(2)
    with pytest.raises(TypeError):
        hash(cls(1))
    with pytest.raises(AttributeError):
        cls(1).value = 2


@pytest.mark.parametrize("note,hz", [(69, 440.0), (60, 261.6255653005986), (21, 27.5),
                                     (0, 8.175798915643707), (127, 12543.853951415975)])
def test_to_hz(note, hz):
    assert Note(note).to_hz() == hz


@pytest.mark.parametrize("hz,note", [(440.0, 69), (261.63, 60), (1000.0, 83), (8.0, 0), (20000.0, 127),
                                     (0.0, 0), (-5.0, 0), (NAN, 0), (-INF, 0), (INF, 127), (1e12, 127)])
def test_from_hz(hz, note):
    assert Note.from_hz(hz=hz) == Note(note)


def test_from_hz_round_trips_and_is_static():
    assert all(Note.from_hz(Note(n).to_hz()).value == n for n in range(128))
    assert Note.from_hz.__text_signature__ == "(hz)" and Note(1).from_hz(440.0) == Note(69)


def test_message_type_is_not_instantiable():
    with pytest.raises(TypeError):
        MidiMessage()
    assert MidiMessage.__text_signature__ is None
    assert MidiMessage.note_on.__text_signature__ == "(channel, note, velocity)"


@pytest.mark.parametrize("message,text", [
    (MidiMessage.note_on(0, 60, 100), "NoteOn { channel: MidiChannel(0), note: Note(60), velocity: Velocity(100) }"),
    (MidiMessage.note_off(15, 127, 0), "NoteOff { channel: MidiChannel(15), note: Note(127), velocity: Velocity(0) }"),
    (MidiMessage.control_change(1, 7, 200), "ControlChange { channel: MidiChannel(1), control: ControlNumber(7), value: 200 }"),
    (MidiMessage.program_change(2, 255), "ProgramChange { channel: MidiChannel(2), program: 255 }"),
    (MidiMessage.pitch_bend(15, 65535), "PitchBend { channel: MidiChannel(15), value: 65535 }"),
    (MidiMessage.clock(), "Clock"), (MidiMessage.start(), "Start"), (MidiMessage.stop(), "Stop"),
])
def test_message_text(message, text):
    assert str(message) == text and repr(message) == f"MidiMessage({text})"


def test_message_equality():
    m = MidiMessage.note_on(0, 60, 100)
    assert m == MidiMessage.note_on(channel=0, note=60, velocity=100)
    assert m != MidiMessage.note_off(0, 60, 100) and m != MidiMessage.note_on(1, 60, 100)
    assert MidiMessage.program_change(0, 5) != MidiMessage.control_change(0, 5, 0)
    with pytest.raises(TypeError):
        hash(m)


@pytest.mark.parametrize("call,error,text", [
    (lambda: MidiMessage.note_on(16, 200, 200), ValueError, RANGE.format("MidiChannel", 16, 15)),
    (lambda: MidiMessage.note_on(0, 128, 200), ValueError, RANGE.format("Note", 128, 127)),
    (lambda: MidiMessage.note_off(0, 60, 128), ValueError, RANGE.format("Velocity", 128, 127)),
    (lambda: MidiMessage.note_on(16, 60, 300), OverflowError, OVERFLOW),
    (lambda: MidiMessage.control_change(0, 128, 0), ValueError, RANGE.format("ControlNumber", 128, 127)),
    (lambda: MidiMessage.control_change(16, 128, 256), OverflowError, OVERFLOW),
    (lambda: MidiMessage.program_change(16, 0), ValueError, RANGE.format("MidiChannel", 16, 15)),
    (lambda: MidiMessage.pitch_bend(16, 65536), OverflowError, OVERFLOW),
    (lambda: MidiMessage.note_on(200, 60, "x"), TypeError,
     "argument 'velocity': 'str' object cannot be interpreted as an integer"),
])
def test_message_arguments_convert_before_range_checks(call, error, text):
    with pytest.raises(error) as info:
        call()
    assert str(info.value) == text


def test_event():
    m = MidiMessage.clock()
    ev = MidiEvent(m, 1500)
    assert repr(ev) == str(ev) == "MidiEvent(Clock, timestamp_us=1500)" and ev.timestamp_us == 1500
    assert ev.message == m and ev.message is not ev.message
    off = MidiEvent(message=MidiMessage.note_off(0, 60, 0), timestamp_us=2**64 - 1)
    assert repr(off) == ("MidiEvent(NoteOff { channel: MidiChannel(0), note: Note(60), velocity: Velocity(0) }, "
                         "timestamp_us=18446744073709551615)")
    assert MidiEvent(m, 1) != MidiEvent(m, 1) and {ev: 1}[ev] == 1  # identity semantics
    for bad in (-1, 2**64):
        with pytest.raises(OverflowError):
            MidiEvent(m, bad)
    for bad in (42, Note(1)):
        with pytest.raises(TypeError, match="^argument 'message': must be MidiMessage, not "):
            MidiEvent(bad, 0)
