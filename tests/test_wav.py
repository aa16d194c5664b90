"""WAV files through AudioBuffer: written files read back exactly, open in the
standard library's wave and in sox, and files that cannot be read say why."""
import array
import math
import os
import random
import shutil
import struct
import subprocess
import wave

import numpy as np
import pytest

import tamlor

write_wav, read_wav = tamlor.AudioBuffer.write_wav, tamlor.AudioBuffer.read_wav


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def pcm16(x):
    if math.isnan(x):
        return 0
    return max(-32768, min(32767, round(max(-2.0, min(2.0, x)) * 32768)))


@pytest.fixture
def samples():
    rng = random.Random(11)
    values = [rng.uniform(-1.3, 1.3) for _ in range(2 * 997)]
    values[:6] = [1.0, -1.0, 0.5 / 32768, 1.5 / 32768, float("inf"), -float("inf")]
    return values


@pytest.mark.parametrize("channels", [1, 2])
@pytest.mark.parametrize("rate", [1, 8000, 44100, 192000])
def test_float32_files_read_back_bit_for_bit(tmp_path, samples, channels, rate):
    path = tmp_path / "f.wav"
    samples = samples + [float("nan"), float("nan")]
    write_wav(path, array.array("f", samples), rate, channels, encoding="float32")
    b = read_wav(path)
    assert repr(b) == f"AudioBuffer(frames={len(samples) // channels}, sample_rate={rate}, channels={channels})"
    assert struct.pack(f"<{len(b)}f", *b.to_list()) == struct.pack(f"<{len(samples)}f", *samples)


@pytest.mark.parametrize("channels", [1, 2])
def test_pcm16_files_hold_the_rounded_clipped_values(tmp_path, samples, channels):
    path = str(tmp_path / "p.wav")
    write_wav(path, samples, sample_rate=22050, channels=channels)  # pcm16 is the default
    with wave.open(path, "rb") as w:
        assert (w.getnchannels(), w.getsampwidth(), w.getframerate()) == (channels, 2, 22050)
        assert w.getnframes() == len(samples) // channels
        data = w.readframes(w.getnframes())
    expected = [pcm16(f32(x)) for x in samples]  # each sample is a 32-bit float first
    assert struct.unpack(f"<{len(samples)}h", data) == tuple(expected)
    assert read_wav(path).to_list() == [v / 32768 for v in expected]
    # Reading and writing again changes nothing.
    write_wav(tmp_path / "again.wav", read_wav(path).to_list(), 22050, channels)
    assert (tmp_path / "again.wav").read_bytes() == (tmp_path / "p.wav").read_bytes()


def test_channels_become_samples(tmp_path):
    path = tmp_path / "s.wav"
    write_wav(path, [0.0, 0.5, 0.25, -0.5, 0.125, 1.0], 8000, 2, "float32")
    b = read_wav(path)
    assert b.channel_samples(0) == [0.0, 0.25, 0.125]
    assert b.channel_samples(channel=1) == [0.5, -0.5, 1.0]
    with pytest.raises(IndexError, match="^Index out of bounds$"):
        b.channel_samples(2)
    with pytest.raises(OverflowError):
        b.channel_samples(-1)
    sample = tamlor.AudioSample(b.channel_samples(1), sample_rate=b.format.sample_rate)
    assert sample.data() == [0.5, -0.5, 1.0]


@pytest.mark.skipif(shutil.which("sox") is None, reason="sox is installed by scripts/setup.sh")
@pytest.mark.parametrize("encoding,text", [("pcm16", "16-bit Signed Integer PCM"),
                                           ("float32", "32-bit Floating Point PCM")])
def test_files_open_in_sox(tmp_path, encoding, text):
    path = tmp_path / "x.wav"
    write_wav(path, [0.1, -0.1] * 4800, 48000, 2, encoding)
    info = subprocess.run(["sox", "--i", str(path)], capture_output=True, text=True, check=True).stdout
    assert "Channels       : 2" in info and "Sample Rate    : 48000" in info
    assert "= 4800 samples" in info and text in info


def test_bad_arguments_write_nothing(tmp_path):
    path = tmp_path / "x.wav"
    path.write_bytes(b"keep")
    cases = [
        ((path, [0.0] * 3, 44100, 3), ValueError, "^channels must be 1 or 2, not 3$"),
        ((path, [0.0] * 3, 44100, 0), ValueError, "^channels must be 1 or 2, not 0$"),
        ((path, [0.0] * 3, 44100, 2), ValueError, "^sample count 3 is not a multiple of 2 channels$"),
        ((path, [0.0], 0), ValueError, "^sample_rate must be at least 1$"),
        ((path, [0.0, 0.0], 2**32 - 1, 2, "float32"), ValueError, "^too much audio for a WAV file"),
        ((path, [0.0], 44100, 1, "pcm8"), ValueError, "^encoding must be 'pcm16', 'pcm24' or 'float32', not 'pcm8'$"),
        ((path, [0.0], 44100, 1, 16), TypeError, "^argument 'encoding': must be str, not int$"),
        ((path, [0.0, "x"]), TypeError, "^argument 'samples': "),
        ((path, 5), TypeError, "^argument 'samples': "),
        ((path, b"\x00\x01"), TypeError, "^argument 'samples': a buffer of 'B' items holds no samples"),
        ((path, array.array("i", [1, 2])), TypeError, "^argument 'samples': a buffer of 'i' items holds no samples"),
        ((path, np.zeros((2, 4), dtype=np.float32), 44100, 2), ValueError,
         r"^argument 'samples': a 2-D block must have shape \(frames, 2\), not shape \(2, 4\)$"),
        ((path, [0.0], -1), OverflowError, None),
        ((path, [0.0], 44100, 65536), OverflowError, None),
        ((None, [0.0]), TypeError, "^argument 'path': "),
        ((str(path) + "\0", [0.0]), ValueError, "embedded null"),
    ]
    for args, error, message in cases:
        with pytest.raises(error, match=message):
            write_wav(*args)
        assert path.read_bytes() == b"keep", args
    with pytest.raises(TypeError):
        write_wav(path, [0.0], rate=44100)
    with pytest.raises(FileNotFoundError) as info:
        write_wav(tmp_path / "no" / "x.wav", [0.0])
    assert info.value.filename == str(tmp_path / "no" / "x.wav")


def riff(form, *chunks):
    body = form + b"".join(cid + struct.pack("<I", len(data)) + data + b"\0" * (len(data) % 2)
                           for cid, data in chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def fmt(tag=1, channels=2, rate=44100, bits=16):
    block = channels * bits // 8
    return b"fmt ", struct.pack("<HHIIHH", tag, channels, rate, rate * block, block, bits)


@pytest.mark.parametrize(
    "content,message",
    [
        (riff(b"WAVE", fmt(tag=2, bits=4), (b"data", bytes(8))), "unsupported WAV encoding (format tag 0x0002)"),
        (riff(b"WAVE", fmt(), (b"data", bytes(8)))[:-1], "truncated WAV file: the 'data' chunk holds 8 bytes"),
        (riff(b"AVI ", fmt(), (b"data", bytes(8))), "not a WAV file: a RIFF file of type 'AVI ', not 'WAVE'"),
        (riff(b"WAVE", fmt(channels=0), (b"data", bytes(8))), "invalid WAV file: zero channels"),
        (b"OggS" + bytes(40), "not a WAV file: it starts with 'OggS', not 'RIFF'"),
    ],
)
def test_unreadable_files_say_why(tmp_path, content, message):
    # The engine tests go through every reason; here the path leads the text.
    path = tmp_path / "bad.wav"
    path.write_bytes(content)
    with pytest.raises(ValueError) as info:
        read_wav(path)
    text = str(info.value)
    assert text.startswith(f"{path}: ") and message in text, text


def test_files_that_cannot_be_opened(tmp_path):
    with pytest.raises(FileNotFoundError):
        read_wav(tmp_path / "missing.wav")
    with pytest.raises(IsADirectoryError):
        read_wav(tmp_path)
    for bad in (None, 5, ["x"]):
        with pytest.raises(TypeError, match="^argument 'path': "):
            read_wav(bad)
    write_wav(tmp_path / "ok.wav", [0.0, 1.0])
    assert read_wav(os.fsencode(tmp_path / "ok.wav")).frames == 2  # bytes paths work too


def test_a_frames_by_channels_array_is_interleaved(tmp_path):
    frames = np.random.default_rng(5).uniform(-1.5, 1.5, (300, 2)).astype(np.float32)
    for encoding in ("pcm16", "float32"):
        write_wav(tmp_path / "a.wav", frames, 8000, 2, encoding)
        write_wav(tmp_path / "b.wav", frames.ravel().tolist(), 8000, 2, encoding)
        assert (tmp_path / "a.wav").read_bytes() == (tmp_path / "b.wav").read_bytes()
