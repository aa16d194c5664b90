"""The demo renders a song to a WAV file: header, length and determinism."""
import hashlib
import pathlib
import subprocess
import sys
import wave

import pytest

DEMO = pathlib.Path(__file__).resolve().parent.parent / "examples" / "demo.py"


def render(tmp_path, name, *args):
    out = tmp_path / name
    result = subprocess.run([sys.executable, str(DEMO), "--output", str(out), "--quiet", *args],
                            capture_output=True, text=True, check=True)
    return out, result.stdout


@pytest.fixture(scope="module")
def two_bars(tmp_path_factory):
    return render(tmp_path_factory.mktemp("demo"), "a.wav", "--bars", "2", "--seed", "3")


def test_header_and_length(two_bars):
    path, stdout = two_bars
    with wave.open(str(path), "rb") as wav:
        assert (wav.getnchannels(), wav.getsampwidth(), wav.getframerate()) == (2, 2, 44100)
        frames = wav.getnframes()
        data = wav.readframes(frames)
    # Two bars of 4 beats at 112 bpm.
    assert frames == round(2 * 4 * 60.0 / 112.0 * 44100)
    assert len(data) == frames * 4
    assert path.stat().st_size == 44 + len(data)
    assert f"{frames} frames" in stdout
    assert "left" in stdout and "right" in stdout
    assert any(data), "the song is not silent"


def test_same_seed_same_bytes_other_seed_other_bytes(tmp_path, two_bars):
    first, _ = two_bars
    again, _ = render(tmp_path, "b.wav", "--bars", "2", "--seed", "3")
    other, _ = render(tmp_path, "c.wav", "--bars", "2", "--seed", "4")
    digest = lambda p: hashlib.sha256(p.read_bytes()).hexdigest()
    assert digest(first) == digest(again)
    assert digest(first) != digest(other)
