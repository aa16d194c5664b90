import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest
from hypothesis import settings

# CI runs the property tests on a fixed sequence of examples, so a run is
# repeatable; local runs keep exploring new ones.
settings.register_profile("ci", derandomize=True, database=None)
if os.environ.get("CI"):
    settings.load_profile("ci")

import tamlor


def pytest_report_header(config):
    return f"tamlor module: {tamlor.__file__}"


def pytest_configure(config):
    # The sanitizer run must exercise its own build, not an installed copy.
    expected = os.environ.get("TAMLOR_EXPECT_MODULE_DIR")
    if expected and os.path.dirname(os.path.abspath(tamlor.__file__)) != os.path.abspath(expected):
        raise pytest.UsageError(f"tamlor imported from {tamlor.__file__}, expected {expected}")


class Reentrant:
    """A number whose conversion first runs `action` (which may touch the very
    object the number is being passed to) and then converts as `value`."""

    def __init__(self, action, value=1.0):
        self.action = action
        self.value = value
        self.error = None

    def _run(self):
        try:
            self.action()
        except Exception as exc:  # recorded for the test to inspect
            self.error = exc
            raise

    def __float__(self):
        self._run()
        return float(self.value)

    def __index__(self):
        self._run()
        return int(self.value)


@pytest.fixture
def reentrant():
    return Reentrant


def interrupted_within(seconds, call):
    """Runs `call` under a timer whose handler raises after `seconds`; checks
    that the call gave way to it and returns how long that took."""

    class Alarm(Exception):
        pass

    def handler(signum, frame):
        raise Alarm

    old = signal.signal(signal.SIGALRM, handler)
    try:
        start = time.monotonic()
        signal.setitimer(signal.ITIMER_REAL, seconds)
        with pytest.raises(Alarm):
            call()
        return time.monotonic() - start
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)


def many_voice_sampler(voices=100_000):
    """A sampler holding `voices` looping voices: seconds of work per block."""
    sample = tamlor.AudioSample([0.25, -0.25] * 64, root_note=60)
    sample.loop_start, sample.loop_end = 0, 128
    s = tamlor.Sampler(sample, max_voices=voices)
    for i in range(voices):
        s.note_on(40 + i % 40, 1 + i % 120)
    return s


def run_child(code, timeout=120):
    """Runs `code` (dedented) in a fresh interpreter, for cases that change
    the process (resource limits, another user); its output, after checking
    that it exited 0."""
    proc = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                          timeout=timeout)
    assert proc.returncode == 0, f"exit {proc.returncode}\n{proc.stdout}\n{proc.stderr}"
    return proc.stdout


def left_behind(folder, *expected):
    """Names in `folder` other than the expected ones (temporary files)."""
    return sorted(set(os.listdir(folder)) - set(expected))


def check_failing_writes(folder, suffix, setup, limit):
    """Checks, in a child process with a file size limit of `limit` bytes,
    that writes failing part way leave what was there: `setup` (code) defines
    `small(path)`, a write within the limit, and `writes`, calls `(path)`
    that go past it. Each must raise OSError naming the path, for an existing
    file, a link to it and a new file; the file stays byte for byte, the link
    stays a link, and no other name is left in `folder`."""
    out = run_child(f"""
        import os, resource, signal, tamlor, tamlor_song
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        folder = {str(folder)!r}
        target, link = os.path.join(folder, "take{suffix}"), os.path.join(folder, "link{suffix}")
{textwrap.indent(textwrap.dedent(setup), " " * 8)}
        small(target)
        before = open(target, "rb").read()
        os.symlink("take{suffix}", link)
        resource.setrlimit(resource.RLIMIT_FSIZE, ({limit}, {limit}))
        for path in (target, link, os.path.join(folder, "new{suffix}")):
            for write in writes:
                try:
                    write(path)
                except OSError as e:
                    assert e.filename == path, e
                else:
                    raise AssertionError("the write did not fail")
        assert open(target, "rb").read() == before
        assert os.readlink(link) == "take{suffix}"
        print(sorted(os.listdir(folder)))
    """)
    assert out.strip() == f"['link{suffix}', 'take{suffix}']"
