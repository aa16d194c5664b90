"""AudioOutput playback on ALSA without sound hardware.

tests/alsa/file_output.conf makes the default device a PCM that writes every
byte it receives to the file named by TAMLOR_PCM_FILE (one file per stream:
NAME, NAME.0001, ...), so the tests compare exactly what the device got with
the 16-bit conversion of what was written."""
import array
import math
import os
import pathlib
import struct
import subprocess
import sys
import textwrap
import threading

import numpy as np
import pytest

import tamlor

FILE_OUTPUT = pathlib.Path(__file__).resolve().parent / "alsa" / "file_output.conf"
PATH = "tamlor::audio_output::PyAudioOutput"


def pcm16(x):
    """The documented conversion, written out in Python."""
    if math.isnan(x):
        return 0
    return max(-32768, min(32767, round(max(-2.0, min(2.0, x)) * 32768)))


def expected_bytes(samples):
    return struct.pack(f"<{len(samples)}h", *map(pcm16, samples))


class Device:
    """The files the test device wrote, one per stream, in order."""

    def __init__(self, path):
        self.path = path

    def streams(self):
        names = sorted(p.name for p in self.path.parent.glob(self.path.name + "*"))
        return [(self.path.parent / n).read_bytes() for n in names]

    def received(self):
        return b"".join(self.streams())


@pytest.fixture
def device(monkeypatch, tmp_path):
    monkeypatch.setenv("ALSA_CONFIG_PATH", str(FILE_OUTPUT))
    monkeypatch.setenv("TAMLOR_PCM_FILE", str(tmp_path / "pcm.raw"))
    return Device(tmp_path / "pcm.raw")


def song_blocks(n_blocks, frames=256):
    """A short stereo song, loud enough to clip, with a NaN and infinities."""
    sample = tamlor.AudioSample(tamlor.SawOscillator(frequency=220.0).render_to_buffer(4410), root_note=57)
    sampler = tamlor.Sampler(sample, max_voices=4)
    sine = tamlor.SineOscillator(frequency=330.0, amplitude=0.8)
    mixer = tamlor.Mixer()
    for gain, pan in ((2.5, -0.5), (1.0, 0.7)):
        index = mixer.add_channel("x")
        mixer.set_channel_gain(index, gain)
        mixer.set_channel_pan(index, pan)
    blocks = []
    for i in range(n_blocks):
        if i % 3 == 0:
            sampler.note_on(57 + i % 12, 100)
        blocks.append(mixer.mix_down([sampler.render(frames), sine.render_to_buffer(frames)]))
    blocks[1][5], blocks[1][6], blocks[2][0] = float("nan"), float("inf"), -float("inf")
    return blocks


def test_song_reaches_the_device_exactly_across_stop_and_start(device):
    blocks = song_blocks(24)
    assert max(abs(x) for b in blocks for x in b if math.isfinite(x)) > 1.0  # some samples clip
    out = tamlor.AudioOutput(sample_rate=44100, channels=2, buffer_size=100)
    out.start()
    assert out.is_playing() and repr(out) == "AudioOutput(device='File Output (test configuration)', playing=true)"
    for block in blocks[:10]:
        out.write(block)
    out.write(array.array("f", blocks[10]))  # a float32 buffer plays the same
    out.stop()
    assert not out.is_playing()
    assert out.device_name() == "File Output (test configuration)"
    first = device.streams()
    out.start()
    for block in blocks[11:]:
        out.write(block)
    out.stop()
    assert out.underruns() == 0
    played = [x for b in blocks for x in b]
    assert device.streams()[0] == first[0] == expected_bytes(played[: 11 * 512])
    assert device.received() == expected_bytes(played)


def test_bad_blocks_send_nothing(device, reentrant):
    out = tamlor.AudioOutput(channels=2)
    with pytest.raises(RuntimeError, match=r"^Not playing: call start\(\) first$"):
        out.write([0.0, 0.0])
    out.start()
    with pytest.raises(RuntimeError, match="^Already playing$"):
        out.start()
    with pytest.raises(ValueError, match="^block length 3 is not a multiple of 2 channels$"):
        out.write([0.5, 0.5, 0.5])
    bad = [(5, TypeError), ("ab", TypeError), (None, TypeError), ([0.5, 0.5, "x", 0.5], TypeError),
           ({0.5: 1}, TypeError), ([0.5, 2**2000], OverflowError), (b"\x00\x01", TypeError),
           (array.array("h", [1, 2]), TypeError), (bytearray(4), TypeError)]
    for block, error in bad:
        with pytest.raises(error, match="argument 'block'" if error is TypeError else None):
            out.write(block)
    # A conversion that calls back into the object finds it borrowed.
    meddler = reentrant(out.stop, 0.5)
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        out.write([0.5, meddler])
    assert out.is_playing()
    with pytest.raises(TypeError, match="^argument 'block': a buffer of 'h' items holds no samples"):
        out.write(array.array("h", [1, 2]))
    out.write([])
    out.write([0.25, -0.25])
    out.write(array.array("d", [0.5, 1e300]))  # 64-bit floats are samples too
    out.write(memoryview(array.array("f", [-0.5, 0.125])))
    frames = np.array([[0.75, -0.75], [0.0, 1.0]], dtype=np.float32)  # (frames, channels)
    out.write(frames)
    with pytest.raises(ValueError, match=r"^argument 'block': a 2-D block must have shape \(frames, 2\), not shape \(2, 3\)$"):
        out.write(np.zeros((2, 3), dtype=np.float32))
    out.stop()
    assert device.received() == expected_bytes([0.25, -0.25, 0.5, 1.0, -0.5, 0.125, 0.75, -0.75, 0.0, 1.0])


def test_settings_the_device_cannot_play(device, monkeypatch, tmp_path):
    for kwargs, name in (({"channels": 0}, "channels"), ({"sample_rate": 0}, "sample_rate"),
                         ({"buffer_size": 0}, "buffer_size")):
        out = tamlor.AudioOutput(**kwargs)
        with pytest.raises(ValueError, match=f"^cannot play with {name}=0$"):
            out.start()
        assert not out.is_playing()
    # The platform's own refusal, then a successful start on the same object.
    monkeypatch.setenv("TAMLOR_PCM_FILE", str(tmp_path / "missing" / "pcm.raw"))
    out = tamlor.AudioOutput(channels=1)
    with pytest.raises(RuntimeError, match="^Could not start audio output: No such file or directory$"):
        out.start()
    assert repr(out).endswith("playing=false)")
    monkeypatch.setenv("TAMLOR_PCM_FILE", str(device.path))
    out.start()
    out.write([1.0])
    out.stop()
    assert device.received() == struct.pack("<h", 32767)


def test_dropping_a_playing_output_closes_its_stream(device):
    out = tamlor.AudioOutput(channels=1)
    out.start()
    out.write([0.5] * 10)
    assert device.received() == b""  # the test device writes its file out when the stream closes
    del out
    assert device.received() == expected_bytes([0.5] * 10)


@pytest.mark.parametrize("call", [lambda o: o.start(), lambda o: o.write([0.0, 0.0]), lambda o: o.underruns()])
def test_playback_stays_on_the_creating_thread(device, call):
    out = tamlor.AudioOutput()
    box = []
    t = threading.Thread(target=lambda: box.append(pytest.raises(RuntimeError, call, out)))
    t.start()
    t.join()
    assert str(box[0].value) == f"{PATH} is unsendable, but sent to another thread"


def test_write_releases_the_interpreter_lock_and_holds_the_object(tmp_path):
    # The device writes into a named pipe that a Python thread empties slowly:
    # write() can only finish if that thread runs while it waits. A signal
    # handler that fires meanwhile finds the object borrowed; one that raises
    # KeyboardInterrupt ends the write after the periods already sent.
    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)
    env = dict(os.environ, ALSA_CONFIG_PATH=str(FILE_OUTPUT), TAMLOR_PCM_FILE=str(fifo), TAMLOR_PCM_TRUNCATE="true")
    script = textwrap.dedent(
        f"""
        import signal, threading, time, tamlor
        out = tamlor.AudioOutput(channels=2, buffer_size=256)
        block = [((i % 200) - 100) / 128.0 for i in range(2 * 44100)]
        sent = b"".join(int(x * 32768).to_bytes(2, "little", signed=True) for x in block)

        def play(on_alarm):
            got = bytearray()

            def empty_pipe():
                with open({str(fifo)!r}, "rb") as f:
                    while chunk := f.read(8192):
                        got.extend(chunk)
                        time.sleep(0.005)

            reader = threading.Thread(target=empty_pipe)
            reader.start()
            out.start()
            signal.signal(signal.SIGALRM, on_alarm)
            signal.siginterrupt(signal.SIGALRM, False)
            signal.setitimer(signal.ITIMER_REAL, 0.05)
            try:
                out.write(block)
                outcome = "finished"
            except KeyboardInterrupt:
                outcome = "interrupted, playing" if out.is_playing() else "interrupted, stopped"
            out.stop()
            reader.join()
            return outcome, bytes(got)

        errors = []

        def meddle(signum, frame):
            try:
                out.stop()
            except RuntimeError as exc:
                errors.append(str(exc))

        def interrupt(signum, frame):
            raise KeyboardInterrupt

        outcome, got = play(meddle)
        print(outcome, errors, got == sent)
        outcome, got = play(interrupt)
        print(outcome, 0 < len(got) < len(sent), len(got) % (4 * 256), got == sent[: len(got)])
        """
    )
    result = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["finished ['Already borrowed'] True", "interrupted, playing True 0 True"]


def test_a_playing_output_dropped_on_another_thread_closes_its_stream(tmp_path):
    # The handle is leaked on purpose (and reported), but its stream must not
    # be: 200 drops leave the open descriptors where they were.
    script = textwrap.dedent(
        """
        import os, sys, threading, tamlor
        reported = []
        sys.unraisablehook = lambda u: reported.append(str(u.exc_value))

        def descriptors():
            return len(os.listdir("/proc/self/fd"))

        def drop(box):
            box.pop()  # the last reference goes on this thread

        def playing():
            out = tamlor.AudioOutput(channels=1, buffer_size=64)
            out.start()
            out.write([0.25] * 256)
            return out

        for _ in range(5):  # the library's own first-use descriptors
            t = threading.Thread(target=drop, args=([playing()],)); t.start(); t.join()
        before = descriptors()
        for _ in range(200):
            t = threading.Thread(target=drop, args=([playing()],)); t.start(); t.join()
        print(descriptors() - before, len(reported), set(reported))
        """
    )
    env = dict(os.environ, ALSA_CONFIG_PATH=str(FILE_OUTPUT), TAMLOR_PCM_FILE=str(tmp_path / "pcm.raw"))
    result = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split(" ", 2) == [
        "0", "205", f"{{'{PATH} is unsendable, but is being dropped on another thread'}}\n"]


@pytest.mark.parametrize("frames", [1, 64, 130, 5000])
def test_a_failing_sink_is_reported_not_swallowed(device, monkeypatch, frames):
    # The device writes into /dev/full: the library's own plugin only prints
    # its failure; whether it shows in write() or in stop(), it is raised,
    # and the handle is stopped and can start again.
    monkeypatch.setenv("TAMLOR_PCM_FILE", "/dev/full")
    monkeypatch.setenv("TAMLOR_PCM_TRUNCATE", "true")
    out = tamlor.AudioOutput(channels=1, buffer_size=64)
    out.start()
    failure = "^Audio output failed: /dev/full write failed, file data may be corrupt: No space left on device$"
    with pytest.raises(RuntimeError, match=failure):
        out.write([0.25] * frames)
        out.stop()
    assert not out.is_playing()
    out.stop()  # already stopped: nothing to report
    monkeypatch.setenv("TAMLOR_PCM_FILE", str(device.path))
    out.start()
    out.write([0.5])
    out.stop()
    assert device.received() == expected_bytes([0.5])
