"""Per-call cost of the Sampler hot paths. `Sampler.render(512)` with 1, 8
and 32 sounding voices is measured against `array('f', ...).tolist()` of 512
floats in the same run: turning 512 32-bit floats into a Python list is the
floor for any call that returns a block, so the ratio shows what the voices
themselves cost on top. `note_on` on a ten-second sample is measured against
`note_on` on a ten-frame one: a note start shares the sample's frames, so the
two must cost about the same. Then the array road: render_into a 512-frame
float32 NumPy array with one voice, as a ratio to render(512) of the same
sampler, and an AudioSample built from a 441,000-float float32 array, as a
ratio to one built from the same data as a list."""
import math
import sys
from array import array

from common import best_per_call, per_call, report, report_pairs
import numpy as np
import tamlor


def sounding_sampler(voices):
    """A sampler with `voices` held notes on a looping one-second sine, past
    their attack so every voice does full work in every frame."""
    data = [math.sin(2.0 * math.pi * 440.0 * i / 44100.0) for i in range(44100)]
    sample = tamlor.AudioSample(data)
    sample.loop_start = 0
    sample.loop_end = len(data)
    sampler = tamlor.Sampler(sample, max_voices=voices)
    sampler.set_envelope(tamlor.Envelope(0.001, 0.01, 0.5, 0.1))
    for i in range(voices):
        sampler.note_on(48 + i % 40, 100)
    sampler.render(4410)
    assert sampler.active_voice_count() == voices
    return sampler


def note_on_cost(frames):
    sampler = tamlor.Sampler(tamlor.AudioSample([0.0] * frames), max_voices=8)
    return per_call("note_on(60, 100)", globals={"note_on": sampler.note_on}, number=100_000)


def main():
    block = array("f", [0.25] * 512)
    env = {"tolist": block.tolist}
    stmts, names, limits = ["tolist()"], ["array('f', 512 floats).tolist()"], [None]
    for voices, limit in ((1, 1.5), (8, 3.0), (32, None)):
        env[f"render{voices}"] = sounding_sampler(voices).render
        stmts.append(f"render{voices}(512)")
        names.append(f"Sampler.render(512), {voices} voice{'s' if voices > 1 else ''}")
        limits.append(limit)
    times = best_per_call(stmts, env, number=2_000)
    render_rows = list(zip(names, times, limits))
    failures = report("Sampler.render, per call (ratio to array.tolist of 512 floats):", render_rows,
                      "array('f', 512 floats).tolist()")
    print()
    note_rows = [
        ("note_on, 10-frame sample", note_on_cost(10), None),
        ("note_on, 10-second sample (441000 frames)", note_on_cost(441_000), 1.5),
    ]
    failures += report("Sampler.note_on, per call (ratio to a 10-frame sample):", note_rows, "note_on, 10-frame sample")
    print()
    return failures + report_pairs("Sampler, the array road (ratio to the list road):", array_rows())


def array_rows():
    sampler = sounding_sampler(1)
    env = {"sampler": sampler, "out": np.zeros(512, dtype=np.float32)}
    base, t = best_per_call(["sampler.render(512)", "sampler.render_into(out)"], env, number=2_000)
    data = np.sin(np.arange(441_000) * (2.0 * math.pi * 440.0 / 44100.0)).astype(np.float32)
    env = {"AudioSample": tamlor.AudioSample, "data": data, "values": data.tolist()}
    list_time, array_time = best_per_call(["AudioSample(values)", "AudioSample(data)"], env, number=3, rounds=7)
    return [
        ("Sampler.render_into(512 float32), 1 voice / render(512)", base, t, 1 / 3),
        ("AudioSample(441,000 float32) / AudioSample(same as list)", list_time, array_time, 1 / 20),
    ]


if __name__ == "__main__":
    sys.exit(1 if main() else 0)
