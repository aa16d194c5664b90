"""copy.copy, copy.deepcopy and pickle: every value class comes back as an
independent object with the same value; the classes whose state Python
cannot rebuild refuse with a TypeError; a hostile __setstate__ changes
nothing."""
import copy
import os
import pickle
import subprocess
import sys

import pytest

import tamlor
from test_robustness import HOSTILE

NAN = float("nan")


def sample():
    s = tamlor.AudioSample([0.0, 0.1, -0.5, 1e-40, -0.0, 3.5, NAN, float("inf")] * 4, sample_rate=8000,
                           root_note=60)
    s.loop_start, s.loop_end = 4, 28
    return s


def step():
    s = tamlor.Step(72, 127, 4_294_967_295)
    s.active = False
    return s


def pattern():
    p = tamlor.Pattern(6)
    p.set_step(1, tamlor.Step(61, 90, 2))
    p.set_step(4, step())
    p.toggle_step(5)
    p.loop_enabled = False
    return p


def sequence():
    seq = tamlor.EventSequence()
    for beat, note in [(2.0, 60), (1.0, 61), (NAN, 62), (1.0, 63), (-0.0, 64), (NAN, 65), (float("inf"), 66)]:
        seq.add_event(tamlor.NoteEvent(beat, 0.5, note, 90))
    return seq


def mixer():
    m = tamlor.Mixer()
    for name in ("kick", "", "pad ✓"):
        m.add_channel(name)
    m.set_channel_gain(0, 1.7)
    m.set_channel_pan(1, -0.3)
    m.set_channel_pan(2, NAN)
    m.set_channel_mute(1, True)
    m.set_channel_solo(2, True)
    m.master_gain = 0.1
    return m


def mixer_channel():
    c = tamlor.MixerChannel("lead")
    c.gain, c.pan, c.mute, c.solo = 0.3, 0.9, True, True
    return c


def clock():
    c = tamlor.TransportClock(bpm=-90.0)  # only the constructor keeps a tempo below 1
    c.ticks_per_beat = 0
    c.play()
    c.advance_by_frames(1000, 44100)  # a negative position, which seek could not give
    c.pause()
    return c


def buffer():
    b = tamlor.AudioBuffer(3, sample_rate=96000, channels=2)
    for i, v in enumerate([0.25, -1.0, NAN, 1e-45, -0.0, 7.0]):
        b.set_sample(i // 2, i % 2, v)
    return b


def sample_map():
    m = tamlor.SampleMap()
    m.add_mapping(tamlor.SampleMapping(sample(), 60, 72, 1, 100))
    m.add_mapping(tamlor.SampleMapping(tamlor.AudioSample([0.5, 0.25], root_note=40), 0, 127, 0, 127))
    m.add_mapping(tamlor.SampleMapping(tamlor.AudioSample([]), 72, 60, 0, 127))  # matches nothing
    return m


def observe(obj):
    """Everything Python can see of a value, as comparable plain data (NaN
    made comparable through repr)."""
    name = type(obj).__name__
    seen = [name, repr(obj)]
    if name == "AudioSample":
        seen += [repr(obj.data()), obj.sample_rate, obj.root_note, obj.loop_start, obj.loop_end]
    elif name == "Pattern":
        seen += [repr(obj.get_step(i)) for i in range(len(obj))] + [obj.loop_enabled]
    elif name == "EventSequence":
        seen += [repr((e.beat_position, e.duration, e.note, e.velocity)) for e in obj.events()]
    elif name == "Mixer":
        seen += [repr(obj.get_channel(i)) + repr((obj.get_channel(i).gain, obj.get_channel(i).pan))
                 for i in range(len(obj))]
        seen.append(repr(obj.mix_down([[0.5, -1.0]] * len(obj))))
    elif name == "MixerChannel":
        seen += [obj.name, obj.gain, obj.pan, obj.mute, obj.solo]
    elif name == "TransportClock":
        seen += [obj.bpm, obj.position, obj.ticks_per_beat, obj.state]
    elif name == "AudioBuffer":
        seen += [repr(obj.to_list()), obj.frames, repr(obj.format)]
    elif name == "SampleMapping":
        seen += [obj.matches(n, v) for n in range(0, 128, 3) for v in range(0, 128, 9)]
    elif name == "SampleMap":
        found = [obj.find_sample(n, v) for n in range(0, 128, 5) for v in (0, 1, 100, 127)]
        seen += [None if s is None else observe(s) for s in found]
    elif name == "MidiEvent":
        seen += [obj.message, obj.timestamp_us]
    elif name == "Step":
        seen += [obj.note, obj.velocity, obj.duration_ticks, obj.active]
    elif name == "NoteEvent":
        seen += [repr((obj.beat_position, obj.duration)), obj.note, obj.velocity]
    elif name == "Envelope":
        seen += [repr((obj.attack, obj.decay, obj.sustain, obj.release))]
    return seen


VALUES = {
    "AudioFormat": lambda: tamlor.AudioFormat(0, 65535),
    "AudioBuffer": buffer,
    "AudioBuffer without channels": lambda: tamlor.AudioBuffer(5, channels=0),
    "MidiChannel": lambda: tamlor.MidiChannel(15),
    "Note": lambda: tamlor.Note(127),
    "Velocity": lambda: tamlor.Velocity(0),
    "MidiEvent": lambda: tamlor.MidiEvent(tamlor.MidiMessage.pitch_bend(15, 65535), 2**64 - 1),
    "MixerChannel": mixer_channel,
    "Mixer": mixer,
    "Step": step,
    "Pattern": pattern,
    "Pattern empty": lambda: tamlor.Pattern(0),
    "NoteEvent": lambda: tamlor.NoteEvent(-1.25, float("inf"), 0, 127),
    "EventSequence": sequence,
    "TransportClock": clock,
    "AudioSample": sample,
    "Envelope": lambda: tamlor.Envelope(-1.0, NAN, 0.3, 2.5),
    "SampleMapping": lambda: tamlor.SampleMapping(sample(), 10, 20, 30, 40),
    "SampleMap": sample_map,
}

MESSAGES = [
    tamlor.MidiMessage.note_on(3, 60, 100), tamlor.MidiMessage.note_off(15, 0, 0),
    tamlor.MidiMessage.control_change(1, 127, 255), tamlor.MidiMessage.program_change(2, 255),
    tamlor.MidiMessage.pitch_bend(0, 8192), tamlor.MidiMessage.clock(), tamlor.MidiMessage.start(),
    tamlor.MidiMessage.stop(),
]

WAYS = {
    "copy": copy.copy,
    "deepcopy": copy.deepcopy,
    **{f"pickle{p}": (lambda o, p=p: pickle.loads(pickle.dumps(o, protocol=p)))
       for p in range(pickle.HIGHEST_PROTOCOL + 1)},
}


@pytest.mark.parametrize("way", WAYS)
@pytest.mark.parametrize("make", VALUES.values(), ids=VALUES.keys())
def test_round_trip_gives_a_new_object_with_the_same_value(make, way):
    original = make()
    again = WAYS[way](original)
    assert type(again) is type(original) and again is not original
    assert observe(again) == observe(original)
    if type(original).__eq__ is not object.__eq__ and "nan" not in repr(observe(original)).lower():
        assert again == original


@pytest.mark.parametrize("way", WAYS)
def test_every_message_kind_round_trips_equal(way):
    for message in MESSAGES:
        again = WAYS[way](message)
        assert again == message and again is not message and str(again) == str(message)


def test_copies_are_independent():
    p = pattern()
    for way in WAYS.values():
        q = way(p)
        q.toggle_step(0)
        q.set_step(1, tamlor.Step(0, 0))
        assert observe(p) == observe(pattern())
    m = mixer()
    c = copy.copy(m)
    c.set_channel_gain(0, 0.0)
    c.add_channel("extra")
    assert observe(m) == observe(mixer())
    s = sequence()
    copy.deepcopy(s).clear()
    assert len(s) == 7


def test_copied_sample_and_envelope_render_the_same_audio():
    s, env = sample(), tamlor.Envelope(0.001, 0.002, 0.5, 0.001)

    def render(s, env):
        sampler = tamlor.Sampler(s, sample_rate=8000, max_voices=2)
        sampler.set_envelope(env)
        sampler.note_on(67, 100)
        out = sampler.render(40)
        sampler.note_off(67)
        return repr(out + sampler.render(40))

    expected = render(s, env)
    for way in WAYS.values():
        assert render(way(s), way(env)) == expected


def test_nested_values_survive_one_pickle_and_load_in_a_fresh_interpreter(tmp_path):
    data = {"pattern": pattern(), "notes": sequence().events(), "map": sample_map(), "clock": clock()}
    path = tmp_path / "song.pickle"
    path.write_bytes(pickle.dumps(data))
    # A new interpreter that has not imported tamlor yet finds the classes by name.
    script = ("import pickle, sys; d = pickle.loads(open(sys.argv[1], 'rb').read()); "
              "print(repr(d['pattern']), len(d['notes']), repr(d['map']), repr(d['clock']))")
    env = dict(os.environ)
    out = subprocess.run([sys.executable, "-c", script, str(path)], capture_output=True, text=True, check=True,
                         env=env).stdout
    assert out.split() == f"{pattern()!r} 7 {sample_map()!r} {clock()!r}".split()
    assert observe(pickle.loads(path.read_bytes())["pattern"]) == observe(pattern())


def test_the_callable_in_a_reduction_is_found_by_name_and_cannot_be_made_by_hand():
    make, args = tamlor.Note(64).__reduce__()
    assert make(*args) == tamlor.Note(64)
    assert "tamlor:Note" in repr(make)
    with pytest.raises(TypeError):
        type(make)()
    make, args = tamlor.MidiMessage.clock().__reduce__()
    assert make(*args) == tamlor.MidiMessage.clock()


REFUSED = {
    "SineOscillator": tamlor.SineOscillator,
    "SquareOscillator": tamlor.SquareOscillator,
    "SawOscillator": tamlor.SawOscillator,
    "NoiseSource": tamlor.NoiseSource,
    "StepSequencer": lambda: tamlor.StepSequencer(pattern()),
    "Sampler": lambda: tamlor.Sampler(sample()),
    "MidiInput": tamlor.MidiInput,
}


@pytest.mark.parametrize("name", REFUSED)
def test_classes_with_hidden_state_refuse_every_way(name):
    obj = REFUSED[name]()
    before = repr(obj)
    for way in WAYS.values():
        with pytest.raises(TypeError, match=f"^cannot copy or pickle {name} objects: "):
            way(obj)
    assert repr(obj) == before


def test_audio_output_refuses(monkeypatch):
    monkeypatch.setenv("ALSA_CONFIG_PATH", os.path.join(os.path.dirname(__file__), "alsa", "null_output.conf"))
    try:
        out = tamlor.AudioOutput()
    except RuntimeError:
        pytest.skip("no output device")
    for way in WAYS.values():
        with pytest.raises(TypeError, match="^cannot copy or pickle AudioOutput objects: "):
            way(out)


STATEFUL = ["AudioBuffer", "MixerChannel", "Mixer", "Step", "Pattern", "EventSequence", "TransportClock",
            "AudioSample", "SampleMap"]


@pytest.mark.parametrize("name", STATEFUL)
def test_hostile_setstate_fails_cleanly_and_changes_nothing(name):
    obj = VALUES[name]()
    good = obj.__reduce__()[2]
    before = observe(obj)
    candidates = list(HOSTILE) + [good[:-1], good + (None,), list(good)]
    # Each item of the right state swapped for each hostile value.
    for i in range(len(good)):
        for value in HOSTILE:
            candidates.append(good[:i] + (value,) + good[i + 1:])
    for state in candidates:
        try:
            obj.__setstate__(state)
        except Exception:
            assert observe(obj) == before, repr(state)
        else:  # a valid state after all (1.5 is a fine gain): put the first one back
            obj.__setstate__(good)
            assert observe(obj) == before, repr(state)


def test_setstate_refusals_say_what_is_wrong():
    p = tamlor.Pattern(2)
    with pytest.raises(TypeError, match=r"^Pattern.__setstate__: expected 2 steps, got 1$"):
        p.__setstate__((True, [tamlor.Step(60, 1)]))
    with pytest.raises(TypeError, match=r"^Step.__setstate__: expected a tuple of 1 items, got list$"):
        tamlor.Step(60, 1).__setstate__([True])
    s = tamlor.EventSequence()
    late, early = tamlor.NoteEvent(2.0, 1.0, 60, 1), tamlor.NoteEvent(1.0, 1.0, 60, 1)
    with pytest.raises(ValueError, match="events out of order"):
        s.__setstate__(([late, early],))
    s.__setstate__(([tamlor.NoteEvent(NAN, 1.0, 60, 1), early, late],))  # NaN may sit anywhere
    assert [e.beat_position for e in s.events()][1:] == [1.0, 2.0]
    with pytest.raises(ValueError, match="unknown state 'running'"):
        tamlor.TransportClock().__setstate__((0.0, 480, "running"))
    b = tamlor.AudioBuffer(2)
    with pytest.raises(TypeError, match=r"expected 2 samples, got 3"):
        b.__setstate__(([1.0, 2.0, 3.0],))


def test_setstate_clamps_like_the_setters():
    c = tamlor.MixerChannel()
    c.__setstate__((5.0, -3.0, False, False))
    assert (c.gain, c.pan) == (2.0, -1.0)
    m = tamlor.Mixer()
    m.__setstate__((9.0, [c]))
    assert m.master_gain == 2.0 and m.get_channel(0) == c


def test_setstate_callbacks_cannot_touch_the_object(reentrant):
    c = tamlor.MixerChannel()
    touch = reentrant(lambda: setattr(c, "gain", 0.1), value=0.5)
    with pytest.raises(RuntimeError, match="Already borrowed"):
        c.__setstate__((touch, 0.5, True, True))
    assert (c.gain, c.mute) == (pytest.approx(0.8), False)
    clock = tamlor.TransportClock()
    touch = reentrant(lambda: clock.seek(5.0), value=3.0)
    with pytest.raises(RuntimeError, match="Already borrowed"):
        clock.__setstate__((touch, 480, "playing"))
    assert clock.position == 0.0 and clock.state == "stopped"
