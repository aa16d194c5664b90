"""The README's code runs as written, section after section in one namespace
(as a reader pasting it would run it), and prints what its comments promise."""
import contextlib
import io
import pathlib
import re

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
README = ROOT / "README.md"
NULL_OUTPUT = ROOT / "tests" / "alsa" / "null_output.conf"

# Each section with code, and what its code must print.
SECTIONS = {
    "A short tour": ["0.5 480", "[('note_on', 36, 110, 0), ('note_off', 36, 0, 250000)]", "440.0 60",
                     "1024 Mixer(master_gain=0.80, channels=[Lead, Pad])",
                     "AudioBuffer(frames=512, sample_rate=44100, channels=2)"],
    "Audio as arrays (NumPy)": ["(512, 2) True"],
    "Songs: `tamlor_song`": ["22050 205800 88200"],
    "Songs in a notebook": ["1 1 0", "True"],
    "Taking a block back": ["True"],
    "Instruments: SoundFont and SFZ": ["2 1 True"],
    "Effects: `tamlor_fx`": ["60 2432", "True"],
    "Hearing it and keeping it": [],
    "WAV files into arrays": ["(512, 2) 44100 44100 2 True"],
    "Scores: MIDI files in and out": ["Piano 0 0 (0.5, 0.5, 67, 70)", "True", "b'\\x90<d' True",
                                      "['score-pool.wav']"],
}


def code_of(text, title):
    match = re.search(r"^## " + re.escape(title) + r"\n.*?```python\n(.*?)```", text, re.S | re.M)
    assert match, f"no code in section {title!r}"
    return match.group(1)


def test_every_python_block_is_run():
    text = README.read_text(encoding="utf-8")
    assert text.count("```python") == len(SECTIONS)


def test_sections_run_in_order_and_print_their_promises(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)  # the code writes WAV files where it runs
    monkeypatch.setenv("ALSA_CONFIG_PATH", str(NULL_OUTPUT))  # and plays on a null device
    text = README.read_text(encoding="utf-8")
    namespace = {}
    for title, promises in SECTIONS.items():
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            exec(compile(code_of(text, title), f"README: {title}", "exec"), namespace)
        for promise in promises:
            assert promise in out.getvalue(), (title, promise)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["pluck.sfz", "pluck.wav", "score-pool.wav", "score.mid",
                                                          "score.wav", "sketch.svg", "song.wav", "song32.wav",
                                                          "tour.wav"]


@pytest.mark.parametrize("path", re.findall(r"`(examples/\w+\.py)`", README.read_text(encoding="utf-8")))
def test_named_examples_exist(path):
    assert (ROOT / path).is_file()
