"""The module frame and the binding conventions every class shares, exercised
through TransportClock where a concrete class is needed."""
import gc
import math
import subprocess
import sys

import pytest

import tamlor

REGISTRY = [
    ("AudioFormat", "(sample_rate=44100, channels=2)"),
    ("AudioBuffer", "(frames, sample_rate=44100, channels=1)"),
    ("MidiChannel", "(value)"),
    ("Note", "(value)"),
    ("Velocity", "(value)"),
    ("MidiMessage", None),
    ("MidiEvent", "(message, timestamp_us)"),
    ("SineOscillator", "(frequency=440.0, amplitude=1.0, sample_rate=44100)"),
    ("SquareOscillator", "(frequency=440.0, amplitude=1.0, sample_rate=44100)"),
    ("SawOscillator", "(frequency=440.0, amplitude=1.0, sample_rate=44100)"),
    ("NoiseSource", "(amplitude=1.0, seed=42)"),
    ("MixerChannel", '(name="Channel")'),
    ("Mixer", "()"),
    ("Step", "(note, velocity, duration_ticks=1)"),
    ("Pattern", "(length=16)"),
    ("NoteEvent", "(beat_position, duration, note, velocity)"),
    ("EventSequence", "()"),
    ("TransportClock", "(bpm=120.0)"),
    ("StepSequencer", "(pattern, channel=0)"),
    ("AudioSample", "(data, sample_rate=44100, root_note=69)"),
    ("Envelope", "(attack=0.005, decay=0.1, sustain=0.8, release=0.1)"),
    ("SampleMapping", "(sample, note_low, note_high, velocity_low, velocity_high)"),
    ("SampleMap", "()"),
    ("Sampler", "(sample, sample_rate=44100, max_voices=8)"),
    ("AudioOutput", "(sample_rate=44100, channels=2, buffer_size=512)"),
    ("MidiInput", '(client_name="tamlor")'),
]


def test_all_lists_the_classes_in_registry_order():
    assert tamlor.__all__ == [name for name, _ in REGISTRY]
    assert tamlor.__doc__ == ""


@pytest.mark.parametrize("name,signature", REGISTRY)
def test_class_identity_and_signature(name, signature):
    cls = getattr(tamlor, name)
    assert cls.__module__ == "builtins"
    assert cls.__qualname__ == name
    assert cls.__name__ == name
    assert cls.__text_signature__ == signature
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})  # no class is a base type


def test_every_method_carries_a_text_signature():
    clock = tamlor.TransportClock
    for name in ["play", "pause", "stop", "seek", "advance_by_frames", "beats_to_seconds",
                 "seconds_to_beats", "beats_to_ticks", "ticks_to_beats"]:
        assert getattr(clock, name).__text_signature__.startswith("($self")
    assert clock.seek.__text_signature__ == "($self, beat)"
    assert clock.advance_by_frames.__text_signature__ == "($self, frames, sample_rate)"
    assert clock.play.__text_signature__ == "($self)"


def test_types_are_created_once_per_process():
    import importlib.util

    spec = importlib.util.find_spec("tamlor")
    second = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(second)
    assert second is not tamlor
    assert second.TransportClock is tamlor.TransportClock
    assert second.__all__ == tamlor.__all__


class TestProperties:
    def test_delete_writable_property(self):
        clock = tamlor.TransportClock()
        with pytest.raises(AttributeError, match="^property has no deleter$"):
            del clock.bpm
        with pytest.raises(AttributeError, match="^property has no deleter$"):
            del clock.ticks_per_beat
        assert clock.bpm == 120.0

    def test_read_only_property_refuses_assignment_and_deletion(self):
        clock = tamlor.TransportClock()
        with pytest.raises(AttributeError):
            clock.position = 3.0
        with pytest.raises(AttributeError):
            del clock.state
        assert clock.position == 0.0

    def test_no_instance_dict(self):
        clock = tamlor.TransportClock()
        with pytest.raises(AttributeError):
            clock.extra = 1


class TestArgumentBinding:
    def test_positional_and_keyword(self):
        assert tamlor.TransportClock(90.0).bpm == 90.0
        assert tamlor.TransportClock(bpm=90).bpm == 90.0
        clock = tamlor.TransportClock()
        clock.play()
        assert clock.advance_by_frames(sample_rate=44100, frames=44100) == (0.0, 2.0)

    @pytest.mark.parametrize(
        "call,message",
        [
            (lambda c: c.advance_by_frames(1, 2, 3), r"advance_by_frames\(\) takes at most 2 arguments \(3 given\)"),
            (lambda c: c.advance_by_frames(1), r"missing required argument 'sample_rate' \(pos 2\)"),
            (lambda c: c.advance_by_frames(), r"missing required argument 'frames' \(pos 1\)"),
            (lambda c: c.advance_by_frames(1, frames=2), r"given by name \('frames'\) and position \(1\)"),
            (lambda c: c.advance_by_frames(1, 2, rate=3), r"unexpected keyword argument 'rate'"),
            (lambda c: c.seek(), r"missing required argument 'beat'"),
            (lambda c: c.seek(beat=1, other=2), r"unexpected keyword argument 'other'"),
            (lambda c: c.play(1), r"takes no arguments"),
            (lambda c: tamlor.TransportClock(1, 2), r"TransportClock\(\) takes at most 1 argument \(2 given\)"),
            (lambda c: tamlor.TransportClock(tempo=1), r"unexpected keyword argument 'tempo'"),
            (lambda c: tamlor.TransportClock(1, bpm=2), r"given by name \('bpm'\) and position \(1\)"),
        ],
    )
    def test_binding_errors(self, call, message):
        clock = tamlor.TransportClock()
        with pytest.raises(TypeError, match=message):
            call(clock)
        assert repr(clock) == "TransportClock(bpm=120.0, position=0.000, state='stopped')"

    def test_keyword_names_that_are_not_interned(self):
        name = "".join(["sample", "_rate"])
        clock = tamlor.TransportClock()
        clock.play()
        assert clock.advance_by_frames(44100, **{name: 44100}) == (0.0, 2.0)


class TestConversions:
    @pytest.mark.parametrize("bad", ["1.0", None, [1.0], object(), 1j])
    def test_float_parameter_refuses_non_numbers(self, bad):
        clock = tamlor.TransportClock()
        with pytest.raises(TypeError, match="^argument 'beat': "):
            clock.seek(bad)
        with pytest.raises(TypeError, match="^argument 'bpm': "):
            tamlor.TransportClock(bad)
        with pytest.raises(TypeError, match="^argument 'value': "):
            clock.bpm = bad
        assert clock.position == 0.0 and clock.bpm == 120.0

    def test_float_parameter_takes_ints_and_float_likes(self):
        class F:
            def __float__(self):
                return 2.5

        clock = tamlor.TransportClock()
        clock.seek(3)
        assert clock.position == 3.0
        clock.seek(F())
        assert clock.position == 2.5
        with pytest.raises(OverflowError):
            clock.seek(10**400)

    def test_float_conversion_that_raises_leaves_object_unchanged(self):
        class Bad:
            def __float__(self):
                raise ZeroDivisionError("boom")

        clock = tamlor.TransportClock()
        clock.seek(1.5)
        with pytest.raises(ZeroDivisionError):
            clock.seek(Bad())
        assert clock.position == 1.5

    def test_narrow_unsigned(self):
        clock = tamlor.TransportClock()
        clock.ticks_per_beat = 4294967295
        assert clock.ticks_per_beat == 4294967295
        for bad in (-1, 4294967296, 2**64, -(2**70)):
            with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
                clock.ticks_per_beat = bad
        assert clock.ticks_per_beat == 4294967295
        with pytest.raises(TypeError, match="^argument 'tpb': "):
            clock.ticks_per_beat = 1.0
        with pytest.raises(TypeError, match="^argument 'tpb': "):
            clock.ticks_per_beat = "480"

    def test_index_objects_and_bools_are_integers(self):
        class I:
            def __index__(self):
                return 96

        clock = tamlor.TransportClock()
        clock.ticks_per_beat = I()
        assert clock.ticks_per_beat == 96
        clock.ticks_per_beat = True
        assert clock.ticks_per_beat == 1

    def test_u64(self):
        clock = tamlor.TransportClock()
        assert clock.ticks_to_beats(2**64 - 1) == float(2**64 - 1) / 480
        with pytest.raises(OverflowError):
            clock.ticks_to_beats(2**64)
        with pytest.raises(OverflowError):
            clock.ticks_to_beats(-1)
        with pytest.raises(TypeError, match="^argument 'ticks': "):
            clock.ticks_to_beats(1.5)
        clock.play()
        with pytest.raises(OverflowError):
            clock.advance_by_frames(-1, 44100)
        with pytest.raises(OverflowError, match="out of range integral"):
            clock.advance_by_frames(1, -1)
        assert clock.position == 0.0


class TestBorrowing:
    def test_reentrant_float_in_mutating_method(self, reentrant):
        clock = tamlor.TransportClock()
        clock.seek(2.0)
        value = reentrant(lambda: clock.bpm, 5.0)
        with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
            clock.seek(value)
        assert clock.position == 2.0
        # The object is usable again afterwards.
        clock.seek(3.0)
        assert clock.position == 3.0

    def test_reentrant_mutation_during_read(self, reentrant):
        clock = tamlor.TransportClock()
        value = reentrant(clock.play, 1.0)
        with pytest.raises(RuntimeError, match="^Already borrowed$"):
            clock.beats_to_seconds(value)
        assert clock.state == "stopped"

    def test_reentrant_read_during_read_is_allowed(self, reentrant):
        clock = tamlor.TransportClock()
        seen = []
        value = reentrant(lambda: seen.append(clock.bpm), 1.0)
        assert clock.beats_to_seconds(value) == 0.5
        assert seen == [120.0]

    def test_reentrant_setter_and_index(self, reentrant):
        clock = tamlor.TransportClock()
        with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
            clock.bpm = reentrant(lambda: repr(clock), 90.0)
        assert clock.bpm == 120.0
        with pytest.raises(RuntimeError, match="^Already borrowed$"):
            clock.ticks_per_beat = reentrant(clock.stop, 96)
        assert clock.ticks_per_beat == 480
        clock.play()
        with pytest.raises(RuntimeError):
            clock.advance_by_frames(reentrant(lambda: clock.seek(9.0), 512), 44100)
        assert clock.position == 0.0


class TestComparisonAndHash:
    def test_identity_equality_for_clock(self):
        a, b = tamlor.TransportClock(), tamlor.TransportClock()
        assert a == a and a != b
        assert isinstance(hash(a), int)


def test_no_reference_leaks():
    clock_type = tamlor.TransportClock
    gc.collect()
    before = sys.getrefcount(clock_type)
    for _ in range(1000):
        c = clock_type(100.0)
        c.play()
        c.advance_by_frames(512, 44100)
        repr(c)
        try:
            c.seek("bad")
        except TypeError:
            pass
    del c
    gc.collect()
    assert sys.getrefcount(clock_type) == before


def test_import_in_fresh_interpreter():
    out = subprocess.run(
        [sys.executable, "-c", "import tamlor; print(len(tamlor.__all__))"],
        capture_output=True, text=True, check=True,
    )
    assert out.stdout.strip() == "26"


def test_only_the_init_function_is_exported():
    import shutil

    if not shutil.which("nm"):
        pytest.skip("nm is not installed")
    out = subprocess.run(["nm", "-D", "--defined-only", tamlor.__file__], capture_output=True, text=True, check=True)
    functions = [line.split()[-1] for line in out.stdout.splitlines() if line.split()[1:2] in (["T"], ["W"], ["i"])]
    assert functions == ["PyInit_tamlor"]
    assert tamlor.__file__.endswith(".abi3.so")


class TestBoolConversion:
    """bool parameters take bool and numpy's bool scalar, nothing else."""

    def test_bool_and_numpy_like_bool(self):
        step = tamlor.Step(60, 100)
        step.active = False
        assert step.active is False
        numpy_bool = type("bool_", (), {"__module__": "numpy", "__bool__": lambda self: True})
        step.active = numpy_bool()
        assert step.active is True
        renamed = type("bool", (), {"__module__": "numpy", "__bool__": lambda self: False})
        step.active = renamed()
        assert step.active is False

    def test_real_numpy_bool(self):
        np = pytest.importorskip("numpy")
        pattern = tamlor.Pattern()
        pattern.loop_enabled = np.bool_(False)
        assert pattern.loop_enabled is False

    @pytest.mark.parametrize(
        "value,message",
        [
            (1, "must be bool, not int"),
            (0.0, "must be bool, not float"),
            (None, "must be bool, not NoneType"),
            ("yes", "object of type 'str' does not define a '__bool__' conversion"),
            (type("bool_", (), {"__module__": "numpy", "__bool__": lambda self: 1})(), "__bool__ should return bool"),
            (type("bool_", (), {"__module__": "elsewhere", "__bool__": lambda self: True})(), "must be bool, not bool_"),
        ],
    )
    def test_everything_else_is_refused(self, value, message):
        pattern = tamlor.Pattern()
        with pytest.raises(TypeError, match=f"^argument 'enabled': {message}"):
            pattern.loop_enabled = value
        assert pattern.loop_enabled is True
