"""Attacks from pure Python that once crashed the process or changed an object
through a failed call: freed keyword arguments, replaced constructors, reused
thread ids, out-of-memory results, lying lengths, double __index__ calls, and
long calls that must give way to signal handlers. The cases that could crash
run in a child process."""

import os
import subprocess
import sys
import textwrap
import threading

import pytest

import tamlor
from conftest import interrupted_within, many_voice_sampler

SANITIZED = "libasan" in os.environ.get("LD_PRELOAD", "")


def run_child(*parts, timeout=120):
    """Runs the code `parts` in a fresh interpreter; returns its stdout,
    failing the test with the child's output when it does not exit cleanly."""
    code = "\n".join(textwrap.dedent(part) for part in parts)
    proc = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=timeout)
    assert proc.returncode == 0, f"exit {proc.returncode}\n{proc.stdout}\n{proc.stderr}"
    return proc.stdout


class TestConstructorArguments:
    def test_keyword_values_outlive_a_callback_that_empties_the_keyword_dict(self):
        # The first conversion empties the interpreter's keyword dict, whose
        # references were the only ones to the values still to convert.
        out = run_child("""
            import gc, tamlor

            class Clearing:
                def __float__(self):
                    for ref in gc.get_referrers(self):
                        if isinstance(ref, dict) and "amplitude" in ref:
                            ref.clear()
                    gc.collect()
                    return 220.0

            class Level:
                def __float__(self):
                    return 0.25

            class Rate:
                def __index__(self):
                    return 8000

            for _ in range(50):
                osc = tamlor.SineOscillator(frequency=Clearing(), amplitude=Level(), sample_rate=Rate())
                assert (osc.frequency, osc.amplitude, osc.sample_rate) == (220.0, 0.25, 8000), repr(osc)
                env = tamlor.Envelope(attack=Clearing(), decay=Level(), sustain=Level(), release=Level())
                assert env.attack == 220.0 and env.release == 0.25, repr(env)
            print("ok")
        """)
        assert out.strip() == "ok"


class TestImmutableTypes:
    @pytest.mark.parametrize("name", tamlor.__all__)
    def test_class_attributes_cannot_be_replaced(self, name):
        cls = getattr(tamlor, name)
        with pytest.raises(TypeError):
            cls.__new__ = lambda c, *a, **k: object.__new__(c)
        with pytest.raises(TypeError):
            cls.extra = 1
        assert not hasattr(cls, "extra")

    @pytest.mark.parametrize("name", tamlor.__all__)
    def test_no_instance_without_a_native_value(self, name):
        with pytest.raises(TypeError):
            object.__new__(getattr(tamlor, name))

    def test_replacing_new_cannot_crash_the_process(self):
        out = run_child("""
            import tamlor
            for cls in (tamlor.AudioSample, tamlor.MixerChannel, tamlor.TransportClock):
                try:
                    cls.__new__ = lambda c, *a, **k: object.__new__(c)
                except TypeError:
                    pass
            s = tamlor.AudioSample([0.5, 0.25])
            print(len(s), tamlor.TransportClock().bpm)
        """)
        assert out.split() == ["2", "120.0"]


class TestIndexCalledOnce:
    class Shifty:
        """An __index__ that answers differently each time it is asked."""

        def __init__(self, *answers):
            self.answers = list(answers)
            self.calls = 0

        def __index__(self):
            self.calls += 1
            return self.answers.pop(0) if len(self.answers) > 1 else self.answers[0]

    @pytest.mark.parametrize("seed", [2**63, 2**64 - 1, 12345])
    def test_64_bit_parameters(self, seed):
        shifty = self.Shifty(seed, 5)
        noise = tamlor.NoiseSource(seed=shifty)
        assert shifty.calls == 1
        assert noise.render_to_buffer(16) == tamlor.NoiseSource(seed=seed).render_to_buffer(16)

    def test_out_of_range_still_refused_with_one_call(self):
        shifty = self.Shifty(2**64, 5)
        with pytest.raises(OverflowError):
            tamlor.NoiseSource(seed=shifty)
        assert shifty.calls == 1
        shifty = self.Shifty(-1, 5)
        with pytest.raises(OverflowError):
            tamlor.AudioBuffer(shifty)
        assert shifty.calls == 1


class TestThreadIdentity:
    def test_a_later_thread_is_never_taken_for_the_creating_one(self, monkeypatch):
        monkeypatch.setattr(sys, "unraisablehook", lambda report: None)
        for _ in range(5):
            box = []
            maker = threading.Thread(target=lambda: box.append(tamlor.MidiInput()))
            maker.start()
            maker.join()
            # The operating system readily reuses the ended thread's id here.
            outcome = []

            def use():
                try:
                    box[0].list_ports()
                    outcome.append(None)
                except RuntimeError as exc:
                    outcome.append(str(exc))

            user = threading.Thread(target=use)
            user.start()
            user.join()
            assert len(outcome) == 1 and outcome[0].endswith("is unsendable, but sent to another thread")
            box.clear()


@pytest.mark.skipif(SANITIZED, reason="an address-space limit cannot coexist with the sanitizer's shadow memory")
class TestOutOfMemory:
    PRELUDE = """
        import resource, tamlor
        resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))

        def exhaust():
            # Holds on to every block it can get, large ones first, then
            # to every float (so that none is left on a free list).
            floats = [None] * 1_000_000
            hog = [floats]
            for size in (1 << 24, 1 << 20, 1 << 14, 1 << 10, 64):
                try:
                    while True:
                        hog.append(bytearray(size))
                except MemoryError:
                    pass
            try:
                for i in range(len(floats)):
                    floats[i] = i + 0.5
            except MemoryError:
                pass
            return hog
    """

    def test_sampler_render_keeps_its_voices(self):
        out = run_child(self.PRELUDE, """
            def make():
                sample = tamlor.AudioSample([0.1 * (i % 7) for i in range(1000)], root_note=60)
                sample.loop_start, sample.loop_end = 0, 1000
                s = tamlor.Sampler(sample, sample_rate=44100)
                s.note_on(60, 100)
                s.note_on(67, 90)
                return s

            s, twin = make(), make()
            for _ in range(3):
                try:
                    s.render(3 * 10**7)
                    print("rendered")
                except MemoryError:
                    pass
            print(s.active_voice_count(), s.render(256) == twin.render(256))
        """)
        assert out.split() == ["2", "True"]

    def test_advance_by_frames_keeps_the_position(self):
        out = run_child(self.PRELUDE, """
            clock = tamlor.TransportClock(120.0)
            clock.play()
            hog = exhaust()
            failures = 0
            for _ in range(3):
                try:
                    clock.advance_by_frames(88200, 44100)
                except MemoryError:
                    failures += 1
            del hog
            print(failures, clock.position)
        """)
        assert out.split() == ["3", "0.0"]


class TestLyingLength:
    def test_a_claimed_length_reserves_nothing_up_front(self):
        out = run_child("""
            import resource, tamlor

            class Liar:
                def __len__(self):
                    return 10**9
                def __getitem__(self, i):
                    if i < 3:
                        return 0.5
                    raise IndexError(i)

            mixer = tamlor.Mixer()
            mixer.add_channel("a")
            for call in (lambda: tamlor.AudioSample(Liar()), lambda: mixer.mix_down([Liar()])):
                try:
                    call()
                except IndexError:
                    pass
            print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss // 1024)
        """)
        assert int(out) < 1024  # MiB: the claim alone would have cost 4 GiB


class TestInterruption:
    @pytest.mark.parametrize("cls", [tamlor.SineOscillator, tamlor.SawOscillator, tamlor.NoiseSource])
    def test_generator_render(self, cls):
        gen, twin = cls(), cls()
        gen.render_to_buffer(100)
        twin.render_to_buffer(100)
        elapsed = interrupted_within(0.2, lambda: gen.render_to_buffer(10**8))
        assert elapsed < 1.5
        assert gen.render_to_buffer(512) == twin.render_to_buffer(512)

    def test_many_voice_sampler_render(self):
        s = many_voice_sampler()
        elapsed = interrupted_within(0.2, lambda: s.render(8192))
        assert elapsed < 1.5
        twin = many_voice_sampler()
        assert s.active_voice_count() == 100_000
        assert s.render(64) == twin.render(64)

    def test_sequence_conversion(self):
        big = range(10**9)
        elapsed = interrupted_within(0.2, lambda: tamlor.AudioSample(big))
        assert elapsed < 1.5
