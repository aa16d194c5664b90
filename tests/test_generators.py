"""Oscillators and the noise source: exact sample sequences, phase carried
across blocks, and state untouched by failed renders."""
import math
import struct

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import tamlor

NAN = float("nan")
INF = float("inf")
OSCILLATORS = [tamlor.SineOscillator, tamlor.SquareOscillator, tamlor.SawOscillator]


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def reference(kind, frequency=440.0, amplitude=1.0, sample_rate=44100, frames=8, phase=0.0):
    """The oscillators' arithmetic in Python's own 64-bit floats."""
    inc = frequency / sample_rate
    out = []
    for _ in range(frames):
        if kind is tamlor.SineOscillator:
            v = math.sin((phase + phase) * math.pi) * amplitude
        elif kind is tamlor.SquareOscillator:
            v = amplitude if phase < 0.5 else -amplitude
        else:
            v = ((phase + phase) - 1.0) * amplitude
        out.append(f32(v))
        x = phase + inc
        phase = x - math.floor(x)
    return out


def noise_reference(seed, amplitude=1.0, frames=8):
    state, out = seed, []
    for _ in range(frames):
        state = (state * 6364136223846793005 + 1) % 2**64
        out.append(f32(((state >> 33) / 2147483647 - 1.0) * amplitude))
    return out


def test_first_samples():
    assert tamlor.SawOscillator().render_to_buffer(3) == [-1.0, f32(2 * 440 / 44100 - 1.0), f32(4 * 440 / 44100 - 1.0)]
    assert tamlor.SawOscillator().render_to_buffer(3)[1] == pytest.approx(-0.98005, abs=1e-5)
    sine = tamlor.SineOscillator().render_to_buffer(3)
    assert sine[0] == 0.0 and sine[1:] == pytest.approx([0.062648, 0.125051], abs=1e-6)
    assert tamlor.SquareOscillator().render_to_buffer(50) == [1.0] * 50


@pytest.mark.parametrize("kind,cycle", [
    (tamlor.SquareOscillator, [1.0, 1.0, -1.0, -1.0]),
    (tamlor.SawOscillator, [-1.0, -0.5, 0.0, 0.5]),
    (tamlor.SineOscillator, [0.0, 1.0, f32(math.sin(math.pi)), -1.0]),
])
def test_quarter_cycle_increment(kind, cycle):
    assert kind(11025.0).render_to_buffer(12) == cycle * 3


@pytest.mark.parametrize("kind", OSCILLATORS)
@pytest.mark.parametrize("frequency,amplitude,rate", [
    (440.0, 1.0, 44100), (-440.0, 0.5, 44100), (1000.5, -1.0, 48000), (3.0, 2.0, 7), (0.0, 1.0, 44100),
    (44100 * 2.75, 1.0, 44100),
])
def test_matches_reference(kind, frequency, amplitude, rate):
    assert kind(frequency, amplitude, rate).render_to_buffer(3000) == reference(kind, frequency, amplitude, rate, 3000)


@pytest.mark.parametrize("kind,first", [
    (tamlor.SineOscillator, 0.0), (tamlor.SquareOscillator, 1.0), (tamlor.SawOscillator, -1.0)])
def test_zero_sample_rate_makes_the_phase_nan_for_good(kind, first):
    osc = kind(440.0, 1.0, 0)
    out = osc.render_to_buffer(3) + osc.render_to_buffer(2)
    assert out[0] == first
    if kind is tamlor.SquareOscillator:
        assert out[1:] == [-1.0] * 4
    else:
        assert all(math.isnan(v) for v in out[1:])
    # 0 Hz at 0 Hz: the increment is NaN rather than infinite, same outcome.
    assert math.isnan(tamlor.SawOscillator(0.0, 1.0, 0).render_to_buffer(2)[1])


def test_negative_amplitude_inverts():
    assert tamlor.SquareOscillator(amplitude=-1.0).render_to_buffer(1) == [-1.0]


def test_noise_sequences():
    assert tamlor.NoiseSource(seed=0).render_to_buffer(1) == [-1.0]
    assert tamlor.NoiseSource(amplitude=0.5, seed=0).render_to_buffer(1) == [-0.5]
    first = tamlor.NoiseSource().render_to_buffer(4)
    rs = [1052313527, 1006665568, 1203072297, 53530574]
    assert first == [f32(r / 2147483647 - 1.0) for r in rs]
    assert first == pytest.approx([-0.50998, -0.53123, -0.43978, -0.97507], abs=1e-5)
    for seed in (1, 2**63, 2**64 - 1):
        assert tamlor.NoiseSource(0.7, seed).render_to_buffer(50) == noise_reference(seed, 0.7, 50)
    samples = tamlor.NoiseSource(seed=7).render_to_buffer(10_000)
    assert all(-1.0 <= v <= 0.0 for v in samples) and min(samples) < -0.99 and max(samples) > -0.01
    assert all(v == 0.0 for v in tamlor.NoiseSource(amplitude=0.0).render_to_buffer(100))
    assert tamlor.NoiseSource(seed=5).render_to_buffer(64) == tamlor.NoiseSource(seed=5).render_to_buffer(64)


GENERATORS = [
    lambda: tamlor.SineOscillator(523.25, 0.8, 48000),
    lambda: tamlor.SquareOscillator(-97.0, 1.0, 44100),
    lambda: tamlor.SawOscillator(1234.5, 0.3, 22050),
    lambda: tamlor.NoiseSource(0.9, 12345),
]


@settings(max_examples=40, deadline=None)
@given(st.sampled_from(range(len(GENERATORS))), st.lists(st.integers(0, 700), max_size=6))
def test_split_renders_equal_one_render(which, sizes):
    whole = GENERATORS[which]().render_to_buffer(sum(sizes))
    gen = GENERATORS[which]()
    parts = []
    for n in sizes:
        parts += gen.render_to_buffer(n)
    assert parts == whole


@pytest.mark.parametrize("make", GENERATORS)
@pytest.mark.parametrize("frames,exc", [
    (-1, OverflowError), (2**64, OverflowError), (2**63, OverflowError), (2**62, MemoryError), ("8", TypeError),
    (1.0, TypeError)])
def test_failed_render_changes_nothing(make, frames, exc):
    gen, twin = make(), make()
    gen.render_to_buffer(5)
    twin.render_to_buffer(5)
    with pytest.raises(exc):
        gen.render_to_buffer(frames)
    assert gen.render_to_buffer(0) == []
    assert gen.render_to_buffer(7) == twin.render_to_buffer(7)


def test_reentrant_frames_argument(reentrant):
    osc = tamlor.SawOscillator()
    n = reentrant(lambda: osc.render_to_buffer(1), 3)
    with pytest.raises(RuntimeError, match="Already borrowed"):
        osc.render_to_buffer(n)
    assert osc.render_to_buffer(1) == [-1.0]


@pytest.mark.parametrize("kind", OSCILLATORS)
def test_oscillator_properties_and_repr(kind):
    name = kind.__name__
    assert repr(kind()) == f"{name}(frequency=440, amplitude=1, sample_rate=44100)"
    osc = kind(frequency=0.5, amplitude=NAN, sample_rate=8000)
    assert repr(osc) == f"{name}(frequency=0.5, amplitude=NaN, sample_rate=8000)"
    assert repr(kind(INF, -INF)) == f"{name}(frequency=inf, amplitude=-inf, sample_rate=44100)"
    assert (osc.frequency, osc.sample_rate) == (0.5, 8000)
    with pytest.raises(AttributeError):
        osc.frequency = 1.0
    with pytest.raises(OverflowError):
        kind(sample_rate=2**32)
    with pytest.raises(TypeError):
        kind("440")


def test_noise_properties_and_repr():
    assert repr(tamlor.NoiseSource(amplitude=0.25)) == "NoiseSource(amplitude=0.25)"
    assert tamlor.NoiseSource().amplitude == 1.0
    assert not hasattr(tamlor.NoiseSource(), "seed")
    with pytest.raises(OverflowError):
        tamlor.NoiseSource(seed=-1)
    with pytest.raises(OverflowError):
        tamlor.NoiseSource(seed=2**64)
