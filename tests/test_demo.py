"""The demo renders a song to a WAV file (header, length, determinism) or
plays it on the default device."""
import hashlib
import os
import pathlib
import subprocess
import sys
import wave

import pytest

DEMO = pathlib.Path(__file__).resolve().parent.parent / "examples" / "demo.py"
ALSA = pathlib.Path(__file__).resolve().parent / "alsa"


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


def test_play_sends_the_files_samples_to_the_device(tmp_path, two_bars):
    path, _ = two_bars
    env = dict(os.environ, ALSA_CONFIG_PATH=str(ALSA / "file_output.conf"), TAMLOR_PCM_FILE=str(tmp_path / "pcm"))
    result = subprocess.run([sys.executable, str(DEMO), "--play", "--quiet", "--bars", "2", "--seed", "3"],
                            capture_output=True, text=True, env=env)
    assert result.returncode == 0, result.stderr
    assert "playing on File Output (test configuration)" in result.stdout
    with wave.open(str(path), "rb") as wav:
        assert (tmp_path / "pcm").read_bytes() == wav.readframes(wav.getnframes())


def test_play_without_a_device_says_so(tmp_path):
    env = dict(os.environ, ALSA_CONFIG_PATH=str(ALSA / "no_devices.conf"))
    result = subprocess.run([sys.executable, str(DEMO), "--play", "--quiet", "--bars", "1"],
                            capture_output=True, text=True, env=env)
    assert result.returncode == 1
    assert result.stderr.strip() == ("cannot play: No default audio output device found: Unknown PCM default "
                                     "(this machine has no audio output to play on)")


ROOT = DEMO.parent.parent
STAMP = ROOT / ".venv" / "tamlor-sources.sha1"


@pytest.mark.skipif(not STAMP.exists() or pathlib.Path(sys.prefix).resolve() != (ROOT / ".venv").resolve(),
                    reason="runs in the scripts' own environment only")
def test_demo_script_starts_without_rebuilding_an_up_to_date_install(tmp_path):
    import os
    import time

    env = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "PYTHONPATH")}
    digest = subprocess.run(["bash", "-c", 'source scripts/setup.sh >/dev/null && sources_digest'], cwd=ROOT,
                            capture_output=True, text=True, check=True, env=env).stdout.strip()
    if digest != STAMP.read_text().strip():
        pytest.skip("the sources changed since the last install")
    out = tmp_path / "quick.wav"
    began = time.monotonic()
    result = subprocess.run(["bash", str(ROOT / "scripts" / "demo"), "--bars", "1", "--quiet", "--output", str(out)],
                            capture_output=True, text=True, check=True, env=env)
    elapsed = time.monotonic() - began
    assert "Building" not in result.stdout
    assert f"wrote {out.resolve()}:" in result.stdout  # the full path of the file
    assert out.stat().st_size > 44
    assert elapsed < 10, f"the demo script took {elapsed:.1f} s"
