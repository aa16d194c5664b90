"""Envelope: clamping value holder, and the levels its generator gives a
sampler's voices (checked at 4 Hz, where each frame is a quarter second)."""
import math

import pytest

import tamlor

NAN = float("nan")


def test_defaults_and_repr():
    e = tamlor.Envelope()
    assert (e.attack, e.decay, e.sustain, e.release) == (0.005, 0.1, 0.8, 0.1)
    assert repr(e) == "Envelope(A=0.005, D=0.100, S=0.80, R=0.100)"
    assert tamlor.Envelope.__text_signature__ == "(attack=0.005, decay=0.1, sustain=0.8, release=0.1)"


@pytest.mark.parametrize(
    "field, given, stored",
    [
        ("attack", -1.0, 0.0), ("decay", NAN, 0.0), ("release", -3, 0.0), ("release", 2, 2.0),
        ("sustain", 1.5, 1.0), ("sustain", -0.2, 0.0), ("sustain", 0.25, 0.25),
    ],
)
def test_clamping_in_constructor_and_setter(field, given, stored):
    assert getattr(tamlor.Envelope(**{field: given}), field) == stored
    e = tamlor.Envelope()
    setattr(e, field, given)
    assert getattr(e, field) == stored


def test_nan_sustain_is_kept_and_makes_the_envelope_unequal_to_itself():
    e = tamlor.Envelope(sustain=NAN)
    assert math.isnan(e.sustain)
    assert e != e


def test_equality():
    assert tamlor.Envelope(0.01, 0.1, 0.5, 0.2) == tamlor.Envelope(0.01, 0.1, 0.5, 0.2)
    assert tamlor.Envelope(0.01, 0.1, 0.5, 0.2) != tamlor.Envelope(0.01, 0.1, 0.5, 0.3)
    assert (tamlor.Envelope() == 1) is False


def test_bad_arguments_name_the_parameter_and_change_nothing():
    with pytest.raises(TypeError, match="argument 'sustain'"):
        tamlor.Envelope(sustain="x")
    e = tamlor.Envelope()
    with pytest.raises(TypeError, match="argument 'val'"):
        e.attack = "x"
    with pytest.raises(AttributeError, match="property has no deleter"):
        del e.decay
    assert e == tamlor.Envelope()


def four_hz_sampler(envelope):
    """A sampler whose frames read 1.0 at full velocity, so each output is the
    envelope level of that frame."""
    sampler = tamlor.Sampler(tamlor.AudioSample([1.0] * 64, sample_rate=4), sample_rate=4)
    sampler.set_envelope(envelope)
    return sampler


def test_worked_example_at_four_hertz():
    sampler = four_hz_sampler(tamlor.Envelope(0.5, 0.5, 0.5, 0.5))
    sampler.note_on(69, 127)
    assert sampler.render(6) == [0.0, 0.5, 1.0, 0.75, 0.5, 0.5]
    sampler.note_off(69)
    assert sampler.render(2) == [0.5, 0.25]
    assert sampler.active_voice_count() == 1
    assert sampler.render(2) == [0.0, 0.0]
    assert sampler.active_voice_count() == 0


@pytest.mark.parametrize(
    "envelope, first",
    [(tamlor.Envelope(), 0.0), (tamlor.Envelope(0.0, 0.5, 0.5, 0.5), 1.0)],
)
def test_first_frame_is_silent_only_with_an_attack(envelope, first):
    sampler = four_hz_sampler(envelope)
    sampler.note_on(69, 127)
    assert sampler.render(1) == [first]


def test_release_from_a_lower_level_still_takes_the_release_time():
    sampler = four_hz_sampler(tamlor.Envelope(0.0, 0.0, 0.5, 1.0))
    sampler.note_on(69, 127)
    assert sampler.render(2) == [1.0, 0.5]
    sampler.note_off(69)
    assert sampler.render(5) == [0.5, 0.375, 0.25, 0.125, 0.0]


def test_zero_release_finishes_in_the_next_frame():
    sampler = four_hz_sampler(tamlor.Envelope(0.0, 0.0, 1.0, 0.0))
    sampler.note_on(69, 127)
    sampler.render(1)
    sampler.note_off(69)
    assert sampler.render(2) == [0.0, 0.0]
    assert sampler.active_voice_count() == 0


def test_zero_sustain_holds_a_silent_voice_until_released():
    sampler = four_hz_sampler(tamlor.Envelope(0.0, 0.25, 0.0, 0.0))
    sampler.note_on(69, 127)
    assert sampler.render(4) == [1.0, 0.0, 0.0, 0.0]
    assert sampler.active_voice_count() == 1
    sampler.all_notes_off()
    sampler.render(1)
    assert sampler.active_voice_count() == 0
