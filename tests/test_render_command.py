"""The render command end to end, run as a user runs it (a subprocess): one
file, several files in parallel, a bad file among good ones, usage errors;
and render_file, the function a process pool maps over a corpus."""
import concurrent.futures
import io
import os
import shutil
import struct
import subprocess
import sys

import pytest

import tamlor
import tamlor_song


def tiny_midi(note=60, beats=1):
    """A format 0 file: one note of `beats` beats at 120 bpm, 4 ticks per beat."""
    ticks = 4 * beats
    body = (b"\x00\xff\x03\x04Solo" + b"\x00\x90" + bytes([note, 100]) + bytes([ticks]) + b"\x80" +
            bytes([note, 0]) + b"\x00\xff\x2f\x00")
    return (b"MThd\x00\x00\x00\x06\x00\x00\x00\x01\x00\x04" + b"MTrk" + len(body).to_bytes(4, "big") + body)


def run(*args, cwd=None):
    return subprocess.run([sys.executable, "-m", "tamlor_song", *args], capture_output=True, text=True, cwd=cwd,
                          timeout=300)


def wav_frames(path):
    data = path.read_bytes()
    at = data.index(b"data")
    size = struct.unpack_from("<I", data, at + 4)[0]
    bits = struct.unpack_from("<H", data, data.index(b"fmt ") + 22)[0]
    return size // (2 * bits // 8), bits


def test_one_file_to_a_file_with_options(tmp_path):
    src = tmp_path / "a.mid"
    src.write_bytes(tiny_midi())
    out = tmp_path / "a.wav"
    done = run("render", str(src), "-o", str(out), "--sample-rate", "8000", "--encoding", "pcm24")
    assert done.returncode == 0, done.stderr
    assert done.stderr == "" and done.stdout == ""  # not a terminal: nothing but errors
    song = tamlor_song.Song.from_midi(src, sample_rate=8000)
    assert wav_frames(out) == (song.length_frames(), 24)
    # The same bits as the song layer writes.
    again = tmp_path / "again.wav"
    song.write_wav(str(again), encoding="pcm24")
    assert again.read_bytes() == out.read_bytes()


def test_several_files_in_parallel_and_a_bad_one_among_them(tmp_path):
    names = []
    for i in range(4):
        p = tmp_path / f"in{i}.mid"
        p.write_bytes(tiny_midi(60 + i, 1 + i))
        names.append(str(p))
    bad = tmp_path / "broken.mid"
    bad.write_bytes(b"MThd\x00\x00\x00\x06\x00\x00\x00\x01\x00\x04MTrk\x00\x00\x00\x10\x00\x90")
    outdir = tmp_path / "out"
    done = run("render", *names, "-o", str(outdir), "--jobs", "2", "--sample-rate", "4000")
    assert done.returncode == 0, done.stderr
    assert sorted(os.listdir(outdir)) == [f"in{i}.wav" for i in range(4)]
    shutil.rmtree(outdir)
    done = run("render", names[0], str(bad), names[1], "-o", str(outdir), "--jobs", "2", "--sample-rate", "4000")
    assert done.returncode == 1
    assert sorted(os.listdir(outdir)) == ["in0.wav", "in1.wav"]
    assert done.stderr.strip() == (f"python -m tamlor_song render: {bad}: chunk length past the end of the "
                                   "file at byte 18")
    assert "Traceback" not in done.stderr
    one = run("render", names[0], "-o", str(tmp_path / "new") + os.sep, "--sample-rate", "4000")
    assert one.returncode == 0 and os.listdir(tmp_path / "new") == ["in0.wav"]
    missing = run("render", str(tmp_path / "nope.mid"), "-o", str(tmp_path / "x.wav"))
    assert missing.returncode == 1 and "No such file or directory" in missing.stderr


@pytest.mark.parametrize("args, text", [
    ([], "usage"),
    (["render"], "IN.mid"),
    (["render", "a.mid"], "-o OUT.wav|DIR"),
    (["render", "a.mid", "-o", "x.wav", "--encoding", "pcm8"], "invalid choice"),
    (["render", "a.mid", "-o", "x.wav", "--jobs", "0"], "--jobs"),
    (["render", "a.mid", "-o", "x.wav", "--sample-rate", "0"], "--sample-rate"),
    (["render", "a.mid", "-o", "x.wav", "--sample-rate", "fast"], "invalid int"),
    (["render", "a.mid", "b.mid", "-o", "taken.wav"], "is a file"),
    (["render", "d1/a.mid", "d2/a.mid", "-o", "out"], "would both be written"),
    (["play", "a.mid"], "unknown command"),
])
def test_usage_errors_exit_2_with_one_message(tmp_path, args, text):
    (tmp_path / "taken.wav").write_bytes(b"")
    done = run(*args, cwd=tmp_path)
    assert done.returncode == 2
    assert text in done.stderr + done.stdout and "Traceback" not in done.stderr


def test_tamlor_render_script_and_render_file_in_a_process_pool(tmp_path):
    script = shutil.which("tamlor-render", path=os.path.dirname(sys.executable))
    src = tmp_path / "s.mid"
    src.write_bytes(tiny_midi(67))
    if script is not None:  # installed with the package
        done = subprocess.run([script, str(src), "-o", str(tmp_path)], capture_output=True, text=True, timeout=300)
        assert done.returncode == 0, done.stderr
        assert (tmp_path / "s.wav").exists()
    sources = []
    for i in range(3):
        p = tmp_path / f"p{i}.mid"
        p.write_bytes(tiny_midi(50 + i))
        sources.append(str(p))
    with concurrent.futures.ProcessPoolExecutor(2) as pool:
        written = list(pool.map(tamlor_song.render_file, sources, [str(tmp_path)] * 3))
    assert written == [os.path.join(str(tmp_path), f"p{i}.wav") for i in range(3)]
    back = tamlor.AudioBuffer.read_wav(written[0])
    assert back.to_list() != [0.0] * len(back)
    with pytest.raises(ValueError, match="encoding"):
        tamlor_song.render_file(sources[0], str(tmp_path / "z.wav"), encoding="mp3")
    assert not (tmp_path / "z.wav").exists()


def test_progress_shows_on_a_terminal_only():
    from tamlor_song.cli import _Progress

    class Terminal(io.StringIO):
        def isatty(self):
            return True

    term = Terminal()
    p = _Progress(2, term)
    p.step()
    p.note("tamlor-render: x.mid: bad")
    p.step()
    p.close()
    text = term.getvalue()
    assert "\r0/2 files rendered" in text and "1/2 files rendered, about 0:00 left" in text
    assert "tamlor-render: x.mid: bad\n" in text and text.endswith("2/2 files rendered, about 0:00 left\x1b[K\n")
    plain = io.StringIO()
    p = _Progress(2, plain)
    p.step()
    p.note("an error")
    p.close()
    assert plain.getvalue() == "an error\n"
