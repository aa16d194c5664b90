"""Hostile input against every constructor, method and writable property of
every class: only Python exceptions may come out, and a call that fails must
leave its object exactly as it was. Run under the sanitizer build in CI, this
also shows that no such call touches memory it should not."""
import array
import inspect

import pytest

import tamlor


class Raises:
    def __float__(self):
        raise ZeroDivisionError("float")

    def __index__(self):
        raise ZeroDivisionError("index")


class Meddler:
    """Converts to 1 after calling every no-argument method of `target`."""

    def __init__(self, target):
        self.target = target

    def _meddle(self):
        for name in dir(self.target):
            fn = getattr(self.target, name, None)
            if not name.startswith("_") and callable(fn) and fn.__text_signature__ == "($self)":
                try:
                    fn()
                except Exception:
                    pass

    def __float__(self):
        self._meddle()
        return 1.0

    def __index__(self):
        self._meddle()
        return 1


HOSTILE = [None, "x", b"x", 1.5, -1, 2**62, 2**64, -(2**70), float("nan"), float("inf"), -float("inf"),
           [], [1.0, "x"], ("a",), {}, object(), Raises(), True,
           memoryview(bytes(8)).cast("f"), array.array("d", [0.5]), bytearray(8)]


def sample():
    s = tamlor.AudioSample([0.0, 0.5, -0.5, 0.25] * 8, sample_rate=8000, root_note=60)
    s.loop_start, s.loop_end = 4, 20
    return s


def instances():
    pattern = tamlor.Pattern(8)
    pattern.set_step(1, tamlor.Step(60, 100, 2))
    sequence = tamlor.EventSequence()
    for i in range(4):
        sequence.add_event(tamlor.NoteEvent(i * 0.5, 0.5, 60 + i, 90))
    mixer = tamlor.Mixer()
    mixer.add_channel("a")
    mixer.add_channel("b")
    sampler = tamlor.Sampler(sample(), sample_rate=8000, max_voices=3)
    sampler.note_on(60, 100)
    sample_map = tamlor.SampleMap()
    sample_map.add_mapping(tamlor.SampleMapping(sample(), 0, 127, 0, 127))
    clock = tamlor.TransportClock()
    clock.play()
    buffer = tamlor.AudioBuffer(4, channels=2)
    buffer.set_sample(1, 1, 0.5)
    return [
        tamlor.AudioFormat(), buffer, tamlor.MidiChannel(3), tamlor.Note(60), tamlor.Velocity(9),
        tamlor.MidiEvent(tamlor.MidiMessage.note_on(0, 60, 100), 5), tamlor.SineOscillator(),
        tamlor.SquareOscillator(), tamlor.SawOscillator(), tamlor.NoiseSource(), tamlor.MixerChannel("c"), mixer,
        tamlor.Step(60, 100), pattern, tamlor.NoteEvent(1.0, 0.5, 60, 100), sequence, clock,
        tamlor.StepSequencer(pattern), sample(), tamlor.Envelope(), tamlor.SampleMapping(sample(), 0, 127, 0, 127),
        sample_map, sampler, tamlor.MidiInput(),
    ]


READERS = ["events", "to_list", "data", "channel_names", "active_voice_count", "duration", "mapping_count",
           "channel_count"]


def snapshot(obj):
    """Everything observable about `obj` without changing it."""
    state = [repr(obj)]
    for name, _ in inspect.getmembers(type(obj), inspect.isdatadescriptor):
        if not name.startswith("_"):
            state.append((name, repr(getattr(obj, name))))
    for name in READERS:
        if callable(getattr(obj, name, None)):
            state.append((name, repr(getattr(obj, name)())))
    if hasattr(type(obj), "__len__"):
        state.append(len(obj))
    return state


def arities(fn):
    params = [p for p in fn.__text_signature__.strip("()").split(", ") if p and p != "$self"]
    return len(params)


def calls(obj):
    """(description, callable) pairs: every method with one hostile argument
    in each position, the others 0, and every writable property assignment."""
    for name in dir(obj):
        if name.startswith("_"):
            continue
        attr = getattr(type(obj), name)
        if inspect.isdatadescriptor(attr):
            for value in HOSTILE + [Meddler(obj)]:
                yield f"{name} = {value!r}", lambda v=value, n=name: setattr(obj, n, v)
            continue
        fn = getattr(obj, name)
        n = arities(fn)
        for position in range(n):
            for value in HOSTILE + [Meddler(obj)]:
                args = [0] * n
                args[position] = value
                yield f"{name}{tuple(args)!r}", lambda f=fn, a=args: f(*a)


@pytest.mark.parametrize("obj", instances(), ids=lambda o: type(o).__name__)
def test_hostile_calls_fail_cleanly_and_change_nothing(obj):
    for description, call in calls(obj):
        before = snapshot(obj)
        try:
            call()
        except AttributeError:
            assert snapshot(obj) == before, description  # read-only property
        except Exception:
            assert snapshot(obj) == before, description


@pytest.mark.parametrize("name", tamlor.__all__)
def test_hostile_constructor_arguments(name):
    cls = getattr(tamlor, name)
    signature = cls.__text_signature__
    if signature is None or name in ("AudioOutput",):
        return
    n = len([p for p in signature.strip("()").split(", ") if p])
    for position in range(n):
        for value in HOSTILE:
            args = [0] * n
            args[position] = value
            try:
                cls(*args)
            except Exception:
                pass
