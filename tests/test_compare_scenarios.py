"""The cross-platform scenario comparison: what it lets pass and what it fails."""

from __future__ import annotations

import pathlib
import subprocess
import sys

import pytest

TOOL = pathlib.Path(__file__).resolve().parent.parent / "tools" / "compare_scenarios.py"
MANIFEST = "tone \nmix pan\nprobe-pan \n"


def folder(root: pathlib.Path, name: str, files: dict[str, bytes], manifest: str = MANIFEST) -> pathlib.Path:
    path = root / name
    path.mkdir()
    (path / "manifest.txt").write_text(manifest)
    for stem, data in files.items():
        (path / f"{stem}.bin").write_bytes(data)
    return path


def compare(a: pathlib.Path, b: pathlib.Path) -> subprocess.CompletedProcess[str]:
    return subprocess.run([sys.executable, str(TOOL), str(a), str(b)], capture_output=True, text=True, timeout=60)


BASE = {"tone": bytes(range(16)), "mix": bytes(32), "probe-pan": b"\x01\x02\x03\x04"}


def test_identical_builds_pass(tmp_path: pathlib.Path) -> None:
    result = compare(folder(tmp_path, "a", BASE), folder(tmp_path, "b", BASE))
    assert result.returncode == 0
    assert "tone       identical (4 words)" in result.stdout
    assert "FAIL" not in result.stdout


@pytest.mark.parametrize(
    ("changes", "code", "expected"),
    [
        # A scenario differing where its math library probe differs too: reported, not failed.
        ({"mix": b"\x00" * 8 + b"\xff" * 8 + bytes(16), "probe-pan": b"\x01\x02\x03\x05"}, 0,
         "mix        DIFFERS in 2 of 8 words: known cause, the platform's math library (probe-pan differs)"),
        # The same difference without a probe to explain it fails.
        ({"mix": b"\x00" * 8 + b"\xff" * 8 + bytes(16)}, 1,
         "mix        FAIL: differs in 2 of 8 words, and no math library probe explains it"),
        # A scenario without probes fails on any difference, a length difference counted in full.
        ({"tone": bytes(range(16)) + b"\x00\x01\x02\x03\x04", "probe-pan": b"\x00\x00\x00\x00"}, 1,
         "tone       FAIL: differs in 2 of 4 words"),
    ],
)
def test_differences(tmp_path: pathlib.Path, changes: dict[str, bytes], code: int, expected: str) -> None:
    result = compare(folder(tmp_path, "a", BASE), folder(tmp_path, "b", {**BASE, **changes}))
    assert result.returncode == code, result.stdout
    assert expected in result.stdout


def test_unusable_input_fails_without_a_traceback(tmp_path: pathlib.Path) -> None:
    a = folder(tmp_path, "a", BASE)
    other_list = folder(tmp_path, "b", BASE, manifest="tone \n")
    assert "different scenario lists" in compare(a, other_list).stdout
    missing = folder(tmp_path, "c", {k: v for k, v in BASE.items() if k != "mix"})
    for result in (compare(a, other_list), compare(a, missing), compare(a, tmp_path / "nowhere")):
        assert result.returncode == 1
        assert "Traceback" not in result.stderr
    usage = subprocess.run([sys.executable, str(TOOL)], capture_output=True, text=True, timeout=60)
    assert usage.returncode == 2 and usage.stderr.startswith("usage:")
