"""Songs in a notebook: the HTML a song shows, read back with the standard
library (the player's WAV is exactly what write_wav writes, the roll beneath
it has every note), showing never moves the song, long and looping songs say
why they have no player, and the example notebook runs and keeps its output."""
import base64
import copy
import html.parser
import io
import json
import math
import pathlib
import subprocess
import sys
import wave
import xml.etree.ElementTree as ET

import numpy
import pytest

import tamlor
import tamlor_song

ROOT = pathlib.Path(__file__).resolve().parent.parent
NOTEBOOK = ROOT / "examples" / "song_in_a_notebook.ipynb"
SVG = "{http://www.w3.org/2000/svg}"
RATE = 8000


class Page(html.parser.HTMLParser):
    """The parts of a song's HTML: audio elements, message paragraphs, the SVG
    text, and whether every element that was opened was closed."""

    VOID = {"br", "img", "meta", "input", "source"}

    def __init__(self, text):
        super().__init__()
        self.audio, self.messages, self.open = [], [], []
        self._in_message = False
        self.feed(text)
        self.close()
        start, stop = text.find("<svg"), text.find("</svg>")
        self.svg = ET.fromstring(text[start:stop + len("</svg>")]) if start >= 0 else None

    def handle_starttag(self, tag, attrs):
        if tag == "audio":
            self.audio.append(dict(attrs))
        if tag == "p" and ("class", "tamlor-song-message") in attrs:
            self._in_message = True
            self.messages.append("")
        if tag not in self.VOID:
            self.open.append(tag)

    def handle_startendtag(self, tag, attrs):
        pass  # self-closing SVG shapes

    def handle_endtag(self, tag):
        assert self.open and self.open[-1] == tag, (self.open, tag)
        self.open.pop()
        if tag == "p":
            self._in_message = False

    def handle_data(self, data):
        if self._in_message:
            self.messages[-1] += data

    def wav(self):
        (audio,) = self.audio
        assert "controls" in audio
        prefix = "data:audio/wav;base64,"
        assert audio["src"].startswith(prefix)
        return base64.b64decode(audio["src"][len(prefix):], validate=True)


def show(song):
    page = Page(song._repr_html_())
    assert page.open == []
    return page


def sampler(level=0.5):
    sound = tamlor.AudioSample([level] * 4000, sample_rate=RATE)
    sound.loop_start, sound.loop_end = 0, 4000
    return tamlor.Sampler(sound, sample_rate=RATE)


def note_titles(svg):
    return [r.find(SVG + "title").text for g in svg.iter(SVG + "g") if g.get("class") == "track"
            for r in g.findall(SVG + "rect")]


@pytest.fixture
def song():
    song = tamlor_song.Song(bpm=150.0, sample_rate=RATE)
    song.set_tempo(2.0, 75.0)
    lead = song.add_track("Lead", sampler(0.6), pan=-0.5,
                          envelope=tamlor.Envelope(attack=0.01, decay=0.05, sustain=0.5, release=0.2))
    lead.add_notes([(0.0, 1.0, 60, 100), (1.0, 0.5, 67, 40), (2.5, 1.5, 64, 127)])
    bass = song.add_track("Bass", sampler(0.4), pan=0.5)
    bass.add_notes([(0.0, 2.0, 36, 90), (2.0, 2.0, 43, 90)])
    return song


def test_the_player_holds_exactly_what_write_wav_writes(song, tmp_path):
    page = show(song)
    data = page.wav()
    song.write_wav(tmp_path / "song.wav", "pcm16")
    assert data == (tmp_path / "song.wav").read_bytes()
    with wave.open(io.BytesIO(data)) as w:
        assert (w.getnchannels(), w.getsampwidth(), w.getframerate()) == (2, 2, RATE)
        assert w.getnframes() == song.length_frames() > song.frame_at(4.0)
        assert any(w.readframes(w.getnframes()))
    # The roll beneath it: every note, a legend entry per track.
    assert len(note_titles(page.svg)) == 5
    legend = [g.find(SVG + "text").text for g in page.svg.iter(SVG + "g") if g.get("class") == "legend-entry"]
    assert legend == ["Lead", "Bass"]
    assert page.messages == []


def test_showing_a_song_does_not_move_it(song):
    song.render(3000)  # notes sounding, part way through
    twin = copy.deepcopy(song)
    show(song)
    song.piano_roll()
    assert song.frame == twin.frame == 3000
    assert song.render(9000) == twin.render(9000)


def test_a_long_song_shows_its_roll_and_why_there_is_no_player(song, monkeypatch):
    seconds = song.length_frames() / RATE
    assert tamlor_song.Song.player_limit_seconds == 600.0
    song.player_limit_seconds = seconds - 0.1
    page = show(song)
    assert page.audio == []
    (message,) = page.messages
    assert "longer than the player's limit of" in message and "player_limit_seconds" in message
    assert len(note_titles(page.svg)) == 5
    song.player_limit_seconds = seconds
    assert len(show(song).audio) == 1
    # Set on the class, it holds for every song.
    monkeypatch.setattr(tamlor_song.Song, "player_limit_seconds", 1.0)
    assert show(tamlor_song.Song(sample_rate=RATE)).audio == []
    del song.player_limit_seconds
    assert show(song).audio == []
    song.player_limit_seconds = math.inf  # no limit
    assert len(show(song).audio) == 1
    song.player_limit_seconds = numpy.int64(1)  # any real number
    assert show(song).audio == []


def test_a_looping_song_shows_its_first_minutes(song):
    pattern = tamlor.Pattern(4)
    pattern.set_step(0, tamlor.Step(42, 80))
    song.add_track("Hats", sampler()).add_pattern(pattern, 0.25)
    song.loop_preview_seconds = 60
    page = show(song)
    assert page.audio == []
    assert page.messages == ["This song loops forever, so it has no player: the roll below shows its first "
                             "1 minute."]
    # A minute: beats 0-2 at 150 bpm take 0.8 s, the rest at 75 bpm.
    hats = [t for t in note_titles(page.svg) if t.startswith("Hats")]
    beats = 2.0 + (60.0 - 0.8) * 75.0 / 60.0
    assert len(hats) == math.ceil(beats / 4) * 4  # one a beat, to the end of the last bar drawn
    notes = [t for t in page.svg.iter(SVG + "text") if t.get("class") == "note"]
    assert notes[0].text == "This song loops forever: the roll shows its first 1 minute."


def test_a_song_of_billions_of_steps_says_so_at_once():
    song = tamlor_song.Song(sample_rate=RATE)
    pattern = tamlor.Pattern(2)
    pattern.set_step(0, tamlor.Step(60, 100))
    song.add_track("Roll", sampler()).add_pattern(pattern, 0.001, end_beat=1e9)
    page = show(song)
    assert page.audio == [] and page.messages == [
        "This song has about 5e+11 notes, too many to play or draw here (more than 1,000,000)."]


def test_an_empty_song_says_so():
    page = show(tamlor_song.Song(sample_rate=RATE))
    assert page.audio == [] and page.messages == ["This song has no notes yet, so there is nothing to play."]


@pytest.mark.parametrize("value, error", [(math.nan, ValueError), (-1.0, ValueError), ("10", TypeError),
                                          (True, TypeError), (None, TypeError)])
def test_a_bad_player_limit_is_refused(song, value, error):
    song.player_limit_seconds = value
    with pytest.raises(error, match="player_limit_seconds"):
        song._repr_html_()


def test_showing_a_song_imports_no_notebook_library():
    code = ("import sys, tamlor, tamlor_song\n"
            "s = tamlor_song.Song(sample_rate=8000)\n"
            "s.add_track('t', tamlor.Sampler(tamlor.AudioSample([0.5] * 100, sample_rate=8000), sample_rate=8000)"
            ").add_note(0.0, 1.0, 60)\n"
            "assert '<audio' in s._repr_html_()\n"
            "print(sorted(m for m in ('IPython', 'matplotlib', 'ipykernel', 'numpy') if m in sys.modules))\n")
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "[]"


def html_outputs(notebook):
    return ["".join(out["data"]["text/html"]) for cell in notebook["cells"] if cell["cell_type"] == "code"
            for out in cell.get("outputs", []) if "text/html" in out.get("data", {})]


def check_shown_song(outputs):
    (shown,) = outputs
    page = Page(shown)
    with wave.open(io.BytesIO(page.wav())) as w:
        assert (w.getnchannels(), w.getsampwidth()) == (2, 2) and w.getnframes() > 0
    assert len(note_titles(page.svg)) > 10


def test_the_committed_notebook_holds_the_player_and_the_roll():
    check_shown_song(html_outputs(json.loads(NOTEBOOK.read_text(encoding="utf-8"))))


def test_the_notebook_runs(tmp_path):
    # Test-only tools that scripts/setup.sh installs; other interpreters' runs may lack them.
    nbclient = pytest.importorskip("nbclient")
    nbformat = pytest.importorskip("nbformat")
    pytest.importorskip("ipykernel")
    notebook = nbformat.read(NOTEBOOK, as_version=4)
    for cell in notebook.cells:
        if cell.cell_type == "code":
            cell.outputs = []
    nbclient.NotebookClient(notebook, timeout=120, kernel_name="python3",
                            resources={"metadata": {"path": str(tmp_path)}}).execute()
    check_shown_song(html_outputs(notebook))
    outputs = [out.get("data", {}) for cell in notebook.cells if cell.cell_type == "code" for out in cell.outputs]
    assert outputs[1]["text/plain"] == "0"  # showing the song did not move it
    # The first bar's roll, shown as an SVG image: the notes that start in it.
    roll = ET.fromstring(outputs[2]["image/svg+xml"])
    assert len([r for g in roll.iter(SVG + "g") if g.get("class") == "track" for r in g]) == 6 + 3 + 8
