"""Speed of the song layer on a piece of 1,500 notes on 4 tracks (two
samplers, a two-zone sample map and a drum pattern, with tempo changes),
rendered in blocks of 512 frames and in one call. Two figures, both ratios:
how many times faster than real time the piece renders (the length of the
piece over the time taken), and the layer's own cost per block: the same
run's native calls (every render_into on a slice, note_on, note_off,
note_on_sample and mix_down_into the layer made, recorded once) are replayed
from a flat list, and the layer's time for the blocks is given as a ratio to
that replay. The first block, which also works out every note's frame from
the tempo map, is timed apart and shown as its own share."""
import array
import math
import sys
import time
from typing import Any, Callable, Optional

import tamlor
import tamlor_song
import tamlor_song.song
from common import report

RATE = 44100
BLOCK = 512


def looped(oscillator: Any, frames: int, root: int) -> tamlor.AudioSample:
    sample = tamlor.AudioSample(oscillator.render_to_buffer(frames), root_note=root)
    sample.loop_start, sample.loop_end = 0, frames
    return sample


def piece() -> tamlor_song.Song:
    """The song: 600 melody notes, 300 bass notes, 400 chord notes over two
    zones and 200 drum hits from a looping pattern, 256 beats at 100 to 116
    bpm (about 2.5 minutes)."""
    song = tamlor_song.Song(bpm=100.0, sample_rate=RATE)
    song.set_tempo(64.0, 108.0)
    song.set_tempo(128.0, 116.0)
    song.set_tempo(192.0, 100.0)
    lead = tamlor.Sampler(looped(tamlor.SquareOscillator(440.0, 0.3), 4400, 69), sample_rate=RATE)
    bass = tamlor.Sampler(looped(tamlor.SawOscillator(55.0, 0.5), 4410, 33), sample_rate=RATE)
    zones = tamlor.SampleMap()
    zones.add_mapping(tamlor.SampleMapping(looped(tamlor.SawOscillator(220.0, 0.2), 4410, 57), 0, 63, 0, 127))
    zones.add_mapping(tamlor.SampleMapping(looped(tamlor.SineOscillator(440.0, 0.3), 4410, 69), 64, 127, 0, 127))
    decay = [math.exp(-i / 2000.0) for i in range(8000)]
    hit = tamlor.NoiseSource(0.5, seed=3).render_to_buffer(8000)
    drum = tamlor.Sampler(tamlor.AudioSample([2.0 * x * d + 0.5 * d for x, d in zip(hit, decay)]),
                          sample_rate=RATE)
    env = tamlor.Envelope(0.005, 0.1, 0.7, 0.1)
    tracks = [
        (song.add_track("Lead", lead, gain=0.6, pan=-0.3, envelope=env), 600, 0.8, 60),
        (song.add_track("Bass", bass, gain=0.9, envelope=env), 300, 0.9, 36),
        (song.add_track("Chords", zones, gain=0.5, pan=0.3, envelope=env, max_voices=6), 400, 0.9, 55),
    ]
    # The drums: a looping pattern of 128 sixteenths with 25 hits, 8 times over.
    pattern = tamlor.Pattern(128)
    for i in range(25):
        pattern.set_step(i * 5, tamlor.Step(60 + i % 5, 100, 1))
    song.add_track("Drums", drum, gain=0.7, pan=0.1, max_voices=4).add_pattern(pattern, 0.25, end_beat=256.0)
    for track, count, length, low in tracks:
        spacing = 256.0 / count
        track.add_notes([(i * spacing, length * spacing, low + (i * 7) % 17, 70 + i % 50) for i in range(count)])
    return song


def render_blocks(song: tamlor_song.Song, frames: int) -> None:
    out = array.array("f", bytes(8 * BLOCK))
    render_into = song.render_into
    for _ in range(frames // BLOCK):
        render_into(out)


class _RecordingMixer:
    def __init__(self, mixer: tamlor.Mixer, trace: list[tuple[Callable[..., None], tuple[Any, ...]]]) -> None:
        self._mixer, self._trace = mixer, trace

    def __getattr__(self, name: str) -> Any:
        return getattr(self._mixer, name)

    def mix_down_into(self, out: Any, buffers: list[memoryview]) -> None:
        self._trace.append((self._mixer.mix_down_into, (out, list(buffers))))
        self._mixer.mix_down_into(out, buffers)


def native_trace(frames: int) -> tuple[tamlor_song.Song, list[tuple[Callable[..., None], tuple[Any, ...]]]]:
    """The song of `piece`, rendered in blocks with every native call it makes
    recorded as (callable, arguments), and the song ready to replay them."""
    song = piece()
    trace: list[tuple[Callable[..., None], tuple[Any, ...]]] = []

    def recording(fn: Callable[..., None]) -> Callable[..., None]:
        def call(*args: Any) -> None:
            trace.append((fn, args))
            fn(*args)
        return call

    song._renders = [recording(f) for f in song._renders]
    # Voice handles differ between the traced run and a replay (the samplers
    # count on), so the replay maps each traced handle to the one it got.
    handles: dict[int, int] = {}
    for track in song._tracks:
        if isinstance(track.instrument, tamlor.SampleMap):
            # The zone lookup is the layer's work; the note start is native.
            find, play = track.instrument.find_sample, track.sampler.note_on_sample
            zones: dict[tuple[int, int], Any] = {}

            def zone_on(note: int, velocity: int, find: Any = find, play: Any = play,
                        zones: Any = zones) -> Optional[int]:
                sample = zones.get((note, velocity)) or zones.setdefault((note, velocity), find(note, velocity))
                handle: Optional[int] = play(note, velocity, sample)
                if handle is not None:
                    trace.append((replay_start, (play, handle, note, velocity, sample)))
                return handle
            track._start = zone_on
        else:
            def plain_on(note: int, velocity: int, play: Any = track._start) -> Optional[int]:
                handle: Optional[int] = play(note, velocity)
                if handle is not None:
                    trace.append((replay_start, (play, handle, note, velocity)))
                return handle
            track._start = plain_on

        def release(handle: int, fn: Any = track._release) -> bool:
            trace.append((replay_release, (fn, handle)))
            return bool(fn(handle))
        track._release = release

    def replay_start(play: Any, traced: int, *args: Any) -> None:
        handles[traced] = play(*args)

    def replay_release(fn: Any, traced: int) -> None:
        fn(handles.get(traced, 0))

    setattr(song, "_mixer", _RecordingMixer(song._mixer, trace))
    # Blocks without a note start or stop render every track in one pass.
    render_into = tamlor_song.song._render_into

    def render_recorded(sampler: tamlor.Sampler, out: Any) -> None:
        trace.append((sampler.render_into, (out,)))
        sampler.render_into(out)
    setattr(tamlor_song.song, "_render_into", render_recorded)
    try:
        render_blocks(song, frames)
    finally:
        tamlor_song.song._render_into = render_into
    return song, trace


def replay(trace: list[tuple[Callable[..., None], tuple[Any, ...]]]) -> None:
    for fn, args in trace:
        fn(*args)


def main() -> list[str]:
    song = piece()
    length = song.length_beats()
    assert length is not None  # the piece has notes
    frames = song.frame_at(length) // BLOCK * BLOCK
    seconds = frames / RATE
    traced, trace = native_trace(frames)
    # The first block also schedules the whole song (every note's frame from
    # the tempo map): timed apart from the blocks that follow.
    first = next(i for i, (fn, _) in enumerate(trace) if getattr(fn, "__name__", "") == "mix_down_into") + 1
    block = array.array("f", bytes(8 * BLOCK))
    whole = array.array("f", bytes(8 * frames))
    inf = math.inf
    best = {"layer first": inf, "layer rest": inf, "native first": inf, "native rest": inf, "one call": inf}
    for _ in range(9):
        song.reset()
        t0 = time.perf_counter()
        song.render_into(block)
        t1 = time.perf_counter()
        render_blocks(song, frames - BLOCK)
        t2 = time.perf_counter()
        traced.reset()
        replay(trace[:first])
        t3 = time.perf_counter()
        replay(trace[first:])
        t4 = time.perf_counter()
        song.reset()
        song.render_into(whole)
        t5 = time.perf_counter()
        for name, t in (("layer first", t1 - t0), ("layer rest", t2 - t1), ("native first", t3 - t2),
                        ("native rest", t4 - t3), ("one call", t5 - t4)):
            best[name] = min(best[name], t)
    blocks = frames // BLOCK
    print(f"Song of 1,500 notes on 4 tracks, {seconds:.1f} s of audio, {blocks} blocks of {BLOCK} frames:")
    failures = []
    in_blocks = best["layer first"] + best["layer rest"]
    for name, t in ((f"blocks of {BLOCK} frames", in_blocks), ("one call", best["one call"])):
        speed = seconds / t
        over = speed < 300.0
        print(f"  times faster than real time, {name:<20} {speed:8.0f}x  (at least 300x){'  UNDER' if over else ''}")
        if over:
            failures.append(f"song speed, {name}")
    native = best["native first"] + best["native rest"]
    scheduling = best["layer first"] - best["native first"]
    print(f"  scheduling every note (in the first block), share of the native work: {scheduling / native:6.1%}")
    print()
    rows = [("native calls replayed", best["native rest"], None),
            ("song.render_into, blocks of 512", best["layer rest"], 1.2),
            ("the same, with the first block's scheduling", in_blocks * best["native rest"] / native, None)]
    failures += report(f"Blocks 2 to {blocks} ({(len(trace) - first) / (blocks - 1):.1f} native calls per block; "
                       "ratio to the same native calls replayed):", rows, "native calls replayed")
    return failures


if __name__ == "__main__":
    sys.exit(1 if main() else 0)
