"""TransportClock: tempo, position, ticks and the three-state transport."""
import math

import pytest

import tamlor

NAN = float("nan")
INF = float("inf")


def test_new_clock():
    clock = tamlor.TransportClock()
    assert (clock.bpm, clock.position, clock.ticks_per_beat, clock.state) == (120.0, 0.0, 480, "stopped")
    assert repr(clock) == "TransportClock(bpm=120.0, position=0.000, state='stopped')"
    assert str(clock) == repr(clock)


@pytest.mark.parametrize("setup", ["stopped", "paused"])
def test_advance_only_while_playing(setup):
    clock = tamlor.TransportClock()
    clock.seek(1.0)
    if setup == "paused":
        clock.pause()
    assert clock.advance_by_frames(44100, 44100) is None
    assert clock.position == 1.0


def test_consecutive_blocks_adjoin():
    clock = tamlor.TransportClock()
    clock.play()
    assert clock.advance_by_frames(44100, 44100) == (0.0, 2.0)
    assert clock.advance_by_frames(44100, 44100) == (2.0, 4.0)
    assert clock.position == 4.0
    clock = tamlor.TransportClock()
    clock.play()
    start, end = clock.advance_by_frames(512, 44100)
    assert (start, end) == (0.0, 0.023219954648526078)
    prev = end
    for _ in range(100):
        s, e = clock.advance_by_frames(512, 44100)
        assert s == prev
        prev = e


def test_block_arithmetic_is_done_in_the_stated_order():
    for bpm in (133.0, 97.3, 61.7):
        clock = tamlor.TransportClock(bpm)
        clock.seek(0.1)
        clock.play()
        d = 441.0 / 48000.0
        d = d * bpm
        d = d / 60.0
        assert clock.advance_by_frames(441, 48000) == (0.1, d + 0.1)


def test_zero_sample_rate_is_not_rejected():
    clock = tamlor.TransportClock()
    clock.play()
    assert clock.advance_by_frames(1, 0) == (0.0, INF)
    clock.stop()
    clock.play()
    start, end = clock.advance_by_frames(0, 0)
    assert start == 0.0 and math.isnan(end)
    assert math.isnan(clock.position)
    assert repr(clock) == "TransportClock(bpm=120.0, position=NaN, state='playing')"


def test_transport_state_machine():
    clock = tamlor.TransportClock()
    clock.pause()
    assert clock.state == "paused" and clock.position == 0.0
    clock.play()
    clock.advance_by_frames(44100, 44100)
    clock.pause()
    assert clock.state == "paused" and clock.position == 2.0
    clock.play()
    assert clock.advance_by_frames(44100, 44100) == (2.0, 4.0)
    for state_change in (clock.play, clock.pause, clock.stop):
        clock.seek(5.0)
        state_change()
        clock.stop()
        assert clock.state == "stopped" and clock.position == 0.0


@pytest.mark.parametrize("beat,expected", [(-3.5, 0.0), (NAN, 0.0), (7.25, 7.25), (-INF, 0.0), (INF, INF), (-0.0, 0.0)])
def test_seek(beat, expected):
    for state in ("stopped", "playing", "paused"):
        clock = tamlor.TransportClock()
        getattr(clock, {"stopped": "stop", "playing": "play", "paused": "pause"}[state])()
        clock.seek(beat)
        assert clock.position == expected
        assert math.copysign(1.0, clock.position) == 1.0
        assert clock.state == state


def test_bpm_clamping():
    for value in (0.5, -10, NAN, -INF, 0):
        clock = tamlor.TransportClock()
        clock.bpm = value
        assert clock.bpm == 1.0
    clock = tamlor.TransportClock()
    clock.bpm = INF
    assert clock.bpm == INF
    assert tamlor.TransportClock(0.5).bpm == 0.5
    assert tamlor.TransportClock(-3).bpm == -3.0
    assert math.isnan(tamlor.TransportClock(NAN).bpm)


def test_repr_of_unusual_tempos():
    assert repr(tamlor.TransportClock(NAN)) == "TransportClock(bpm=NaN, position=0.000, state='stopped')"
    assert repr(tamlor.TransportClock(INF)) == "TransportClock(bpm=inf, position=0.000, state='stopped')"
    assert repr(tamlor.TransportClock(-INF)) == "TransportClock(bpm=-inf, position=0.000, state='stopped')"
    clock = tamlor.TransportClock()
    clock.bpm = 133.333
    clock.seek(1.23456)
    assert repr(clock) == "TransportClock(bpm=133.3, position=1.235, state='stopped')"
    clock.seek(1e20)
    assert repr(clock) == "TransportClock(bpm=133.3, position=100000000000000000000.000, state='stopped')"


def test_time_conversions():
    clock = tamlor.TransportClock()
    assert clock.beats_to_seconds(1.0) == 0.5
    assert clock.seconds_to_beats(0.5) == 1.0
    clock = tamlor.TransportClock(0.0)
    assert clock.beats_to_seconds(1.0) == INF
    assert math.isnan(clock.beats_to_seconds(0.0))
    clock = tamlor.TransportClock(97.0)
    assert clock.beats_to_seconds(3.3) == (3.3 * 60.0) / 97.0
    assert clock.seconds_to_beats(3.3) == (3.3 * 97.0) / 60.0


def test_tick_conversions():
    clock = tamlor.TransportClock()
    assert clock.beats_to_ticks(1.0) == 480
    assert clock.beats_to_ticks(0.75 / 480) == 1
    assert clock.beats_to_ticks(2.5 / 480) == 3
    assert clock.beats_to_ticks(-1.0) == 0
    assert clock.beats_to_ticks(NAN) == 0
    assert clock.beats_to_ticks(INF) == 2**64 - 1
    assert clock.beats_to_ticks(1e30) == 2**64 - 1
    assert clock.ticks_to_beats(240) == 0.5
    assert clock.ticks_to_beats(2**53 + 1) == float(2**53) / 480
    clock.ticks_per_beat = 0
    assert clock.beats_to_ticks(12.5) == 0
    assert clock.ticks_to_beats(1) == INF
    assert math.isnan(clock.ticks_to_beats(0))


def test_conversions_ignore_transport_state():
    clock = tamlor.TransportClock(60.0)
    clock.play()
    clock.advance_by_frames(44100, 44100)
    assert clock.beats_to_seconds(2.0) == 2.0
    clock.ticks_per_beat = 96
    assert clock.beats_to_ticks(1.0) == 96


def test_ranges_handed_out_never_change():
    # A range the caller still holds is never refilled by a later call.
    clock = tamlor.TransportClock()
    clock.play()
    held = [clock.advance_by_frames(512, 44100) for _ in range(3)]
    clock.advance_by_frames(512, 44100)
    step = 0.023219954648526078
    assert held[0] == (0.0, step)
    assert held[1][0] == held[0][1] and held[2][0] == held[1][1]
    clock.seek(10.0)
    start, end = clock.advance_by_frames(512, 44100)
    assert start == 10.0 and held[2] != (start, end)
