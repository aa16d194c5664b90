"""WAV files under hostile conditions: a failed write never destroys what the
call did not create, reads never go past what a file declares and holds,
pipes and devices are read in bounded pieces that give way to Ctrl+C, and
the array roads read the same samples as read_wav. Cases that change the
process (resource limits) run in a child process."""
import os
import pathlib
import resource
import stat
import struct
import subprocess
import sys
import tempfile
import textwrap
import threading
import time

import numpy as np
import pytest

import tamlor
from conftest import interrupted_within

AudioBuffer = tamlor.AudioBuffer
write_wav, read_wav = AudioBuffer.write_wav, AudioBuffer.read_wav
SANITIZED = "libasan" in os.environ.get("LD_PRELOAD", "")


def run_child(code, timeout=120):
    proc = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                          timeout=timeout)
    assert proc.returncode == 0, f"exit {proc.returncode}\n{proc.stdout}\n{proc.stderr}"
    return proc.stdout


def riff(*chunks, claimed=None):
    """A RIFF/WAVE file of the chunks (tag, data); the last one claims
    `claimed` bytes when given."""
    last = len(chunks) - 1
    body = b"WAVE" + b"".join(tag + struct.pack("<I", len(data) if claimed is None or i != last else claimed)
                              + data + b"\0" * (len(data) & 1) for i, (tag, data) in enumerate(chunks))
    return b"RIFF" + struct.pack("<I", len(body)) + body


def fmt(tag=1, channels=2, rate=8000, bits=16):
    block = channels * bits // 8
    return b"fmt ", struct.pack("<HHIIHH", tag, channels, rate, rate * block, block, bits)


def left_behind(folder, *expected):
    """Names in `folder` other than the expected ones (temporary files)."""
    return sorted(set(os.listdir(folder)) - set(expected))


# ---------------------------------------------------------------------------
# Writing


class TestWriting:
    def test_a_write_replaces_the_file_and_keeps_its_permissions(self, tmp_path):
        path = tmp_path / "song.wav"
        path.write_bytes(b"old")
        os.chmod(path, 0o640)
        write_wav(path, [0.5, -0.5], 8000, 2, "float32")
        assert read_wav(path).to_list() == [0.5, -0.5]
        assert stat.S_IMODE(os.stat(path).st_mode) == 0o640
        assert left_behind(tmp_path, "song.wav") == []

    def test_a_failing_write_leaves_an_existing_file_and_its_link_untouched(self, tmp_path):
        # A file size limit makes the write fail part way; what was there
        # stays byte for byte, the link stays a link, nothing is left over.
        out = run_child(f"""
            import os, resource, signal, tamlor
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            folder = {str(tmp_path)!r}
            target, link = os.path.join(folder, "take.wav"), os.path.join(folder, "link.wav")
            tamlor.AudioBuffer.write_wav(target, [0.25] * 1000)
            before = open(target, "rb").read()
            os.symlink("take.wav", link)
            resource.setrlimit(resource.RLIMIT_FSIZE, (50_000, 50_000))
            for path in (target, link, os.path.join(folder, "new.wav")):
                for encoding in ("pcm16", "float32"):
                    try:
                        tamlor.AudioBuffer.write_wav(path, [0.5] * 100_000, encoding=encoding)
                    except OSError as e:
                        assert e.filename == path, e
                    else:
                        raise AssertionError("the write did not fail")
            assert open(target, "rb").read() == before
            assert os.readlink(link) == "take.wav"
            print(sorted(os.listdir(folder)))
        """)
        assert out.strip() == "['link.wav', 'take.wav']"

    @pytest.mark.skipif(os.geteuid() != 0, reason="needs to become another user")
    def test_a_writable_file_in_a_closed_folder_is_written_in_place(self):
        # Another user may write the file but not create files beside it:
        # the write goes in place, and a refused one changes nothing.
        with tempfile.TemporaryDirectory() as tmp:  # a folder every user can reach
            self.check_closed_folder(pathlib.Path(tmp))

    @staticmethod
    def check_closed_folder(tmp_path):
        folder = tmp_path / "shared"
        folder.mkdir()
        (folder / "take.wav").write_bytes(b"old")
        (folder / "locked.wav").write_bytes(b"kept")
        os.chown(folder / "take.wav", 65534, 65534)
        os.chmod(tmp_path, 0o755)
        os.chmod(folder, 0o755)
        os.chmod(folder / "locked.wav", 0o644)
        out = run_child(f"""
            import os, tamlor
            os.setgid(65534)
            os.setuid(65534)
            folder = {str(folder)!r}
            tamlor.AudioBuffer.write_wav(os.path.join(folder, "take.wav"), [0.5], encoding="float32")
            print(tamlor.AudioBuffer.read_wav(os.path.join(folder, "take.wav")).to_list())
            for name in ("locked.wav", "new.wav"):
                try:
                    tamlor.AudioBuffer.write_wav(os.path.join(folder, name), [0.5])
                except PermissionError as e:
                    print(name, e.errno)
        """)
        assert out.split("\n")[:3] == ["[0.5]", "locked.wav 13", "new.wav 13"]
        assert (folder / "locked.wav").read_bytes() == b"kept"
        assert sorted(os.listdir(folder)) == ["locked.wav", "take.wav"]

    def test_a_link_is_followed_and_kept(self, tmp_path):
        (tmp_path / "real").mkdir()
        target = tmp_path / "real" / "take.wav"
        write_wav(target, [0.0])
        (tmp_path / "link.wav").symlink_to(target)
        (tmp_path / "chain.wav").symlink_to("link.wav")
        write_wav(tmp_path / "chain.wav", [0.5, 0.25], encoding="float32")
        assert (tmp_path / "chain.wav").is_symlink() and (tmp_path / "link.wav").is_symlink()
        assert read_wav(target).to_list() == [0.5, 0.25]
        # A dangling link makes the file it names.
        (tmp_path / "dangling.wav").symlink_to("real/later.wav")
        write_wav(tmp_path / "dangling.wav", [0.75], encoding="float32")
        assert read_wav(tmp_path / "real" / "later.wav").to_list() == [0.75]
        assert left_behind(tmp_path / "real", "take.wav", "later.wav") == []

    def test_devices_are_written_in_place_and_never_removed(self):
        write_wav("/dev/null", [0.5] * 10)
        with pytest.raises(OSError) as info:
            write_wav("/dev/full", [0.5] * 100_000)
        assert info.value.filename == "/dev/full"
        for device in ("/dev/null", "/dev/full"):
            assert stat.S_ISCHR(os.stat(device).st_mode)
        assert not [n for n in os.listdir("/dev") if n.endswith(".tmp")]

    def test_a_named_pipe_is_written_in_place(self, tmp_path):
        fifo = tmp_path / "pipe"
        os.mkfifo(fifo)
        got = []
        reader = threading.Thread(target=lambda: got.append(fifo.read_bytes()))
        reader.start()
        write_wav(fifo, [0.5, -0.25], 8000, 1, "float32")
        reader.join(10)
        write_wav(tmp_path / "file.wav", [0.5, -0.25], 8000, 1, "float32")
        assert got == [(tmp_path / "file.wav").read_bytes()]
        assert stat.S_ISFIFO(os.stat(fifo).st_mode)
        assert left_behind(tmp_path, "pipe", "file.wav") == []

    def test_a_name_at_the_length_limit_is_written(self, tmp_path):
        path = tmp_path / ("n" * 251 + ".wav")
        write_wav(path, [0.5], encoding="float32")
        write_wav(path, [0.25], encoding="float32")
        assert read_wav(path).to_list() == [0.25]
        assert left_behind(tmp_path, path.name) == []

    def test_what_cannot_be_written_leaves_nothing(self, tmp_path):
        with pytest.raises(FileNotFoundError):
            write_wav(tmp_path / "missing" / "a.wav", [0.0])
        with pytest.raises(IsADirectoryError):
            write_wav(tmp_path, [0.0])
        with pytest.raises(FileNotFoundError):
            write_wav("", [0.0])
        assert os.listdir(tmp_path) == []

    @pytest.mark.parametrize("encoding", ["pcm16", "float32"])
    @pytest.mark.parametrize("empty", [[], (), np.zeros(0, np.float32), np.zeros((0, 2), np.float64)],
                             ids=["list", "tuple", "array", "2-D"])
    def test_empty_writes_make_empty_files(self, tmp_path, encoding, empty):
        channels = 2 if getattr(empty, "ndim", 1) == 2 else 1
        write_wav(tmp_path / "e.wav", empty, 8000, channels, encoding)
        back = read_wav(tmp_path / "e.wav")
        assert (back.frames, back.channels, back.sample_rate) == (0, channels, 8000)


# ---------------------------------------------------------------------------
# Reading


def feed(fifo, data, hold=0.0):
    """Writes `data` into the named pipe from a thread (then keeps it open
    for `hold` seconds); returns the thread."""
    def run():
        try:
            with open(fifo, "wb") as f:
                f.write(data)
                f.flush()
                time.sleep(hold)
        except BrokenPipeError:
            pass
    thread = threading.Thread(target=run, daemon=True)
    thread.start()
    return thread


class TestReading:
    def test_a_device_ends_at_once(self):
        start = time.monotonic()
        with pytest.raises(ValueError, match=r"^/dev/zero: not a WAV file: it starts with '\\x00"):
            read_wav("/dev/zero")
        assert time.monotonic() - start < 1.0

    def test_a_claim_beyond_the_file_is_refused_before_reading(self, tmp_path):
        content = riff(fmt(), (b"data", bytes(8)), claimed=0xFFFFFFF0)
        path = tmp_path / "liar.wav"
        path.write_bytes(content)
        message = "truncated WAV file: the 'data' chunk holds 4294967280 bytes but the file ends after 8"
        with pytest.raises(ValueError, match=f"^{path}: {message}$"):
            read_wav(path)
        with pytest.raises(ValueError, match=message):
            AudioBuffer.wav_shape(path)
        # Through a pipe the end is found by reaching it: the same text.
        fifo = tmp_path / "pipe"
        os.mkfifo(fifo)
        feed(fifo, content)
        with pytest.raises(ValueError, match=f"^{fifo}: {message}$"):
            read_wav(fifo)

    def test_pipes_read_like_files_whatever_the_chunk_order(self, tmp_path):
        samples = struct.pack("<8h", *range(-4, 4))
        for chunks in ((fmt(), (b"LIST", b"x" * 5), (b"data", samples)), ((b"data", samples), fmt())):
            content = riff(*chunks)
            (tmp_path / "a.wav").write_bytes(content)
            fifo = tmp_path / "pipe"
            os.mkfifo(fifo)
            feed(fifo, content)
            assert read_wav(fifo).to_list() == read_wav(tmp_path / "a.wav").to_list() == [v / 32768 for v in range(-4, 4)]
            os.unlink(fifo)

    @pytest.mark.parametrize("chunk,hold", [(b"data", 0.0), (b"LIST", 0.0), (b"data", 30.0)],
                             ids=["streaming", "skipping", "stalled"])
    def test_a_long_pipe_read_gives_way_to_a_signal_handler(self, tmp_path, chunk, hold):
        # A chunk claiming 4 GiB: streamed without end (kept, or skipped), or
        # stalled after the header (the read waits inside the system).
        fifo = tmp_path / "pipe"
        os.mkfifo(fifo)
        header = riff(fmt(), (chunk, b""), claimed=0xFFFFFFF0)
        if hold:
            feed(fifo, header, hold=hold)
        else:
            def stream():
                try:
                    with open(fifo, "wb") as f:
                        f.write(header)
                        block = bytes(1 << 16)
                        while True:
                            f.write(block)
                except (BrokenPipeError, OSError):
                    pass
            threading.Thread(target=stream, daemon=True).start()
        assert interrupted_within(0.3, lambda: read_wav(fifo)) < 5.0

    def test_an_endless_pipe_of_empty_chunks_gives_way(self, tmp_path):
        fifo = tmp_path / "pipe"
        os.mkfifo(fifo)

        def stream():
            try:
                with open(fifo, "wb") as f:
                    f.write(riff(fmt()))
                    while True:
                        f.write(b"junk\0\0\0\0" * 8192)
            except (BrokenPipeError, OSError):
                pass
        threading.Thread(target=stream, daemon=True).start()
        assert interrupted_within(0.3, lambda: read_wav(fifo)) < 5.0

    @pytest.mark.skipif(SANITIZED, reason="address-space limits do not apply under the sanitizers")
    def test_a_data_chunk_that_cannot_fit_says_so(self, tmp_path):
        path = tmp_path / "huge.wav"
        with open(path, "wb") as f:
            f.write(riff(fmt(), (b"data", b""), claimed=3 << 30))
            f.truncate(44 + (3 << 30))  # sparse: no disk space taken
        out = run_child(f"""
            import resource, tamlor
            resource.setrlimit(resource.RLIMIT_AS, (2 << 30, 2 << 30))
            try:
                tamlor.AudioBuffer.read_wav({str(path)!r})
            except MemoryError as e:
                print(e)
        """)
        assert out.strip() == f"{path}: data chunk of {3 << 30} bytes does not fit in memory"


# ---------------------------------------------------------------------------
# Arrays


def encoded(kind, values):
    """A stereo file's data in the given encoding, from integers or floats."""
    tag, bits, pack = {"pcm8": (1, 8, "B"), "pcm16": (1, 16, "h"), "pcm32": (1, 32, "i"),
                       "float32": (3, 32, "f"), "float64": (3, 64, "d")}[kind]
    return riff(fmt(tag=tag, bits=bits, rate=22050), (b"data", struct.pack(f"<{len(values)}{pack}", *values)))


def pcm24(values):
    data = b"".join(struct.pack("<i", v)[:3] for v in values)
    return riff(fmt(bits=24, rate=22050), (b"data", data))


ENCODINGS = {
    "pcm8": encoded("pcm8", [0, 1, 127, 128, 200, 255]),
    "pcm16": encoded("pcm16", [-32768, -1, 0, 1, 12345, 32767]),
    "pcm24": pcm24([-(1 << 23), -1, 0, 1, 4242424, (1 << 23) - 1]),
    "pcm32": encoded("pcm32", [-(1 << 31), -1, 0, 1, 123456789, (1 << 31) - 1]),
    "float32": encoded("float32", [0.1, -2.5, float("inf"), 1e-40, -0.0, 0.5]),
    "float64": encoded("float64", [0.1, -2.5, 1e300, 1e-300, -0.0, 0.5]),
}


class TestArrays:
    @pytest.mark.parametrize("kind", sorted(ENCODINGS))
    def test_every_road_reads_the_same_samples(self, tmp_path, kind):
        path = tmp_path / f"{kind}.wav"
        path.write_bytes(ENCODINGS[kind])
        buffer = read_wav(path)
        expected = np.array(buffer.to_list(), np.float32).reshape(3, 2)
        assert AudioBuffer.wav_shape(path) == (3, 2)
        shaped = np.full((3, 2), 9.0, np.float32)
        assert AudioBuffer.read_wav_into(path, shaped) == 22050
        flat = np.full(6, 9.0, np.float32)
        AudioBuffer.read_wav_into(path, flat)
        exported = np.full((3, 2), 9.0, np.float32)
        buffer.samples_into(exported)
        for got in (shaped, flat.reshape(3, 2), exported):
            assert got.tobytes() == expected.tobytes()

    def test_a_long_file_reads_in_pieces_bit_for_bit(self, tmp_path):
        audio = np.random.default_rng(3).uniform(-1, 1, (300_000, 2)).astype(np.float32)
        for encoding in ("float32", "pcm16"):
            write_wav(tmp_path / "a.wav", audio, 48000, 2, encoding)
            out = np.empty(AudioBuffer.wav_shape(tmp_path / "a.wav"), np.float32)
            assert AudioBuffer.read_wav_into(tmp_path / "a.wav", out) == 48000
            assert out.tobytes() == np.array(read_wav(tmp_path / "a.wav").to_list(), np.float32).tobytes()
        assert np.array_equal(out.view(np.uint32), audio.view(np.uint32)) is False  # pcm16 rounds
        write_wav(tmp_path / "f.wav", audio, 48000, 2, "float32")
        AudioBuffer.read_wav_into(tmp_path / "f.wav", out)
        assert np.array_equal(out.view(np.uint32), audio.view(np.uint32))

    def test_a_wrong_out_is_refused_and_left_as_it_was(self, tmp_path):
        path = tmp_path / "a.wav"
        path.write_bytes(ENCODINGS["pcm16"])
        buffer = read_wav(path)
        for bad, error in ((np.zeros((2, 3), np.float32), ValueError), (np.zeros(5, np.float32), ValueError),
                           (np.zeros((3, 2, 1), np.float32), ValueError), (np.zeros((3, 2)), TypeError),
                           (np.zeros((3, 4), np.float32)[:, ::2], TypeError), (bytes(24), TypeError),
                           ([0.0] * 6, TypeError)):
            before = bad.copy() if isinstance(bad, np.ndarray) else bad
            for call in (lambda: AudioBuffer.read_wav_into(path, bad), lambda: buffer.samples_into(bad)):
                with pytest.raises(error):
                    call()
            if isinstance(bad, np.ndarray):
                assert np.array_equal(bad, before)
        readonly = np.zeros((3, 2), np.float32)
        readonly.flags.writeable = False
        with pytest.raises(TypeError, match="read-only"):
            AudioBuffer.read_wav_into(path, readonly)
        # A file that cannot be read leaves out as it was.
        out = np.full((3, 2), 9.0, np.float32)
        with pytest.raises(FileNotFoundError):
            AudioBuffer.read_wav_into(tmp_path / "missing.wav", out)
        assert (out == 9.0).all()

    def test_format_properties(self):
        buffer = AudioBuffer(3, 22050, 2)
        assert (buffer.sample_rate, buffer.channels) == (22050, 2)
        with pytest.raises(AttributeError):
            buffer.sample_rate = 8000  # type: ignore[misc]
        with pytest.raises(AttributeError):
            buffer.channels = 1  # type: ignore[misc]
        assert (buffer.sample_rate, buffer.channels) == (22050, 2)

    @pytest.mark.parametrize("frames,channels", [
        pytest.param(2**40, 2, marks=pytest.mark.skipif(SANITIZED, reason="a failed C++ allocation aborts there")),
        (2**62, 2), (2**64 - 1, 65535)])
    def test_huge_buffers_say_what_did_not_fit(self, frames, channels):
        with pytest.raises(MemoryError, match=f"^AudioBuffer of {frames} frames \u00d7 {channels} channels "
                                              "does not fit in memory$"):
            AudioBuffer(frames, 44100, channels)

