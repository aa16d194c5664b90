"""MidiInput and AudioOutput on the machine's ALSA: listing, binding the
default output device, thread affinity, and a machine without the library.

ALSA reads the configuration named by ALSA_CONFIG_PATH, so the tests pick
their own devices: tests/alsa/null_output.conf has one default playback
device that discards its samples, tests/alsa/no_devices.conf has none."""
import gc
import os
import subprocess
import sys
import textwrap
import threading

import pytest

import tamlor

ALSA_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "alsa")
NULL_OUTPUT = os.path.join(ALSA_DIR, "null_output.conf")
NO_DEVICES = os.path.join(ALSA_DIR, "no_devices.conf")
NULL_NAME = "Null Output (test configuration)"
# ALSA's own reason follows the fixed text.
NO_DEFAULT = "^No default audio output device found: Unknown PCM default$"


@pytest.fixture
def null_output(monkeypatch):
    monkeypatch.setenv("ALSA_CONFIG_PATH", NULL_OUTPUT)


@pytest.fixture
def no_devices(monkeypatch):
    monkeypatch.setenv("ALSA_CONFIG_PATH", NO_DEVICES)


def in_thread(fn):
    """Runs fn on a new thread; returns its result or the exception it raised."""
    box = []

    def run():
        try:
            box.append(fn())
        except BaseException as exc:  # handed back to the test
            box.append(exc)

    t = threading.Thread(target=run)
    t.start()
    t.join()
    return box[0]


class TestMidiInput:
    @pytest.mark.parametrize("args,kwargs", [((), {}), (("anything",), {}), ((), {"client_name": "x"})])
    def test_construction_takes_a_name_and_ignores_it(self, no_devices, args, kwargs):
        m = tamlor.MidiInput(*args, **kwargs)
        assert m.list_ports() == []
        assert repr(m) == "MidiInput(ports=0)"

    @pytest.mark.parametrize("bad", [5, b"x", None])
    def test_client_name_must_be_str(self, bad):
        with pytest.raises(TypeError, match="^argument 'client_name': must be str"):
            tamlor.MidiInput(bad)
        with pytest.raises(TypeError):
            tamlor.MidiInput("a", "b")

    def test_repr_counts_what_list_ports_returns(self):
        m = tamlor.MidiInput()
        first, second = m.list_ports(), m.list_ports()
        assert first == second and first is not second
        assert all(isinstance(name, str) for name in first)
        assert repr(m) == f"MidiInput(ports={len(first)})"


class TestAudioOutput:
    def test_binds_and_names_the_default_device(self, null_output):
        out = tamlor.AudioOutput()
        assert out.device_name() == NULL_NAME
        assert repr(out) == f"AudioOutput(device='{NULL_NAME}', playing=false)"

    def test_stopped_until_started_and_stop_is_idempotent(self, null_output):
        out = tamlor.AudioOutput(sample_rate=0, channels=0, buffer_size=0)
        assert out.is_playing() is False
        assert out.stop() is None
        assert out.stop() is None
        assert out.is_playing() is False
        assert out.device_name() == NULL_NAME

    @pytest.mark.parametrize(
        "kwargs",
        [{"channels": 65536}, {"sample_rate": -1}, {"sample_rate": 2**32}, {"buffer_size": 2**32},
         {"channels": -1}, {"buffer_size": 2**100}],
    )
    def test_arguments_outside_their_width(self, null_output, kwargs):
        with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
            tamlor.AudioOutput(**kwargs)

    @pytest.mark.parametrize("name", ["sample_rate", "channels", "buffer_size"])
    def test_arguments_must_be_integers(self, null_output, name):
        with pytest.raises(TypeError, match=f"^argument '{name}': "):
            tamlor.AudioOutput(**{name: 1.5})
        with pytest.raises(TypeError, match="unexpected keyword argument 'rate'"):
            tamlor.AudioOutput(rate=1)

    def test_largest_values_are_accepted(self, null_output):
        out = tamlor.AudioOutput(2**32 - 1, 65535, 2**32 - 1)
        assert out.device_name() == NULL_NAME

    def test_without_a_default_device(self, no_devices, capfd):
        with pytest.raises(RuntimeError, match=NO_DEFAULT):
            tamlor.AudioOutput()
        assert tamlor.AudioOutput.list_devices() == []
        assert tamlor.MidiInput().list_ports() == []
        assert "ALSA" not in capfd.readouterr().err  # the library's complaints stay quiet

    def test_list_devices_is_a_fresh_list_of_names(self):
        first, second = tamlor.AudioOutput.list_devices(), tamlor.AudioOutput.list_devices()
        assert first == second and first is not second
        assert all(isinstance(name, str) for name in first)

    def test_no_reference_leaks(self, null_output):
        gc.collect()
        before = sys.getrefcount(tamlor.AudioOutput), sys.getrefcount(tamlor.MidiInput)
        for _ in range(200):
            repr(tamlor.AudioOutput())
            repr(tamlor.MidiInput())
        gc.collect()
        assert (sys.getrefcount(tamlor.AudioOutput), sys.getrefcount(tamlor.MidiInput)) == before


MIDI_PATH = "tamlor::midi_input::PyMidiInput"
OUTPUT_PATH = "tamlor::audio_output::PyAudioOutput"


class TestThreadAffinity:
    @pytest.mark.parametrize(
        "make,call,path",
        [
            (tamlor.MidiInput, lambda m: m.list_ports(), MIDI_PATH),
            (tamlor.MidiInput, repr, MIDI_PATH),
            (tamlor.AudioOutput, lambda o: o.device_name(), OUTPUT_PATH),
            (tamlor.AudioOutput, lambda o: o.is_playing(), OUTPUT_PATH),
            (tamlor.AudioOutput, lambda o: o.stop(), OUTPUT_PATH),
            (tamlor.AudioOutput, repr, OUTPUT_PATH),
        ],
    )
    def test_calls_from_another_thread_are_refused(self, null_output, make, call, path):
        obj = make()
        result = in_thread(lambda: call(obj))
        assert isinstance(result, RuntimeError)
        assert str(result) == f"{path} is unsendable, but sent to another thread"
        call(obj)  # still fine on its own thread

    def test_objects_work_on_the_thread_that_made_them(self, null_output):
        assert in_thread(lambda: repr(tamlor.AudioOutput())) == f"AudioOutput(device='{NULL_NAME}', playing=false)"
        assert in_thread(lambda: tamlor.MidiInput().list_ports()) == tamlor.MidiInput().list_ports()

    def test_list_devices_works_from_any_thread(self):
        assert in_thread(tamlor.AudioOutput.list_devices) == tamlor.AudioOutput.list_devices()

    @pytest.mark.parametrize("make,path", [(tamlor.MidiInput, MIDI_PATH), (tamlor.AudioOutput, OUTPUT_PATH)])
    def test_dropping_on_another_thread_is_reported(self, null_output, monkeypatch, make, path):
        reports = []
        monkeypatch.setattr(sys, "unraisablehook", reports.append)
        box = [make()]
        in_thread(box.clear)
        assert len(reports) == 1
        assert type(reports[0].exc_value) is RuntimeError
        assert str(reports[0].exc_value) == f"{path} is unsendable, but is being dropped on another thread"
        # Dropping on the creating thread reports nothing.
        box.append(make())
        box.clear()
        assert len(reports) == 1


def test_everything_works_without_the_alsa_library(tmp_path):
    # A broken libasound.so.2 first on the loader's path: loading it fails,
    # as on a machine that has no ALSA at all.
    (tmp_path / "libasound.so.2").write_bytes(b"not a library")
    env = dict(os.environ)
    env["LD_LIBRARY_PATH"] = os.pathsep.join(filter(None, [str(tmp_path), env.get("LD_LIBRARY_PATH")]))
    env["ALSA_CONFIG_PATH"] = NULL_OUTPUT  # would give a device if the library loaded
    script = textwrap.dedent(
        """
        import tamlor
        m = tamlor.MidiInput()
        assert m.list_ports() == [] and repr(m) == "MidiInput(ports=0)"
        assert tamlor.AudioOutput.list_devices() == []
        try:
            tamlor.AudioOutput()
        except RuntimeError as exc:
            assert str(exc) == "No default audio output device found", exc
        else:
            raise AssertionError("AudioOutput() bound a device")
        clock = tamlor.TransportClock()
        clock.play()
        assert clock.advance_by_frames(44100, 44100) == (0.0, 2.0)
        with open("/proc/self/maps") as maps:
            assert "libasound" not in maps.read()
        print("ok")
        """
    )
    out = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True)
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "ok"
    assert "ALSA" not in out.stderr
