"""Examples given bad arguments, outputs they cannot write or a device that
fails: each ends with one line on stderr and exit status 2 (usage) or 1
(failure), never a traceback."""
import os
import subprocess
import sys

import pytest

from test_examples import ALSA, EXAMPLES, RENDERED

WRITERS = [script for script, *_ in RENDERED] + ["demo.py", "live_playback.py"]
EVERY = sorted(p.name for p in EXAMPLES.glob("*.py"))


def failing(script, folder, *args, alsa="no_devices", pcm_file=None):
    """Runs an example that must fail; returns (status, the one stderr line)."""
    folder.mkdir(parents=True, exist_ok=True)
    env = dict(os.environ, ALSA_CONFIG_PATH=str(ALSA / f"{alsa}.conf"),
               TAMLOR_PCM_FILE=pcm_file or str(folder / "device.raw"))
    result = subprocess.run([sys.executable, str(EXAMPLES / script), *args], cwd=folder, env=env,
                            capture_output=True, text=True, timeout=120)
    lines = result.stderr.splitlines()
    assert len(lines) == 1 and "Traceback" not in result.stderr, result.stderr
    return result.returncode, lines[0]


@pytest.mark.parametrize("script", EVERY)
def test_an_unknown_option_is_a_one_line_usage_error(tmp_path, script):
    status, line = failing(script, tmp_path, "--no-such-option")
    assert status == 2 and "--no-such-option" in line and "--help" in line


@pytest.mark.parametrize("script,args,words", [
    ("demo.py", ["--seed", "-1"], "--seed: -1"),
    ("demo.py", ["--seed", str(2**32)], "--seed"),
    ("demo.py", ["--bars", "0"], "--bars: 0"),
    ("demo.py", ["--bars", "many"], "--bars"),
    ("drum_machine.py", ["--bars", "-3"], "--bars: -3"),
])
def test_numbers_out_of_range_are_usage_errors(tmp_path, script, args, words):
    status, line = failing(script, tmp_path, *args)
    assert status == 2 and words in line
    assert os.listdir(tmp_path) == []


@pytest.mark.parametrize("script", WRITERS)
def test_an_output_in_a_missing_folder_is_a_one_line_failure(tmp_path, script):
    status, line = failing(script, tmp_path, "--output", "missing/out.wav", alsa="null_output")
    assert status == 1 and line.startswith("cannot write missing/out.wav")
    assert os.listdir(tmp_path) == []


def test_a_listing_that_cannot_be_written_is_a_one_line_failure(tmp_path):
    status, line = failing("list_devices.py", tmp_path, "--output", str(tmp_path))
    assert status == 1 and line.startswith(f"cannot write {tmp_path}")


@pytest.mark.parametrize("script,args", [
    ("list_devices.py", ["--beep"]),
    ("demo.py", ["--play", "--bars", "1", "--quiet"]),
    ("notes_to_wav.py", ["--play"]),
    ("live_playback.py", []),
])
def test_a_device_that_fails_is_a_one_line_failure(tmp_path, script, args):
    # The device opens, but the file it writes to cannot be created.
    status, line = failing(script, tmp_path, *args, alsa="file_output",
                           pcm_file=str(tmp_path / "missing" / "device.raw"))
    assert status == 1 and line.startswith(("cannot beep:", "cannot play:"))
