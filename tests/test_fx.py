"""The effects module: exact and block-size independent processing, each
effect measured from the audio it makes (responses, decay times, curves),
bad input refused with nothing changed, and state that copies and pickles."""
import array
import copy
import math
import pickle

import numpy as np
import pytest

import tamlor_fx as fx

SR = 44100
KINDS = ["lowpass", "highpass", "bandpass", "notch", "peak", "lowshelf", "highshelf", "allpass"]


def noise(frames, channels=2, scale=0.5, seed=1):
    rng = np.random.default_rng(seed)
    return (rng.standard_normal((frames, channels)) * scale).astype(np.float32)


def impulse(frames, channels=2, value=1.0):
    x = np.zeros((frames, channels), np.float32)
    x[0] = value
    return x


def every_effect(channels=2):
    yield fx.Filter("peak", frequency=900.0, q=2.0, gain_db=9.0, channels=channels)
    yield fx.Delay(time=0.0123, feedback=0.6, mix=0.4, channels=channels, max_time=0.1)
    if channels == 2:
        yield fx.Delay(time=0.01, feedback=0.5, mix=0.5, channels=2, max_time=0.1, ping_pong=True)
        yield fx.Reverb(decay=0.8, predelay=0.01, damping=0.3, width=0.8, mix=0.4)
    yield fx.Compressor(threshold_db=-20.0, ratio=6.0, attack=0.002, release=0.05, knee_db=8.0, makeup_db=3.0,
                        channels=channels)
    yield fx.Limiter(ceiling_db=-6.0, release=0.02, lookahead=0.003, channels=channels)


def in_blocks(effect, signal, sizes):
    out = signal.copy()
    flat = out.reshape(-1)
    ch = signal.shape[1]
    at = 0
    i = 0
    while at < len(signal):
        n = min(sizes[i % len(sizes)], len(signal) - at)
        effect.process_into(flat[at * ch:(at + n) * ch])
        at += n
        i += 1
    return out


# ---------------------------------------------------------------------------
# Exact and deterministic


@pytest.mark.parametrize("channels", [1, 2])
def test_block_size_does_not_change_a_bit(channels):
    signal = noise(9000, channels, scale=0.8)
    signal[3000:3100] *= 8.0  # something for the dynamics to catch
    rng = np.random.default_rng(7)
    splits = [[1], [64], [333], [512], [4096], list(rng.integers(1, 700, 50))]
    for effect in every_effect(channels):
        whole = signal.copy()
        reference = copy.deepcopy(effect)
        reference.process_into(whole)
        for sizes in splits:
            out = in_blocks(copy.deepcopy(effect), signal, sizes)
            assert np.array_equal(out, whole), (effect, sizes[:3])


def test_parameter_changes_glide_and_stay_block_independent():
    signal = noise(6000)
    changes = {
        "Filter": [("frequency", 3000.0), ("q", 5.0), ("gain_db", -12.0)],
        "Delay": [("time", 0.02), ("feedback", 0.2), ("mix", 0.9)],
        "Reverb": [("decay", 2.5), ("damping", 0.9), ("width", 0.2), ("mix", 0.7), ("predelay", 0.03)],
        "Compressor": [("threshold_db", -30.0), ("ratio", 2.0), ("knee_db", 0.0), ("makeup_db", 6.0)],
        "Limiter": [("ceiling_db", -12.0)],
    }

    def run(effect, sizes):
        out = signal.copy()
        first = in_blocks(effect, out[:2500], sizes)
        for name, value in changes[type(effect).__name__]:
            setattr(effect, name, value)
        second = in_blocks(effect, out[2500:], sizes)
        return np.concatenate([first, second])

    for effect in every_effect():
        whole = run(copy.deepcopy(effect), [10**6])
        assert np.array_equal(run(copy.deepcopy(effect), [1]), whole)
        assert np.array_equal(run(copy.deepcopy(effect), [97, 512]), whole)
    # A step in gain glides over 5 ms instead of jumping.
    f = fx.Filter("peak", frequency=1000.0, q=1.0, gain_db=0.0, channels=1)
    x = np.ones(2000, np.float32)
    f.process_into(x)
    f.gain_db = 20.0
    y = np.ones(2000, np.float32)
    f.process_into(y)
    assert np.max(np.abs(np.diff(y[:400]))) < 0.1


def test_process_list_matches_process_into_and_both_layouts_agree():
    for effect in every_effect():
        signal = noise(1000)
        a, b, c = copy.deepcopy(effect), copy.deepcopy(effect), copy.deepcopy(effect)
        flat = signal.reshape(-1).copy()
        a.process_into(flat)
        shaped = signal.copy()
        b.process_into(shaped)
        listed = c.process(signal.reshape(-1).tolist())
        assert np.array_equal(flat, shaped.reshape(-1))
        assert listed == flat.tolist()
        arr = array.array("f", signal.reshape(-1).tolist())
        copy.deepcopy(effect).process_into(arr)
        assert list(arr) == listed


# ---------------------------------------------------------------------------
# Filter


def cookbook(kind, f0, q, gain_db, fs):
    w0 = 2 * math.pi * f0 / fs
    c, s = math.cos(w0), math.sin(w0)
    al = s / (2 * q)
    A = 10 ** (gain_db / 40)
    sq = 2 * math.sqrt(A) * al
    table = {
        "lowpass": ([(1 - c) / 2, 1 - c, (1 - c) / 2], [1 + al, -2 * c, 1 - al]),
        "highpass": ([(1 + c) / 2, -(1 + c), (1 + c) / 2], [1 + al, -2 * c, 1 - al]),
        "bandpass": ([al, 0, -al], [1 + al, -2 * c, 1 - al]),
        "notch": ([1, -2 * c, 1], [1 + al, -2 * c, 1 - al]),
        "allpass": ([1 - al, -2 * c, 1 + al], [1 + al, -2 * c, 1 - al]),
        "peak": ([1 + al * A, -2 * c, 1 - al * A], [1 + al / A, -2 * c, 1 - al / A]),
        "lowshelf": ([A * ((A + 1) - (A - 1) * c + sq), 2 * A * ((A - 1) - (A + 1) * c), A * ((A + 1) - (A - 1) * c - sq)],
                     [(A + 1) + (A - 1) * c + sq, -2 * ((A - 1) + (A + 1) * c), (A + 1) + (A - 1) * c - sq]),
        "highshelf": ([A * ((A + 1) + (A - 1) * c + sq), -2 * A * ((A - 1) + (A + 1) * c), A * ((A + 1) + (A - 1) * c - sq)],
                      [(A + 1) - (A - 1) * c + sq, 2 * ((A - 1) - (A + 1) * c), (A + 1) - (A - 1) * c - sq]),
    }
    return table[kind]


def response_db(b, a, freqs, fs):
    z = np.exp(-1j * 2 * np.pi * freqs / fs)
    h = (b[0] + b[1] * z + b[2] * z * z) / (a[0] + a[1] * z + a[2] * z * z)
    return 20 * np.log10(np.abs(h))


@pytest.mark.parametrize("fs", [44100, 96000])
@pytest.mark.parametrize("kind", KINDS)
def test_filter_magnitude_follows_the_cookbook_within_a_hundredth_db(kind, fs):
    size = 1 << 17
    # 100 log-spaced frequencies, each moved to the nearest bin of the FFT.
    bins = np.round(np.geomspace(20.0, 0.45 * fs, 100) * size / fs).astype(int)
    freqs = bins * fs / size
    for f0, q, gain in [(1000.0, 0.707, 6.0), (150.0, 4.0, -9.0), (0.3 * fs, 0.5, 12.0)]:
        f = fx.Filter(kind, frequency=f0, q=q, gain_db=gain, sample_rate=fs, channels=1)
        h = np.zeros(size, np.float32)
        h[0] = 1.0
        f.process_into(h)
        measured = 20 * np.log10(np.abs(np.fft.rfft(h.astype(np.float64))[bins]))
        analytic = response_db(*cookbook(kind, f0, q, gain, fs), freqs, fs)
        audible = analytic > -60
        assert np.max(np.abs(measured - analytic)[audible]) < 0.01, (f0, q, gain)


def test_filter_clamps_to_the_stable_range_and_stays_stable():
    f = fx.Filter("lowpass", frequency=1e9, q=1000.0, gain_db=500.0, sample_rate=SR, channels=1)
    assert (f.frequency, f.q, f.gain_db) == (0.49 * SR, 40.0, 60.0)
    f.frequency = 1.0
    f.q = 0.0
    assert (f.frequency, f.q) == (10.0, 0.1)
    for kind in KINDS:
        for fr, q in [(10.0, 40.0), (0.49 * SR, 40.0), (10.0, 0.1), (0.49 * SR, 0.1)]:
            g = fx.Filter(kind, frequency=fr, q=q, gain_db=60.0, channels=1)
            x = noise(SR, 1, scale=1.0)[:, 0].copy()
            g.process_into(x)
            tail = np.zeros(g.tail_frames + 10, np.float32)
            g.process_into(tail)
            assert np.all(np.isfinite(x)) and abs(tail[-1]) < 1e-3 * max(1.0, np.max(np.abs(x)))


# ---------------------------------------------------------------------------
# Delay


def test_delay_repeats_land_on_whole_frames_each_feedback_times_the_last():
    d = fx.Delay(time=100 / SR, feedback=0.5, mix=1.0, sample_rate=SR, channels=1, max_time=0.01)
    x = impulse(1000, 1)[:, 0].copy()
    d.process_into(x)
    hits = np.nonzero(x)[0]
    assert list(hits[:5]) == [100, 200, 300, 400, 500]
    fb = 0.5
    for k in range(1, 9):
        assert x[100 * (k + 1)] == np.float32(fb * x[100 * k])
    dry = fx.Delay(time=0.001, feedback=0.3, mix=0.0, channels=1)
    y = noise(500, 1)[:, 0].copy()
    z = y.copy()
    dry.process_into(z)
    assert np.array_equal(y, z)


def test_delay_fractional_time_interpolates_and_ping_pong_alternates():
    d = fx.Delay(time=10.25 / 1000, feedback=0.0, mix=1.0, sample_rate=1000, channels=1, max_time=1.0)
    x = impulse(30, 1)[:, 0].copy()
    d.process_into(x)
    assert x[10] == np.float32(0.75) and x[11] == np.float32(0.25) and np.sum(x != 0) == 2
    p = fx.Delay(time=0.01, feedback=0.5, mix=1.0, sample_rate=1000, channels=2, max_time=1.0, ping_pong=True)
    y = np.zeros((60, 2), np.float32)
    y[0, 0] = 1.0
    p.process_into(y)
    assert y[10].tolist() == [1.0, 0.0] and y[20].tolist() == [0.0, 0.5] and y[30].tolist() == [0.25, 0.0]
    assert p.tail_frames >= 10 * 11


# ---------------------------------------------------------------------------
# Reverb


def rt60(y, fs):
    e = (y.astype(np.float64) ** 2).sum(axis=1)
    edc = np.cumsum(e[::-1])[::-1]
    edc_db = 10 * np.log10(edc / edc[0] + 1e-300)
    i5, i35 = int(np.argmax(edc_db < -5)), int(np.argmax(edc_db < -35))
    t = np.arange(len(e)) / fs
    slope = np.polyfit(t[i5:i35], edc_db[i5:i35], 1)[0]
    return -60 / slope


@pytest.mark.parametrize("decay", [0.3, 1.0, 3.0, 10.0])
def test_reverb_decay_time_left_right_decorrelated(decay):
    for damping in (0.0, 0.5, 1.0):
        r = fx.Reverb(decay=decay, predelay=0.0, damping=damping, width=1.0, mix=1.0)
        y = impulse(int(SR * decay * 1.2) + SR // 2)
        r.process_into(y)
        assert abs(rt60(y, SR) / decay - 1) < 0.1, damping
        assert abs(np.corrcoef(y[:, 0], y[:, 1])[0, 1]) < 0.3
        assert r.tail_frames >= decay * SR


def test_reverb_tail_has_no_dominant_mode():
    r = fx.Reverb(decay=3.0, predelay=0.0, damping=0.0, mix=1.0)
    y = impulse(4 * SR)
    r.process_into(y)
    for side in (0, 1):
        # Welch's average of the tail's spectrum; each bin against the mean
        # of the 56 bins around it.
        tail = y[SR // 5:3 * SR, side].astype(np.float64)
        seg = 4096
        window = np.hanning(seg)
        power = np.zeros(seg // 2 + 1)
        for start in range(0, len(tail) - seg, seg // 2):
            power += np.abs(np.fft.rfft(tail[start:start + seg] * window)) ** 2
        db = 10 * np.log10(power + 1e-30)
        worst = 0.0
        for i in range(30, len(db) - 30):
            neighbours = np.concatenate([power[i - 30:i - 2], power[i + 3:i + 31]])
            worst = max(worst, db[i] - 10 * np.log10(np.mean(neighbours)))
        assert worst < 12.0, side


def test_reverb_width_zero_is_mono_and_predelay_delays():
    r = fx.Reverb(decay=0.5, predelay=0.05, width=0.0, mix=1.0)
    y = impulse(SR)
    r.process_into(y)
    assert np.array_equal(y[:, 0], y[:, 1])
    assert not np.any(y[:int(0.05 * SR) + 1000]) and np.any(y)


# ---------------------------------------------------------------------------
# Compressor


def soft_knee(x, t, r, w):
    if 2 * (x - t) < -w:
        return x
    if 2 * (x - t) > w:
        return t + (x - t) / r
    return x + (1 / r - 1) * (x - t + w / 2) ** 2 / (2 * w)


def test_compressor_static_curve_within_a_tenth_db():
    for t, r, w, makeup in [(-18.0, 4.0, 6.0, 0.0), (-30.0, 10.0, 12.0, 5.0), (-10.0, 2.0, 0.0, -3.0)]:
        for level in np.arange(-60.0, 0.5, 1.5):
            c = fx.Compressor(threshold_db=t, ratio=r, attack=0.001, release=0.01, knee_db=w, makeup_db=makeup,
                              channels=1)
            x = np.full(SR // 4, 10 ** (level / 20), np.float32)
            c.process_into(x)
            out_db = 20 * math.log10(float(x[-1]))
            assert abs(out_db - (soft_knee(level, t, r, w) + makeup)) < 0.1, (t, r, w, level)


def time_constant(gain_db, start, target):
    """Seconds until the gain has gone 1 - 1/e of the way from start to target."""
    mark = start + (target - start) * (1 - math.exp(-1))
    moved = (gain_db - mark) * (target - start) >= 0
    return int(np.argmax(moved)) / SR


def test_compressor_attack_and_release_time_constants_within_five_percent():
    for attack, release in [(0.005, 0.1), (0.02, 0.5), (0.001, 0.05)]:
        c = fx.Compressor(threshold_db=-40.0, ratio=100.0, attack=attack, release=release, knee_db=0.0, channels=1)
        loud = np.full(int(SR * attack * 20), 1.0, np.float32)
        c.process_into(loud)
        reduction = float(c.reduction_db)
        quiet_level = 10 ** (-60 / 20)
        quiet = np.full(int(SR * release * 20), quiet_level, np.float32)
        c.process_into(quiet)
        gain_up = 20 * np.log10(loud.astype(np.float64))
        gain_down = 20 * np.log10(quiet.astype(np.float64) / quiet_level)
        assert abs(time_constant(gain_up, 0.0, reduction) / attack - 1) < 0.05
        assert abs(time_constant(gain_down, reduction, 0.0) / release - 1) < 0.05


# ---------------------------------------------------------------------------
# Limiter


def test_limiter_never_exceeds_the_ceiling_over_ten_minutes_of_hot_input():
    lim = fx.Limiter(ceiling_db=-0.3, release=0.05, lookahead=0.005)
    ceiling = 10 ** (-0.3 / 20)
    rng = np.random.default_rng(3)
    block = SR * 10
    worst = 0.0
    for i in range(60):
        gains = 10 ** (rng.uniform(-20, 24, block // 512 + 1) / 20)
        x = (rng.uniform(-1, 1, (block, 2)) * np.repeat(gains, 512)[:block, None]).astype(np.float32)
        if i % 7 == 0:
            x[rng.integers(0, block, 50)] = 10 ** (24 / 20)  # lone full-size spikes
        lim.process_into(x)
        worst = max(worst, float(np.max(np.abs(x))))
    assert worst <= ceiling


def test_limiter_below_the_ceiling_is_the_input_delayed_bit_for_bit():
    for lookahead in (0.0, 0.005, 0.02):
        lim = fx.Limiter(ceiling_db=-1.0, lookahead=lookahead)
        delay = lim.lookahead_frames
        assert delay == int(lookahead * SR + 0.5) and lim.tail_frames == delay
        x = noise(20000, scale=0.2)
        x = np.clip(x, -0.89, 0.89)
        y = x.copy()
        lim.process_into(y)
        assert np.array_equal(y[delay:], x[:len(x) - delay]) and not np.any(y[:delay])


def test_limiter_recovers_to_exact_pass_through_after_a_peak():
    lim = fx.Limiter(ceiling_db=-6.0, release=0.01, lookahead=0.002)
    loud = noise(2000, scale=2.0)
    lim.process_into(loud)
    x = noise(SR, scale=0.1, seed=9)
    y = x.copy()
    lim.process_into(y)
    d = lim.lookahead_frames
    assert np.array_equal(y[SR // 2:], x[SR // 2 - d:len(x) - d])


# ---------------------------------------------------------------------------
# Denormals, NaN, reset


def test_no_subnormal_numbers_after_a_burst_and_nan_does_not_survive_reset():
    tiny = np.finfo(np.float32).tiny
    for effect in every_effect():
        burst = noise(4000, scale=1.0)
        effect.process_into(burst)
        silence = np.zeros((SR * 2, 2), np.float32)
        effect.process_into(silence)
        sub = (silence != 0) & (np.abs(silence) < tiny)
        assert not np.any(sub), effect
        bad = noise(100)
        bad[10, 0] = np.nan
        effect.process_into(bad)
        effect.reset()
        # reset() returns to the state of a new effect with the same settings.
        fresh = type(effect)(*effect.__reduce__()[1])
        a, b = noise(2000, seed=4), noise(2000, seed=4)
        effect.process_into(a)
        fresh.process_into(b)
        assert np.all(np.isfinite(a)) and np.array_equal(a, b), effect


# ---------------------------------------------------------------------------
# Copy and pickle


def test_copy_and_pickle_mid_tail_continue_with_the_same_bits():
    for effect in every_effect():
        effect.process_into(noise(3000))
        if hasattr(effect, "mix"):
            effect.mix = 0.9  # mid-glide too
        twins = [copy.copy(effect), copy.deepcopy(effect), pickle.loads(pickle.dumps(effect)),
                 pickle.loads(pickle.dumps(effect, protocol=0))]
        x = noise(3000, seed=5)
        expected = x.copy()
        effect.process_into(expected)
        for twin in twins:
            assert type(twin) is type(effect) and repr(twin) == repr(effect)
            y = x.copy()
            twin.process_into(y)
            assert np.array_equal(y, expected)


def test_a_damaged_state_is_refused_and_changes_nothing():
    d = fx.Delay(time=0.01, max_time=0.02, channels=1)
    func, args, state = d.__reduce__()
    for bad in [b"", state[:-1], state + b"\0", 42, b"\xff" * len(state)]:
        with pytest.raises((TypeError, ValueError)):
            d.__setstate__(bad)
    x = noise(100, 1)[:, 0].copy()
    y = x.copy()
    d.process_into(x)
    fx.Delay(time=0.01, max_time=0.02, channels=1).process_into(y)
    assert np.array_equal(x, y)


# ---------------------------------------------------------------------------
# Bad input


@pytest.mark.parametrize("make, error", [
    (lambda: fx.Filter("bandstop"), ValueError),
    (lambda: fx.Filter(3), TypeError),
    (lambda: fx.Filter("lowpass", frequency=float("nan")), ValueError),
    (lambda: fx.Filter("lowpass", q=float("inf")), ValueError),
    (lambda: fx.Filter("lowpass", sample_rate=0), ValueError),
    (lambda: fx.Filter("lowpass", channels=3), ValueError),
    (lambda: fx.Filter("lowpass", channels=-1), OverflowError),
    (lambda: fx.Filter("lowpass", sample_rate=2**40), OverflowError),
    (lambda: fx.Delay(time=-0.1), ValueError),
    (lambda: fx.Delay(time=5.0, max_time=4.0), ValueError),
    (lambda: fx.Delay(max_time=1e9), ValueError),
    (lambda: fx.Delay(channels=1, ping_pong=True), ValueError),
    (lambda: fx.Delay(feedback="a lot"), TypeError),
    (lambda: fx.Reverb(decay=0.0), ValueError),
    (lambda: fx.Reverb(predelay=-1.0), ValueError),
    (lambda: fx.Reverb(mix=float("nan")), ValueError),
    (lambda: fx.Compressor(attack=0.0), ValueError),
    (lambda: fx.Compressor(release=-1.0), ValueError),
    (lambda: fx.Compressor(ratio=float("nan")), ValueError),
    (lambda: fx.Limiter(lookahead=-0.001), ValueError),
    (lambda: fx.Limiter(lookahead=2.0), ValueError),
    (lambda: fx.Limiter(ceiling_db=float("-inf")), ValueError),
    # Lines that would not fit in memory, or whose length would not fit in
    # their counters, are refused before anything is allocated.
    (lambda: fx.Limiter(lookahead=1.0, sample_rate=2**32 - 1), ValueError),
    (lambda: fx.Delay(max_time=3600.0, sample_rate=2**32 - 1), ValueError),
    (lambda: fx.Reverb(sample_rate=2**32 - 1), ValueError),
])
def test_impossible_settings_are_refused(make, error):
    with pytest.raises(error):
        make()


def test_bad_buffers_and_values_are_refused_with_nothing_changed():
    for effect in every_effect():
        before = copy.deepcopy(effect)
        for bad, error in [
            (np.zeros((2, 512), np.float32), ValueError),
            (np.zeros((512, 3), np.float32), ValueError),
            (np.zeros(513, np.float32), ValueError),
            (np.zeros((512, 2), np.float64), TypeError),
            (np.zeros((512, 2), np.int16), TypeError),
            (np.zeros((4, 4, 2), np.float32), ValueError),
            (np.zeros((512, 2), np.float32)[::2], TypeError),
            (bytes(4096), TypeError),
            ([0.0] * 1024, TypeError),
            ("abc", TypeError),
        ]:
            with pytest.raises(error):
                effect.process_into(bad)
        ro = np.zeros((512, 2), np.float32)
        ro.flags.writeable = False
        with pytest.raises(TypeError):
            effect.process_into(ro)
        with pytest.raises(ValueError):
            effect.process([0.0] * 3)
        with pytest.raises(TypeError):
            effect.process([0.0, "x"])
        for name in [n for n in ("frequency", "time", "decay", "threshold_db", "ceiling_db") if hasattr(effect, n)]:
            with pytest.raises(ValueError):
                setattr(effect, name, float("nan"))
            with pytest.raises(TypeError):
                setattr(effect, name, "loud")
            with pytest.raises(AttributeError):
                delattr(effect, name)
        assert repr(effect) == repr(before)
        a, b = noise(700), noise(700)
        effect.process_into(a)
        before.process_into(b)
        assert np.array_equal(a, b)


def test_reentrant_sample_conversion_cannot_touch_the_effect():
    f = fx.Filter("lowpass", channels=1)

    class Sneaky:
        def __float__(self) -> float:
            f.reset()
            return 0.5

    with pytest.raises(RuntimeError):
        f.process([Sneaky()] * 4)


def test_every_effect_member_is_in_the_stubs_with_a_docstring():
    import ast
    import pathlib

    stubs = pathlib.Path(__file__).resolve().parent.parent / "tamlor_fx-stubs" / "__init__.pyi"
    tree = ast.parse(stubs.read_text(encoding="utf-8"))
    documented = {}
    for node in tree.body:
        if isinstance(node, ast.ClassDef) and not node.name.startswith("_"):
            members = {}
            for item in node.body:
                if isinstance(item, ast.FunctionDef):
                    members.setdefault(item.name, ast.get_docstring(item))
            documented[node.name] = (ast.get_docstring(node), members)
    assert list(documented) == fx.__all__
    for name in fx.__all__:
        doc, members = documented[name]
        assert doc and len(doc) > 40
        runtime = set(vars(getattr(fx, name))) - {"__doc__", "__module__", "__new__", "__repr__"}
        missing = sorted(m for m in runtime if not members.get(m))
        assert not missing, (name, missing)
