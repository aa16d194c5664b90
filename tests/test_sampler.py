"""Sampler: voice start, release and stealing, pitch, looping, and the
rendered blocks, checked sample for sample."""
import gc
import math
import re
import struct

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import tamlor

FLAT = tamlor.Envelope(0.0, 0.0, 1.0, 0.0)  # full level from the first frame, no release


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def flat_sampler(data, root_note=69, **kwargs):
    sampler = tamlor.Sampler(tamlor.AudioSample(data, root_note=root_note), **kwargs)
    sampler.set_envelope(FLAT)
    return sampler


def test_new_sampler():
    sampler = tamlor.Sampler(tamlor.AudioSample([0.0]))
    assert repr(sampler) == "Sampler(max_voices=8, active=0, sr=44100)"
    assert (sampler.max_voices, sampler.sample_rate) == (8, 44100)
    assert sampler.render(0) == []
    assert sampler.render(3) == [0.0, 0.0, 0.0]
    assert tamlor.Sampler.render.__doc__ == "Render audio into a list of f32 samples (mono)."
    assert tamlor.Sampler.render.__text_signature__ == "($self, frames)"
    with pytest.raises(AttributeError):
        sampler.sample_rate = 1


def test_plays_to_the_end_of_the_data():
    sampler = flat_sampler([0.5, 0.5, 0.5, 0.5], root_note=60)
    sampler.note_on(60, 127)
    assert sampler.render(5) == [0.5, 0.5, 0.5, 0.5, 0.0]
    assert sampler.active_voice_count() == 0


def test_an_octave_down_reads_half_frames_and_does_not_interpolate_past_the_end():
    sampler = flat_sampler([0.0, 1.0])
    sampler.note_on(57, 127)
    assert sampler.render(5) == [0.0, 0.5, 1.0, 1.0, 0.0]


@pytest.mark.parametrize("note, root, expected", [(81, 69, [0.0, 0.5]), (69, 69, [0.0, 0.25])])
def test_pitch_and_interpolation(note, root, expected):
    sampler = flat_sampler([0.0, 0.25, 0.5, 0.75, 1.0], root_note=root)
    sampler.note_on(note, 127)
    assert sampler.render(2) == expected


def test_sample_recorded_at_half_the_rate_plays_at_half_speed():
    sampler = tamlor.Sampler(tamlor.AudioSample([0.0, 1.0], sample_rate=22050))
    sampler.set_envelope(FLAT)
    sampler.note_on(69, 127)
    assert sampler.render(3) == [0.0, 0.5, 1.0]


def test_velocity_scales_the_output():
    sampler = flat_sampler([1.0, -1.0, 0.5])
    sampler.note_on(69, 64)
    gain = f32(64 / 127)
    assert sampler.render(3) == [gain, -gain, f32(gain * 0.5)]
    assert gain == pytest.approx(0.50394, abs=1e-5)


def test_two_loud_voices_clip_and_nan_passes_through():
    sampler = flat_sampler([0.8, -0.8, 0.2, 0.2, float("nan")])
    sampler.note_on(69, 127)
    sampler.note_on(69, 127)
    out = sampler.render(5)
    assert out[:3] == [1.0, -1.0, f32(f32(0.2) + f32(0.2))]
    assert math.isnan(out[3]) and math.isnan(out[4])  # 0 * (NaN - x) is NaN too


@pytest.mark.parametrize(
    "loop, reads",
    [
        ((2, 8), [0, 1, 2, 3, 4, 5, 6, 7, 2, 3, 4, 5, 6, 7, 2, 3]),
        ((2, 6), [0, 1, 2, 3, 4, 5, 6, 7, 4, 5, 6, 7, 4, 5, 6, 7]),
        ((2, None), [0, 1, 2, 3, 4, 5, 6, 7] + [0] * 8),
        ((None, 8), [0, 1, 2, 3, 4, 5, 6, 7] + [0] * 8),
        ((6, 6), [0, 1, 2, 3, 4, 5, 6, 7] + [0] * 8),
        ((7, 2), [0, 1, 2, 3, 4, 5, 6, 7] + [0] * 8),
        ((2, 9), [0, 1, 2, 3, 4, 5, 6, 7] + [0] * 8),
    ],
)
def test_loop_variants(loop, reads):
    sample = tamlor.AudioSample([i / 16 for i in range(8)])
    sample.loop_start, sample.loop_end = loop
    sampler = tamlor.Sampler(sample)
    sampler.set_envelope(FLAT)
    sampler.note_on(69, 127)
    assert [x * 16 for x in sampler.render(16)] == reads
    assert sampler.active_voice_count() == (1 if reads[-1] else 0)


def test_sampler_keeps_its_own_copy_of_the_sample():
    sample = tamlor.AudioSample([0.5, 0.5])
    sampler = tamlor.Sampler(sample)
    sampler.set_envelope(FLAT)
    sample.loop_start, sample.loop_end, sample.root_note = 0, 2, 81
    sampler.note_on(69, 127)
    assert sampler.render(3) == [0.5, 0.5, 0.0]


def test_voice_stealing_drops_the_oldest():
    sampler = tamlor.Sampler(tamlor.AudioSample([0.5] * 100), max_voices=2)
    sampler.set_envelope(FLAT)
    sampler.note_on(60, 100)
    sampler.note_on(62, 100)
    sampler.note_on(64, 100)
    assert sampler.active_voice_count() == 2
    sampler.note_off(60)  # already stolen: changes nothing
    sampler.render(1)
    assert sampler.active_voice_count() == 2
    sampler.note_off(62)
    sampler.render(1)
    assert sampler.active_voice_count() == 1


def test_zero_voice_limit_replaces_the_single_voice():
    sampler = tamlor.Sampler(tamlor.AudioSample([0.5] * 100), max_voices=0)
    sampler.note_on(60, 100)
    assert sampler.active_voice_count() == 1
    sampler.note_on(62, 100)
    assert sampler.active_voice_count() == 1
    sampler.note_off(60)
    sampler.set_envelope(FLAT)
    sampler.render(50)
    assert sampler.active_voice_count() == 1  # 62 is still held


def test_lowering_the_limit_drops_one_voice_per_note_start():
    sampler = tamlor.Sampler(tamlor.AudioSample([0.5] * 100))
    for note in (60, 61, 62, 63):
        sampler.note_on(note, 100)
    sampler.max_voices = 1
    assert (sampler.max_voices, sampler.active_voice_count()) == (1, 4)
    sampler.note_on(64, 100)
    assert sampler.active_voice_count() == 4
    assert repr(sampler) == "Sampler(max_voices=1, active=4, sr=44100)"


def test_repeated_notes_and_silent_voices():
    sampler = tamlor.Sampler(tamlor.AudioSample([0.5] * 100))
    sampler.set_envelope(tamlor.Envelope(0.0, 0.0, 1.0, 0.0))
    sampler.note_on(60, 100)
    sampler.note_on(60, 100)
    sampler.note_on(61, 0)  # a silent voice, not a release
    assert sampler.active_voice_count() == 3
    sampler.note_off(60)  # releases both
    assert sampler.render(1) == [0.0]
    assert sampler.active_voice_count() == 1


def test_a_note_released_before_rendering_never_sounds():
    sampler = flat_sampler([1.0] * 10)
    sampler.set_envelope(tamlor.Envelope(0.0, 0.0, 1.0, 1.0))
    sampler.note_on(69, 127)
    sampler.note_off(69)
    assert sampler.render(2) == [0.0, 0.0]
    assert sampler.active_voice_count() == 0


def test_all_notes_off_and_panic():
    sampler = tamlor.Sampler(tamlor.AudioSample([1.0] * 44100))
    sampler.note_on(60, 100)
    sampler.note_on(64, 100)
    sampler.render(1000)
    sampler.all_notes_off()
    assert sampler.active_voice_count() == 2
    sampler.render(4410)  # the default release is 0.1 s
    assert sampler.active_voice_count() == 2
    sampler.render(100)
    assert sampler.active_voice_count() == 0
    sampler.note_on(60, 100)
    sampler.render(1000)
    sampler.panic()
    assert sampler.active_voice_count() == 0
    assert sampler.render(4) == [0.0] * 4


def test_envelope_is_taken_at_note_start():
    sampler = tamlor.Sampler(tamlor.AudioSample([1.0] * 10))
    sampler.set_envelope(FLAT)
    sampler.note_on(69, 127)
    env = tamlor.Envelope(0.5, 0.0, 1.0, 0.0)
    sampler.set_envelope(env)
    env.attack = 0.0  # the sampler holds its own copy
    sampler.note_on(69, 127)
    assert sampler.render(1) == [1.0]  # the second voice starts its attack at 0
    with pytest.raises(TypeError, match="argument 'envelope'"):
        sampler.set_envelope((0.0, 0.0, 1.0, 0.0))


def note_error(value):
    return "^" + re.escape(f"Note out of range: {value} (must be 0\u2013127)") + "$"


def velocity_error(value):
    return "^" + re.escape(f"Velocity out of range: {value} (must be 0\u2013127)") + "$"


@pytest.mark.parametrize(
    "call, error, match",
    [
        (lambda s: s.note_on(128, 200), ValueError, note_error(128)),
        (lambda s: s.note_on(60, 128), ValueError, velocity_error(128)),
        (lambda s: s.note_on(60, 256), OverflowError, None),
        (lambda s: s.note_on(-1, 100), OverflowError, None),
        (lambda s: s.note_on(60.0, 100), TypeError, "argument 'note'"),
        (lambda s: s.note_off(128), ValueError, note_error(128)),
        (lambda s: s.note_on_sample(128, 200, tamlor.AudioSample([1.0])), ValueError, note_error(128)),
        (lambda s: s.note_on_sample(60, 128, tamlor.AudioSample([1.0])), ValueError, velocity_error(128)),
        (lambda s: s.note_on_sample(60, 100, [1.0]), TypeError, "argument 'sample'"),
        (lambda s: s.render(-1), OverflowError, None),
        (lambda s: s.render(2**64), OverflowError, None),
        (lambda s: s.render(2**63), OverflowError, None),
        (lambda s: s.render(2**61), MemoryError, None),
        (lambda s: setattr(s, "max_voices", -1), OverflowError, None),
    ],
)
def test_bad_arguments_change_nothing(call, error, match):
    sampler = tamlor.Sampler(tamlor.AudioSample([0.5] * 100), max_voices=3)
    sampler.set_envelope(FLAT)
    sampler.note_on(69, 127)
    with pytest.raises(error, match=match):
        call(sampler)
    assert repr(sampler) == "Sampler(max_voices=3, active=1, sr=44100)"
    assert sampler.render(2) == [0.5, 0.5]  # the voice did not advance


def test_note_on_sample_plays_that_sample_with_the_samplers_envelope_and_limit():
    # A silent sampler: everything heard comes from the given samples.
    sampler = flat_sampler([0.0] * 8, max_voices=2)
    ramp = tamlor.AudioSample([0.0, 0.25, 0.5, 0.75], root_note=57)
    sampler.note_on_sample(69, 127, ramp)  # an octave above the ramp's root: every other frame
    assert sampler.render(3) == [0.0, 0.5, 0.0]
    assert sampler.active_voice_count() == 0  # ran past its end
    held = tamlor.AudioSample([0.5] * 100, root_note=60)
    sampler.note_on_sample(60, 127, held)
    sampler.note_on(62, 127)
    sampler.note_on_sample(64, 127, held)  # the limit of 2 drops the oldest, note 60
    assert sampler.render(1) == [0.5]
    sampler.note_off(64)  # FLAT has no release: the zone voice ends at once
    assert sampler.render(1) == [0.0]
    assert sampler.active_voice_count() == 1  # the silent note 62 plays on
    assert tamlor.Sampler.note_on_sample.__text_signature__ == "($self, note, velocity, sample=None)"


@pytest.mark.parametrize(
    "args, error",
    [(([0.0],), TypeError), ((tamlor.AudioSample([0.0]), -1), OverflowError),
     ((tamlor.AudioSample([0.0]), 44100, 2**64), OverflowError)],
)
def test_bad_constructor_arguments(args, error):
    with pytest.raises(error):
        tamlor.Sampler(*args)


def test_reentrant_arguments_cannot_change_the_sampler_mid_call(reentrant):
    sampler = flat_sampler([0.5] * 10)
    frames = reentrant(lambda: sampler.note_on(60, 100), 4)
    with pytest.raises(RuntimeError, match="Already borrowed"):
        sampler.render(frames)
    velocity = reentrant(lambda: sampler.panic(), 100)
    sampler.note_on(69, 127)
    with pytest.raises(RuntimeError, match="Already borrowed"):
        sampler.note_on(60, velocity)
    assert sampler.active_voice_count() == 1


@pytest.mark.parametrize("sample_rate, output_rate", [(0, 44100), (44100, 0), (0, 0)])
def test_zero_rates_neither_crash_nor_hang(sample_rate, output_rate):
    sample = tamlor.AudioSample([0.5] * 8, sample_rate=sample_rate)
    sample.loop_start, sample.loop_end = 0, 8
    sampler = tamlor.Sampler(sample, sample_rate=output_rate)
    sampler.note_on(60, 100)
    sampler.note_on(72, 100)
    assert len(sampler.render(10_000)) == 10_000
    sampler.all_notes_off()
    assert len(sampler.render(10)) == 10
    assert sampler.sample_rate == output_rate


def test_frames_outlive_every_object_that_handed_them_over():
    sample = tamlor.AudioSample([0.25] * 1000)
    sampler = tamlor.Sampler(sample)
    sampler.set_envelope(FLAT)
    found = tamlor.SampleMap.single_sample(sample).find_sample(60, 60)
    sampler.note_on(69, 127)
    del sample
    gc.collect()
    assert sampler.render(2) == [0.25, 0.25]
    assert found.data() == [0.25] * 1000


# --- split renders -----------------------------------------------------------

events = st.lists(
    st.one_of(
        st.tuples(st.just("on"), st.integers(30, 90), st.integers(0, 127)),
        st.tuples(st.just("off"), st.integers(30, 90)),
        st.tuples(st.just("env"), *[st.floats(-0.01, 0.02, allow_nan=False)] * 2, st.floats(-0.2, 1.2), st.floats(-0.01, 0.02)),
        st.tuples(st.just("all_off")),
        st.tuples(st.just("limit"), st.integers(0, 6)),
    ),
    max_size=12,
)


def build(data, rate, root, loop, output_rate, max_voices):
    sample = tamlor.AudioSample(data, sample_rate=rate, root_note=root)
    sample.loop_start, sample.loop_end = loop
    return tamlor.Sampler(sample, sample_rate=output_rate, max_voices=max_voices)


def apply(sampler, event):
    kind, *args = event
    if kind == "on":
        sampler.note_on(*args)
    elif kind == "off":
        sampler.note_off(*args)
    elif kind == "env":
        sampler.set_envelope(tamlor.Envelope(*args))
    elif kind == "all_off":
        sampler.all_notes_off()
    else:
        sampler.max_voices = args[0]


@settings(max_examples=150, deadline=None)
@given(
    data=st.lists(st.floats(-1.0, 1.0, width=32), min_size=0, max_size=60),
    rate=st.sampled_from([4000, 8000, 22050, 44100]),
    root=st.integers(40, 90),
    loop=st.tuples(st.none() | st.integers(0, 64), st.none() | st.integers(0, 64)),
    output_rate=st.sampled_from([4000, 8000, 44100]),
    max_voices=st.integers(0, 8),
    blocks=st.lists(st.tuples(events, st.lists(st.integers(0, 200), min_size=1, max_size=4)), min_size=1, max_size=4),
)
def test_one_render_equals_split_renders(data, rate, root, loop, output_rate, max_voices, blocks):
    whole = build(data, rate, root, loop, output_rate, max_voices)
    split = build(data, rate, root, loop, output_rate, max_voices)
    for block_events, sizes in blocks:
        for event in block_events:
            apply(whole, event)
            apply(split, event)
        one = whole.render(sum(sizes))
        pieces = [x for n in sizes for x in split.render(n)]
        assert struct.pack(f"{len(one)}f", *one) == struct.pack(f"{len(pieces)}f", *pieces)
        assert whole.active_voice_count() == split.active_voice_count()
