"""AudioFormat and AudioBuffer: interleaved layout, bounds and sizes."""
import struct

import pytest

import tamlor


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def test_format():
    f = tamlor.AudioFormat()
    assert (f.sample_rate, f.channels) == (44100, 2)
    assert repr(f) == "AudioFormat(sample_rate=44100, channels=2)" and str(f) == "44100Hz 2ch"
    assert f == tamlor.AudioFormat() and f != tamlor.AudioFormat(channels=1)
    assert (f == (44100, 2)) is False
    assert str(tamlor.AudioFormat(0, 0)) == "0Hz 0ch"
    with pytest.raises(TypeError):
        hash(f)
    with pytest.raises(AttributeError):
        f.channels = 1


@pytest.mark.parametrize("args,exc", [
    ((2**32,), OverflowError), ((-1,), OverflowError), ((44100, 65536), OverflowError), ((44100.0,), TypeError)])
def test_format_conversion_errors(args, exc):
    with pytest.raises(exc):
        tamlor.AudioFormat(*args)


def test_default_buffer():
    b = tamlor.AudioBuffer(4)
    assert (b.frames, len(b), b.to_list()) == (4, 4, [0.0] * 4)
    assert b.format == tamlor.AudioFormat(44100, 1)
    assert repr(b) == "AudioBuffer(frames=4, sample_rate=44100, channels=1)"


def test_interleaved_layout():
    b = tamlor.AudioBuffer(3, channels=2)
    assert (len(b), b.frames) == (6, 3)
    b.set_sample(1, 1, 0.5)
    assert b.to_list() == [0.0, 0.0, 0.0, 0.5, 0.0, 0.0]
    b.set_sample(2, 0, 0.1)
    assert b.sample_at(2, 0) == f32(0.1) != 0.1
    b.set_sample(0, 0, 1e40)  # no clamping: beyond float range becomes inf
    assert b.sample_at(0, 0) == float("inf")
    b.clear()
    assert b.to_list() == [0.0] * 6 and len(b) == 6


@pytest.mark.parametrize("frames,channels,frame,channel", [
    (3, 1, 3, 0), (3, 2, 0, 2), (0, 2, 0, 0), (5, 0, 0, 0), (3, 2, 2**64 - 1, 0)])
def test_index_out_of_bounds(frames, channels, frame, channel):
    b = tamlor.AudioBuffer(frames, channels=channels)
    with pytest.raises(IndexError, match="^Index out of bounds$"):
        b.sample_at(frame, channel)
    with pytest.raises(IndexError, match="^Index out of bounds$"):
        b.set_sample(frame, channel, 1.0)
    assert b.to_list() == [0.0] * (frames * channels)


def test_zero_channels():
    b = tamlor.AudioBuffer(5, channels=0)
    assert (b.frames, len(b), b.to_list()) == (0, 0, [])
    assert repr(b) == "AudioBuffer(frames=0, sample_rate=44100, channels=0)"


def test_format_is_a_new_object_each_time():
    b = tamlor.AudioBuffer(2, 48000, 2)
    assert b.format == tamlor.AudioFormat(48000, 2)
    assert b.format is not b.format


@pytest.mark.parametrize("frames,channels,exc", [
    (2**62, 1, MemoryError), (2**63, 65535, MemoryError), (2**64 - 1, 2, MemoryError),
    (2**64, 1, OverflowError), (-1, 1, OverflowError)])
def test_sizes_too_large_fail_cleanly(frames, channels, exc):
    with pytest.raises(exc):
        tamlor.AudioBuffer(frames, channels=channels)


def test_failed_set_sample_changes_nothing(reentrant):
    b = tamlor.AudioBuffer(2)
    with pytest.raises(TypeError):
        b.set_sample(0, 0, "x")
    sneaky = reentrant(lambda: b.set_sample(1, 0, 9.0), 0.25)
    with pytest.raises(RuntimeError, match="Already borrowed"):
        b.set_sample(0, 0, sneaky)
    reader = reentrant(lambda: b.to_list(), 0.25)
    with pytest.raises(RuntimeError, match="Already mutably borrowed"):
        b.set_sample(0, 0, reader)
    assert b.to_list() == [0.0, 0.0]
