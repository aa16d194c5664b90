"""The README's tour runs as written and prints what its comments promise."""
import contextlib
import io
import pathlib
import re

README = pathlib.Path(__file__).resolve().parent.parent / "README.md"


def test_tour_runs():
    text = README.read_text(encoding="utf-8")
    code = re.search(r"## A short tour\n\n```python\n(.*?)```", text, re.S).group(1)
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        exec(compile(code, "README tour", "exec"), {})
    printed = out.getvalue()
    assert "0.5 480" in printed
    assert "[('note_on', 36, 110, 0), ('note_off', 36, 0, 250000)]" in printed
    assert "440.0 60" in printed
    assert "1024 Mixer(master_gain=0.80, channels=[Lead, Pad])" in printed
    assert "22050 205800 88200" in printed


def test_arrays_section_runs():
    text = README.read_text(encoding="utf-8")
    code = re.search(r"## Audio as arrays\n.*?```python\n(.*?)```", text, re.S).group(1)
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        exec(compile(code, "README arrays", "exec"), {})
    assert "(512, 2) True" in out.getvalue()
