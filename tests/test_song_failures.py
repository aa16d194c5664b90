"""A song call that fails changes nothing: refused buffers, interrupts and
errors in the middle of a render leave every sampler and the schedule as they
were, so the next block equals the one an untouched twin renders. Also the
samplers' saved states that make this possible."""
import array
import copy
import pickle
import signal

import pytest

import tamlor
import tamlor_song
from conftest import interrupted_within, many_voice_sampler
from test_song import RATE, busy_song, flat_sampler


def voices_at_every_stage():
    sampler = tamlor.Sampler(tamlor.AudioSample([0.1 * (i % 7) for i in range(500)], sample_rate=RATE),
                             sample_rate=RATE, max_voices=4)
    sampler.set_envelope(tamlor.Envelope(0.01, 0.02, 0.5, 0.03))
    for note in (60, 64, 67, 72, 76):  # the fifth steals the oldest
        sampler.note_on(note, 100)
        sampler.render(37)
    sampler.note_off(67)
    return sampler


def test_a_restored_sampler_renders_the_same_samples_again():
    sampler = voices_at_every_stage()
    state = sampler.save_state()
    first = sampler.render(400)
    assert any(first)
    sampler.note_on(50, 127)
    sampler.max_voices = 1
    sampler.set_envelope(tamlor.Envelope())
    sampler.restore_state(state)
    assert sampler.render(400) == first
    sampler.panic()
    sampler.restore_state(state)  # a state serves any number of times
    assert sampler.render(400) == first
    assert sampler.max_voices == 4


def test_a_state_of_another_kind_or_sampler_is_refused_and_changes_nothing():
    sampler, twin = voices_at_every_stage(), voices_at_every_stage()
    other = voices_at_every_stage().save_state()
    for state, error in ((other, ValueError), (None, TypeError), (object(), TypeError), (b"", TypeError)):
        with pytest.raises(error):
            sampler.restore_state(state)
    assert sampler.render(300) == twin.render(300)
    with pytest.raises(TypeError):
        sampler.restore_state()
    for kept in (pickle.dumps, copy.copy):
        with pytest.raises(TypeError):
            kept(sampler.save_state())


def test_a_band_is_saved_in_one_call_into_each_samplers_own_state():
    band = [voices_at_every_stage(), voices_at_every_stage()]
    band[1].note_on(40, 20)
    states = [s.save_state() for s in band]
    expected = [s.render(300) for s in band]
    tamlor.Sampler.save_states(band, states)  # after the renders: states hold the later voices
    later = [s.render(300) for s in band]
    for s, state in zip(band, states):
        s.panic()
        s.restore_state(state)
    assert [s.render(300) for s in band] == later != expected
    for samplers, kept, error in ((band, states[:1], ValueError), (band, states[::-1], ValueError),
                                  ([band[0], None], states, TypeError), (band, [states[0], None], TypeError)):
        with pytest.raises(error):
            tamlor.Sampler.save_states(samplers, kept)


def test_a_state_outlives_its_sampler():
    sampler = voices_at_every_stage()
    state = sampler.save_state()
    del sampler
    del state  # its voices and samples are freed on their own


def song_pair(build):
    return build(), build()


def heavy_song():
    """A light track before and after one of many voices: a render takes long
    enough to be interrupted inside the heavy track or between tracks."""
    song = tamlor_song.Song(bpm=120.0, sample_rate=44100)
    song.add_track("before", tamlor.Sampler(tamlor.AudioSample([0.2] * 50_000), sample_rate=44100)).add_note(
        0.0, 8.0, 60)
    song.add_track("many", many_voice_sampler(3000))
    song.add_track("after", tamlor.Sampler(tamlor.AudioSample([0.3] * 50_000), sample_rate=44100)).add_note(
        0.01, 8.0, 64)
    return song


def test_an_interrupted_render_leaves_the_song_as_it_was():
    song, twin = song_pair(heavy_song)
    song.render(64)
    twin.render(64)
    for delay in (0.001, 0.01, 0.03, 0.07):
        interrupted_within(delay, lambda: song.render(44100))
        assert song.frame == twin.frame
        assert song.render(512) == twin.render(512)


@pytest.mark.parametrize("size", [300, 9000])
def test_an_error_at_a_note_start_leaves_the_song_as_it_was(size):
    song, twin = song_pair(busy_song)
    song.render(size)
    twin.render(size)
    zones = song.tracks[1]
    start = zones._start
    calls = []

    def failing(note, velocity):
        calls.append(note)
        if len(calls) == 3:
            raise MemoryError("injected")
        start(note, velocity)

    zones._start = failing
    song._changed()  # scheduled from here on with the failing call
    with pytest.raises(MemoryError):
        song.render(3 * RATE)
    zones._start = start
    assert song.frame == twin.frame
    assert song.render(3 * RATE) == twin.render(3 * RATE)


class FailingMixer:
    """The song's mixer, whose mix fails once every track has rendered."""

    def __init__(self, mixer):
        self.mixer = mixer

    def __getattr__(self, name):
        return getattr(self.mixer, name)

    def mix_down_into(self, out, buffers):
        raise MemoryError("injected")


def test_an_error_in_the_mix_of_a_steady_block_leaves_the_song_as_it_was():
    song, twin = song_pair(busy_song)
    for s in (song, twin):
        s.render(256)
        s.render(256)
    mixer = song._mixer
    song._mixer = FailingMixer(mixer)
    with pytest.raises(MemoryError):
        song.render(256)
    song._mixer = mixer
    assert song.frame == twin.frame
    assert song.render(2 * RATE) == twin.render(2 * RATE)


def test_render_into_takes_flat_or_frames_by_two_buffers_and_checks_them_first():
    np = pytest.importorskip("numpy")
    song, twin = song_pair(busy_song)
    bad = [
        (np.zeros(400, np.float32)[::2], ValueError),  # a strided view
        (np.zeros((2, 100), np.float32), ValueError),
        (np.zeros((100, 2, 1), np.float32), ValueError),
        (np.zeros((100, 1), np.float32), ValueError),
        (np.zeros((100, 2), np.float32, order="F"), ValueError),
        (np.array(0.0, np.float32), ValueError),
        (np.zeros(200, np.float64), TypeError),
        (np.zeros(200, ">f4"), TypeError),
        (memoryview(array.array("f", [0.0] * 8)).toreadonly(), TypeError),
    ]
    for out, error in bad:
        with pytest.raises(error):
            song.render_into(out)
    assert song.frame == 0
    flat = np.zeros(200, np.float32)
    pairs = np.zeros((100, 2), np.float32)
    song.render_into(flat)
    song.render_into(pairs)
    assert flat.tobytes() + pairs.tobytes() == twin.render(200).tobytes()
    assert song.render(RATE) == twin.render(RATE)


def test_an_empty_song_counts_frames_only_when_it_renders_them():
    song = tamlor_song.Song(sample_rate=RATE)
    with pytest.raises(ValueError):
        song.render_into(array.array("f", [1.0] * 3))
    out = array.array("f", [1.0] * 6)
    song.render_into(out)
    assert song.frame == 3 and not any(out)


def two_sounding_tracks():
    song = tamlor_song.Song(sample_rate=RATE)
    for i in range(2):
        song.add_track(f"t{i}", flat_sampler(0.2 + 0.1 * i)).add_note(0.0, 4.0, 60 + i)
    song.render(100)
    return song


def test_calls_refused_by_a_busy_sampler_change_nothing(reentrant):
    # The second track's sampler is in the middle of a call of its own when
    # the song is asked to seek, clear or take it again.
    song, twin = song_pair(two_sounding_tracks)
    busy = song.tracks[1].sampler
    calls = [lambda: song.seek(0), lambda: song.tracks[1].clear(),
             lambda: song.add_track("again", busy, envelope=tamlor.Envelope(0.5, 0.5, 0.5, 0.5), max_voices=2)]
    for call in calls:
        number = reentrant(call, 100)
        with pytest.raises(RuntimeError):
            busy.note_on(number, 100)
        assert isinstance(number.error, (RuntimeError, ValueError))
    assert len(song.tracks) == 2 and song.length_beats() == 4.0 and song.frame == 100
    assert song.render(RATE) == twin.render(RATE)


class RefusingMixer(FailingMixer):
    def set_channel_pan(self, index, pan):
        raise MemoryError("injected")


def test_a_track_that_cannot_be_added_leaves_the_song_and_its_sampler_as_they_were():
    song, twin = song_pair(two_sounding_tracks)
    sampler = flat_sampler(0.3)
    sampler.note_on(64, 100)
    mixer = song._mixer
    song._mixer = RefusingMixer(mixer)
    with pytest.raises(MemoryError):
        song.add_track("new", sampler, envelope=tamlor.Envelope(0.0, 0.0, 0.1, 0.0), max_voices=1)
    song._mixer = mixer
    assert len(song.tracks) == 2 and len(mixer) == 2 and sampler.max_voices == 8
    assert song.render(RATE) == twin.render(RATE)
    sampler.note_on(65, 100)  # under its own envelope and voice limit still
    assert sampler.active_voice_count() == 2


def test_a_render_too_large_for_memory_says_so_and_changes_nothing():
    song = two_sounding_tracks()
    for frames in (2**40, 2**62):
        with pytest.raises(MemoryError, match=f"{frames} frames"):
            song.render(frames)
    assert song.frame == 100


def test_a_song_called_again_from_a_signal_handler_mid_render_refuses_and_changes_nothing():
    song, twin = song_pair(heavy_song)
    seen = []

    def handler(signum, frame):
        for call in (lambda: song.render(10), lambda: song.seek(0), lambda: song.tracks[0].clear(),
                     lambda: song.add_track("x", tamlor.SampleMap())):
            try:
                call()
            except RuntimeError as exc:
                seen.append(str(exc))
        raise KeyboardInterrupt

    old = signal.signal(signal.SIGALRM, handler)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.02)
        with pytest.raises(KeyboardInterrupt):
            song.render(44100)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)
    assert len(seen) == 4 and all("the song is rendering" in text for text in seen)
    assert song.frame == 0 and len(song.tracks) == 3
    assert song.render(512) == twin.render(512)
