"""MixerChannel and Mixer: clamping, the constant-power pan law, solo/mute
rules and the mix-down to interleaved stereo."""
import gc
import math
import struct
import sys

import pytest

import tamlor

NAN = float("nan")
INF = float("inf")


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def pan_factors(pan):
    # The pan law in 32-bit steps, as the mixer computes it.
    theta = f32(f32(f32(f32(pan) + 1.0) * 0.25) * f32(math.pi))
    return f32(math.cos(theta)), f32(math.sin(theta))


def make_mixer(*names, master=None):
    m = tamlor.Mixer()
    for name in names:
        m.add_channel(name)
    if master is not None:
        m.master_gain = master
    return m


def test_fresh_objects():
    m = tamlor.Mixer()
    assert (len(m), m.channel_count(), m.channel_names(), m.mix_down([])) == (0, 0, [], [])
    assert m.master_gain == f32(0.8)
    assert repr(m) == "Mixer(master_gain=0.80, channels=[])"
    c = tamlor.MixerChannel()
    assert (c.name, c.gain, c.pan, c.mute, c.solo) == ("Channel", f32(0.8), 0.0, False, False)
    assert repr(tamlor.MixerChannel("Drums")) == "MixerChannel(name='Drums', gain=0.80, pan=0.00, mute=false, solo=false)"
    assert tamlor.Mixer.mix_down.__doc__.endswith(
        "Mix a list of per-channel mono sample buffers into interleaved stereo output.")
    assert tamlor.Mixer.mix_down.__text_signature__ == "($self, channel_buffers)"


def test_centred_default_channel():
    m = make_mixer("a")
    out = m.mix_down([[1.0]])
    s = f32(1.0 * f32(0.8))
    left, right = pan_factors(0.0)
    expected = f32(f32(s * left) * f32(0.8))
    assert out == [expected, f32(f32(s * right) * f32(0.8))]
    assert out[0] == pytest.approx(0.4525, abs=1e-4) and out[0] == out[1]


@pytest.mark.parametrize("pan,expected", [(-1.0, [0.5, 0.0]), (1.0, [f32(0.5 * pan_factors(1.0)[0]), 0.5])])
def test_hard_pans(pan, expected):
    m = make_mixer("a", master=1.0)
    m.set_channel_gain(0, 1.0)
    m.set_channel_pan(0, pan)
    assert m.mix_down([[0.5]]) == expected
    if pan == 1.0:
        assert -3e-8 < expected[0] < -1e-8


@pytest.mark.parametrize("value,gain,pan", [
    (5.0, 2.0, 1.0), (-1.0, 0.0, -1.0), (-3.0, 0.0, -1.0), (0.3, f32(0.3), f32(0.3)),
    (INF, 2.0, 1.0), (-INF, 0.0, -1.0), (1e300, 2.0, 1.0),
])
def test_clamping_on_every_setter(value, gain, pan):
    m = make_mixer("a")
    m.set_channel_gain(0, value)
    m.set_channel_pan(0, value)
    ch = m.get_channel(0)
    assert (ch.gain, ch.pan) == (gain, pan)
    strip = tamlor.MixerChannel()
    strip.gain = value
    strip.pan = value
    assert (strip.gain, strip.pan) == (gain, pan)
    m.master_gain = value
    assert m.master_gain == gain


def test_nan_is_stored_as_nan():
    m = make_mixer("a")
    m.set_channel_gain(0, NAN)
    m.set_channel_pan(0, NAN)
    m.master_gain = NAN
    ch = m.get_channel(0)
    assert math.isnan(ch.gain) and math.isnan(ch.pan) and math.isnan(m.master_gain)
    assert repr(ch) == "MixerChannel(name='a', gain=NaN, pan=NaN, mute=false, solo=false)"
    assert ch != ch  # a NaN field makes even a strip unequal to itself


def test_buffer_zero_decides_the_length():
    m = make_mixer("a", "b", master=1.0)
    for i in range(2):
        m.set_channel_gain(i, 1.0)
        m.set_channel_pan(i, -1.0)
    assert m.mix_down([[1.0, 2.0, 3.0, 4.0], [10.0, 20.0]]) == [11.0, 0.0, 22.0, 0.0, 3.0, 0.0, 4.0, 0.0]
    assert m.mix_down([[1.0, 2.0], [10.0, 20.0, 30.0, 40.0]]) == [11.0, 0.0, 22.0, 0.0]
    assert m.mix_down([[], [1.0, 2.0]]) == []


def test_solo_and_mute():
    m = make_mixer("a", "b", "c", master=1.0)
    for i in range(3):
        m.set_channel_gain(i, 1.0)
        m.set_channel_pan(i, -1.0)
    bufs = [[1.0], [10.0], [100.0]]
    m.set_channel_solo(1, True)
    assert m.mix_down(bufs) == [10.0, 0.0]
    m.set_channel_mute(1, True)  # mute wins over solo, and still silences the others
    assert m.mix_down([[1.0, 1.0], [10.0], [100.0]]) == [0.0, 0.0, 0.0, 0.0]
    m.set_channel_solo(1, False)
    assert m.mix_down(bufs) == [101.0, 0.0]


@pytest.mark.parametrize("bad", [NAN, INF])
def test_silenced_buffers_do_not_sound(bad):
    m = make_mixer("a", "b", "c", master=1.0)
    m.set_channel_gain(0, 1.0)
    m.set_channel_pan(0, -1.0)
    m.set_channel_mute(1, True)
    m.set_channel_solo(0, True)
    # Channel 1 is muted, channel 2 is silenced by the solo.
    assert m.mix_down([[1.0], [bad], [bad, bad]]) == [1.0, 0.0]
    m.set_channel_solo(0, False)
    m.set_channel_mute(2, True)
    m.set_channel_mute(0, True)
    m.set_channel_mute(1, False)
    # A silenced first buffer still sets the length.
    out = m.mix_down([[bad, bad], [1.0], [bad]])
    assert len(out) == 4 and out[0] == out[1] > 0.0 and out[2:] == [0.0, 0.0]


@pytest.mark.parametrize("bad", ["not a number", object(), None])
def test_every_buffer_is_converted_before_the_count_is_checked(bad):
    m = make_mixer("a", "b", master=1.0)
    m.set_channel_mute(1, True)
    # A silent channel's buffer is converted all the same...
    with pytest.raises(TypeError, match="channel_buffers"):
        m.mix_down([[1.0], [bad]])
    # ...and conversion comes before the count: a TypeError, not a ValueError.
    with pytest.raises(TypeError, match="channel_buffers"):
        m.mix_down([[1.0], [bad], [2.0]])
    with pytest.raises(TypeError, match="channel_buffers"):
        m.mix_down([[bad]])
    with pytest.raises(ValueError, match=r"^Expected 2 buffers, got 3$"):
        m.mix_down([[1.0], [2.0], [3.0]])
    assert repr(m) == "Mixer(master_gain=1.00, channels=[a, b])"


def test_nan_sample_in_a_heard_channel():
    m = make_mixer("a")
    out = m.mix_down([[1.0, NAN]])
    assert not math.isnan(out[0]) and math.isnan(out[2]) and math.isnan(out[3])


def test_master_gain_after_the_sum_and_no_clipping():
    m = make_mixer("a", "b", "c", "d", master=2.0)
    for i in range(4):
        m.set_channel_gain(i, 2.0)
    out = m.mix_down([[1.0]] * 4)
    left = pan_factors(0.0)[0]
    acc = 0.0
    for _ in range(4):
        acc = f32(acc + f32(2.0 * left))
    assert out == [f32(acc * 2.0)] * 2
    assert out[0] == pytest.approx(11.3, abs=0.02)


def test_mix_down_matches_process_sample():
    m = make_mixer("a", master=1.0)
    m.set_channel_pan(0, 0.3)
    m.set_channel_gain(0, 1.3)
    ch = m.get_channel(0)
    samples = [0.1, -0.7, 1.5, 3.0]
    out = m.mix_down([samples])
    assert out == [v for s in samples for v in ch.process_sample(s)]
    ch.solo = True  # a strip ignores its own solo
    assert ch.process_sample(0.1) == (out[0], out[1])
    ch.mute = True
    assert ch.process_sample(1.0) == (0.0, 0.0)


def test_channel_management():
    m = tamlor.Mixer()
    assert (m.add_channel("Drums"), m.add_channel("Bass"), m.add_channel("Bass")) == (0, 1, 2)
    assert m.channel_names() == ["Drums", "Bass", "Bass"]
    assert repr(m) == "Mixer(master_gain=0.80, channels=[Drums, Bass, Bass])"
    m.set_channel_gain(1, 1.5)
    removed = m.remove_channel(0)
    assert isinstance(removed, tamlor.MixerChannel) and removed.name == "Drums"
    assert m.get_channel(0).gain == 1.5 and len(m) == 2
    assert m.remove_channel(5) is None and len(m) == 2
    copy = m.get_channel(0)
    copy.gain = 0.1
    assert m.get_channel(0).gain == 1.5


def test_errors_leave_the_mixer_unchanged():
    m = make_mixer("a", "b")
    before = repr(m)
    with pytest.raises(IndexError, match=r"^Channel index 5 out of range \(2\)$"):
        m.get_channel(5)
    for setter, value in [(m.set_channel_gain, 1.0), (m.set_channel_pan, 0.5),
                          (m.set_channel_mute, True), (m.set_channel_solo, True)]:
        with pytest.raises(IndexError, match=r"^Channel index 5 out of range$"):
            setter(5, value)
    with pytest.raises(OverflowError):
        m.get_channel(-1)
    with pytest.raises(TypeError):
        m.set_channel_mute(0, 1)
    with pytest.raises(TypeError):
        m.add_channel(5)
    m3 = make_mixer("a", "b", "c")
    with pytest.raises(ValueError, match=r"^Expected 3 buffers, got 2$"):
        m3.mix_down([[1.0], [1.0]])
    assert repr(m) == before


class Exploding:
    def __float__(self):
        raise ZeroDivisionError("boom")


@pytest.mark.parametrize("buffers,exc", [
    ("ab", TypeError),
    (5, TypeError),
    (["ab", [1.0]], TypeError),
    ([[1.0], 3], TypeError),
    ([[1.0], [[1.0]]], TypeError),
    ([[1.0], [Exploding()]], ZeroDivisionError),
    ([[1.0], ["x"]], TypeError),
    (([1.0], (2.0,)), None),
])
def test_bad_buffers(buffers, exc):
    m = make_mixer("a", "b", master=1.0)
    if exc is None:
        assert len(m.mix_down(buffers)) == 2
    else:
        with pytest.raises(exc):
            m.mix_down(buffers)
    assert m.channel_names() == ["a", "b"]


def test_conversion_callbacks_cannot_change_the_mixer(reentrant):
    m = make_mixer("a", "b", master=1.0)
    adder = reentrant(lambda: m.add_channel("x"), 1.0)
    with pytest.raises(RuntimeError, match="Already borrowed"):
        m.mix_down([[adder], [1.0]])
    assert isinstance(adder.error, RuntimeError) and m.channel_names() == ["a", "b"]
    setter = reentrant(lambda: setattr(m, "master_gain", 0.1), 1.0)
    with pytest.raises(RuntimeError, match="Already borrowed"):
        m.mix_down([[1.0], [setter]])
    assert m.master_gain == 1.0
    reader = reentrant(lambda: m.channel_names(), 0.5)  # reading is allowed
    m.set_channel_pan(0, -1.0)
    m.set_channel_gain(0, 1.0)
    m.set_channel_mute(1, True)
    assert m.mix_down([[reader], [1.0]]) == [0.5, 0.0]


@pytest.mark.parametrize("victim", ["outer", "own"])
def test_buffers_resized_during_conversion(victim):
    m = make_mixer("a", "b", master=1.0)
    first, second = [1.0, 1.0, 1.0], [1.0, 2.0, 3.0]
    outer = [first, second]
    target = {"outer": outer, "own": first, "later": second}[victim]

    class Shrinker:
        def __float__(self):
            target.clear()
            return 1.0

    first[0] = Shrinker()
    with pytest.raises(RuntimeError, match="changed size"):
        m.mix_down(outer)


def test_a_buffer_is_read_as_it_is_when_its_turn_comes():
    m = make_mixer("a", "b", master=1.0)
    second = [1.0, 2.0, 3.0]

    class Shrinker:
        def __float__(self):
            second.clear()
            return 1.0

    assert m.mix_down([[Shrinker(), 1.0, 1.0], second]) == m.mix_down([[1.0, 1.0, 1.0], []])


def test_channel_equality():
    a, b = tamlor.MixerChannel("x"), tamlor.MixerChannel("x")
    assert a == b and not (a != b)
    b.gain = 1.0
    assert a != b
    assert (a == "x") is False
    with pytest.raises(TypeError):
        a < b  # noqa: B015
    with pytest.raises(TypeError):
        hash(a)
    with pytest.raises(AttributeError, match="property has no deleter"):
        del a.gain


def test_no_references_leak():
    m = make_mixer("a", "b")
    sample = float("0.1")  # a float of its own, not a shared constant
    bufs = [[sample] * 64, (sample,) * 64]
    before = sys.getrefcount(sample), sys.getrefcount(bufs[0])
    for _ in range(100):
        m.mix_down(bufs)
        m.get_channel(0)
        m.remove_channel(9)
    gc.collect()
    assert (sys.getrefcount(sample), sys.getrefcount(bufs[0])) == before
