"""The song layer: note and step timing read back from the rendered audio,
block-size independence, the order of events at one frame, zones, mixing and
bad input. Most songs here play a constant-level sample with an envelope that
is full from the first frame and ends at once, so every note-on is a step up
in the output and every note-off a step down, at a frame the test can read."""
import array
import math
import os
import struct

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import tamlor
import tamlor_song



def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]

RATE = 8000
FLAT = tamlor.Envelope(0.0, 0.0, 1.0, 0.0)


def constant(level, frames=100_000, root_note=60):
    return tamlor.AudioSample([level] * frames, sample_rate=RATE, root_note=root_note)


def flat_sampler(level=0.5, frames=100_000, max_voices=8):
    sampler = tamlor.Sampler(constant(level, frames), sample_rate=RATE, max_voices=max_voices)
    sampler.set_envelope(FLAT)
    return sampler


def plain_song(bpm=120.0):
    """A song whose first track is heard unchanged on the left: gain 1, pan
    hard left, master 1."""
    song = tamlor_song.Song(bpm=bpm, sample_rate=RATE)
    song.master_gain = 1.0
    track = song.add_track("t", flat_sampler(), gain=1.0, pan=-1.0)
    return song, track


def changes(samples):
    """Frames at which the level differs from the frame before (frame 0 counts
    when it is not silent)."""
    prev, out = 0.0, []
    for i, x in enumerate(samples):
        if x != prev:
            out.append(i)
        prev = x
    return out


def seconds_by_map(tempo, beat):
    """The tempo map written out plainly: walk the segments from beat 0."""
    seconds = 0.0
    for i, (start, bpm) in enumerate(tempo):
        following = tempo[i + 1][0] if i + 1 < len(tempo) else math.inf
        if beat < following:
            return seconds + ((beat - start) * 60.0) / bpm
        seconds = seconds + ((following - start) * 60.0) / bpm
    raise AssertionError("unreachable")


def frame_by_map(tempo, beat):
    return math.floor(seconds_by_map(tempo, beat) * RATE + 0.5)


def test_the_installed_layer_sits_beside_the_module():
    # A module in a build tree, a typed package in the wheel.
    # A package in a build tree and in the wheel, typed in the wheel.
    assert os.path.basename(tamlor_song.__file__) == "__init__.py"
    place = os.path.dirname(os.path.abspath(tamlor_song.__file__))
    if "site-packages" in place:
        assert os.path.isfile(os.path.join(place, "py.typed"))
    place = os.path.dirname(place)
    assert place == os.path.dirname(os.path.abspath(tamlor.__file__))
    for name in tamlor_song.__all__:
        obj = getattr(tamlor_song, name)
        assert obj.__doc__
        for member, value in vars(obj).items():
            if not member.startswith("_"):
                assert value.__doc__, f"{name}.{member}"


def test_note_frames_follow_the_tempo_map():
    song, track = plain_song(bpm=120.0)
    song.set_tempo(2.0, 97.0)
    song.set_tempo(5.0, 181.5)
    song.set_tempo(3.5, 60.0)  # inserted between the others
    tempo = [(0.0, 120.0), (2.0, 97.0), (3.5, 60.0), (5.0, 181.5)]
    assert song.tempo_map == tempo
    notes = [(0.0, 0.25), (1.0 / 3.0, 0.5), (1.9, 0.2), (2.75, 1.0), (4.9, 0.3), (6.123456, 1.7)]
    for start, duration in notes:
        track.add_note(start, duration, 60, 127)
    audio = song.render(frame_by_map(tempo, 9.0))
    expected = []
    for start, duration in notes:
        expected += [frame_by_map(tempo, start), frame_by_map(tempo, start + duration)]
    assert changes(audio[0::2]) == expected
    assert set(audio[0::2]) == {0.0, 0.5}
    # Spot values by hand: beat 1/3 at 120 bpm is 1333.33 frames; beat 2.75 is
    # 1 s plus 0.75 * 60 / 97 s.
    assert expected[2] == 1333 and expected[6] == math.floor((1.0 + 45.0 / 97.0) * RATE + 0.5)
    assert [song.frame_at(b) for b, _ in notes] == expected[0::2]
    assert song.seconds_at(5.0) == seconds_by_map(tempo, 5.0) == 1.0 + 1.5 * 60.0 / 97.0 + 1.5


def test_a_later_tempo_change_replaces_one_at_the_same_beat():
    song, track = plain_song()
    song.set_tempo(1.0, 60.0)
    song.set_tempo(1.0, 240.0)
    song.set_tempo(0.0, 60.0)
    assert song.tempo_map == [(0.0, 60.0), (1.0, 240.0)]
    assert song.bpm == 60.0
    track.add_note(2.0, 1.0, 60, 127)
    assert changes(song.render(3 * RATE)[0::2]) == [RATE + RATE // 4, RATE + RATE // 2]


@pytest.mark.parametrize("step_duration", [1.0 / 3.0, 1.0 / 6.0, 0.25, 0.1])
def test_pattern_steps_sit_on_a_grid_of_products(step_duration):
    song, track = plain_song(bpm=100.0)
    song.set_tempo(2.0, 140.0)
    pattern = tamlor.Pattern(5)
    pattern.set_step(0, tamlor.Step(60, 127, 2))
    pattern.set_step(3, tamlor.Step(60, 127, 1))
    track.add_pattern(pattern, step_duration, start_beat=0.5)
    tempo = [(0.0, 100.0), (2.0, 140.0)]
    frames = frame_by_map(tempo, 6.0)
    expected = []
    for k in range(200):
        index = k % 5
        if index in (0, 3):
            on = 0.5 + k * step_duration
            off = on + (2 if index == 0 else 1) * step_duration
            if frame_by_map(tempo, on) < frames:
                expected.append(frame_by_map(tempo, on))
            if frame_by_map(tempo, off) < frames:
                expected.append(frame_by_map(tempo, off))
    assert changes(song.render(frames)[0::2]) == expected


def test_pattern_loop_flag_and_end_beat_bound_it():
    pattern = tamlor.Pattern(4)
    pattern.set_step(0, tamlor.Step(60, 127, 1))
    pattern.set_step(2, tamlor.Step(60, 127, 1))
    once = tamlor.Pattern(4)
    once.set_step(0, tamlor.Step(60, 127, 1))
    once.set_step(2, tamlor.Step(60, 127, 1))
    once.loop_enabled = False
    beat = RATE // 2  # frames per beat at 120 bpm
    song, track = plain_song()
    track.add_pattern(once, 0.5)
    assert changes(song.render(10 * beat)[0::2]) == [0, beat // 2, beat, 3 * beat // 2]
    assert song.length_beats() == 1.5
    song, track = plain_song()
    track.add_pattern(pattern, 0.5, start_beat=1.0, end_beat=3.0)
    # Steps 0 and 2 fall on beats 1.0, 2.0, 3.0, ...: the end stops the third.
    assert changes(song.render(10 * beat)[0::2]) == [beat, 3 * beat // 2, 2 * beat, 5 * beat // 2]
    assert song.length_beats() == 2.5
    song, track = plain_song()
    track.add_pattern(pattern, 0.5)
    assert song.length_beats() is None
    # Edits to the pattern after it was added do not reach the song.
    pattern.clear()
    assert len(changes(song.render(10 * beat)[0::2])) == 20



def test_a_step_held_for_billions_of_steps_is_one_long_note(monkeypatch):
    monkeypatch.setattr(tamlor_song.song, "_WINDOW", 1000)
    pattern = tamlor.Pattern(3)
    pattern.set_step(1, tamlor.Step(60, 127, 2**32 - 1))
    song, track = plain_song()
    track.add_pattern(pattern, 0.5)  # loops: a new voice every 1.5 beats, none released
    left = song.render(3 * RATE)[0::2]
    assert changes(left) == [RATE // 4, RATE] and left[-1] == 1.0  # two voices, then clipped
    assert song.length_beats() is None
    song, track = plain_song()
    track.add_pattern(pattern, 0.5, end_beat=1.0)
    assert song.length_beats() == 0.5 + (2**32 - 1) * 0.5


def busy_song(window=None):
    """Several tracks (samplers and a zone map), tempo changes, notes and
    looping patterns with triplet steps, envelopes that take many frames."""
    song = tamlor_song.Song(bpm=132.0, sample_rate=RATE)
    song.set_tempo(3.0, 90.0)
    song.set_tempo(5.5, 155.0)
    saw = tamlor.SawOscillator(frequency=110.0, amplitude=0.6).render_to_buffer(RATE // 4)
    lead = tamlor.AudioSample(saw, sample_rate=RATE, root_note=45)
    lead.loop_start, lead.loop_end = 0, len(saw)
    sampler = tamlor.Sampler(lead, sample_rate=RATE, max_voices=3)
    melody = song.add_track("Lead", sampler, gain=0.9, pan=-0.3,
                            envelope=tamlor.Envelope(0.01, 0.05, 0.6, 0.08))
    for i in range(24):
        melody.add_note(i * 0.37, 0.5 + (i % 3) * 0.2, 57 + (i * 5) % 12, 60 + i)
    zones = tamlor.SampleMap()
    zones.add_mapping(tamlor.SampleMapping(constant(0.3, 900, root_note=40), 0, 50, 0, 127))
    zones.add_mapping(tamlor.SampleMapping(lead, 51, 127, 0, 127))
    bass = song.add_track("Bass", zones, gain=1.1, pan=0.2, envelope=tamlor.Envelope(0.0, 0.1, 0.5, 0.03),
                          max_voices=2)
    bass.add_notes([(i * 0.75, 0.6, 36 + (i % 4) * 7, 100) for i in range(12)])
    drums = song.add_track("Drums", flat_sampler(0.4, frames=500), gain=0.7, pan=0.5)
    pattern = tamlor.Pattern(6)
    for i, ticks in ((0, 1), (2, 3), (4, 0), (5, 1)):
        pattern.set_step(i, tamlor.Step(60 + i, 90, ticks))
    drums.add_pattern(pattern, 1.0 / 3.0, start_beat=0.25)
    drums.add_pattern(pattern, 1.0 / 6.0, start_beat=4.0, end_beat=6.0)
    song.master_gain = 0.9
    return song


def render_in_blocks(song, total, sizes):
    out = array.array("f")
    i = 0
    while len(out) < 2 * total:
        n = min(sizes[i % len(sizes)], total - len(out) // 2)
        out.extend(song.render(n))
        i += 1
    return out


@pytest.mark.parametrize("sizes", [[1], [64], [333], [512], [4096], [5, 1, 700, 0, 2]])
def test_the_audio_does_not_depend_on_the_block_size(monkeypatch, sizes):
    # A short scheduling window, so that the song crosses many of them.
    monkeypatch.setattr(tamlor_song.song, "_WINDOW", 1500)
    total = 6 * RATE
    whole = busy_song().render(total)
    assert any(whole) and len(whole) == 2 * total
    assert render_in_blocks(busy_song(), total, sizes) == whole


def test_render_into_a_buffer_continues_like_render():
    np = pytest.importorskip("numpy")
    total = 3 * RATE
    whole = busy_song().render(total)
    song = busy_song()
    first = np.zeros(2 * 1000, dtype=np.float32)
    second = np.zeros((total - 1000, 2), dtype=np.float32)  # frames x channels, C order
    song.render_into(first)
    song.render_into(second)
    assert song.frame == total
    assert np.concatenate([first, second.ravel()]).tobytes() == whole.tobytes()


@settings(max_examples=15, deadline=None)
@given(st.lists(st.tuples(st.integers(0, 40), st.integers(0, 12), st.integers(40, 80), st.integers(0, 127)),
                min_size=1, max_size=30),
       st.lists(st.tuples(st.integers(1, 20), st.floats(30.0, 300.0)), max_size=3),
       st.lists(st.integers(1, 3000), min_size=1, max_size=6))
def test_random_songs_split_anywhere_give_the_same_bits(notes, tempos, sizes):
    def build():
        song = tamlor_song.Song(bpm=117.0, sample_rate=RATE)
        for beat, bpm in tempos:
            song.set_tempo(beat / 4.0, bpm)
        sampler = tamlor.Sampler(constant(0.25, 4000), sample_rate=RATE, max_voices=4)
        track = song.add_track("t", sampler, envelope=tamlor.Envelope(0.003, 0.01, 0.7, 0.02))
        track.add_notes([(s / 8.0, d / 8.0, n, v) for s, d, n, v in notes])
        return song

    total = build().frame_at(6.0) + 800
    assert render_in_blocks(build(), total, sizes) == build().render(total)


def test_note_offs_come_before_note_ons_at_one_frame():
    song, track = plain_song()
    beat = RATE // 2
    # The same pitch back to back: the first note's release must not silence
    # the second, whichever was added first.
    track.add_note(1.0, 1.0, 60, 127)
    track.add_note(0.0, 1.0, 60, 127)
    # A pattern step starting where a note of its pitch stops.
    pattern = tamlor.Pattern(1)
    pattern.set_step(0, tamlor.Step(60, 127, 2))
    track.add_pattern(pattern, 1.0, start_beat=2.0, end_beat=3.0)
    assert changes(song.render(5 * beat)[0::2]) == [0, 4 * beat]


def test_notes_at_one_frame_start_in_the_order_they_were_added():
    # One voice: of two notes starting together, the later one steals the voice.
    for first, second in ((127, 64), (64, 127)):
        song = tamlor_song.Song(sample_rate=RATE)
        song.master_gain = 1.0
        track = song.add_track("t", flat_sampler(1.0, max_voices=1), gain=1.0, pan=-1.0)
        track.add_note(0.5, 1.0, 60, first)
        pattern = tamlor.Pattern(1)
        pattern.set_step(0, tamlor.Step(64, second, 1))
        track.add_pattern(pattern, 1.0, start_beat=0.5, end_beat=1.0)
        left = song.render(RATE)[0::2]
        assert changes(left) == [RATE // 4, 3 * RATE // 4]
        assert left[RATE // 4] == f32(second / 127.0)


def test_a_note_shorter_than_a_frame_is_silent_and_releases_nothing():
    song, track = plain_song()
    track.add_note(0.0, 2.0, 60, 127)
    track.add_note(1.0, 0.0, 60, 127)
    track.add_note(1.0, 1e-5, 60, 127)  # 0.04 frames at 120 bpm and 8000 Hz
    assert changes(song.render(RATE)[0::2]) == [0]  # one held note, never cut
    assert song.render(RATE)[0::2][0] == 0.0


def test_zones_pick_the_sample_and_share_the_tracks_envelope_and_voice_limit():
    # Low notes play a 0.25 level recorded at root 48, high notes 0.5 at root
    # 72; loud high notes have a zone of their own, 0.75. A zone sample of
    # 400 frames lasts 400 frames at its root and 200 an octave up.
    zones = tamlor.SampleMap()
    zones.add_mapping(tamlor.SampleMapping(constant(0.25, 400, root_note=48), 0, 59, 0, 127))
    zones.add_mapping(tamlor.SampleMapping(constant(0.75, 400, root_note=72), 60, 127, 100, 127))
    zones.add_mapping(tamlor.SampleMapping(constant(0.5, 400, root_note=72), 60, 127, 0, 127))
    song = tamlor_song.Song(sample_rate=RATE)
    song.master_gain = 1.0
    track = song.add_track("keys", zones, gain=1.0, pan=-1.0, envelope=FLAT, max_voices=1)
    beat = RATE // 2
    track.add_note(0.0, 0.5, 48, 127)    # low zone at its root: runs out after 400 frames
    track.add_note(1.0, 1.0, 60, 127)    # loud high zone, an octave below its root: 800 frames
    track.add_note(2.0, 1.0, 84, 50)     # soft high zone, an octave above: 200 frames
    track.add_note(3.05, 1.0, 72, 127)   # loud, at the root ...
    track.add_note(3.1, 0.1, 40, 127)    # ... stolen by the low zone (one voice for the track)
    track.add_note(3.5, 0.04, 72, 20)    # its note-off (velocity 0) still reaches the soft zone's voice
    left = song.render(5 * beat)[0::2]
    at = lambda b: round(b * beat)
    assert changes(left) == [0, 400, at(1.0), at(1.0) + 800, at(2.0), at(2.0) + 200, at(3.05), at(3.1),
                             at(3.2), at(3.5), at(3.54)]
    assert [left[i] for i in (0, at(1.0), at(2.0), at(3.05), at(3.1), at(3.5))] == [
        0.25, 0.75, f32(50 / 127.0) * 0.5, 0.75, 0.25, f32(20 / 127.0) * 0.5]
    # A note outside every zone is silent; zones added later are heard.
    gap = tamlor.SampleMap()
    gap.add_mapping(tamlor.SampleMapping(constant(0.5, 400, root_note=60), 60, 60, 0, 127))
    song = tamlor_song.Song(sample_rate=RATE)
    track = song.add_track("gap", gap, envelope=FLAT)
    track.add_note(0.0, 0.1, 61, 127)
    assert not any(song.render(beat))
    gap.add_mapping(tamlor.SampleMapping(constant(0.5, 400, root_note=61), 61, 61, 0, 127))
    song.reset()
    assert any(song.render(beat))


def mixed(buffers, settings, master):
    mixer = tamlor.Mixer()
    for gain, pan, mute, solo in settings:
        i = mixer.add_channel("c")
        mixer.set_channel_gain(i, gain)
        mixer.set_channel_pan(i, pan)
        mixer.set_channel_mute(i, mute)
        mixer.set_channel_solo(i, solo)
    mixer.master_gain = master
    return mixer.mix_down(buffers)


def test_tracks_are_mixed_with_gain_pan_mute_solo_and_master_gain():
    song = tamlor_song.Song(sample_rate=RATE)
    a = song.add_track("a", flat_sampler(0.5), gain=0.7, pan=-0.4)
    b = song.add_track("b", flat_sampler(0.25), pan=0.9)
    a.add_note(0.0, 10.0, 60, 127)
    b.add_note(0.0, 10.0, 60, 127)
    song.master_gain = 1.3
    assert (a.name, a.index, b.index, song.tracks) == ("a", 0, 1, (a, b))
    assert (a.gain, a.pan, b.gain, b.mute, b.solo) == (f32(0.7), f32(-0.4), f32(0.8), False, False)
    n = 100
    mono = [[0.5] * n, [0.25] * n]
    assert list(song.render(n)) == mixed(mono, [(0.7, -0.4, False, False), (0.8, 0.9, False, False)], 1.3)
    # Changes between calls apply from the next call.
    b.solo = True
    assert list(song.render(n)) == mixed(mono, [(0.7, -0.4, False, False), (0.8, 0.9, False, True)], 1.3)
    b.mute, a.gain, a.pan, song.master_gain = True, 5.0, -3.0, 0.5
    assert (a.gain, a.pan, song.master_gain) == (2.0, -1.0, 0.5)  # clamped by the mixer
    assert not any(song.render(n))  # the soloed track is muted: silence
    b.solo = False
    assert list(song.render(n)) == mixed(mono, [(2.0, -1.0, False, False), (0.8, 0.9, True, False)], 0.5)


def test_seek_and_reset_stop_every_voice_and_move_the_play_position():
    song = busy_song()
    whole = song.render(4 * RATE)
    song.reset()
    assert song.frame == 0
    assert song.render(4 * RATE) == whole
    # Past a moment where nothing sounds, a seek gives the rest unchanged.
    song, track = plain_song()
    track.add_note(0.0, 0.5, 60, 127)
    track.add_note(2.0, 0.5, 60, 127)
    whole = song.render(2 * RATE)
    song.seek(RATE // 2)
    assert song.frame == RATE // 2 and song.seconds == 0.5
    assert song.render(RATE + RATE // 2) == whole[RATE:]
    # Into a held note: the note is not heard.
    song.seek(RATE // 8)
    assert not any(song.render(RATE // 4))


def test_notes_added_while_playing_sound_at_their_own_frames():
    ref, ref_track = plain_song()
    song, track = plain_song()
    for t in (ref_track, track):
        t.add_note(0.5, 0.25, 60, 127)
    ref_track.add_note(1.3, 0.5, 60, 127)
    ref.set_tempo(1.0, 75.0)
    first = song.render(RATE // 2)  # up to beat 1
    track.add_note(1.3, 0.5, 60, 127)
    song.set_tempo(1.0, 75.0)
    assert first + song.render(RATE) == ref.render(RATE // 2 + RATE)


def test_a_tempo_change_that_moves_a_sounding_notes_end_into_the_past_ends_it_at_once():
    song, track = plain_song(bpm=60.0)
    track.add_note(0.0, 4.0, 60, 127)        # four seconds at 60 bpm
    pattern = tamlor.Pattern(1)
    pattern.set_step(0, tamlor.Step(64, 127, 8))
    track.add_pattern(pattern, 0.5, end_beat=0.5)  # also four seconds
    first = song.render(2 * RATE)[0::2]
    assert changes(first) == [0] and first[-1] == 1.0  # two voices, clipped
    song.set_tempo(0.0, 240.0)               # beat 4 is now at one second: both ends are past
    assert not any(song.render(RATE))
    # Notes that end later than the play position keep their new frames.
    song, track = plain_song(bpm=60.0)
    track.add_note(0.0, 4.0, 60, 127)
    song.render(RATE)
    song.set_tempo(2.0, 120.0)               # beat 4 moves from 4 s to 3 s
    assert changes(song.render(3 * RATE)[0::2]) == [0, 2 * RATE]


def test_clearing_a_track_releases_its_held_notes():
    song, track = plain_song()
    track.add_note(0.0, 100.0, 60, 127)
    song.render(100)
    track.clear()
    assert not any(song.render(100))


def test_add_notes_takes_sequences_events_and_tuples_in_order():
    sequence = tamlor.EventSequence()
    sequence.add_event(tamlor.NoteEvent(1.0, 0.5, 60, 127))
    sequence.add_event(tamlor.NoteEvent(0.0, 0.5, 60, 127))
    song, track = plain_song()
    assert track.add_notes(sequence) == 2
    assert track.add_notes([tamlor.NoteEvent(2.0, 0.5, 60, 127), (3.0, 0.5, 60), [4.0, 0.5, 60, 127]]) == 3
    assert track.add_notes(iter([])) == 0
    beat = RATE // 2
    assert changes(song.render(5 * beat)[0::2]) == [i * beat // 2 for i in range(10)]
    assert song.length_beats() == 4.5
    track.clear()
    song.reset()
    assert song.length_beats() == 0.0 and not any(song.render(5 * beat))


NAN, INF = float("nan"), float("inf")


@pytest.mark.parametrize(
    "call, error, match",
    [
        (lambda s, t: t.add_note(NAN, 1.0, 60), ValueError, "start_beat"),
        (lambda s, t: t.add_note(0.0, 1.0, 128), ValueError, "^Note out of range: 128 \\(must be 0\u2013127\\)$"),
        (lambda s, t: t.add_note(0.0, 1.0, 60, -1), ValueError, "Velocity out of range: -1"),
        (lambda s, t: t.add_note(2e9, 1.0, 60), ValueError, "start_beat"),
        (lambda s, t: t.add_note(0.0, 10**400, 60), ValueError, "duration_beats"),
        (lambda s, t: t.add_pattern(tamlor.Pattern(4), 0.0009), ValueError, "step_duration"),
        (lambda s, t: s.set_tempo(1.0, 0.5), ValueError, "bpm"),
        (lambda s, t: s.set_tempo(1.0, 20_000), ValueError, "bpm"),
        (lambda s, t: s.seek(2**62), ValueError, "frame"),
        (lambda s, t: t.add_note(0.0, 1.0, 60.0), TypeError, "note"),
        (lambda s, t: t.add_notes([(0.0, 1.0, 60), (1.0, NAN, 60)]), ValueError, "note 1: duration_beats"),
        (lambda s, t: t.add_notes([(0.0, 1.0, 60), "C4"]), TypeError, "note 1"),
        (lambda s, t: t.add_notes(tamlor.NoteEvent(0.0, 1.0, 60, 1)), TypeError, "EventSequence"),
        (lambda s, t: t.add_notes([tamlor.NoteEvent(-1.0, 1.0, 60, 1)]), ValueError, "note 0: start_beat"),
        (lambda s, t: t.add_pattern([1, 2], 0.25), TypeError, "Pattern"),
        (lambda s, t: t.add_pattern(tamlor.Pattern(4), 0.25, 0.0, INF), ValueError, "end_beat"),
        (lambda s, t: s.set_tempo(NAN, 120.0), ValueError, "beat"),
        (lambda s, t: s.add_track("x", tamlor.AudioSample([1.0])), TypeError, "Sampler or a tamlor.SampleMap"),
        (lambda s, t: s.add_track("x", tamlor.Sampler(constant(1.0, 4))), ValueError, "44100 Hz"),
        (lambda s, t: s.add_track("x", t.sampler), ValueError, "already plays track 't'"),
        (lambda s, t: s.add_track("x", tamlor.SampleMap(), gain=NAN), ValueError, "gain"),
        (lambda s, t: s.add_track("x", tamlor.SampleMap(), max_voices=0), ValueError, "max_voices"),
        (lambda s, t: setattr(t, "mute", 1), TypeError, "mute"),
        (lambda s, t: setattr(s, "master_gain", NAN), ValueError, "master_gain"),
        (lambda s, t: s.render_into(array.array("d", [0.0] * 4)), TypeError, "32-bit floats"),
        (lambda s, t: s.render_into(array.array("f", [0.0] * 3)), ValueError, "whole number of stereo frames"),
        (lambda s, t: s.render_into(bytes(16)), TypeError, "writable"),
        (lambda s, t: s.render_into([0.0, 0.0]), TypeError, "buffer"),
    ],
)
def test_bad_input_is_refused_by_the_call_that_gives_it_and_adds_nothing(call, error, match):
    def build():
        song, track = plain_song()
        track.add_note(0.25, 0.5, 60, 127)
        song.set_tempo(0.5, 90.0)
        return song, track

    song, track = build()
    reference, _ = build()
    with pytest.raises(error, match=match):
        call(song, track)
    assert (song.tempo_map, len(song.tracks), song.frame, song.length_beats()) == (
        reference.tempo_map, 1, 0, reference.length_beats())
    assert (track.gain, track.pan, track.mute, song.master_gain) == (1.0, -1.0, False, 1.0)
    assert song.render(RATE) == reference.render(RATE)


def test_song_construction_is_checked():
    with pytest.raises(ValueError, match="bpm"):
        tamlor_song.Song(bpm=0.0)
    with pytest.raises(ValueError, match="sample_rate"):
        tamlor_song.Song(sample_rate=0)
    with pytest.raises(TypeError, match="sample_rate"):
        tamlor_song.Song(sample_rate=44100.0)
    song = tamlor_song.Song()
    assert (song.bpm, song.sample_rate, song.frame, song.tempo_map) == (120.0, 44100, 0, [(0.0, 120.0)])
    assert repr(song) == "Song(bpm=120.0, sample_rate=44100, tracks=0, frame=0)"
    assert song.render(3) == array.array("f", [0.0] * 6) and song.frame == 3


def test_the_notes_example_writes_its_piece(tmp_path):
    import pathlib
    import subprocess
    import sys
    import wave

    script = pathlib.Path(__file__).resolve().parent.parent / "examples" / "notes_to_wav.py"
    out = tmp_path / "notes.wav"
    result = subprocess.run([sys.executable, str(script), "--output", str(out)], capture_output=True, text=True,
                            check=True)
    with wave.open(str(out), "rb") as wav:
        assert (wav.getnchannels(), wav.getsampwidth(), wav.getframerate()) == (2, 2, 44100)
        frames = wav.getnframes()
        data = wav.readframes(frames)
    assert f"{frames} frames" in result.stdout and "37 notes" in result.stdout
    assert any(data[: len(data) // 2]) and len(data) == 4 * frames


class Explodes:
    def __float__(self):
        raise ZeroDivisionError("float")

    def __index__(self):
        raise ZeroDivisionError("index")


HOSTILE = [None, "1", b"1", 1.5, -1, 2**64, 10**400, NAN, INF, -INF, [], object(), Explodes(), True]


def hostile_calls(song, track, pattern):
    """One callable per argument of every method and every settable property."""
    return {
        "add_note start": lambda v: track.add_note(v, 1.0, 60),
        "add_note duration": lambda v: track.add_note(0.0, v, 60),
        "add_note note": lambda v: track.add_note(0.0, 1.0, v),
        "add_note velocity": lambda v: track.add_note(0.0, 1.0, 60, v),
        "add_notes": lambda v: track.add_notes(v),
        "add_notes item": lambda v: track.add_notes([(0.0, 1.0, 60), v]),
        "add_pattern pattern": lambda v: track.add_pattern(v, 0.25),
        "add_pattern step": lambda v: track.add_pattern(pattern, v),
        "add_pattern start": lambda v: track.add_pattern(pattern, 0.25, v),
        "add_pattern end": lambda v: track.add_pattern(pattern, 0.25, 0.0, v),
        "set_tempo beat": lambda v: song.set_tempo(v, 100.0),
        "set_tempo bpm": lambda v: song.set_tempo(1.0, v),
        "seconds_at": lambda v: song.seconds_at(v),
        "frame_at": lambda v: song.frame_at(v),
        "add_track name": lambda v: song.add_track(v, tamlor.SampleMap()),
        "add_track instrument": lambda v: song.add_track("x", v),
        "add_track gain": lambda v: song.add_track("x", tamlor.SampleMap(), gain=v),
        "add_track pan": lambda v: song.add_track("x", tamlor.SampleMap(), pan=v),
        "add_track envelope": lambda v: song.add_track("x", tamlor.SampleMap(), envelope=v),
        "add_track max_voices": lambda v: song.add_track("x", tamlor.SampleMap(), max_voices=v),
        "render": lambda v: song.render(v),
        "render_into": lambda v: song.render_into(v),
        "seek": lambda v: song.seek(v),
        **{f"track.{name}": (lambda v, n=name: setattr(track, n, v)) for name in ("gain", "pan", "mute", "solo")},
        "master_gain": lambda v: setattr(song, "master_gain", v),
    }


def observe(song):
    track = song.tracks[0]
    return (song.tempo_map, song.length_beats(), song.frame, len(song.tracks), song.master_gain,
            (track.gain, track.pan, track.mute, track.solo), song.render(3000).tobytes())


def test_hostile_arguments_raise_and_change_nothing():
    def build():
        song, track = plain_song()
        track.add_note(0.1, 0.3, 60, 100)
        song.set_tempo(0.3, 80.0)
        pattern = tamlor.Pattern(2)
        pattern.set_step(1, tamlor.Step(64, 90))
        return song, track, pattern

    expected = observe(build()[0])
    for name in hostile_calls(*build()):
        for value in HOSTILE:
            song, track, pattern = build()
            try:
                hostile_calls(song, track, pattern)[name](value)
            except (TypeError, ValueError, OverflowError, ZeroDivisionError, MemoryError):
                assert observe(song) == expected, (name, value)


def test_a_number_that_renders_while_it_converts(reentrant):
    ref, ref_track = plain_song()
    ref.render(10)
    ref_track.add_note(0.5, 0.25, 60, 127)
    song, track = plain_song()
    track.add_note(reentrant(lambda: song.render(10), 0.5), 0.25, 60, 127)
    assert song.frame == 10
    assert song.render(RATE) == ref.render(RATE)
