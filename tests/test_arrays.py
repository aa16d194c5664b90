"""Audio as arrays: render_into, mix_down_into and buffers of floats read as
audio. The array road must give the list road's values bit for bit and the
same state changes; a bad buffer must be refused before anything changes."""
import array
import os
import subprocess
import sys

import numpy as np
import pytest

import tamlor
from conftest import interrupted_within, many_voice_sampler

F32 = np.float32


def bits(values):
    """32-bit patterns of a list or array of floats, for bit-for-bit equality."""
    return np.asarray(values, dtype=F32).view(np.uint32).tolist()


def unaligned(n):
    """A writable float view whose memory is not 4-byte aligned."""
    return memoryview(bytearray(4 * n + 1))[1:].cast("f")


def out_kinds(n):
    """Writable 32-bit float buffers of n elements, of every kind accepted."""
    big = np.full(n + 3, 7.0, dtype=F32)
    return {
        "numpy": np.full(n, 7.0, dtype=F32),
        "numpy slice": big[3:],
        "array": array.array("f", [7.0] * n),
        "memoryview": memoryview(bytearray(4 * n)).cast("f"),
        "unaligned": unaligned(n),
    }


def random_slices(rng, n):
    """Cut points 0 = c0 <= c1 <= ... <= n, empty slices included."""
    cuts = sorted(rng.integers(0, n + 1, size=int(rng.integers(0, 8))).tolist())
    return [0] + cuts + [n]


# ---------------------------------------------------------------------------
# Renderers: pairs of identical objects, one for each road.

def sample_data(rng, n=200):
    return (rng.standard_normal(n) * 0.5).astype(F32)


def make_sampler(seed):
    rng = np.random.default_rng(seed)
    sample = tamlor.AudioSample(sample_data(rng).tolist(), sample_rate=8000, root_note=60)
    sample.loop_start, sample.loop_end = 20, 180
    s = tamlor.Sampler(sample, sample_rate=11025, max_voices=4)
    s.set_envelope(tamlor.Envelope(0.002, 0.003, 0.6, 0.004))
    for note in rng.integers(40, 80, size=3):
        s.note_on(int(note), int(rng.integers(1, 128)))
    return s


def list_render(obj, n):
    return obj.render(n) if isinstance(obj, tamlor.Sampler) else obj.render_to_buffer(n)


def renderer_pairs(seed):
    rng = np.random.default_rng(seed)
    freq = float(rng.uniform(-3000.0, 20000.0))
    amp = float(rng.uniform(0.0, 2.0))
    rate = int(rng.integers(1, 96000))
    state = int(rng.integers(0, 2**63))
    makers = {
        "sine": lambda: tamlor.SineOscillator(freq, amp, rate),
        "square": lambda: tamlor.SquareOscillator(freq, amp, rate),
        "saw": lambda: tamlor.SawOscillator(freq, amp, rate),
        "noise": lambda: tamlor.NoiseSource(amp, state),
        "sampler": lambda: make_sampler(seed),
    }
    return {name: (make(), make()) for name, make in makers.items()}


KINDS = ["sine", "square", "saw", "noise", "sampler"]


def twins(kind, seed=1):
    return renderer_pairs(seed)[kind]


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("seed", range(6))
def test_render_into_random_slices_equals_one_list_render(kind, seed):
    rng = np.random.default_rng(100 + seed)
    array_road, list_road = twins(kind, seed)
    for _ in range(3):
        n = int(rng.integers(0, 700))
        out = np.full(n, np.nan, dtype=F32)
        cuts = random_slices(rng, n)
        for a, b in zip(cuts, cuts[1:]):
            assert array_road.render_into(out[a:b]) is None
        assert bits(out) == bits(list_render(list_road, n))
        assert repr(array_road) == repr(list_road)


@pytest.mark.parametrize("kind", KINDS)
def test_every_kind_of_buffer_gets_the_same_bits(kind):
    array_road, list_road = twins(kind, seed=9)
    for name, out in out_kinds(37).items():
        array_road.render_into(out=out)
        assert bits(out.tolist()) == bits(list_render(list_road, 37)), name
    assert repr(array_road) == repr(list_road)


def test_a_note_placed_between_slices_starts_on_its_frame():
    array_road, list_road = make_sampler(3), make_sampler(3)
    out = np.empty(512, dtype=F32)
    array_road.render_into(out[:137])
    array_road.note_on(72, 90)
    array_road.render_into(out[137:])
    expected = list_road.render(137)
    list_road.note_on(72, 90)
    expected += list_road.render(375)
    assert bits(out) == bits(expected)
    assert array_road.active_voice_count() == list_road.active_voice_count()


def test_render_into_of_nothing_changes_nothing():
    for kind in KINDS:
        array_road, list_road = twins(kind, seed=4)
        for empty in (np.empty(0, dtype=F32), array.array("f"), np.empty((5, 0), dtype=F32)[0]):
            array_road.render_into(empty)
        assert repr(array_road) == repr(list_road)
        assert bits(list_render(array_road, 64)) == bits(list_render(list_road, 64))


def read_only_floats():
    a = np.zeros(8, dtype=F32)
    a.flags.writeable = False
    return a


BAD_OUTS = [
    (np.zeros(8), TypeError, "not 'd'"),
    (np.zeros(8, dtype=np.int32), TypeError, "not 'i'"),
    (array.array("d", [0.0] * 8), TypeError, "not 'd'"),
    (bytes(32), TypeError, "not 'B'"),
    (bytearray(32), TypeError, "not 'B'"),
    (read_only_floats(), TypeError, "not a read-only buffer"),
    (memoryview(bytes(32)).cast("f"), TypeError, "not a read-only buffer"),
    (np.zeros(16, dtype=F32)[::2], TypeError, "not a non-contiguous buffer"),
    (np.zeros((8, 2), dtype=F32).T, TypeError, "not a non-contiguous buffer"),
    (np.zeros((4, 2), dtype=F32), ValueError, "one-dimensional, not 2-dimensional"),
    ([0.0] * 8, TypeError, "not list"),
    (None, TypeError, "not NoneType"),
    (8, TypeError, "not int"),
]


@pytest.mark.parametrize("kind", KINDS)
def test_bad_out_buffers_are_refused_before_anything_changes(kind):
    array_road, list_road = twins(kind, seed=5)
    array_road.render_into(np.empty(100, dtype=F32))
    list_render(list_road, 100)
    for out, exc, text in BAD_OUTS:
        with pytest.raises(exc, match=r"^out must be .*" + text.replace("(", r"\(")):
            array_road.render_into(out)
        assert repr(array_road) == repr(list_road)
    with pytest.raises(TypeError):
        array_road.render_into()
    with pytest.raises(TypeError):
        array_road.render_into(np.zeros(4, dtype=F32), 4)
    assert bits(list_render(array_road, 300)) == bits(list_render(list_road, 300))


# ---------------------------------------------------------------------------
# Mixing

def random_mixer(rng, channels):
    m = tamlor.Mixer()
    m.master_gain = float(rng.uniform(0.0, 2.0))
    for i in range(channels):
        m.add_channel(f"c{i}")
        m.set_channel_gain(i, float(rng.uniform(0.0, 2.0)))
        m.set_channel_pan(i, float(rng.uniform(-1.0, 1.0)))
        m.set_channel_mute(i, bool(rng.random() < 0.2))
        m.set_channel_solo(i, bool(rng.random() < 0.15))
    return m


@pytest.mark.parametrize("seed", range(8))
def test_mix_down_into_equals_mix_down(seed):
    rng = np.random.default_rng(seed)
    channels = int(rng.integers(1, 9))
    frames = int(rng.integers(0, 600))
    m = random_mixer(rng, channels)
    x = (rng.standard_normal((channels, frames)) * 2.0).astype(F32)
    expected = bits(m.mix_down(x.tolist()))
    inputs = {
        "2-D float32": x,
        "2-D float64": x.astype(np.float64),
        "2-D strided": np.repeat(x, 2, axis=1)[:, ::2],
        "rows": list(x),
        "rows as tuple": tuple(x),
        "float64 rows": [r.astype(np.float64) for r in x],
        "strided rows": [np.repeat(r, 3)[::3] for r in x],
        "array rows": [array.array("f", r.tolist()) for r in x],
        "lists": x.tolist(),
        "mixed": [r if i % 3 == 0 else r.tolist() if i % 3 == 1 else r.astype(np.float64)
                  for i, r in enumerate(x)],
    }
    for name, buffers in inputs.items():
        assert bits(m.mix_down(buffers)) == expected, name
        flat = np.full(2 * frames, np.nan, dtype=F32)
        assert m.mix_down_into(flat, buffers) is None
        assert bits(flat) == expected, name
        pairs = np.full((frames, 2), np.nan, dtype=F32)
        m.mix_down_into(pairs, buffers)
        assert bits(pairs.ravel()) == expected, name
    for name, out in out_kinds(2 * frames).items():
        m.mix_down_into(channel_buffers=x, out=out)
        assert bits(out.tolist()) == expected, name


def test_mix_down_into_keeps_mix_downs_rules_for_uneven_buffers():
    rng = np.random.default_rng(11)
    m = random_mixer(rng, 3)
    buffers = [rng.standard_normal(6).astype(F32), rng.standard_normal(2).astype(F32),
               rng.standard_normal(9).astype(F32)]
    out = np.empty(12, dtype=F32)
    m.mix_down_into(out, buffers)
    assert bits(out) == bits(m.mix_down([b.tolist() for b in buffers]))


def test_mix_down_into_reads_inputs_that_share_outs_memory():
    rng = np.random.default_rng(12)
    m = random_mixer(rng, 2)
    out = rng.standard_normal(8).astype(F32)
    buffers = [out[:4], out[4:]]
    expected = m.mix_down([b.tolist() for b in buffers])
    m.mix_down_into(out, buffers)
    assert bits(out) == bits(expected)
    block = rng.standard_normal((2, 4)).astype(F32)
    expected = m.mix_down(block.tolist())
    m.mix_down_into(block.reshape(-1), block)
    assert bits(block.reshape(-1)) == bits(expected)


def test_mix_down_into_of_no_channels_is_the_scaled_silence():
    m = tamlor.Mixer()
    out = np.full(6, 3.0, dtype=F32)
    m.mix_down_into(out, [])
    m.mix_down_into(np.empty((3, 2), dtype=F32), np.empty((0, 5), dtype=F32))
    assert out.tolist() == [0.0] * 6


MIX_ERRORS = [
    # (out, channel_buffers, exception, message pattern)
    (np.zeros(8), [[1.0] * 4] * 2, TypeError, r"^out must be .* not 'd'$"),
    (read_only_floats(), [[1.0] * 4] * 2, TypeError, r"^out must be .* not a read-only buffer$"),
    (np.zeros(16, dtype=F32)[::2], [[1.0] * 4] * 2, TypeError, r"^out must be .* non-contiguous buffer$"),
    (np.zeros(6, dtype=F32), [[1.0] * 4] * 2, ValueError, r"^out must hold 8 floats for 4-frame buffers, not shape \(6,\)$"),
    (np.zeros((2, 4), dtype=F32), [[1.0] * 4] * 2, ValueError, r"^out must hold interleaved .* not shape \(2, 4\)$"),
    (np.zeros(7, dtype=F32), [[1.0] * 4] * 2, ValueError, r"^out must hold interleaved"),
    (np.zeros((4, 2, 1), dtype=F32), [[1.0] * 4] * 2, ValueError, r"3-dimensional"),
    (np.zeros(8, dtype=F32), [[1.0] * 4] * 3, ValueError, r"^Expected 2 buffers, got 3$"),
    (np.zeros(8, dtype=F32), np.zeros((3, 4), dtype=F32), ValueError, r"^Expected 2 buffers, got 3$"),
    (np.zeros(8, dtype=F32), [[1.0] * 4, ["x"], [1.0]], TypeError, r"channel_buffers"),
    (np.zeros(8, dtype=F32), "ab", TypeError, r"channel_buffers"),
    (np.zeros(8, dtype=F32), [np.zeros(4, dtype=F32), None], TypeError, r"channel_buffers"),
    (np.zeros(8, dtype=F32), np.zeros((2, 4, 2), dtype=F32), TypeError, r"channel_buffers"),
]


@pytest.mark.parametrize("out,buffers,exc,pattern", MIX_ERRORS)
def test_bad_mix_down_into_arguments_leave_everything_as_it_was(out, buffers, exc, pattern):
    m = tamlor.Mixer()
    m.add_channel("a")
    m.add_channel("b")
    m.set_channel_mute(1, True)
    before_out = out.copy()
    before = repr(m)
    with pytest.raises(exc, match=pattern):
        m.mix_down_into(out, buffers)
    assert repr(m) == before
    assert np.array_equal(out, before_out)


def test_buffers_cannot_be_resized_while_they_are_in_use(reentrant):
    m = tamlor.Mixer()
    m.add_channel("a")
    m.add_channel("b")
    held = array.array("f", [0.5] * 4)
    out = array.array("f", [0.0] * 8)
    expected = m.mix_down([[0.5] * 4, [1.0] * 4])
    # out is held from the first check to the last write.
    grower = reentrant(lambda: out.extend([0.0] * 100_000), 1.0)
    with pytest.raises(BufferError):
        m.mix_down_into(out, [held, [grower, 1.0, 1.0, 1.0]])
    assert isinstance(grower.error, BufferError) and len(out) == 8
    # An input of 32-bit floats is held until the mix is done where the
    # interpreter's buffer calls were found (every CPython this runs on); on
    # the memoryview road it was copied before.
    grower = reentrant(lambda: held.extend([0.0] * 100_000), 1.0)
    if os.environ.get("TAMLOR_BUFFER_ROUTE") == "memoryview":
        m.mix_down_into(out, [held, [grower, 1.0, 1.0, 1.0]])
        assert bits(out) == bits(expected)
    else:
        with pytest.raises(BufferError):
            m.mix_down_into(out, [held, [grower, 1.0, 1.0, 1.0]])
        assert len(held) == 4
    held.extend([0.0])  # both are released afterwards
    out.extend([0.0, 0.0])


# ---------------------------------------------------------------------------
# Reading audio from buffers

@pytest.mark.parametrize("dtype", [np.float32, np.float64])
def test_a_sample_from_an_array_equals_one_from_a_list(dtype):
    rng = np.random.default_rng(21)
    values = rng.standard_normal(1001) * 3.0
    values[[3, 7, 11]] = [np.inf, -np.inf, np.nan]
    values[5] = 1e300  # beyond float32: rounds to infinity on both roads
    with np.errstate(over="ignore"):
        data = values.astype(dtype)
    from_list = tamlor.AudioSample(data.tolist(), 22050, 61)
    for source in (data, data[::-1][::-1], np.repeat(data, 2)[::2], memoryview(data),
                   array.array("f" if dtype == np.float32 else "d", data.tolist())):
        from_array = tamlor.AudioSample(source, 22050, 61)
        assert bits(from_array.data()) == bits(from_list.data())
        assert repr(from_array) == repr(from_list)
    backwards = tamlor.AudioSample(data[::-1], 22050, 61)  # a negative stride
    assert bits(backwards.data()) == bits(from_list.data()[::-1])


def test_other_arrays_take_the_sequence_road():
    ints = np.array([1, -2, 3], dtype=np.int16)
    assert tamlor.AudioSample(ints).data() == [1.0, -2.0, 3.0]
    assert tamlor.AudioSample(bytes([1, 2])).data() == [1.0, 2.0]
    swapped = np.array([0.1, 0.2], dtype=">f4")
    assert bits(tamlor.AudioSample(swapped).data()) == bits([0.1, 0.2])
    with pytest.raises(TypeError, match="argument 'data'"):
        tamlor.AudioSample(np.array(["a", "b"]))
    with pytest.raises(TypeError, match="argument 'data'"):
        tamlor.AudioSample(np.zeros((2, 2), dtype=F32))


# ---------------------------------------------------------------------------
# The memoryview road

@pytest.mark.skipif(os.environ.get("TAMLOR_BUFFER_ROUTE") == "memoryview", reason="already on that road")
def test_the_memoryview_road_gives_the_same_results():
    env = dict(os.environ, TAMLOR_BUFFER_ROUTE="memoryview")
    result = subprocess.run(
        [sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", __file__],
        env=env, capture_output=True, text=True)
    assert result.returncode == 0, result.stdout[-3000:] + result.stderr[-3000:]


def test_an_interrupted_render_into_leaves_the_sampler_as_it_was():
    s, twin = many_voice_sampler(), many_voice_sampler()
    out = np.zeros(65536, dtype=F32)  # some ten seconds of work, uninterrupted
    assert interrupted_within(0.2, lambda: s.render_into(out)) < 1.5
    assert repr(s) == repr(twin)
    block = np.empty(64, dtype=F32)
    s.render_into(block)
    assert bits(block) == bits(twin.render(64))
