"""The examples gallery: every example runs as a user would run it (its own
process, in an empty folder), writes or plays something audible, and gives
the same bytes every time. Playback goes to the test ALSA configuration, a
default device that writes what it receives to a file."""
import hashlib
import importlib.util
import math
import os
import pathlib
import subprocess
import sys
import wave

import pytest

import tamlor

ROOT = pathlib.Path(__file__).resolve().parent.parent
EXAMPLES = ROOT / "examples"
ALSA = pathlib.Path(__file__).resolve().parent / "alsa"

# Examples that render to a WAV file: (script, channels, shortest and longest length in seconds).
RENDERED = [
    ("drum_machine.py", 2, 4.0, 6.0),
    ("sample_map_melody.py", 1, 4.0, 8.0),
    ("chord_pad.py", 2, 5.0, 7.0),
    ("numpy_round_trip.py", 2, 3.0, 5.0),
    ("text_score.py", 2, 5.0, 8.0),
    ("notes_to_wav.py", 2, 8.0, 12.0),
    ("effects_song.py", 2, 8.0, 14.0),
]


def run(script, folder, *args, alsa="no_devices", check=True):
    """Runs an example in `folder`; the device (if it opens one) writes to folder/device.raw."""
    folder.mkdir(parents=True, exist_ok=True)
    env = dict(os.environ, ALSA_CONFIG_PATH=str(ALSA / f"{alsa}.conf"),
               TAMLOR_PCM_FILE=str(folder / "device.raw"))
    result = subprocess.run([sys.executable, str(EXAMPLES / script), *args], cwd=folder, env=env,
                            capture_output=True, text=True, timeout=120)
    if check:
        assert result.returncode == 0, result.stderr
    return result


def load(script):
    """Imports an example as a module, to look at its parts."""
    name = "example_" + script[:-3]
    if name not in sys.modules:
        spec = importlib.util.spec_from_file_location(name, EXAMPLES / script)
        module = importlib.util.module_from_spec(spec)
        sys.modules[name] = module  # dataclasses look their module up while it loads
        spec.loader.exec_module(module)
    return sys.modules[name]


def digest(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


def rms(samples):
    return math.sqrt(sum(x * x for x in samples) / len(samples))


def test_every_example_is_covered():
    tested = {script for script, *_ in RENDERED} | {"list_devices.py", "live_playback.py", "demo.py"}
    assert {p.name for p in EXAMPLES.glob("*.py")} == tested


@pytest.mark.parametrize("script,channels,shortest,longest", RENDERED)
def test_renders_sound_and_the_same_bytes_each_time(tmp_path, script, channels, shortest, longest):
    first, again = tmp_path / "a" / "out.wav", tmp_path / "b" / "out.wav"
    result = run(script, first.parent, "--output", "out.wav")
    run(script, again.parent, "--output", str(again))
    assert "out.wav" in result.stdout
    assert os.listdir(first.parent) == ["out.wav"]  # nothing else left behind
    assert digest(first) == digest(again)
    audio = tamlor.AudioBuffer.read_wav(str(first))
    assert audio.format.channels == channels
    assert shortest * 44100 <= audio.frames <= longest * 44100
    for channel in range(channels):
        samples = audio.channel_samples(channel)
        assert rms(samples) > 0.01, f"channel {channel} is (nearly) silent"
        assert max(map(abs, samples)) < 1.0, f"channel {channel} clips"


def test_pad_voices_are_panned_apart(tmp_path):
    run("chord_pad.py", tmp_path, "--output", "pad.wav")
    audio = tamlor.AudioBuffer.read_wav(str(tmp_path / "pad.wav"))
    left, right = audio.channel_samples(0), audio.channel_samples(1)
    assert left != right
    assert rms(left) > 1.3 * rms(right)  # more of the voices sit on the left


def test_numpy_round_trip_writes_float_samples(tmp_path):
    result = run("numpy_round_trip.py", tmp_path, "--output", "echo.wav")
    assert "read back bit for bit" in result.stdout
    with open(tmp_path / "echo.wav", "rb") as f:
        header = f.read(44)
    assert header[20:22] == (3).to_bytes(2, "little")  # WAVE_FORMAT_IEEE_FLOAT
    assert header[34:36] == (32).to_bytes(2, "little")


def test_triplet_hats_start_on_their_frames():
    drums = load("drum_machine.py")
    song = drums.build()
    for track in song.tracks:
        track.solo = track.name == "Hat"
    third = song.frame_at(1 / 3)
    assert third == round(44100 * 60 / drums.BPM / 3)
    audio = song.render(8 * third)
    left = audio[0::2]
    for k in range(1, 7):
        at = k * third
        assert not any(left[at - 64:at]), f"sound just before hat {k}"  # the last hit has died away
        assert any(left[at:at + 16]), f"no hat at triplet {k}"


class TestTextScore:
    def test_parses_pitches_chords_rests_and_triplets(self):
        score_module = load("text_score.py")
        score = score_module.parse("meter 2\ntempo 90\ntempo 60 at 2\n"
                                   "v | C4:1/3 Eb4:1/3 F#4:1/3:40 r:1/2 A3+C#4:1/2 | B-1:2 |\n"
                                   "v G9:1\n")
        assert score.tempos == [(0.0, 90.0), (2.0, 60.0)]
        assert score.voices["v"] == [
            (0.0, 1 / 3, 60, 90), (1 / 3, 1 / 3, 63, 90), (2 / 3, 1 / 3, 66, 40),
            (1.5, 0.5, 57, 90), (1.5, 0.5, 61, 90), (2.0, 2.0, 11, 90), (4.0, 1.0, 127, 90)]

    @pytest.mark.parametrize("text,message", [
        ("tempo 100\nv | C4:1 D4:1 E4:1 |\n", "line 2: bar 1 of v lasts 3 beats, not 4"),
        ("tempo 100\n\n# x\nv | H4:4 |\n", "line 4: not a pitch: 'H4'"),
        ("tempo 100\nv | C4:0 |\n", "line 2: a length must be more than 0 beats: '0'"),
        ("tempo 100\nv | C4:1/0 C4:3 |\n", "line 2: not a length in beats: '1/0'"),
        ("tempo 100\nv | G#9:4 |\n", "line 2: pitch 'G#9' is outside MIDI notes 0-127"),
        ("tempo 100\nv | C4:4:0 |\n", "line 2: velocity must be 1 to 127 in 'C4:4:0'"),
        ("tempo 100\nv | C4-4 |\n", "line 2: a note is PITCH:BEATS[:VELOCITY], not 'C4-4'"),
        ("tempo fast\n", "line 1: not a tempo: 'tempo fast'"),
        ("v | C4:4 |\n", "the score needs a tempo from beat 0"),
        ("tempo 100\nflute | C4:4 |\n", "no instrument called 'flute' (there are lead, keys, bass)"),
        ("tempo 100\ntempo 0 at 4\nv | C4:4 |\n", "bpm must be from 1 to 10000 beats per minute (got 0.0)"),
    ])
    def test_mistakes_are_reported_with_their_line(self, tmp_path, text, message):
        (tmp_path / "bad.txt").write_text(text)
        result = run("text_score.py", tmp_path, "--score", "bad.txt", "--output", "out.wav", check=False)
        assert result.returncode == 2
        assert result.stderr.startswith("bad.txt: ") and message in result.stderr
        assert not (tmp_path / "out.wav").exists()

    def test_a_missing_score_file_is_reported(self, tmp_path):
        result = run("text_score.py", tmp_path, "--score", "missing.txt", check=False)
        assert result.returncode == 2 and "missing.txt" in result.stderr and "Traceback" not in result.stderr

    def test_a_score_file_plays_like_the_built_in_score(self, tmp_path):
        (tmp_path / "score.txt").write_text(load("text_score.py").SCORE)
        run("text_score.py", tmp_path, "--score", "score.txt", "--output", "from_file.wav")
        run("text_score.py", tmp_path, "--output", "built_in.wav")
        assert digest(tmp_path / "from_file.wav") == digest(tmp_path / "built_in.wav")


class TestDevices:
    def test_lists_the_default_output_and_says_when_lists_are_empty(self, tmp_path):
        result = run("list_devices.py", tmp_path, "--output", "devices.txt", alsa="null_output")
        assert "Default audio output: Null Output (test configuration)" in result.stdout
        assert "MIDI inputs" in result.stdout and "Audio outputs" in result.stdout
        assert (tmp_path / "devices.txt").read_text() == result.stdout

    def test_without_devices(self, tmp_path):
        result = run("list_devices.py", tmp_path, "--beep", check=False)
        assert result.returncode == 1
        assert result.stdout.splitlines() == [
            "Audio outputs: none found",
            "Default audio output: none (No default audio output device found: Unknown PCM default)",
            "MIDI inputs: none found"]
        assert result.stderr.strip() == "cannot beep: there is no default audio output"

    def test_beep_reaches_the_device(self, tmp_path):
        sent = []
        for name in ("a", "b"):
            result = run("list_devices.py", tmp_path / name, "--beep", alsa="file_output")
            assert "played a 440 Hz tone on File Output (test configuration)" in result.stdout
            sent.append((tmp_path / name / "device.raw").read_bytes())
        assert sent[0] == sent[1]
        assert len(sent[0]) == 4 * 22050 and any(sent[0])


class TestLivePlayback:
    def test_the_device_gets_what_the_file_records(self, tmp_path):
        sent = []
        for name in ("a", "b"):
            result = run("live_playback.py", tmp_path / name, "--output", "played.wav", alsa="file_output")
            assert "playing on File Output (test configuration)" in result.stdout
            assert "with 0 underruns" in result.stdout
            with wave.open(str(tmp_path / name / "played.wav"), "rb") as wav:
                frames = wav.readframes(wav.getnframes())
            assert (tmp_path / name / "device.raw").read_bytes() == frames
            sent.append(frames)
        assert sent[0] == sent[1]
        audio = tamlor.AudioBuffer.read_wav(str(tmp_path / "a" / "played.wav"))
        assert rms(audio.channel_samples(0)) > 0.01 and rms(audio.channel_samples(1)) > 0.01

    def test_without_a_device_it_says_so_and_still_writes_the_file(self, tmp_path):
        result = run("live_playback.py", tmp_path / "none", "--output", "played.wav", check=False)
        assert result.returncode == 1
        assert result.stderr.strip() == ("cannot play: No default audio output device found: Unknown PCM default; "
                                         "writing played.wav without playing it")
        run("live_playback.py", tmp_path / "file", "--output", "played.wav", alsa="file_output")
        assert digest(tmp_path / "none" / "played.wav") == digest(tmp_path / "file" / "played.wav")


def test_notes_example_plays_what_it_writes(tmp_path):
    run("notes_to_wav.py", tmp_path, "--output", "notes.wav")
    result = run("notes_to_wav.py", tmp_path, "--play", alsa="file_output")
    assert result.stdout.startswith("played ")
    with wave.open(str(tmp_path / "notes.wav"), "rb") as wav:
        assert (tmp_path / "device.raw").read_bytes() == wav.readframes(wav.getnframes())
    result = run("notes_to_wav.py", tmp_path / "none", "--play", check=False)
    assert (result.returncode, result.stderr.strip()) == (1, "cannot play: No default audio output device found: Unknown PCM default")
