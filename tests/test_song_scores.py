"""Songs as scores: notes that keep their own length, voice handles, tempo
maps given whole, the song's length with release tails, whole-song WAV
files, and songs saved (pickle) or forked (deepcopy) mid-play that render
the same bits as the original from there on."""
import array
import copy
import pickle
import struct

import pytest

import tamlor
import tamlor_song

RATE = 100
FLAT = tamlor.Envelope(0.0, 0.0, 1.0, 0.0)


def held(level=0.25):
    """A sample that holds `level` for as long as a note lasts (it loops)."""
    s = tamlor.AudioSample([level] * 64, sample_rate=RATE, root_note=60)
    s.loop_start, s.loop_end = 0, 64
    return s


def flat_song(release=0.0, bpm=60.0):
    """At 60 bpm and 100 Hz a beat is 100 frames; the track is heard as it is
    on the left."""
    song = tamlor_song.Song(bpm=bpm, sample_rate=RATE)
    song.master_gain = 1.0
    sampler = tamlor.Sampler(held(), sample_rate=RATE)
    sampler.set_envelope(tamlor.Envelope(0.0, 0.0, 1.0, release))
    return song, song.add_track("t", sampler, gain=1.0, pan=-1.0)


def left(out):
    return list(out[0::2])


def test_a_re_struck_note_keeps_its_own_length_on_every_kind_of_track():
    # One long note and a short one of the same pitch inside it: the short
    # note's end must not cut the long one.
    song, track = flat_song()
    track.add_note(0, 4, 60, 127)
    track.add_note(1, 1, 60, 127)
    out = left(song.render(500))
    assert out[:100] == [0.25] * 100
    assert out[100:200] == [0.5] * 100
    assert out[200:400] == [0.25] * 200
    assert out[400:] == [0.0] * 100

    # The same on a SampleMap track, and the other way round (the inner note
    # added first).
    zones = tamlor.SampleMap.single_sample(held())
    song = tamlor_song.Song(bpm=60, sample_rate=RATE)
    song.master_gain = 1.0
    t = song.add_track("m", zones, gain=1.0, pan=-1.0, envelope=FLAT)
    t.add_notes([(1, 1, 60, 127), (0, 4, 60, 127)])
    assert left(song.render(500)) == out

    # Pattern steps of one pitch that overlap: each ends after its own length.
    p = tamlor.Pattern(4)
    p.set_step(0, tamlor.Step(60, 127, 3))
    p.set_step(1, tamlor.Step(60, 127, 1))
    song = tamlor_song.Song(bpm=60, sample_rate=RATE)
    song.master_gain = 1.0
    t = song.add_track("p", tamlor.SampleMap.single_sample(held()), gain=1.0, pan=-1.0,
                       envelope=FLAT)
    t.add_pattern(p, 1.0)
    out = left(song.render(400))
    g = 0.25
    assert out[:100] == [g] * 100 and out[100:200] == [2 * g] * 100 and out[200:300] == [g] * 100
    assert out[300:] == [0.0] * 100


def test_voice_handles_release_one_voice_and_note_off_still_releases_the_pitch():
    s = tamlor.Sampler(held(), sample_rate=RATE)
    s.set_envelope(FLAT)
    a = s.note_on_sample(60, 127)
    b = s.note_on_sample(60, 127, held(0.5))
    assert b > a > 0
    assert s.release_voice(a) is True
    assert s.active_voice_count() == 2  # a release of 0 s ends at the next frame
    s.render(1)
    assert s.active_voice_count() == 1
    assert s.release_voice(a) is False and s.release_voice(0) is False and s.release_voice(2**64 - 1) is False
    c = s.note_on_sample(60, 127)
    s.note_off(60)  # the pitch's note-off still reaches every voice of it
    s.render(1)
    assert s.active_voice_count() == 0 and c > b
    for bad, exc in ((-1, OverflowError), (2**64, OverflowError), ("1", TypeError), (1.0, TypeError)):
        with pytest.raises(exc):
            s.release_voice(bad)
    assert s.sample.data() == held().data() and s.envelope == FLAT


def test_set_tempo_map_replaces_the_map_and_checks_everything_first():
    song, track = flat_song()
    track.add_note(3, 1, 60, 127)
    song.set_tempo_map([(0, 120), (2, 60), (2, 30)])  # the later pair at beat 2 wins
    assert song.tempo_map == [(0.0, 120.0), (2.0, 30.0)]
    assert song.frame_at(3) == 300  # 1 s, then one beat at 30 bpm
    out = left(song.render(600))
    assert out.index(0.25) == 300 and out[300:500] == [0.25] * 200 and out[500] == 0.0
    before = song.tempo_map
    for bad, exc in (([], ValueError), ([(1, 120)], ValueError), ([(0, 120), (2, 90), (1, 60)], ValueError),
                     ([(0, 0.5)], ValueError), ([(0, 120), (1, float("nan"))], ValueError), ([(0, 120, 1)], TypeError),
                     (5, TypeError), ("x", TypeError), ([(0, "fast")], TypeError)):
        with pytest.raises(exc):
            song.set_tempo_map(bad)
        assert song.tempo_map == before


def test_length_frames_counts_the_release_tail_frame_by_frame():
    for release in (0.0, 0.05, 0.1, 0.37):
        song, track = flat_song(release)
        track.add_note(0, 1, 60)
        track.add_note(0.5, 0.001, 64)  # shorter than a frame: silent, no tail
        n = song.length_frames()
        out = left(song.render(n + 50))
        assert out[n - 1] != 0.0 and set(out[n:]) == {0.0}, release
    # A pattern that plays once ends the song with its last step's release.
    song, track = flat_song(0.05)
    once = tamlor.Pattern(4)
    once.loop_enabled = False
    once.set_step(1, tamlor.Step(60, 127, 2))
    once.set_step(3, tamlor.Step(62, 127, 1))
    track.add_pattern(once, 0.5, start_beat=1)
    n = song.length_frames()
    out = left(song.render(n + 50))
    assert n == song.frame_at(3.0) + 5 and out[n - 1] != 0.0 and set(out[n:]) == {0.0}
    song, track = flat_song()
    assert song.length_frames() == 0
    p = tamlor.Pattern(2)
    p.set_step(0, tamlor.Step(60, 100, 1))
    track.add_pattern(p, 0.5)  # loops forever
    assert song.length_frames() is None
    with pytest.raises(ValueError, match="'t'"):
        song.write_wav("never.wav")
    with pytest.raises(ValueError, match="'t'"):
        track.notes()


def test_notes_lists_notes_and_finite_pattern_steps_in_order():
    song, track = flat_song()
    track.add_note(2, 1, 64, 90)
    track.add_note(0, 1, 62)
    track.add_note(2, 0.5, 60, 10)
    p = tamlor.Pattern(2)
    p.loop_enabled = False
    p.set_step(1, tamlor.Step(70, 50, 2))
    track.add_pattern(p, 0.25, start_beat=1)
    assert track.notes() == [(0.0, 1.0, 62, 100), (1.25, 0.5, 70, 50), (2.0, 1.0, 64, 90), (2.0, 0.5, 60, 10)]
    assert track.channel is None and track.program is None
    track.channel, track.program = 3, 41
    assert (track.channel, track.program) == (3, 41)
    for name, bad, exc in (("channel", 16, ValueError), ("program", 128, ValueError), ("channel", True, TypeError),
                           ("program", 1.0, TypeError)):
        with pytest.raises(exc):
            setattr(track, name, bad)
    assert (track.channel, track.program) == (3, 41)


def read_wav_payload(path):
    data = path.read_bytes()
    assert data[:4] == b"RIFF" and data[8:12] == b"WAVE"
    fmt = data.index(b"fmt ")
    tag, channels, rate = struct.unpack_from("<HHI", data, fmt + 8)
    bits = struct.unpack_from("<H", data, fmt + 22)[0]
    at = data.index(b"data")
    size = struct.unpack_from("<I", data, at + 4)[0]
    return tag, channels, rate, bits, data[at + 8:at + 8 + size]


def test_write_wav_writes_the_whole_song_in_each_encoding_and_leaves_the_song_alone(tmp_path):
    song, track = flat_song(release=0.1)
    track.add_note(0, 1, 60)
    track.add_note(0.5, 1, 67)
    song.render(37)
    song.seek(37)  # mid-song, nothing sounding: the file still starts at frame 0
    n = song.length_frames()
    twin = copy.deepcopy(song)
    twin.reset()
    whole = twin.render(n)
    for encoding, bits in (("pcm16", 16), ("pcm24", 24), ("float32", 32)):
        path = tmp_path / f"s-{encoding}.wav"
        song.write_wav(str(path), encoding=encoding)
        tag, channels, rate, got_bits, payload = read_wav_payload(path)
        assert (channels, rate, got_bits) == (2, RATE, bits)
        if encoding == "float32":
            assert tag == 3 and payload == whole.tobytes()
        elif encoding == "pcm16":
            assert tag == 1 and list(struct.unpack(f"<{2 * n}h", payload)) == [
                max(-32768, min(32767, round(x * 32768))) for x in whole]
        else:
            got = [int.from_bytes(payload[i:i + 3], "little", signed=True) for i in range(0, len(payload), 3)]
            assert tag == 1 and got == [max(-8388608, min(8388607, round(x * 8388608))) for x in whole]
    assert song.frame == 37
    with pytest.raises(ValueError, match="encoding"):
        song.write_wav(str(tmp_path / "x.wav"), encoding="pcm8")


def test_pcm24_conversion_clips_rounds_to_even_and_silences_nan(tmp_path):
    path = tmp_path / "p.wav"
    values = [1.0, -1.0, 2.0, -2.0, float("nan"), 0.5 / 8388608, 1.5 / 8388608, -0.5 / 8388608, 0.1]
    tamlor.AudioBuffer.write_wav(str(path), values, 8000, 1, encoding="pcm24")
    _, _, _, _, payload = read_wav_payload(path)
    got = [int.from_bytes(payload[i:i + 3], "little", signed=True) for i in range(0, len(payload), 3)]
    assert got == [8388607, -8388608, 8388607, -8388608, 0, 0, 2, 0, round(struct.unpack("f", struct.pack("f", 0.1))[0]
                                                                          * 8388608)]
    back = tamlor.AudioBuffer.read_wav(str(path))
    assert back.to_list()[1] == -1.0


def twin_check(song, fork, frames=(1, 63, 200, 517)):
    for n in frames:
        assert song.render(n).tobytes() == fork.render(n).tobytes()


@pytest.mark.parametrize("how", ["copy", "deepcopy"] + [f"pickle{p}" for p in range(2, pickle.HIGHEST_PROTOCOL + 1)])
def test_a_saved_or_forked_song_renders_the_same_bits_from_where_it_was(how):
    fork_of = {"copy": copy.copy, "deepcopy": copy.deepcopy}.get(how) or (
        lambda s: pickle.loads(pickle.dumps(s, protocol=int(how[6:]))))
    song = tamlor_song.Song(bpm=96, sample_rate=RATE)
    lead = tamlor.Sampler(tamlor.AudioSample([0.1 * (i % 7) for i in range(300)], RATE, 60), RATE, max_voices=3)
    lead.set_envelope(tamlor.Envelope(0.05, 0.1, 0.6, 0.2))
    a = song.add_track("lead", lead, gain=0.7, pan=0.3)
    zones = tamlor.SampleMap()
    zones.add_mapping(tamlor.SampleMapping(held(0.3), 0, 63, 0, 127))
    zones.add_mapping(tamlor.SampleMapping(tamlor.AudioSample([0.2, -0.4, 0.6] * 50, RATE, 72), 64, 127, 0, 127))
    b = song.add_track("keys", zones, envelope=tamlor.Envelope(0.0, 0.2, 0.5, 0.3))
    a.add_notes([(0, 2, 60), (0.5, 0.5, 60), (1, 3, 64, 90), (2.5, 1, 67)])
    b.add_notes([(0, 1, 50), (0.25, 2, 70), (1, 1, 50)])
    p = tamlor.Pattern(3)
    p.set_step(0, tamlor.Step(40, 80, 2))
    p.set_step(2, tamlor.Step(66, 127, 1))
    b.add_pattern(p, 0.5, end_beat=12)
    b.channel, b.program = 2, 5
    song.set_tempo(3, 140)
    for at in (0, 71, 190):
        song.render(at)
        fork = fork_of(song)
        assert fork is not song and fork.frame == song.frame
        assert [(t.name, t.channel, t.program, t.notes()) for t in fork.tracks] == [
            (t.name, t.channel, t.program, t.notes()) for t in song.tracks]
        twin_check(song, fork)
    # Independent: a change to the fork does not reach the original.
    fork = fork_of(song)
    fork.tracks[0].add_note(0, 100, 30)
    fork.tracks[1].gain = 0.1
    assert song.tracks[0].notes() != fork.tracks[0].notes() and song.tracks[1].gain != 0.1
    # A track pickled with its song comes back as the track of the new song.
    s2, t2 = pickle.loads(pickle.dumps((song, song.tracks[1])))
    assert t2 is s2.tracks[1]


def test_a_fresh_song_and_an_empty_one_fork_too():
    song = tamlor_song.Song()
    assert copy.deepcopy(song).render(10).tobytes() == array.array("f", bytes(80)).tobytes()
    assert pickle.loads(pickle.dumps(song)).sample_rate == 44100


def test_voice_state_read_back_is_checked_before_anything_changes():
    s = tamlor.Sampler(held(), sample_rate=RATE)
    s.note_on_sample(60, 100)
    s.render(3)
    state = s._voices()
    fresh = tamlor.Sampler(held(), sample_rate=RATE)
    fresh._set_voices(state)
    assert fresh.render(40) == s.render(40)
    (next_handle, (voice,)) = state
    good = list(voice)

    def with_field(i, value):
        v = list(good)
        v[i] = value
        return (next_handle, [tuple(v)])

    bad = [((1,), TypeError), ((next_handle, [good[:-1]]), TypeError), (with_field(0, [0.5]), TypeError),
           (with_field(5, 9), TypeError), (with_field(13, 200), ValueError), (with_field(10, -1.0), TypeError),
           (with_field(11, -0.5), TypeError), (with_field(14, -1), OverflowError), ((-1, []), OverflowError),
           ((next_handle, 5), TypeError)]
    for state_, exc in bad:
        target = tamlor.Sampler(held(), sample_rate=RATE)
        target.note_on_sample(64, 100)
        before = target._voices()
        with pytest.raises(exc):
            target._set_voices(state_)
        assert target._voices()[1][0][13] == before[1][0][13] and len(target._voices()[1]) == 1

    # A conversion that reaches back into the sampler finds it busy.
    class Sneaky:
        def __float__(self):
            target.panic()
            return 0.0

    target = tamlor.Sampler(held(), sample_rate=RATE)
    with pytest.raises(RuntimeError):
        target._set_voices(with_field(6, Sneaky()))


def test_play_sends_the_whole_song_to_the_device(monkeypatch, tmp_path):
    import pathlib
    conf = pathlib.Path(__file__).resolve().parent / "alsa" / "file_output.conf"
    monkeypatch.setenv("ALSA_CONFIG_PATH", str(conf))
    monkeypatch.setenv("TAMLOR_PCM_FILE", str(tmp_path / "pcm.raw"))
    song = tamlor_song.Song(bpm=120, sample_rate=8000)
    zones = tamlor.SampleMap.single_sample(tamlor.AudioSample(tamlor.SawOscillator(220.0, 0.5, 8000)
                                                              .render_to_buffer(800), 8000, 57))
    t = song.add_track("saw", zones)
    t.add_notes([(0, 1, 57), (0.5, 1, 61), (1, 0.5, 64)])
    song.render(123)  # the song's own position stays where it is
    song.write_wav(str(tmp_path / "whole.wav"))
    _, _, _, _, payload = read_wav_payload(tmp_path / "whole.wav")
    song.play()
    assert (tmp_path / "pcm.raw").read_bytes() == payload
    assert song.frame == 123
    out = tamlor.AudioOutput(sample_rate=8000, channels=2)
    song.play(out)  # a device of the caller's is started and left playing
    assert out.is_playing()
    out.stop()
    with pytest.raises(TypeError):
        song.play("default")
