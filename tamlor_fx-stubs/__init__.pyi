"""Effects for audio blocks: a filter, a delay, a reverb, a compressor and a
limiter, each processing 32-bit float samples in place or from a list.

Every effect follows the same rules:

- the same input gives the same numbers on every run and machine, and the
  same whatever the block size: processing 1 frame at a time, 4096 at a time
  or the whole signal at once gives identical samples;
- parameters are properties; a new value glides there over 5 ms, so a
  change makes no click; values outside a parameter's range are clamped,
  NaN or infinite values and impossible ones (a sample rate of 0, channels
  other than 1 or 2, negative times) raise ``ValueError`` and change nothing;
- ``process_into`` works in place on a writable buffer of 32-bit floats
  (flat and interleaved, or shaped ``(frames, channels)``); ``process`` takes
  and gives lists;
- ``reset()`` clears the state; ``tail_frames`` says how long the effect
  rings on after the input stops;
- effects copy, deepcopy and pickle with their state, mid-tail included.
"""

from typing import Any, Literal, Protocol, SupportsFloat, SupportsIndex, TypeAlias, final

from typing_extensions import Buffer

__all__ = ["Filter", "Delay", "Reverb", "Compressor", "Limiter"]

# A number read as a float: int, float, or anything with __float__ or __index__.
_Real: TypeAlias = SupportsFloat | SupportsIndex
# An integer: int or anything with __index__.
_Int: TypeAlias = SupportsIndex

class _FloatSequence(Protocol):
    """Samples coming in: a sequence of numbers, or a buffer of 32- or 64-bit
    floats (a NumPy array, array.array), read as it lies in memory."""

    def __len__(self) -> int: ...
    def __getitem__(self, index: int, /) -> Any: ...

class _NumPyArray(Protocol):
    """An array that exports its memory."""

    def __array__(self) -> Any: ...

# A writable, C-contiguous buffer of 32-bit floats.
_FloatBuffer: TypeAlias = Buffer | _NumPyArray

_FilterKind: TypeAlias = Literal["lowpass", "highpass", "bandpass", "notch", "peak", "lowshelf", "highshelf", "allpass"]

@final
class Filter:
    """A two-pole filter (biquad) from the audio EQ cookbook: lowpass,
    highpass, bandpass (0 dB at the centre), notch, peak, lowshelf, highshelf
    or allpass. ``q`` is the cookbook's Q for every kind, shelves included;
    ``gain_db`` matters for peak and the shelves. The filter's memory is
    64-bit, the samples 32-bit. ``frequency`` is clamped to 10 Hz .. 0.49 x
    sample rate, ``q`` to 0.1 .. 40 and ``gain_db`` to -60 .. 60, so the
    filter is always stable.
    """

    def __new__(
        cls,
        kind: _FilterKind,
        frequency: _Real = 1000.0,
        q: _Real = 0.707,
        gain_db: _Real = 0.0,
        sample_rate: _Int = 44100,
        channels: _Int = 2,
    ) -> Filter:
        """``kind`` one of the eight names, ``frequency`` in Hz (cutoff or
        centre), ``q`` the resonance, ``gain_db`` the boost or cut."""

    @property
    def kind(self) -> str:
        """The filter's kind; assigning a new kind switches at once."""
    @kind.setter
    def kind(self, value: _FilterKind) -> None: ...
    @property
    def frequency(self) -> float:
        """Cutoff or centre frequency in Hz (clamped; glides)."""
    @frequency.setter
    def frequency(self, value: _Real) -> None: ...
    @property
    def q(self) -> float:
        """Resonance, 0.1 .. 40 (glides)."""
    @q.setter
    def q(self, value: _Real) -> None: ...
    @property
    def gain_db(self) -> float:
        """Boost (positive) or cut in dB for peak and shelves (glides)."""
    @gain_db.setter
    def gain_db(self, value: _Real) -> None: ...

    @property
    def sample_rate(self) -> int:
        """Sample rate in Hz (read-only)."""

    @property
    def channels(self) -> int:
        """1 (mono) or 2 (interleaved stereo) (read-only)."""

    @property
    def tail_frames(self) -> int:
        """Frames after the input stops until the output has fallen by 60 dB
        at the current settings."""

    def process_into(self, buffer: _FloatBuffer) -> None:
        """Processes a block in place: a writable C-contiguous buffer of
        32-bit floats, flat (interleaved when stereo) or shaped
        ``(frames, channels)``. A ``(channels, frames)`` block, another
        element type or a length that is not a whole number of frames is
        refused before anything changes."""

    def process(self, samples: _FloatSequence) -> list[float]:
        """Processes a sequence of samples (interleaved when stereo) and
        returns the result as a new list; the same numbers ``process_into``
        gives."""

    def reset(self) -> None:
        """Clears the effect's memory (delay lines, envelopes, NaN that got
        in), and ends any glide; the settings stay."""

    def __reduce__(self) -> tuple[Any, ...]:
        """The constructor arguments and the whole state, for pickle: an
        unpickled effect continues with the same numbers."""

    def __setstate__(self, state: bytes, /) -> None:
        """Restores the state ``__reduce__`` gave."""

    def __copy__(self) -> Filter:
        """A new effect in the same state."""

    def __deepcopy__(self, memo: Any, /) -> Filter:
        """A new effect in the same state."""

@final
class Delay:
    """An echo. Each repeat comes ``time`` seconds after the last, ``feedback``
    times as loud; ``mix`` crossfades the dry signal (0) and the echoes (1).
    Where ``time x sample_rate`` is a whole number an impulse returns exactly
    that many frames later; other and gliding times interpolate linearly.
    With ``ping_pong`` (stereo only) the repeats alternate left and right.
    ``time`` is at least one frame and at most ``max_time``; ``feedback`` is
    clamped to -0.99 .. 0.99 and ``mix`` to 0 .. 1. The delay line holds
    32-bit samples, the time is kept in 64-bit frames.
    """

    def __new__(
        cls,
        time: _Real = 0.375,
        feedback: _Real = 0.4,
        mix: _Real = 0.3,
        sample_rate: _Int = 44100,
        channels: _Int = 2,
        max_time: _Real = 4.0,
        ping_pong: bool = False,
    ) -> Delay:
        """``time`` and ``max_time`` in seconds (``max_time`` at most 3600
        sets the memory the delay line takes)."""

    @property
    def time(self) -> float:
        """Seconds between repeats (glides, so a change bends the pitch
        briefly, like tape)."""
    @time.setter
    def time(self, value: _Real) -> None: ...
    @property
    def feedback(self) -> float:
        """How loud each repeat is relative to the last (glides)."""
    @feedback.setter
    def feedback(self, value: _Real) -> None: ...
    @property
    def mix(self) -> float:
        """0 dry only, 1 echoes only, linear in between (glides)."""
    @mix.setter
    def mix(self, value: _Real) -> None: ...
    @property
    def max_time(self) -> float:
        """The longest time the delay can be set to (read-only)."""
    @property
    def ping_pong(self) -> bool:
        """Whether repeats alternate sides (read-only)."""

    @property
    def sample_rate(self) -> int:
        """Sample rate in Hz (read-only)."""

    @property
    def channels(self) -> int:
        """1 (mono) or 2 (interleaved stereo) (read-only)."""

    @property
    def tail_frames(self) -> int:
        """Frames after the input stops until the output has fallen by 60 dB
        at the current settings."""

    def process_into(self, buffer: _FloatBuffer) -> None:
        """Processes a block in place: a writable C-contiguous buffer of
        32-bit floats, flat (interleaved when stereo) or shaped
        ``(frames, channels)``. A ``(channels, frames)`` block, another
        element type or a length that is not a whole number of frames is
        refused before anything changes."""

    def process(self, samples: _FloatSequence) -> list[float]:
        """Processes a sequence of samples (interleaved when stereo) and
        returns the result as a new list; the same numbers ``process_into``
        gives."""

    def reset(self) -> None:
        """Clears the effect's memory (delay lines, envelopes, NaN that got
        in), and ends any glide; the settings stay."""

    def __reduce__(self) -> tuple[Any, ...]:
        """The constructor arguments and the whole state, for pickle: an
        unpickled effect continues with the same numbers."""

    def __setstate__(self, state: bytes, /) -> None:
        """Restores the state ``__reduce__`` gave."""

    def __copy__(self) -> Delay:
        """A new effect in the same state."""

    def __deepcopy__(self, memo: Any, /) -> Delay:
        """A new effect in the same state."""

@final
class Reverb:
    """A stereo room: a feedback delay network of eight lines whose tail falls
    by 60 dB in ``decay`` seconds (as measured from an impulse's energy decay
    curve), with ``damping`` making the highs die sooner, ``width`` from mono
    (0) to fully decorrelated sides (1), ``predelay`` seconds before the tail
    starts and ``mix`` crossfading dry and wet. Always two channels. ``decay``
    is clamped to 0.05 .. 60 s, ``predelay`` to 0 .. 1 s, the others to
    0 .. 1. Lines and samples are 32-bit.
    """

    def __new__(
        cls,
        decay: _Real = 2.0,
        predelay: _Real = 0.02,
        damping: _Real = 0.5,
        width: _Real = 1.0,
        mix: _Real = 0.25,
        sample_rate: _Int = 44100,
    ) -> Reverb:
        """Times in seconds, the rest 0 .. 1."""

    @property
    def decay(self) -> float:
        """Seconds for the tail to fall by 60 dB (glides)."""
    @decay.setter
    def decay(self, value: _Real) -> None: ...
    @property
    def predelay(self) -> float:
        """Seconds before the tail begins (glides)."""
    @predelay.setter
    def predelay(self, value: _Real) -> None: ...
    @property
    def damping(self) -> float:
        """0 bright, 1 dark: how much sooner the highs die (glides)."""
    @damping.setter
    def damping(self, value: _Real) -> None: ...
    @property
    def width(self) -> float:
        """0 mono tail, 1 full stereo (glides)."""
    @width.setter
    def width(self, value: _Real) -> None: ...
    @property
    def mix(self) -> float:
        """0 dry only, 1 reverb only, linear in between (glides)."""
    @mix.setter
    def mix(self, value: _Real) -> None: ...

    @property
    def sample_rate(self) -> int:
        """Sample rate in Hz (read-only)."""

    @property
    def channels(self) -> int:
        """1 (mono) or 2 (interleaved stereo) (read-only)."""

    @property
    def tail_frames(self) -> int:
        """Frames after the input stops until the output has fallen by 60 dB
        at the current settings."""

    def process_into(self, buffer: _FloatBuffer) -> None:
        """Processes a block in place: a writable C-contiguous buffer of
        32-bit floats, flat (interleaved when stereo) or shaped
        ``(frames, channels)``. A ``(channels, frames)`` block, another
        element type or a length that is not a whole number of frames is
        refused before anything changes."""

    def process(self, samples: _FloatSequence) -> list[float]:
        """Processes a sequence of samples (interleaved when stereo) and
        returns the result as a new list; the same numbers ``process_into``
        gives."""

    def reset(self) -> None:
        """Clears the effect's memory (delay lines, envelopes, NaN that got
        in), and ends any glide; the settings stay."""

    def __reduce__(self) -> tuple[Any, ...]:
        """The constructor arguments and the whole state, for pickle: an
        unpickled effect continues with the same numbers."""

    def __setstate__(self, state: bytes, /) -> None:
        """Restores the state ``__reduce__`` gave."""

    def __copy__(self) -> Reverb:
        """A new effect in the same state."""

    def __deepcopy__(self, memo: Any, /) -> Reverb:
        """A new effect in the same state."""

@final
class Compressor:
    """Turns loud passages down. Above ``threshold_db`` the level rises only
    1/``ratio`` dB per dB, joined smoothly over a ``knee_db`` wide soft knee;
    the gain reduction follows with the ``attack`` time constant and lets go
    with the ``release`` one; ``makeup_db`` raises the result. The level is
    the louder channel of each frame, so stereo keeps its image; level and
    gain run in 64-bit floats. ``threshold_db`` is clamped to -96 .. 0,
    ``ratio`` to 1 .. 100, ``knee_db`` to 0 .. 48 and ``makeup_db`` to
    -48 .. 48; ``attack`` and ``release`` are seconds above 0, at most 10.
    """

    def __new__(
        cls,
        threshold_db: _Real = -18.0,
        ratio: _Real = 4.0,
        attack: _Real = 0.005,
        release: _Real = 0.1,
        knee_db: _Real = 6.0,
        makeup_db: _Real = 0.0,
        sample_rate: _Int = 44100,
        channels: _Int = 2,
    ) -> Compressor:
        """Levels in dB relative to full scale, times in seconds."""

    @property
    def threshold_db(self) -> float:
        """Level where compression starts, dBFS (glides)."""
    @threshold_db.setter
    def threshold_db(self, value: _Real) -> None: ...
    @property
    def ratio(self) -> float:
        """dB in per dB out above the threshold (glides)."""
    @ratio.setter
    def ratio(self, value: _Real) -> None: ...
    @property
    def attack(self) -> float:
        """Time constant in seconds while the gain goes down."""
    @attack.setter
    def attack(self, value: _Real) -> None: ...
    @property
    def release(self) -> float:
        """Time constant in seconds while the gain comes back."""
    @release.setter
    def release(self, value: _Real) -> None: ...
    @property
    def knee_db(self) -> float:
        """Width of the soft knee in dB, 0 for a hard knee (glides)."""
    @knee_db.setter
    def knee_db(self, value: _Real) -> None: ...
    @property
    def makeup_db(self) -> float:
        """Gain added after compression, in dB (glides)."""
    @makeup_db.setter
    def makeup_db(self, value: _Real) -> None: ...
    @property
    def reduction_db(self) -> float:
        """The gain reduction right now, in dB (0 or below; read-only)."""

    @property
    def sample_rate(self) -> int:
        """Sample rate in Hz (read-only)."""

    @property
    def channels(self) -> int:
        """1 (mono) or 2 (interleaved stereo) (read-only)."""

    @property
    def tail_frames(self) -> int:
        """Frames after the input stops until the output has fallen by 60 dB
        at the current settings."""

    def process_into(self, buffer: _FloatBuffer) -> None:
        """Processes a block in place: a writable C-contiguous buffer of
        32-bit floats, flat (interleaved when stereo) or shaped
        ``(frames, channels)``. A ``(channels, frames)`` block, another
        element type or a length that is not a whole number of frames is
        refused before anything changes."""

    def process(self, samples: _FloatSequence) -> list[float]:
        """Processes a sequence of samples (interleaved when stereo) and
        returns the result as a new list; the same numbers ``process_into``
        gives."""

    def reset(self) -> None:
        """Clears the effect's memory (delay lines, envelopes, NaN that got
        in), and ends any glide; the settings stay."""

    def __reduce__(self) -> tuple[Any, ...]:
        """The constructor arguments and the whole state, for pickle: an
        unpickled effect continues with the same numbers."""

    def __setstate__(self, state: bytes, /) -> None:
        """Restores the state ``__reduce__`` gave."""

    def __copy__(self) -> Compressor:
        """A new effect in the same state."""

    def __deepcopy__(self, memo: Any, /) -> Compressor:
        """A new effect in the same state."""

@final
class Limiter:
    """A brickwall limiter: no sample leaves above ``ceiling_db``. It looks
    ``lookahead`` seconds ahead, eases the gain down over that time before a
    peak arrives and lets it back with the ``release`` time constant. The
    output is the input delayed by the lookahead; while the input stays at or
    below the ceiling it is exactly that, bit for bit. ``ceiling_db`` is
    clamped to -60 .. 0; ``lookahead`` (0 .. 1 s) is fixed at construction.
    """

    def __new__(
        cls,
        ceiling_db: _Real = -0.3,
        release: _Real = 0.05,
        lookahead: _Real = 0.005,
        sample_rate: _Int = 44100,
        channels: _Int = 2,
    ) -> Limiter:
        """``ceiling_db`` in dBFS, times in seconds."""

    @property
    def ceiling_db(self) -> float:
        """The highest level let through, dBFS (glides)."""
    @ceiling_db.setter
    def ceiling_db(self, value: _Real) -> None: ...
    @property
    def release(self) -> float:
        """Time constant in seconds while the gain comes back."""
    @release.setter
    def release(self, value: _Real) -> None: ...
    @property
    def lookahead(self) -> float:
        """Seconds the output lags the input (read-only)."""
    @property
    def lookahead_frames(self) -> int:
        """The lookahead in frames (read-only)."""

    @property
    def sample_rate(self) -> int:
        """Sample rate in Hz (read-only)."""

    @property
    def channels(self) -> int:
        """1 (mono) or 2 (interleaved stereo) (read-only)."""

    @property
    def tail_frames(self) -> int:
        """Frames after the input stops until the output has fallen by 60 dB
        at the current settings."""

    def process_into(self, buffer: _FloatBuffer) -> None:
        """Processes a block in place: a writable C-contiguous buffer of
        32-bit floats, flat (interleaved when stereo) or shaped
        ``(frames, channels)``. A ``(channels, frames)`` block, another
        element type or a length that is not a whole number of frames is
        refused before anything changes."""

    def process(self, samples: _FloatSequence) -> list[float]:
        """Processes a sequence of samples (interleaved when stereo) and
        returns the result as a new list; the same numbers ``process_into``
        gives."""

    def reset(self) -> None:
        """Clears the effect's memory (delay lines, envelopes, NaN that got
        in), and ends any glide; the settings stay."""

    def __reduce__(self) -> tuple[Any, ...]:
        """The constructor arguments and the whole state, for pickle: an
        unpickled effect continues with the same numbers."""

    def __setstate__(self, state: bytes, /) -> None:
        """Restores the state ``__reduce__`` gave."""

    def __copy__(self) -> Limiter:
        """A new effect in the same state."""

    def __deepcopy__(self, memo: Any, /) -> Limiter:
        """A new effect in the same state."""

def _add_scaled(dst: _FloatBuffer, src: _FloatBuffer, gain: _Real) -> None:
    """dst[i] += src[i] * gain for two buffers of 32-bit floats of the same
    length (the song layer's mixing helper)."""

def _scale(buffer: _FloatBuffer, gain: _Real) -> None:
    """buffer[i] *= gain for a buffer of 32-bit floats (the song layer's
    mixing helper)."""
