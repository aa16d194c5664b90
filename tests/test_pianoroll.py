"""The piano roll, read back with the standard library's XML parser: one
rectangle per note at its time and pitch, a legend entry per track, tempo
changes marked, everything inside the drawing for a long piece, and bad
arguments refused before anything is written."""
import math
import random
import pathlib
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

import pytest

import tamlor
import tamlor_song
from tamlor_song.pianoroll import beat_at_seconds, pitch_name

from conftest import check_failing_writes

ROOT = pathlib.Path(__file__).resolve().parent.parent
SVG = "{http://www.w3.org/2000/svg}"
RATE = 8000
TITLE = re.compile(r"^(.*): ([A-G]#?-?\d+) \((\d+)\) at beat (\S+), (\S+) beats, velocity (\d+)$")


def sampler():
    return tamlor.Sampler(tamlor.AudioSample([0.25] * 64, sample_rate=RATE), sample_rate=RATE)


def parse(svg):
    root = ET.fromstring(svg)
    assert root.tag == SVG + "svg"
    return root


def note_rects(root):
    """(track index, rect attributes, (name, pitch, beat, duration, velocity)) for every note."""
    out = []
    for group in root.iter(SVG + "g"):
        if group.get("class") != "track":
            continue
        for rect in group.findall(SVG + "rect"):
            m = TITLE.match(rect.find(SVG + "title").text)
            assert m, rect.find(SVG + "title").text
            assert pitch_name(int(m[3])) == m[2]
            out.append((int(group.get("data-track")), {k: float(v) for k, v in rect.attrib.items()},
                        (m[1], int(m[3]), float(m[4]), float(m[5]), int(m[6]))))
    return out


def frame_box(root):
    frame = next(r for r in root.iter(SVG + "rect") if r.get("class") == "frame")
    x, y = float(frame.get("x")), float(frame.get("y"))
    return x, y, x + float(frame.get("width")), y + float(frame.get("height"))


@pytest.fixture
def sketch():
    """Four bars: two tracks of notes, a drum pattern, a tempo change."""
    song = tamlor_song.Song(bpm=100.0, sample_rate=RATE)
    song.set_tempo(8.0, 140.0)
    keys = song.add_track("Keys", sampler())
    keys.add_notes([(0.0, 1.0, 60, 100), (1.0, 0.5, 64, 30), (2.5, 1.5, 67, 127), (12.0, 4.0, 72, 80)])
    bass = song.add_track("Bass", sampler())
    bass.add_notes([(0.0, 2.0, 36, 90), (8.0, 2.0, 43, 90)])
    pattern = tamlor.Pattern(4)
    pattern.set_step(0, tamlor.Step(42, 70, 2))
    pattern.set_step(3, tamlor.Step(46, 50))
    drums = song.add_track("Drums", sampler())
    drums.add_pattern(pattern, 0.5, start_beat=4.0, end_beat=8.0)
    expected = {
        ("Keys", 60, 0.0, 1.0, 100), ("Keys", 64, 1.0, 0.5, 30), ("Keys", 67, 2.5, 1.5, 127),
        ("Keys", 72, 12.0, 4.0, 80), ("Bass", 36, 0.0, 2.0, 90), ("Bass", 43, 8.0, 2.0, 90),
        ("Drums", 42, 4.0, 1.0, 70), ("Drums", 46, 5.5, 0.5, 50), ("Drums", 42, 6.0, 1.0, 70),
        ("Drums", 46, 7.5, 0.5, 50),
    }
    return song, expected


def test_one_rectangle_per_note_at_its_time_and_pitch(sketch):
    song, expected = sketch
    root = parse(song.piano_roll(width=800))
    rects = note_rects(root)
    assert len(rects) == len(expected)
    assert {r[2] for r in rects} == expected
    # Tracks keep their order and each its own colour.
    names = {r[0]: r[2][0] for r in rects}
    assert names == {0: "Keys", 1: "Bass", 2: "Drums"}
    fills = [g.get("fill") for g in root.iter(SVG + "g") if g.get("class") == "track"]
    assert len(set(fills)) == 3
    # One scale for time and one for pitch: x grows with the beat, width with
    # the length, y falls as the pitch rises by the same step for every note.
    left, top, right, bottom = frame_box(root)
    ppb = (right - left) / 16.0  # four bars of four beats
    rows = {}
    for _, a, (_, pitch, beat, length, velocity) in rects:
        assert a["x"] == pytest.approx(left + beat * ppb, abs=0.01)
        assert a["width"] == pytest.approx(length * ppb, abs=0.01)
        assert a["fill-opacity"] == pytest.approx(0.3 + 0.7 * velocity / 127, abs=0.001)
        rows[pitch] = (a["y"], a["height"])
    (p0, (y0, h)), *others = sorted(rows.items())
    step = (rows[72][0] - y0) / (72 - p0)
    assert step < 0 and h == pytest.approx(-step - 0.5, abs=0.02)
    for pitch, (y, _) in others:
        assert y == pytest.approx(y0 + (pitch - p0) * step, abs=0.02)
    # The lowest and highest notes sit inside the drawing, a row from its edges.
    assert top < rows[72][0] and rows[36][0] + h < bottom


def test_legend_bars_and_tempo_are_labelled(sketch):
    song, _ = sketch
    song.tracks[1].mute = True
    song.tracks[2].solo = True
    root = parse(song.piano_roll())
    assert root.find(SVG + "title").text == "Piano roll: 3 tracks, 10 notes, 4 bars of 4 beats"
    entries = [g for g in root.iter(SVG + "g") if g.get("class") == "legend-entry"]
    assert [e.find(SVG + "text").text for e in entries] == ["Keys", "Bass (muted)", "Drums (solo)"]
    # Each swatch has its track's colour.
    fills = {g.get("data-track"): g.get("fill") for g in root.iter(SVG + "g") if g.get("class") == "track"}
    assert {e.get("data-track"): e.find(SVG + "rect").get("fill") for e in entries} == fills
    texts = {t.get("class"): [] for t in root.iter(SVG + "text")}
    for t in root.iter(SVG + "text"):
        texts[t.get("class")].append(t.text)
    assert texts["bar-number"] == ["1", "2", "3", "4"]
    assert texts["tempo-label"] == ["\u2669 = 100", "\u2669 = 140"]
    assert len([ln for ln in root.iter(SVG + "line") if ln.get("class") == "tempo-change"]) == 1
    # Every C in the range is named, and the names are scientific pitch.
    assert {"C2", "C3", "C4", "C5"} <= set(texts["pitch"])
    assert pitch_name(0) == "C-1" and pitch_name(61) == "C#4" and pitch_name(127) == "G9"


def test_a_long_piece_stays_inside_the_drawing_and_its_labels_apart():
    rng = random.Random(5)
    song = tamlor_song.Song(bpm=96.0, sample_rate=RATE)
    for i in range(1, 60):
        song.set_tempo(i * 30.0, 60.0 + rng.random() * 100.0)
    total = 0
    for t in range(12):
        track = song.add_track(f"Part {t}", sampler())
        notes = [(rng.random() * 1800.0, rng.choice((0.01, 0.25, 1.0, 30.0)), rng.randrange(128), rng.randrange(128))
                 for _ in range(420)]
        total += track.add_notes(notes)
    assert total >= 5000
    for width in (200, 960):
        root = parse(song.piano_roll(width=width))
        rects = note_rects(root)
        assert len(rects) == total
        left, top, right, bottom = frame_box(root)
        for _, a, _ in rects:
            assert left <= a["x"] and a["x"] + a["width"] <= right + 1e-9
            assert top <= a["y"] and a["y"] + a["height"] <= bottom + 1e-9
            assert a["width"] > 0 and a["height"] > 0
        # Every legend entry inside the picture's width and height.
        w, h = float(root.get("width")), float(root.get("height"))
        for text in root.iter(SVG + "text"):
            assert 0 <= float(text.get("x")) < w and 0 <= float(text.get("y")) <= h
        # Bar numbers and tempo labels never crowd each other: each starts
        # well after the one before ends (at 6.2 pixels a character).
        for cls in ("bar-number", "tempo-label"):
            labels = [(float(t.get("x")), t.text) for t in root.iter(SVG + "text") if t.get("class") == cls]
            assert len(labels) >= 2
            for (x0, text), (x1, _) in zip(labels, labels[1:]):
                assert x1 - x0 >= 6.2 * len(text) + 8, (x0, x1, text)


def test_a_song_that_loops_forever_shows_its_first_minutes():
    song = tamlor_song.Song(bpm=120.0, sample_rate=RATE)
    pattern = tamlor.Pattern(2)
    pattern.set_step(0, tamlor.Step(36, 100))
    song.add_track("Loop", sampler()).add_pattern(pattern, 0.5)
    root = parse(song.piano_roll())
    # Two minutes at 120 bpm: 240 beats, one note a beat.
    assert len(note_rects(root)) == 240
    note = next(t for t in root.iter(SVG + "text") if t.get("class") == "note")
    assert note.text == "This song loops forever: the roll shows its first 2 minutes."
    song.loop_preview_seconds = 30
    assert len(note_rects(parse(song.piano_roll()))) == 60
    # An end beat draws that far and says nothing; a note crossing it is cut at the edge.
    song.tracks[0].add_note(3.0, 10.0, 50)
    root = parse(song.piano_roll(end_beat=8.0))
    rects = note_rects(root)
    assert len(rects) == 9 and not [t for t in root.iter(SVG + "text") if t.get("class") == "note"]
    left, _, right, _ = frame_box(root)
    long = next(a for _, a, n in rects if n[1] == 50)
    assert long["x"] + long["width"] == pytest.approx(right, abs=0.01)


def test_a_looping_pattern_gives_the_roll_the_notes_a_bounded_copy_plays():
    # The roll walks a pattern that never stops up to its right edge; within
    # that edge it must find the same steps, lengths and order as a copy of
    # the pattern given an end beat.
    from tamlor_song.pianoroll import track_notes
    pattern = tamlor.Pattern(5)
    pattern.set_step(0, tamlor.Step(36, 100, duration_ticks=2))
    pattern.set_step(3, tamlor.Step(41, 90))
    song = tamlor_song.Song(sample_rate=RATE)
    forever = song.add_track("Forever", sampler())
    forever.add_pattern(pattern, 0.75, start_beat=1.25)
    forever.add_note(2.0, 1.0, 60)
    bounded = song.add_track("Bounded", sampler())
    bounded.add_pattern(pattern, 0.75, start_beat=1.25, end_beat=11.0)
    bounded.add_note(2.0, 1.0, 60)
    want = [n for n in bounded.notes() if n[0] < 11.0]
    assert len(want) == 6
    assert sorted(track_notes(forever, 11.0)) == sorted(want)
    # A pattern with an end of its own stops there even inside the edge.
    forever.add_pattern(pattern, 0.5, end_beat=2.0)
    early = sorted(n for n in track_notes(forever, 11.0) if n[0] < 2.0)
    assert early == [(0.0, 1.0, 36, 100), (1.25, 1.5, 36, 100), (1.5, 0.5, 41, 90)]


def test_beat_at_seconds_inverts_the_tempo_map():
    song = tamlor_song.Song(bpm=90.0, sample_rate=RATE)
    song.set_tempo(4.0, 180.0)
    song.set_tempo(10.0, 45.0)
    for beat in (0.0, 2.0, 4.0, 7.5, 10.0, 13.25):
        assert beat_at_seconds(song.tempo_map, song.seconds_at(beat)) == pytest.approx(beat, abs=1e-9)


def test_names_are_escaped_and_an_empty_song_draws():
    song = tamlor_song.Song(sample_rate=RATE)
    root = parse(song.piano_roll())
    assert [t.text for t in root.iter(SVG + "text") if t.get("class") == "empty"] == ["no notes"]
    track = song.add_track('<b> & "x"\x00\x1b', sampler())
    track.add_note(0.0, 1.0, 0, 0)
    track.add_note(1.0, 0.0, 127, 127)  # no length: still one pixel wide
    root = parse(song.piano_roll())
    entry = next(g for g in root.iter(SVG + "g") if g.get("class") == "legend-entry")
    assert entry.find(SVG + "text").text == '<b> & "x"\ufffd\ufffd'
    rects = note_rects(root)
    assert sorted(n[1] for _, _, n in rects) == [0, 127]
    assert min(a["width"] for _, a, _ in rects) == 1.0


def test_the_roll_is_written_to_a_path(sketch, tmp_path):
    song, _ = sketch
    path = tmp_path / "roll.svg"
    svg = song.piano_roll(path, width=640, height=500)
    assert path.read_text(encoding="utf-8") == svg
    root = parse(svg)
    assert (root.get("width"), root.get("height")) == ("640", "500")
    assert song.piano_roll(str(path)) == path.read_text(encoding="utf-8")


def test_a_failing_roll_write_leaves_the_file_and_its_link_and_nothing_else(tmp_path):
    # A file size limit makes the write fail part way: what was there stays.
    check_failing_writes(tmp_path, ".svg", """
        song = tamlor_song.Song()
        song.add_track("lead", tamlor.SampleMap()).add_notes([(i / 4, 0.25, 40 + i % 40, 100) for i in range(2000)])
        little = tamlor_song.Song()
        little.add_track("lead", tamlor.SampleMap()).add_note(0, 1, 60)
        small = little.piano_roll
        writes = [song.piano_roll]
    """, 20_000)


@pytest.mark.parametrize("kwargs, error", [
    ({"width": "wide"}, TypeError), ({"width": True}, TypeError), ({"width": 960.0}, TypeError),
    ({"width": 10}, ValueError), ({"width": 1 << 70}, ValueError), ({"height": 5}, ValueError),
    ({"height": -1}, ValueError), ({"end_beat": math.nan}, ValueError), ({"end_beat": -1.0}, ValueError),
    ({"end_beat": math.inf}, ValueError), ({"end_beat": 0.0}, ValueError), ({"end_beat": "4"}, TypeError),
    ({"path": 1}, TypeError), ({"path": b"roll.svg"}, TypeError),
])
def test_bad_arguments_are_refused_before_writing(sketch, tmp_path, monkeypatch, kwargs, error):
    song, _ = sketch
    monkeypatch.chdir(tmp_path)
    kwargs = {"path": "roll.svg", **kwargs}
    with pytest.raises(error):
        song.piano_roll(**kwargs)
    # Nothing written (an integer path is not taken for a file descriptor).
    assert list(tmp_path.iterdir()) == []


@pytest.mark.parametrize("value, error", [(math.nan, ValueError), (-5, ValueError), (0, ValueError),
                                          (math.inf, ValueError), (3601, ValueError), ("long", TypeError),
                                          (None, TypeError)])
def test_bad_preview_lengths_are_refused(value, error):
    song = tamlor_song.Song(sample_rate=RATE)
    pattern = tamlor.Pattern(1)
    pattern.set_step(0, tamlor.Step(60, 100))
    song.add_track("Loop", sampler()).add_pattern(pattern, 1.0)
    song.loop_preview_seconds = value
    with pytest.raises(error, match="loop_preview_seconds"):
        song.piano_roll()


def test_the_readme_picture_is_what_the_demo_draws(tmp_path):
    """docs/demo-roll.svg is drawn by `bash scripts/pictures`; run it again when this fails."""
    out = tmp_path / "roll.svg"
    result = subprocess.run([sys.executable, str(ROOT / "examples" / "demo.py"), "--bars", "8", "--seed", "7",
                             "--roll", str(out)], capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    root = parse(out.read_text(encoding="utf-8"))
    legend = [g.find(SVG + "text").text for g in root.iter(SVG + "g") if g.get("class") == "legend-entry"]
    assert legend == ["Kick", "Snare", "Hats", "Bass", "Lead", "Pad 1", "Pad 2", "Pad 3"]
    assert [t.text for t in root.iter(SVG + "text") if t.get("class") == "bar-number"] == [str(b) for b in range(1, 9)]
    assert out.read_text(encoding="utf-8") == (ROOT / "docs" / "demo-roll.svg").read_text(encoding="utf-8")


def test_a_roll_of_billions_of_notes_is_refused_at_once():
    song = tamlor_song.Song(sample_rate=RATE)
    pattern = tamlor.Pattern(4)
    pattern.set_step(0, tamlor.Step(60, 100))
    track = song.add_track("Loop", sampler())
    track.add_pattern(pattern, 0.001)
    with pytest.raises(ValueError, match="give it an end_beat"):
        song.piano_roll(end_beat=1e9)
    song.loop_preview_seconds = 3600  # 3.6 million steps a beat... a quarter of them notes: too many
    with pytest.raises(ValueError, match="more than 1,000,000"):
        song.piano_roll()
    assert len(note_rects(parse(song.piano_roll(end_beat=4.0)))) == 1000
