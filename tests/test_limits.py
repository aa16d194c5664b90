"""Sizes nobody can have: every MemoryError says what did not fit, and no
reservation trusts a length a state or a sequence merely claims. The cases
that would allocate run in a child process under an address-space limit."""
import os
import subprocess
import sys
import textwrap

import pytest

import tamlor

SANITIZED = "libasan" in os.environ.get("LD_PRELOAD", "")
# The sanitizer ends the process where a C++ allocation fails, so sizes that
# are really asked of the allocator are tried only without it.
ALLOCATES = pytest.mark.skipif(SANITIZED, reason="a failed C++ allocation aborts under the sanitizers")


def run_child(code, timeout=120):
    proc = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                          timeout=timeout)
    assert proc.returncode == 0, f"exit {proc.returncode}\n{proc.stdout}\n{proc.stderr}"
    return proc.stdout


@pytest.mark.parametrize("call,message", [
    (lambda: tamlor.Pattern(2**62), "Pattern of 4611686018427387904 steps does not fit in memory"),
    pytest.param(lambda: tamlor.Pattern(2**40), "Pattern of 1099511627776 steps does not fit in memory",
                 marks=ALLOCATES),
    (lambda: tamlor.SineOscillator().render_to_buffer(2**62), "a list of 4611686018427387904 items does not fit in memory"),
    (lambda: tamlor.NoiseSource().render_to_buffer(2**40), "a list of 1099511627776 items does not fit in memory"),
    (lambda: tamlor.Sampler(tamlor.AudioSample([0.5])).render(2**40), "a list of 1099511627776 items does not fit in memory"),
    pytest.param(lambda: tamlor.AudioBuffer(2**40, 44100, 2),
                 "AudioBuffer of 1099511627776 frames \u00d7 2 channels does not fit in memory", marks=ALLOCATES),
], ids=["pattern", "pattern-40", "sine", "noise", "sampler", "buffer"])
def test_a_memory_error_says_what_did_not_fit(call, message):
    with pytest.raises(MemoryError) as info:
        call()
    assert str(info.value) == message


@pytest.mark.skipif(SANITIZED, reason="address-space limits do not apply under the sanitizers")
def test_a_block_that_cannot_be_had_leaves_the_renderer_as_it_was():
    # The list fits (2 GiB of pointers in 3 GiB) but the samples beside it do not.
    out = run_child("""
        import resource, tamlor
        resource.setrlimit(resource.RLIMIT_AS, (3 << 30, 3 << 30))
        sampler = tamlor.Sampler(tamlor.AudioSample([0.5] * 100), max_voices=2)
        sampler.note_on(60, 100)
        before = repr(sampler)
        try:
            sampler.render(300_000_000)
        except MemoryError as e:
            print(e)
        print(repr(sampler) == before)
    """)
    assert out.splitlines() == ["a block of 300000000 samples does not fit in memory", "True"]


def test_setstate_reserves_nothing_for_a_claimed_length():
    out = run_child("""
        import resource, tamlor

        class Liar:
            def __init__(self, items):
                self.items = items
            def __len__(self):
                return 2**62
            def __getitem__(self, i):
                if i < len(self.items):
                    return self.items[i]
                raise IndexError(i)

        events = [tamlor.NoteEvent(0.0, 1.0, 60, 100), tamlor.NoteEvent(1.0, 0.5, 62, 90)]
        seq = tamlor.EventSequence()
        try:
            seq.__setstate__((Liar(events),))
        except IndexError:
            pass
        print(len(seq), resource.getrusage(resource.RUSAGE_SELF).ru_maxrss // 1024)
    """)
    count, mib = out.split()
    assert count == "0"  # the failed restore changed nothing
    assert int(mib) < 1024  # the claim alone would have been 2**62 events
