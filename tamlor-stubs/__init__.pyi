"""Make music out of numbers: tempo transport, step sequencer, note sequences,
polyphonic sampler with ADSR envelopes and key/velocity zones, stereo mixer,
oscillators and seeded noise, MIDI values and messages, playback on the
default audio output, WAV files, and the machine's audio outputs and MIDI
inputs.

Units used throughout:

- time in music: beats (floats) of the transport's tempo; step events count
  millionths of a beat; ``Step.duration_ticks`` counts grid steps;
- time in sound: frames (one sample per channel) at a sample rate in Hz;
  envelope times are seconds;
- MIDI timestamps (``MidiEvent.timestamp_us``): microseconds;
- notes, velocities and control numbers 0-127, channels 0-15.

Audio comes and goes as lists of floats, each the value of a 32-bit float,
or as arrays: the ``render_into``/``mix_down_into`` methods write into a
buffer of 32-bit floats the caller owns, and wherever audio comes in a
buffer of 32- or 64-bit floats (NumPy, array.array) is read as it lies.
Every object owns its value: passing one object to another copies it, and
whatever a method hands back is a new object holding a copy.

Integer arguments take ``int`` (or anything with ``__index__``); a value that
does not fit the parameter's unsigned width, negatives included, raises
``OverflowError``. Float arguments take anything ``float()`` takes. Notes,
velocities and channels are converted first and range-checked second
(``ValueError``, e.g. "Note out of range: 128 (must be 0–127)").
"""

from collections.abc import Sequence
from os import PathLike
from typing import Any, ClassVar, Literal, NoReturn, Protocol, SupportsFloat, SupportsIndex, TypeAlias, final

from typing_extensions import Buffer

__all__ = [
    "AudioFormat",
    "AudioBuffer",
    "MidiChannel",
    "Note",
    "Velocity",
    "MidiMessage",
    "MidiEvent",
    "SineOscillator",
    "SquareOscillator",
    "SawOscillator",
    "NoiseSource",
    "MixerChannel",
    "Mixer",
    "Step",
    "Pattern",
    "NoteEvent",
    "EventSequence",
    "TransportClock",
    "StepSequencer",
    "AudioSample",
    "Envelope",
    "SampleMapping",
    "SampleMap",
    "Sampler",
    "AudioOutput",
    "MidiInput",
]

# A number read as a float: int, float, or anything with __float__ or __index__.
_Real: TypeAlias = SupportsFloat | SupportsIndex
# An integer: int or anything with __index__.
_Int: TypeAlias = SupportsIndex

class _FloatSequence(Protocol):
    """Audio coming in: a sequence of numbers (a list, a tuple; not a str), or
    a one-dimensional buffer of 32- or 64-bit floats (a NumPy array,
    array.array('f' or 'd'), a memoryview), which is read as it lies in
    memory."""

    def __len__(self) -> int: ...
    def __getitem__(self, index: int, /) -> Any: ...

# The blocks of a mix: a sequence of blocks, one per channel, or a 2-D buffer
# of floats with one row per channel (shape (channels, frames)).
_Blocks: TypeAlias = _FloatSequence

class _NumPyArray(Protocol):
    """An array that exports its memory (NumPy declares the buffer protocol in
    its type stubs only from Python 3.12 on)."""

    def __array__(self) -> Any: ...

# Audio going out: a writable, C-contiguous buffer of 32-bit floats (a NumPy
# float32 array, array.array('f'), a memoryview of one). Anything else is
# refused with TypeError before anything changes.
_FloatBuffer: TypeAlias = Buffer | _NumPyArray

# A file system path.
_Path: TypeAlias = str | bytes | PathLike[str] | PathLike[bytes]

# One event of StepSequencer.process_beat_range: (kind, note, velocity, time).
# kind is "note_on" or "note_off"; velocity is 0 for "note_off"; time counts
# millionths of a beat (beat 1.5 is 1500000), not microseconds. The alias
# lives in tamlor_song, where it exists at run time too.
from tamlor_song import StepEvent

# ---------------------------------------------------------------------------
# Audio primitives

@final
class AudioFormat:
    """A sample rate in Hz and a channel count: an immutable description.

    ``str()`` gives "44100Hz 2ch". Two formats are equal when both fields are;
    formats are not hashable. Nothing is validated: 0 is accepted for both.
    """

    def __new__(cls, sample_rate: _Int = 44100, channels: _Int = 2) -> AudioFormat:
        """``sample_rate`` in Hz (0..4294967295), ``channels`` 0..65535;
        ``OverflowError`` outside those widths."""

    @property
    def sample_rate(self) -> int:
        """Sample rate in Hz (read-only)."""

    @property
    def channels(self) -> int:
        """Number of channels (read-only)."""

    def __eq__(self, value: object, /) -> bool:
        """True when ``value`` is of the same class with equal fields (floats by
        IEEE equality); never equal to other types (``Note(60) == 60`` is
        False). Ordering raises ``TypeError``."""

    def __ne__(self, value: object, /) -> bool:
        """The negation of ``==``."""
    __hash__: ClassVar[None]  # type: ignore[assignment]
    """Not hashable: instances cannot be set members or dict keys."""
    def __reduce__(self) -> tuple[Any, ...]:
        """The constructor arguments, for pickle."""

    def __copy__(self) -> AudioFormat:
        """A new, equal format."""

    def __deepcopy__(self, memo: Any, /) -> AudioFormat:
        """A new, equal format."""

@final
class AudioBuffer:
    """A fixed-size block of 32-bit float samples, interleaved frame by frame
    (frame f, channel c at position f x channels + c), zero-filled at creation.

    The size never changes; only sample values do. ``len()`` is the total
    number of samples (frames x channels), not the frame count. Buffers have
    no equality of their own (they compare by identity).
    """

    def __new__(cls, frames: _Int, sample_rate: _Int = 44100, channels: _Int = 1) -> AudioBuffer:
        """``frames`` x ``channels`` samples, all 0.0. Note the default of one
        channel (``AudioFormat`` defaults to two). A size that cannot be
        allocated raises ``MemoryError`` saying so ("AudioBuffer of F frames
        × C channels does not fit in memory")."""

    @property
    def frames(self) -> int:
        """Frames held: samples // channels, or 0 with no channels (read-only)."""

    @property
    def format(self) -> AudioFormat:
        """A new ``AudioFormat`` with this buffer's rate and channels, made on
        every read (read-only)."""

    @property
    def sample_rate(self) -> int:
        """Frames per second, as given at creation or read from the file
        (read-only)."""

    @property
    def channels(self) -> int:
        """Samples per frame, as given at creation or read from the file
        (read-only)."""

    def sample_at(self, frame: _Int, channel: _Int) -> float:
        """The sample at (frame, channel). ``IndexError`` "Index out of bounds"
        when channel >= channels or frame >= frames."""

    def set_sample(self, frame: _Int, channel: _Int, value: _Real) -> None:
        """Stores ``value`` rounded to the nearest 32-bit float (not clamped),
        so 0.1 reads back as 0.10000000149011612. ``IndexError`` "Index out of
        bounds" as for ``sample_at``; the buffer is unchanged on error."""

    def clear(self) -> None:
        """Sets every sample to 0.0; the size stays."""

    def to_list(self) -> list[float]:
        """A new list of every sample in storage (interleaved) order."""

    def channel_samples(self, channel: _Int) -> list[float]:
        """The samples of one channel, frame by frame, as a new list (e.g. a
        channel of a WAV file for an ``AudioSample``). ``IndexError`` "Index
        out of bounds" when channel >= channels."""

    @staticmethod
    def write_wav(
        path: _Path,
        samples: _FloatSequence,
        sample_rate: _Int = 44100,
        channels: _Int = 1,
        encoding: Literal["pcm16", "pcm24", "float32"] = "pcm16",
    ) -> None:
        """Writes interleaved samples to a WAV file, mono or stereo
        (``channels`` 1 or 2; ``len(samples)`` a multiple of it), or a 2-D
        array of shape (frames, channels).
        ``'pcm16'``: each sample clipped to -1.0..1.0, scaled by 32768 and
        rounded (ties to even; +1.0 gives 32767, NaN gives 0). ``'pcm24'``:
        24-bit PCM the same way, scaled by 8388608. ``'float32'``:
        the 32-bit samples bit for bit. Bad arguments raise ``ValueError`` or
        ``TypeError`` before the file is opened; ``OSError`` when it cannot be
        written. A buffer of anything but floats (bytes, an integer array) is
        refused.

        The file is written beside the path under a temporary name and put
        in place only once complete, so a failed write leaves an existing
        file as it was (a symbolic link is followed and kept). A device or
        named pipe is written in place and never removed."""

    @staticmethod
    def read_wav(path: _Path) -> AudioBuffer:
        """Reads a WAV file (PCM of 8, 16, 24 or 32 bits, or float of 32 or
        64 bits, any channel count) into a new buffer with the file's rate
        and channels. PCM is divided by 2^(bits-1), so a 16-bit file written
        by ``write_wav`` reads back its exact values. ``ValueError`` for a file
        it cannot read, ``OSError`` when it cannot be opened.

        Only the header is read before the chunks it declares: a file that
        claims more than it holds is refused as truncated, and pipes and
        devices are read a piece at a time. Ctrl+C ends a long read
        (``KeyboardInterrupt``). ``MemoryError`` "{path}: data chunk of N
        bytes does not fit in memory" when the samples cannot be held."""

    @staticmethod
    def wav_shape(path: _Path) -> tuple[int, int]:
        """(frames, channels) of a WAV file, from its header and chunk list
        (the samples are not read): the shape of the array ``read_wav_into``
        fills. Errors as ``read_wav``'s."""

    @staticmethod
    def read_wav_into(path: _Path, out: _FloatBuffer) -> int:
        """Reads a WAV file's samples straight into ``out`` and returns its
        sample rate: the samples ``read_wav`` would give, without an
        ``AudioBuffer`` or a list in between (the fast road for long
        files)::

            audio = numpy.empty(AudioBuffer.wav_shape(path), numpy.float32)
            rate = AudioBuffer.read_wav_into(path, audio)

        ``out`` is a writable contiguous buffer of 32-bit floats of shape
        (frames, channels) or flat with frames x channels items
        (``TypeError`` otherwise). A file that cannot be read
        (``OSError``, ``ValueError``) or does not match ``out``'s shape
        (``ValueError``) leaves ``out`` unchanged; only a file that changes
        while it is read (or Ctrl+C) can leave it partly written."""

    def samples_into(self, out: _FloatBuffer) -> None:
        """Copies every sample into ``out``, a writable contiguous buffer of
        32-bit floats of shape (frames, channels) or flat with
        frames x channels items (interleaved), without making a list: the
        fast road from a WAV file to a NumPy array::

            buffer = AudioBuffer.read_wav(path)
            audio = numpy.empty((buffer.frames, buffer.channels), numpy.float32)
            buffer.samples_into(audio)

        ``TypeError`` for anything else than such a buffer, ``ValueError``
        for another size or shape; ``out`` is then unchanged."""

    def __len__(self) -> int:
        """frames x channels."""

    def __reduce__(self) -> tuple[Any, ...]:
        """The constructor arguments and the samples, for pickle."""

    def __setstate__(self, state: tuple[Any, ...], /) -> None:
        """Restores the samples ``__reduce__`` gave (their count must be
        ``len(self)``)."""

    def __copy__(self) -> AudioBuffer:
        """A new buffer holding a copy of the samples."""

    def __deepcopy__(self, memo: Any, /) -> AudioBuffer:
        """A new buffer holding a copy of the samples."""

# ---------------------------------------------------------------------------
# MIDI values, messages and events

@final
class MidiChannel:
    """A MIDI channel, 0-15, range-checked and immutable.

    ``str()`` is the bare number; equality by value; not hashable.
    """

    def __new__(cls, value: _Int) -> MidiChannel:
        """``OverflowError`` outside 0..255; ``ValueError`` "MidiChannel out of
        range: {value} (must be 0–15)" for 16..255."""

    @property
    def value(self) -> int:
        """The channel number (read-only)."""

    def __eq__(self, value: object, /) -> bool:
        """True when ``value`` is of the same class with equal fields (floats by
        IEEE equality); never equal to other types (``Note(60) == 60`` is
        False). Ordering raises ``TypeError``."""

    def __ne__(self, value: object, /) -> bool:
        """The negation of ``==``."""
    __hash__: ClassVar[None]  # type: ignore[assignment]
    """Not hashable: instances cannot be set members or dict keys."""
    def __reduce__(self) -> tuple[Any, ...]:
        """The constructor arguments, for pickle."""

    def __copy__(self) -> MidiChannel:
        """A new, equal channel."""

    def __deepcopy__(self, memo: Any, /) -> MidiChannel:
        """A new, equal channel."""

@final
class Note:
    """A MIDI note number, 0-127 (60 is middle C, 69 is A 440 Hz),
    range-checked and immutable.

    ``str()`` is the bare number; equality by value; not hashable.
    """

    def __new__(cls, value: _Int) -> Note:
        """``OverflowError`` outside 0..255; ``ValueError`` "Note out of range:
        {value} (must be 0–127)" for 128..255."""

    @property
    def value(self) -> int:
        """The note number (read-only)."""

    def to_hz(self) -> float:
        """The equal-tempered frequency in Hz: 440 x 2^((note - 69) / 12);
        ``Note(69).to_hz()`` is exactly 440.0."""

    @staticmethod
    def from_hz(hz: _Real) -> Note:
        """The nearest note to a frequency in Hz (halves round away from
        zero), clamped to 0..127: never a range error. 0, negative and NaN
        frequencies give ``Note(0)``; very high ones ``Note(127)``."""

    def __eq__(self, value: object, /) -> bool:
        """True when ``value`` is of the same class with equal fields (floats by
        IEEE equality); never equal to other types (``Note(60) == 60`` is
        False). Ordering raises ``TypeError``."""

    def __ne__(self, value: object, /) -> bool:
        """The negation of ``==``."""
    __hash__: ClassVar[None]  # type: ignore[assignment]
    """Not hashable: instances cannot be set members or dict keys."""
    def __reduce__(self) -> tuple[Any, ...]:
        """The constructor arguments, for pickle."""

    def __copy__(self) -> Note:
        """A new, equal note."""

    def __deepcopy__(self, memo: Any, /) -> Note:
        """A new, equal note."""

@final
class Velocity:
    """A MIDI velocity, 0-127, range-checked and immutable. 0 is valid.

    ``str()`` is the bare number; equality by value; not hashable.
    """

    def __new__(cls, value: _Int) -> Velocity:
        """``OverflowError`` outside 0..255; ``ValueError`` "Velocity out of
        range: {value} (must be 0–127)" for 128..255."""

    @property
    def value(self) -> int:
        """The velocity (read-only)."""

    def __eq__(self, value: object, /) -> bool:
        """True when ``value`` is of the same class with equal fields (floats by
        IEEE equality); never equal to other types (``Note(60) == 60`` is
        False). Ordering raises ``TypeError``."""

    def __ne__(self, value: object, /) -> bool:
        """The negation of ``==``."""
    __hash__: ClassVar[None]  # type: ignore[assignment]
    """Not hashable: instances cannot be set members or dict keys."""
    def __reduce__(self) -> tuple[Any, ...]:
        """The constructor arguments, for pickle."""

    def __copy__(self) -> Velocity:
        """A new, equal velocity."""

    def __deepcopy__(self, memo: Any, /) -> Velocity:
        """A new, equal velocity."""

@final
class MidiMessage:
    """A MIDI message: note on/off, control change, program change, pitch
    bend, clock, start or stop.

    Not instantiable: ``MidiMessage()`` raises ``TypeError``; use the static
    methods. Its contents are visible only through ``str()`` (e.g. "NoteOn {
    channel: MidiChannel(0), note: Note(60), velocity: Velocity(100) }") and
    equality (same kind and fields). Not hashable. Nothing here sends or
    receives MIDI.

    Every static method converts all its arguments first, left to right, and
    then range-checks them in the order given, so ``note_on(16, 200, 200)``
    raises the channel's ``ValueError``.
    """

    @staticmethod
    def note_on(channel: _Int, note: _Int, velocity: _Int) -> MidiMessage:
        """A note-on. Checks channel (0-15), note and velocity (0-127)."""

    @staticmethod
    def note_off(channel: _Int, note: _Int, velocity: _Int) -> MidiMessage:
        """A note-off. Checks channel (0-15), note and velocity (0-127)."""

    @staticmethod
    def control_change(channel: _Int, control: _Int, value: _Int) -> MidiMessage:
        """A control change. Checks channel and control number (0-127,
        ``ValueError`` "ControlNumber out of range: ..."); ``value`` may be any
        of 0..255."""

    @staticmethod
    def program_change(channel: _Int, program: _Int) -> MidiMessage:
        """A program change. Checks the channel; ``program`` may be any of
        0..255."""

    @staticmethod
    def pitch_bend(channel: _Int, value: _Int) -> MidiMessage:
        """A pitch bend. ``value`` is 0..65535, stored exactly as given (no
        centre offset: 8192 is the centre only by MIDI custom)."""

    @staticmethod
    def clock() -> MidiMessage:
        """A timing clock message."""

    @staticmethod
    def start() -> MidiMessage:
        """A start message."""

    @staticmethod
    def stop() -> MidiMessage:
        """A stop message."""

    @staticmethod
    def from_bytes(data: bytes | bytearray | Sequence[_Int]) -> MidiMessage:
        """The message of one complete MIDI wire message (bytes, a bytearray
        or a sequence of ints 0-255): a channel message of its exact length,
        or Clock, Start, Continue or Stop. Every variant comes back, including
        Aftertouch, ChannelPressure and Continue; a note-on of velocity 0
        stays a NoteOn. ``ValueError`` with the reason for anything else (no
        status byte, a wrong length, a data byte of 0x80 or more, SysEx)."""

    def to_bytes(self) -> bytes:
        """The message as MIDI wire bytes: the status byte (kind and channel)
        and its data bytes, e.g. ``b"\\x90\\x3c\\x64"`` for a note-on of note
        60 at velocity 100. ``ValueError`` for a value the wire cannot carry: a
        control value, program or pressure above 127, a pitch bend above
        16383."""

    def __eq__(self, value: object, /) -> bool:
        """True when ``value`` is of the same class with equal fields (floats by
        IEEE equality); never equal to other types (``Note(60) == 60`` is
        False). Ordering raises ``TypeError``."""

    def __ne__(self, value: object, /) -> bool:
        """The negation of ``==``."""
    __hash__: ClassVar[None]  # type: ignore[assignment]
    """Not hashable: instances cannot be set members or dict keys."""
    def __reduce__(self) -> tuple[Any, ...]:
        """The static method and arguments that make this message, for pickle."""

    def __copy__(self) -> MidiMessage:
        """A new, equal message."""

    def __deepcopy__(self, memo: Any, /) -> MidiMessage:
        """A new, equal message."""

@final
class MidiEvent:
    """A MIDI message stamped with a time in microseconds (no epoch: whatever
    the caller supplies). Note the unit: step events count millionths of a
    beat, this counts microseconds.

    Events compare and hash by identity.
    """

    def __new__(cls, message: MidiMessage, timestamp_us: _Int) -> MidiEvent:
        """Copies ``message`` in. ``timestamp_us`` is 0..2^64-1
        (``OverflowError`` otherwise); ``TypeError`` unless ``message`` is a
        ``MidiMessage``."""

    @property
    def message(self) -> MidiMessage:
        """A new copy of the message on every read (equal, but
        ``ev.message is ev.message`` is False) (read-only)."""

    @property
    def timestamp_us(self) -> int:
        """The time in microseconds (read-only)."""

    def __reduce__(self) -> tuple[Any, ...]:
        """The constructor arguments, for pickle."""

    def __copy__(self) -> MidiEvent:
        """A new event with the same message and time."""

    def __deepcopy__(self, memo: Any, /) -> MidiEvent:
        """A new event with the same message and time."""

# ---------------------------------------------------------------------------
# Signal generators

@final
class SineOscillator:
    """A sine wave at a fixed frequency, rendered block by block.

    Frequency, amplitude and rate are fixed at construction (construct a new
    object to change them or to restart the wave). Consecutive renders
    continue the wave without a seam. The first sample is 0.0. Nothing is
    validated: negative frequencies run backwards; a sample rate of 0 gives
    NaN after the first sample. Cannot be copied or pickled: its phase is not
    visible from Python.
    """

    def __new__(cls, frequency: _Real = 440.0, amplitude: _Real = 1.0, sample_rate: _Int = 44100) -> SineOscillator:
        """``frequency`` in Hz, ``amplitude`` the linear peak, ``sample_rate``
        in Hz."""

    @property
    def frequency(self) -> float:
        """Frequency in Hz (read-only)."""

    @property
    def amplitude(self) -> float:
        """Linear peak amplitude (read-only)."""

    @property
    def sample_rate(self) -> int:
        """Sample rate in Hz (read-only)."""

    def render_to_buffer(self, frames: _Int) -> list[float]:
        """The next ``frames`` samples as a new list of floats (32-bit
        values); advances the phase. Rendering 3 then 5 frames gives the same
        8 values as rendering 8 at once."""

    def render_into(self, out: _FloatBuffer) -> None:
        """Renders ``len(out)`` samples into ``out``, a writable contiguous
        one-dimensional buffer of 32-bit floats: the same values
        ``render_to_buffer(len(out))`` would return, continuing the same
        signal (so slices of one array can be rendered in turn). A refused
        buffer changes nothing."""

    def __reduce__(self) -> NoReturn:
        """Raises ``TypeError``: oscillators cannot be copied or pickled."""

@final
class SquareOscillator:
    """A square wave at a fixed frequency: +amplitude for the first half of
    each cycle, -amplitude for the second (the first sample is +amplitude).

    Fixed at construction; consecutive renders continue without a seam.
    Cannot be copied or pickled: its phase is not visible from Python.
    """

    def __new__(cls, frequency: _Real = 440.0, amplitude: _Real = 1.0, sample_rate: _Int = 44100) -> SquareOscillator:
        """``frequency`` in Hz, ``amplitude`` the linear peak, ``sample_rate``
        in Hz."""

    @property
    def frequency(self) -> float:
        """Frequency in Hz (read-only)."""

    @property
    def amplitude(self) -> float:
        """Linear peak amplitude (read-only)."""

    @property
    def sample_rate(self) -> int:
        """Sample rate in Hz (read-only)."""

    def render_to_buffer(self, frames: _Int) -> list[float]:
        """The next ``frames`` samples as a new list of floats; advances the
        phase."""

    def render_into(self, out: _FloatBuffer) -> None:
        """Renders ``len(out)`` samples into ``out``, a writable contiguous
        one-dimensional buffer of 32-bit floats: the same values
        ``render_to_buffer(len(out))`` would return, continuing the same
        signal (so slices of one array can be rendered in turn). A refused
        buffer changes nothing."""

    def __reduce__(self) -> NoReturn:
        """Raises ``TypeError``: oscillators cannot be copied or pickled."""

@final
class SawOscillator:
    """A rising sawtooth at a fixed frequency, from -amplitude (the first
    sample) towards +amplitude over each cycle.

    Fixed at construction; consecutive renders continue without a seam.
    Cannot be copied or pickled: its phase is not visible from Python.
    """

    def __new__(cls, frequency: _Real = 440.0, amplitude: _Real = 1.0, sample_rate: _Int = 44100) -> SawOscillator:
        """``frequency`` in Hz, ``amplitude`` the linear peak, ``sample_rate``
        in Hz."""

    @property
    def frequency(self) -> float:
        """Frequency in Hz (read-only)."""

    @property
    def amplitude(self) -> float:
        """Linear peak amplitude (read-only)."""

    @property
    def sample_rate(self) -> int:
        """Sample rate in Hz (read-only)."""

    def render_to_buffer(self, frames: _Int) -> list[float]:
        """The next ``frames`` samples as a new list of floats; advances the
        phase."""

    def render_into(self, out: _FloatBuffer) -> None:
        """Renders ``len(out)`` samples into ``out``, a writable contiguous
        one-dimensional buffer of 32-bit floats: the same values
        ``render_to_buffer(len(out))`` would return, continuing the same
        signal (so slices of one array can be rendered in turn). A refused
        buffer changes nothing."""

    def __reduce__(self) -> NoReturn:
        """Raises ``TypeError``: oscillators cannot be copied or pickled."""

@final
class NoiseSource:
    """Seeded pseudo-random noise: the same seed gives the same samples.

    One-sided: samples lie in -amplitude..0, not -amplitude..+amplitude. To
    centre it, use 2 x sample + amplitude. Cannot be copied or pickled: its
    generator state is not visible from Python.
    """

    def __new__(cls, amplitude: _Real = 1.0, seed: _Int = 42) -> NoiseSource:
        """``amplitude`` the linear peak; ``seed`` 0..2^64-1, taken as the
        generator's initial state unchanged (0 is a valid seed)."""

    @property
    def amplitude(self) -> float:
        """Linear peak amplitude (read-only). The seed is not readable."""

    def render_to_buffer(self, frames: _Int) -> list[float]:
        """The next ``frames`` samples as a new list of floats, each in
        -amplitude..0; advances the generator."""

    def render_into(self, out: _FloatBuffer) -> None:
        """Renders ``len(out)`` samples into ``out``, a writable contiguous
        one-dimensional buffer of 32-bit floats: the same values
        ``render_to_buffer(len(out))`` would return, continuing the same
        signal (so slices of one array can be rendered in turn). A refused
        buffer changes nothing."""

    def __reduce__(self) -> NoReturn:
        """Raises ``TypeError``: noise sources cannot be copied or pickled."""

# ---------------------------------------------------------------------------
# Mixing

@final
class MixerChannel:
    """A stand-alone channel strip: name, gain, constant-power pan, mute and
    solo.

    A ``Mixer`` makes its own strips from names: assigning to a
    ``MixerChannel`` never changes a mixer, and ``Mixer.get_channel`` hands
    out a copy (``mixer.get_channel(0).gain = 0.1`` changes only that copy;
    use ``Mixer.set_channel_gain``). Equal when all five fields are; not
    hashable.
    """

    def __new__(cls, name: str = "Channel") -> MixerChannel:
        """A strip with gain 0.8, pan 0.0 (centre), mute and solo off."""

    @property
    def name(self) -> str:
        """The name; any string, also empty."""

    @name.setter
    def name(self, value: str) -> None: ...
    @property
    def gain(self) -> float:
        """Linear gain, 0.0..2.0, default 0.8 (the 32-bit float
        0.800000011920929). Assigning rounds to a 32-bit float and clamps;
        NaN is stored as NaN."""

    @gain.setter
    def gain(self, value: _Real) -> None: ...
    @property
    def pan(self) -> float:
        """Pan position, -1.0 (left) .. 1.0 (right), clamped on assignment.
        Constant-power law: the centre gives about 0.7071 on each side
        (-3 dB)."""

    @pan.setter
    def pan(self, value: _Real) -> None: ...
    @property
    def mute(self) -> bool:
        """A muted strip gives silence."""

    @mute.setter
    def mute(self, value: bool) -> None: ...
    @property
    def solo(self) -> bool:
        """Stored only: ``process_sample`` ignores it; a mixer hears only its
        soloed channels when any is soloed."""

    @solo.setter
    def solo(self, value: bool) -> None: ...
    def process_sample(self, sample: _Real) -> tuple[float, float]:
        """(left, right) for one mono sample: sample x gain, panned; (0.0,
        0.0) when muted."""

    def __eq__(self, value: object, /) -> bool:
        """True when ``value`` is of the same class with equal fields (floats by
        IEEE equality); never equal to other types (``Note(60) == 60`` is
        False). Ordering raises ``TypeError``."""

    def __ne__(self, value: object, /) -> bool:
        """The negation of ``==``."""
    __hash__: ClassVar[None]  # type: ignore[assignment]
    """Not hashable: instances cannot be set members or dict keys."""
    def __reduce__(self) -> tuple[Any, ...]:
        """The name and the other four fields, for pickle."""

    def __setstate__(self, state: tuple[Any, ...], /) -> None:
        """Restores gain, pan, mute and solo as ``__reduce__`` gave them
        (clamped as by the setters)."""

    def __copy__(self) -> MixerChannel:
        """A new, equal strip."""

    def __deepcopy__(self, memo: Any, /) -> MixerChannel:
        """A new, equal strip."""

@final
class Mixer:
    """An ordered list of channel strips and a master gain that mixes one
    mono block per channel into interleaved stereo.

    Channels are addressed by index (from 0, in the order added); removing a
    channel moves the later ones down. ``len()`` is the channel count.
    """

    def __new__(cls) -> Mixer:
        """No channels; master gain 0.8."""

    @property
    def master_gain(self) -> float:
        """Linear gain applied after summing, 0.0..2.0 (clamped on
        assignment), default 0.8."""

    @master_gain.setter
    def master_gain(self, value: _Real) -> None: ...
    def channel_count(self) -> int:
        """Number of channels."""

    def add_channel(self, name: str) -> int:
        """Appends a new strip (gain 0.8, centre, not muted or soloed) and
        returns its index. Names need not be unique."""

    def remove_channel(self, index: _Int) -> MixerChannel | None:
        """Removes the channel and returns it as a new ``MixerChannel``; later
        channels move down one place. ``None`` (and no change) when the index
        is out of range."""

    def get_channel(self, index: _Int) -> MixerChannel:
        """A copy of the channel: changing it does not change the mixer.
        ``IndexError`` "Channel index {i} out of range ({count})"."""

    def set_channel_gain(self, index: _Int, gain: _Real) -> None:
        """Sets the channel's gain, clamped to 0.0..2.0. ``IndexError``
        "Channel index {i} out of range"."""

    def set_channel_pan(self, index: _Int, pan: _Real) -> None:
        """Sets the channel's pan, clamped to -1.0..1.0. ``IndexError`` as
        for ``set_channel_gain``."""

    def set_channel_mute(self, index: _Int, mute: bool) -> None:
        """Mutes or unmutes the channel. ``IndexError`` as for
        ``set_channel_gain``."""

    def set_channel_solo(self, index: _Int, solo: bool) -> None:
        """Solos the channel: while any channel is soloed, only soloed (and
        unmuted) channels are heard. ``IndexError`` as for
        ``set_channel_gain``."""

    def mix_down(self, channel_buffers: _Blocks) -> list[float]:
        """Mixes one mono block per channel, in channel order, into a new list
        of 2 x N floats (left, right, left, ...), N the length of the first
        block. Longer blocks are cut to N, shorter ones stop early. Each
        sample is rounded to a 32-bit float, scaled by its channel's gain,
        panned, summed, and scaled by the master gain; nothing is clipped.
        ``channel_buffers`` may also be a 2-D float array of shape (channels,
        N). Every block is converted (muted ones too), then ``ValueError``
        "Expected {n} buffers, got {m}" unless there is one per channel."""

    def mix_down_into(self, out: _FloatBuffer, channel_buffers: _Blocks) -> None:
        """``mix_down`` into ``out``, a writable contiguous buffer of 32-bit
        floats of 2 x N elements, flat or of shape (N, 2), N the length of
        the first block (``ValueError`` otherwise). ``channel_buffers`` may be
        a 2-D float array of shape (channels, N). Inputs that share memory
        with ``out`` are read before it is written. A refused argument changes
        nothing."""

    def channel_names(self) -> list[str]:
        """The channel names, in index order."""

    def __len__(self) -> int:
        """The channel count."""

    def __reduce__(self) -> tuple[Any, ...]:
        """The master gain and the channel strips, for pickle."""

    def __setstate__(self, state: tuple[Any, ...], /) -> None:
        """Replaces every channel and the master gain with the state
        ``__reduce__`` gave."""

    def __copy__(self) -> Mixer:
        """A new mixer with copies of the strips."""

    def __deepcopy__(self, memo: Any, /) -> Mixer:
        """A new mixer with copies of the strips."""

# ---------------------------------------------------------------------------
# Sequencing

@final
class Step:
    """One cell of a step-sequencer grid: note, velocity, length and an on
    switch. A plain value: a ``Pattern`` stores a copy and hands out copies.

    Equal when all four fields are; not hashable.
    """

    def __new__(cls, note: _Int, velocity: _Int, duration_ticks: _Int = 1) -> Step:
        """An active step. Note and velocity are converted (0..255) before
        either is range-checked (0-127), note first."""

    @property
    def note(self) -> int:
        """MIDI note 0-127; ``ValueError`` on assignment of 128..255 (the step
        is unchanged)."""

    @note.setter
    def note(self, value: _Int) -> None: ...
    @property
    def velocity(self) -> int:
        """Note-on velocity 0-127; ``ValueError`` on assignment of 128..255."""

    @velocity.setter
    def velocity(self, value: _Int) -> None: ...
    @property
    def duration_ticks(self) -> int:
        """Length of the note in grid steps (the sequencer's ``step_duration``
        each), not the transport's 480 ticks per beat. 0..2^32-1; 0 gives a
        note-off at the note-on's time."""

    @duration_ticks.setter
    def duration_ticks(self, value: _Int) -> None: ...
    @property
    def active(self) -> bool:
        """Whether the step sounds."""

    @active.setter
    def active(self, value: bool) -> None: ...
    def __eq__(self, value: object, /) -> bool:
        """True when ``value`` is of the same class with equal fields (floats by
        IEEE equality); never equal to other types (``Note(60) == 60`` is
        False). Ordering raises ``TypeError``."""

    def __ne__(self, value: object, /) -> bool:
        """The negation of ``==``."""
    __hash__: ClassVar[None]  # type: ignore[assignment]
    """Not hashable: instances cannot be set members or dict keys."""
    def __reduce__(self) -> tuple[Any, ...]:
        """The constructor arguments and the ``active`` flag, for pickle."""

    def __setstate__(self, state: tuple[Any, ...], /) -> None:
        """Restores the ``active`` flag as ``__reduce__`` gave it."""

    def __copy__(self) -> Step:
        """A new, equal step."""

    def __deepcopy__(self, memo: Any, /) -> Step:
        """A new, equal step."""

@final
class Pattern:
    """A fixed-length row of steps plus a loop flag.

    A new pattern's cells all hold ``Step(60, 0)`` switched off (note 60,
    velocity 0, one step long, inactive), so a cell switched on with
    ``toggle_step`` plays note 60 at velocity 0. Indices are unsigned: a
    negative index raises ``OverflowError``, never counts from the end.
    ``len()`` is the step count. Patterns compare by identity.
    """

    def __new__(cls, length: _Int = 16) -> Pattern:
        """``length`` cells (0 gives an empty pattern); fixed for life."""

    @property
    def length(self) -> int:
        """Number of steps (read-only)."""

    @property
    def loop_enabled(self) -> bool:
        """The loop flag, default True. Stored only: a ``StepSequencer``
        always wraps around the pattern whatever it says."""

    @loop_enabled.setter
    def loop_enabled(self, value: bool) -> None: ...
    def set_step(self, index: _Int, step: Step) -> bool:
        """Copies ``step`` into the cell and returns True; False (and no
        change, no exception) when the index is out of range."""

    def toggle_step(self, index: _Int) -> bool:
        """Inverts the cell's ``active`` flag and returns True; False when the
        index is out of range."""

    def get_step(self, index: _Int) -> Step:
        """A copy of the cell: changing it does not change the pattern.
        ``IndexError`` "Step index {i} out of range ({length})"."""

    def clear(self) -> None:
        """Switches every cell off; notes, velocities and lengths stay."""

    def __len__(self) -> int:
        """The step count."""

    def __reduce__(self) -> tuple[Any, ...]:
        """The length, the loop flag and every step, for pickle."""

    def __setstate__(self, state: tuple[Any, ...], /) -> None:
        """Restores the loop flag and one ``Step`` per cell as ``__reduce__``
        gave them."""

    def __copy__(self) -> Pattern:
        """A new pattern with copies of the steps."""

    def __deepcopy__(self, memo: Any, /) -> Pattern:
        """A new pattern with copies of the steps."""

@final
class NoteEvent:
    """One freely timed note: start and length in beats, MIDI note and
    velocity. A plain value.

    Equal when all four fields are (floats by IEEE equality: an event at NaN
    is not equal to itself); not hashable.
    """

    def __new__(cls, beat_position: _Real, duration: _Real, note: _Int, velocity: _Int) -> NoteEvent:
        """Positions and lengths are stored unchanged (negative, zero and
        non-finite values too). Note and velocity are checked (0-127) after
        all four are converted, note first."""

    @property
    def beat_position(self) -> float:
        """Start, in beats."""

    @beat_position.setter
    def beat_position(self, value: _Real) -> None: ...
    @property
    def duration(self) -> float:
        """Length, in beats."""

    @duration.setter
    def duration(self, value: _Real) -> None: ...
    @property
    def note(self) -> int:
        """MIDI note 0-127 (``ValueError`` on assignment of 128..255)."""

    @note.setter
    def note(self, value: _Int) -> None: ...
    @property
    def velocity(self) -> int:
        """Velocity 0-127 (``ValueError`` on assignment of 128..255)."""

    @velocity.setter
    def velocity(self, value: _Int) -> None: ...
    def end_position(self) -> float:
        """beat_position + duration, in beats (a method, not a property)."""

    def __eq__(self, value: object, /) -> bool:
        """True when ``value`` is of the same class with equal fields (floats by
        IEEE equality); never equal to other types (``Note(60) == 60`` is
        False). Ordering raises ``TypeError``."""

    def __ne__(self, value: object, /) -> bool:
        """The negation of ``==``."""
    __hash__: ClassVar[None]  # type: ignore[assignment]
    """Not hashable: instances cannot be set members or dict keys."""
    def __reduce__(self) -> tuple[Any, ...]:
        """The constructor arguments, for pickle."""

    def __copy__(self) -> NoteEvent:
        """A new, equal event."""

    def __deepcopy__(self, memo: Any, /) -> NoteEvent:
        """A new, equal event."""

@final
class EventSequence:
    """Note events kept in order of start beat (equal starts in the order
    added), queried by beat range.

    Every event goes in and comes out as a copy: changing an event you added,
    or one handed back, never changes the sequence. ``len()`` is the event
    count. Sequences compare by identity.
    """

    def __new__(cls) -> EventSequence:
        """An empty sequence."""

    def add_event(self, event: NoteEvent) -> None:
        """Inserts a copy after every event that starts at or before it."""

    def remove_event(self, index: _Int) -> NoteEvent | None:
        """Removes the event at ``index`` (in start order) and returns it;
        ``None`` (no exception, no change) beyond the end."""

    def events(self) -> list[NoteEvent]:
        """Copies of every event, in order."""

    def events_in_range(self, start: _Real, end: _Real) -> list[NoteEvent]:
        """Copies of the events sounding during [start, end) beats: those
        starting before ``end`` and ending after ``start`` (an event ending
        exactly at ``start`` is left out)."""

    def events_starting_in_range(self, start: _Real, end: _Real) -> list[NoteEvent]:
        """Copies of the events with start <= beat_position < end: feed it the
        ranges of ``TransportClock.advance_by_frames`` to find the notes to
        start in each block."""

    def duration(self) -> float:
        """The latest end in beats, at least 0.0 (NaN ends are skipped)."""

    def clear(self) -> None:
        """Removes every event."""

    def __len__(self) -> int:
        """The event count."""

    def __reduce__(self) -> tuple[Any, ...]:
        """The events in order, for pickle."""

    def __setstate__(self, state: tuple[Any, ...], /) -> None:
        """Replaces the events with those ``__reduce__`` gave, in their order
        (``ValueError`` if their starts decrease)."""

    def __copy__(self) -> EventSequence:
        """A new sequence with copies of the events."""

    def __deepcopy__(self, memo: Any, /) -> EventSequence:
        """A new sequence with copies of the events."""

@final
class TransportClock:
    """Musical time: a tempo in beats per minute, a play position in beats,
    a tick resolution, and a stopped / playing / paused state.

    Each audio block, ``advance_by_frames`` turns its frame count into the
    half-open beat range [start, end) it covers, for the sequencers. Clocks
    compare by identity.
    """

    def __new__(cls, bpm: _Real = 120.0) -> TransportClock:
        """Stopped at beat 0.0, 480 ticks per beat. The tempo is stored as
        given (only the ``bpm`` property clamps)."""

    @property
    def bpm(self) -> float:
        """Tempo in beats per minute. Assigning stores max(value, 1.0); NaN
        stores 1.0."""

    @bpm.setter
    def bpm(self, value: _Real) -> None: ...
    @property
    def position(self) -> float:
        """Play position in beats (read-only: use ``seek``)."""

    @property
    def ticks_per_beat(self) -> int:
        """Tick resolution used by ``beats_to_ticks``/``ticks_to_beats``,
        default 480, 0..2^32-1 (0 accepted). Unrelated to
        ``Step.duration_ticks``, which counts grid steps."""

    @ticks_per_beat.setter
    def ticks_per_beat(self, value: _Int) -> None: ...
    @property
    def state(self) -> Literal["stopped", "playing", "paused"]:
        """The transport state (read-only)."""

    def play(self) -> None:
        """Starts (or resumes) from the current position."""

    def pause(self) -> None:
        """Holds the position (also from stopped)."""

    def stop(self) -> None:
        """Stops and moves the position back to 0.0."""

    def seek(self, beat: _Real) -> None:
        """Moves to max(beat, 0.0) beats (NaN gives 0.0) in any state,
        leaving the state alone."""

    def advance_by_frames(self, frames: _Int, sample_rate: _Int) -> tuple[float, float] | None:
        """While playing: the beat range (start, end) covered by ``frames``
        frames at ``sample_rate`` Hz, moving the position to ``end``;
        consecutive calls give adjoining ranges. ``None`` until ``play()``
        (and while paused or stopped), with nothing changed."""

    def beats_to_seconds(self, beats: _Real) -> float:
        """beats x 60 / bpm, at the current tempo."""

    def seconds_to_beats(self, seconds: _Real) -> float:
        """seconds x bpm / 60, at the current tempo."""

    def beats_to_ticks(self, beats: _Real) -> int:
        """beats x ticks_per_beat, rounded half away from zero and saturated
        to 0..2^64-1 (negative and NaN give 0)."""

    def ticks_to_beats(self, ticks: _Int) -> float:
        """ticks / ticks_per_beat (infinite with 0 ticks per beat)."""

    def __reduce__(self) -> tuple[Any, ...]:
        """Tempo, position, tick resolution and state, for pickle."""

    def __setstate__(self, state: tuple[Any, ...], /) -> None:
        """Restores position, tick resolution and state exactly as
        ``__reduce__`` gave them."""

    def __copy__(self) -> TransportClock:
        """A new clock in the same place and state."""

    def __deepcopy__(self, memo: Any, /) -> TransportClock:
        """A new clock in the same place and state."""

@final
class StepSequencer:
    """Plays a copy of a ``Pattern`` on a grid of beats (4 steps per beat by
    default), range by range.

    Step k sounds at beats k x step_duration, (k + length) x step_duration,
    ... : the grid is anchored at beat 0 and always wraps around the pattern.
    The sequencer remembers the last step it visited, so consecutive ranges
    never report a step twice; a range that lies before that step (after the
    transport jumped back) yields nothing until ``reset()``. Cannot be copied
    or pickled: its pattern copy and progress are not visible from Python.
    """

    def __new__(cls, pattern: Pattern, channel: _Int = 0) -> StepSequencer:
        """Copies ``pattern``: later edits to it do not reach the sequencer
        until ``set_pattern``. ``channel`` 0-15 is checked but does not appear
        in the events."""

    @property
    def step_duration(self) -> float:
        """Grid spacing in beats, default 0.25; stored unchanged. With a zero,
        negative or non-finite spacing ``process_beat_range`` raises
        ``ValueError`` (the grid cannot be walked)."""

    @step_duration.setter
    def step_duration(self, value: _Real) -> None: ...
    @property
    def current_step(self) -> int:
        """Pattern index of the last step visited (read-only)."""

    def set_pattern(self, pattern: Pattern) -> None:
        """Replaces the pattern copy with a fresh copy; the progress stays."""

    def reset(self) -> None:
        """Forgets the progress: the next range starts again from beat 0."""

    def process_beat_range(self, start: _Real, end: _Real) -> list[StepEvent]:
        """The events of the active steps whose grid time lies in [start,
        end) beats, as tuples (kind, note, velocity, time): kind "note_on" or
        "note_off", velocity 0 for "note_off", time in millionths of a beat
        (not microseconds). Each note-off directly follows its note-on, so
        the list is not sorted by time, and a note-off may lie beyond ``end``.
        Grid times before ``start`` are skipped without being remembered.
        ``ValueError`` when the step duration is not positive and finite, or
        when the range spans too many grid times to walk in one call (use
        shorter ranges); the sequencer is then unchanged."""

    def __reduce__(self) -> NoReturn:
        """Raises ``TypeError``: sequencers cannot be copied or pickled."""

# ---------------------------------------------------------------------------
# Sampling

@final
class AudioSample:
    """One mono recording: its frames as 32-bit floats, the rate they were
    recorded at, the note at which they sound at their own pitch, and
    optional loop points.

    Every hand-over copies the frames. ``len()`` is the frame count. Samples
    compare by identity.
    """

    def __new__(cls, data: _FloatSequence, sample_rate: _Int = 44100, root_note: _Int = 69) -> AudioSample:
        """``data``: any sequence of numbers except a str (``TypeError``), each
        stored as a 32-bit float; may be empty. ``root_note`` 0-127. No loop
        points."""

    @property
    def sample_rate(self) -> int:
        """Recording rate in Hz (read-only); 0 is accepted."""

    @property
    def root_note(self) -> int:
        """The note at which the sample plays at its recorded pitch, 0-127
        (``ValueError`` on assignment of 128..255, nothing changed)."""

    @root_note.setter
    def root_note(self, value: _Int) -> None: ...
    @property
    def loop_start(self) -> int | None:
        """First frame of the loop, or ``None``. Stored as given: the sampler
        loops only when both points are set and start < end <= len."""

    @loop_start.setter
    def loop_start(self, value: _Int | None) -> None: ...
    @property
    def loop_end(self) -> int | None:
        """End of the loop (exclusive), or ``None``; see ``loop_start``."""

    @loop_end.setter
    def loop_end(self, value: _Int | None) -> None: ...
    def duration_seconds(self) -> float:
        """Frames / sample rate, in seconds; 0.0 at a rate of 0."""

    def data(self) -> list[float]:
        """A new list of every frame."""

    def __len__(self) -> int:
        """The frame count."""

    def __reduce__(self) -> tuple[Any, ...]:
        """The frames, rate, root note and loop points, for pickle."""

    def __setstate__(self, state: tuple[Any, ...], /) -> None:
        """Restores the loop points as ``__reduce__`` gave them."""

    def __copy__(self) -> AudioSample:
        """A new sample with the same frames and settings."""

    def __deepcopy__(self, memo: Any, /) -> AudioSample:
        """A new sample with the same frames and settings."""

@final
class Envelope:
    """ADSR parameters for a ``Sampler``: attack, decay and release times in
    seconds and a sustain level.

    Values are clamped, never rejected: times to >= 0.0 (NaN gives 0.0),
    sustain to 0.0..1.0 (NaN stays NaN). A sampler copies the envelope, and
    each note copies it again when it starts: changing this object later
    affects neither. With an attack above 0 the first frame of every note is
    silent. Equal when all four fields are; not hashable.
    """

    def __new__(
        cls, attack: _Real = 0.005, decay: _Real = 0.1, sustain: _Real = 0.8, release: _Real = 0.1
    ) -> Envelope:
        """Clamped as described for the class."""

    @property
    def attack(self) -> float:
        """Seconds from silence to full level."""

    @attack.setter
    def attack(self, value: _Real) -> None: ...
    @property
    def decay(self) -> float:
        """Seconds from full level down to the sustain level."""

    @decay.setter
    def decay(self, value: _Real) -> None: ...
    @property
    def sustain(self) -> float:
        """Level held while the note is held, 0.0..1.0."""

    @sustain.setter
    def sustain(self, value: _Real) -> None: ...
    @property
    def release(self) -> float:
        """Seconds from the level at note-off down to silence (whatever that
        level is)."""

    @release.setter
    def release(self, value: _Real) -> None: ...
    def __eq__(self, value: object, /) -> bool:
        """True when ``value`` is of the same class with equal fields (floats by
        IEEE equality); never equal to other types (``Note(60) == 60`` is
        False). Ordering raises ``TypeError``."""

    def __ne__(self, value: object, /) -> bool:
        """The negation of ``==``."""
    __hash__: ClassVar[None]  # type: ignore[assignment]
    """Not hashable: instances cannot be set members or dict keys."""
    def __reduce__(self) -> tuple[Any, ...]:
        """The constructor arguments, for pickle."""

    def __copy__(self) -> Envelope:
        """A new, equal envelope."""

    def __deepcopy__(self, memo: Any, /) -> Envelope:
        """A new, equal envelope."""

@final
class SampleMapping:
    """A key/velocity zone: an ``AudioSample`` (copied) with an inclusive note
    range and an inclusive velocity range. A zone whose low end is above its
    high end matches nothing. Never changes after construction.
    """

    def __new__(
        cls, sample: AudioSample, note_low: _Int, note_high: _Int, velocity_low: _Int, velocity_high: _Int
    ) -> SampleMapping:
        """All arguments are converted first, then the bounds are checked
        (0-127) in argument order."""

    def matches(self, note: _Int, velocity: _Int) -> bool:
        """Whether note_low <= note <= note_high and velocity_low <= velocity
        <= velocity_high. Note and velocity are range-checked first."""

    def __reduce__(self) -> tuple[Any, ...]:
        """The constructor arguments, for pickle."""

    def __copy__(self) -> SampleMapping:
        """A new mapping with a copy of the sample and the same zone."""

    def __deepcopy__(self, memo: Any, /) -> SampleMapping:
        """A new mapping with a copy of the sample and the same zone."""

@final
class SampleMap:
    """Zones in the order added; the first zone containing a note and a
    velocity picks the sample. Only grows. ``len()`` is the zone count.
    """

    def __new__(cls) -> SampleMap:
        """An empty map."""

    @staticmethod
    def single_sample(sample: AudioSample) -> SampleMap:
        """A map with one zone covering every note and velocity."""

    def add_mapping(self, mapping: SampleMapping) -> None:
        """Appends a copy of ``mapping``; overlaps are allowed (earlier zones
        win)."""

    def find_sample(self, note: _Int, velocity: _Int) -> AudioSample | None:
        """A copy of the sample of the first zone containing (note,
        velocity), or ``None``. Note and velocity are range-checked first,
        even on an empty map."""

    def mapping_count(self) -> int:
        """The zone count."""

    def __len__(self) -> int:
        """The zone count."""

    def __reduce__(self) -> tuple[Any, ...]:
        """The zones in order, for pickle."""

    def __setstate__(self, state: tuple[Any, ...], /) -> None:
        """Replaces the zones with those ``__reduce__`` gave."""

    def __copy__(self) -> SampleMap:
        """A new map with copies of the zones."""

    def __deepcopy__(self, memo: Any, /) -> SampleMap:
        """A new map with copies of the zones."""

@final
class Sampler:
    """A polyphonic voice engine: plays one ``AudioSample`` (copied) at any
    MIDI pitch through an ADSR envelope and renders mono blocks.

    Each ``note_on`` starts a voice at once (timing inside a block is the
    caller's business). Voices are summed and the sum is clipped to
    -1.0..1.0. At ``max_voices`` a new note replaces the oldest voice, even
    one still held. A sample without a valid loop ends its voice when it runs
    out, even while the note is held. Cannot be copied or pickled: its voices
    are not visible from Python.
    """

    def __new__(cls, sample: AudioSample, sample_rate: _Int = 44100, max_voices: _Int = 8) -> Sampler:
        """``sample_rate`` is the output rate in Hz (the sample keeps its own);
        the envelope starts at ``Envelope()``'s defaults."""

    @property
    def max_voices(self) -> int:
        """The polyphony limit, applied when a note starts (lowering it drops
        no voice at once)."""

    @max_voices.setter
    def max_voices(self, value: _Int) -> None: ...
    @property
    def sample_rate(self) -> int:
        """The output rate in Hz (read-only)."""
    @property
    def sample(self) -> AudioSample:
        """A copy of the sample the sampler's own notes play (read-only)."""
    @property
    def envelope(self) -> Envelope:
        """A copy of the envelope notes started from now on get (read-only;
        ``set_envelope`` changes it)."""

    def set_envelope(self, envelope: Envelope) -> None:
        """Copies the envelope for notes started from now on; sounding voices
        keep theirs."""

    def note_on(self, note: _Int, velocity: _Int) -> None:
        """Starts a voice at ``note`` (0-127), with gain velocity / 127. A
        velocity of 0 starts a silent voice, not a release. A note already
        sounding gets a second voice."""

    def note_on_sample(self, note: _Int, velocity: _Int, sample: AudioSample | None = None) -> int:
        """Starts a voice of ``note`` that plays ``sample`` (copied, with its
        own rate, root note and loop points) instead of the sampler's own
        (the sampler's own when None), under the sampler's envelope and voice
        limit: e.g. the sample a ``SampleMap`` picks for the note. Checks as
        ``note_on``. Returns the voice's handle for ``release_voice``."""

    def release_voice(self, handle: _Int) -> bool:
        """Releases the one voice that ``note_on_sample`` started under
        ``handle``, if it still sounds, so that a note ends on its own even
        while another voice plays its pitch. True when the voice was found,
        False when it has already gone (finished, stolen or stopped)."""

    def _voices(self) -> tuple[int, list[tuple[Any, ...]]]:
        """The sounding voices and the next handle as plain values, for
        saving a song (read back by ``_set_voices``)."""

    def _set_voices(self, state: tuple[int, list[tuple[Any, ...]]]) -> None:
        """Replaces every voice with what ``_voices`` gave."""

    def note_off(self, note: _Int) -> None:
        """Releases every voice of ``note``, whichever sample it plays."""

    def active_voice_count(self) -> int:
        """Voices sounding (released voices count until they finish)."""

    def all_notes_off(self) -> None:
        """Releases every voice; they fade over the release time."""

    def panic(self) -> None:
        """Removes every voice at once, without a fade."""

    def render(self, frames: _Int) -> list[float]:
        """The next ``frames`` mono samples as a new list of floats, clipped to
        -1.0..1.0; advances every voice. Finished voices are removed."""

    def render_into(self, out: _FloatBuffer) -> None:
        """``render(len(out))`` written into ``out``, a writable contiguous
        one-dimensional buffer of 32-bit floats. Rendering two slices of one
        array in turn, with a ``note_on`` between them, starts the note on an
        exact frame. A refused buffer changes nothing."""

    def save_state(self, state: object | None = None) -> object:
        """A snapshot of everything the sampler holds (its sounding voices
        with their positions and envelope stages, envelope and voice limit),
        as an opaque object for ``restore_state``: take one before a take you
        may want to undo. Given a ``state`` this sampler saved before, it
        overwrites that one (reusing its memory) and returns it. A state
        cannot be inspected, copied or pickled."""

    @staticmethod
    def save_states(samplers: list[Sampler], states: list[object]) -> None:
        """``samplers[i].save_state(states[i])`` for every ``i``, in one call:
        how a band of samplers (a song's tracks) is saved before each block.
        ``ValueError`` when the lists differ in length or a state belongs to
        another sampler."""

    def restore_state(self, state: object) -> None:
        """Puts the sampler back exactly as it was when ``save_state()`` gave
        ``state``, so it renders the same samples again; a state may be
        restored many times. ``TypeError`` for anything else,
        ``ValueError`` for a state saved from another sampler; either
        changes nothing."""

    def __reduce__(self) -> NoReturn:
        """Raises ``TypeError``: samplers cannot be copied or pickled."""

# ---------------------------------------------------------------------------
# Devices

@final
class AudioOutput:
    """The machine's default audio output device: plays interleaved blocks on
    it and lists the output devices.

    ``start()`` opens a stream, ``write(block)`` plays a block and returns
    once the device has taken it (so a render, mix, write loop runs in real
    time), ``stop()`` plays out what is queued and closes the stream.
    Samples are sent as 16-bit PCM. Bound to the thread that created it:
    every call from another thread raises ``RuntimeError``. Cannot be copied
    or pickled.
    """

    def __new__(cls, sample_rate: _Int = 44100, channels: _Int = 2, buffer_size: _Int = 512) -> AudioOutput:
        """Binds the default output device (nothing is opened yet): the stream
        ``start()`` opens runs at ``sample_rate`` Hz with ``channels``
        interleaved channels and a period of ``buffer_size`` frames (the
        device buffer holds about four). ``RuntimeError`` "No default audio
        output device found" on a machine without one."""

    @staticmethod
    def list_devices() -> list[str]:
        """The names of the active output devices, in the platform's order; an
        empty list when there are none or they cannot be enumerated."""

    def device_name(self) -> str:
        """The bound device's name, or "Unknown"."""

    def is_playing(self) -> bool:
        """True between ``start()`` and ``stop()``."""

    def start(self) -> None:
        """Opens a playback stream with the settings given at construction;
        the underrun count starts again from 0. ``ValueError`` when a setting
        is 0; ``RuntimeError`` "Already playing", or with the system's text
        when the device fails."""

    def write(self, block: _FloatSequence) -> None:
        """Plays interleaved frames (``len(block)`` a multiple of the channel
        count, else ``ValueError`` and nothing is sent; or a 2-D array of
        shape (frames, channels)) and returns once the
        device has taken them all. Samples are clipped to -1.0..1.0; NaN plays
        as silence. Other Python threads run while it waits; Ctrl+C ends a
        long write between periods (what was sent stays sent).
        ``RuntimeError`` "Not playing: call start() first" when stopped; a
        device failure raises ``RuntimeError`` and leaves the object stopped,
        ready to ``start()`` again."""

    def stop(self) -> None:
        """Plays out what the device holds (everything written is heard), then
        closes the stream; does nothing when stopped. ``start()`` may follow.
        Dropping a playing object closes its stream at once instead."""

    def underruns(self) -> int:
        """Times the device ran dry since ``start()`` (``write`` came too
        late); each was recovered and playing went on."""

    def __reduce__(self) -> NoReturn:
        """Raises ``TypeError``: devices cannot be copied or pickled."""

@final
class MidiInput:
    """A view of the machine's MIDI input ports: lists their names. Opens no
    port and receives no MIDI. Bound to the thread that created it. Cannot be
    copied or pickled.
    """

    def __new__(cls, client_name: str = "tamlor") -> MidiInput:
        """``client_name`` must be a str; it is not used further."""

    def list_ports(self) -> list[str]:
        """The names of the MIDI input ports present now, in device order."""

    def __reduce__(self) -> NoReturn:
        """Raises ``TypeError``: devices cannot be copied or pickled."""
