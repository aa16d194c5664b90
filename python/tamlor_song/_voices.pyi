"""The native player of sampled instruments (private to tamlor_song)."""
from typing import Any, Sequence, SupportsFloat, SupportsIndex, final

@final
class SampleData:
    """Recorded frames, mono or interleaved stereo, shared by every zone that plays them."""

    def __new__(cls, data: Any, channels: SupportsIndex = 1) -> SampleData: ...
    @staticmethod
    def read_int16(path: Any, offset: SupportsIndex, count: SupportsIndex) -> SampleData:
        """Read `count` little-endian 16-bit mono frames from byte `offset` of a file."""
    @staticmethod
    def from_bytes(data: bytes, channels: SupportsIndex, int16: bool) -> SampleData:
        """Data from the bytes of its values in this machine's order (as __reduce__ gives them)."""
    @property
    def frames(self) -> int:
        """Whole frames held."""
    @property
    def channels(self) -> int:
        """1 (mono) or 2 (interleaved stereo)."""
    def __len__(self) -> int: ...
    def __reduce__(self) -> tuple[Any, ...]: ...
    def __copy__(self) -> SampleData: ...
    def __deepcopy__(self, memo: Any, /) -> SampleData: ...

@final
class Player:
    """Zones and their sounding voices, rendered into interleaved stereo."""

    def __new__(cls, sample_rate: SupportsIndex = 44100, max_voices: SupportsIndex = 64) -> Player: ...
    @property
    def sample_rate(self) -> int:
        """Output frames per second."""
    @property
    def max_voices(self) -> int:
        """Most voices sounding at once; the oldest gives way."""
    @max_voices.setter
    def max_voices(self, max_voices: SupportsIndex) -> None: ...
    @property
    def zone_count(self) -> int:
        """Zones added so far."""
    def add_zone(self, data: SampleData, numbers: Sequence[SupportsFloat],
                 velocity_db: Sequence[SupportsFloat]) -> int:
        """Add a zone: its data, its 25 numbers and its gain in dB per velocity."""
    def note_on(self, key: SupportsIndex, velocity: SupportsIndex) -> int:
        """Start the zones of a key; returns the note's handle."""
    def note_off(self, handle: SupportsIndex) -> bool:
        """Release the voices of one note and start its release zones; False
        for a handle that is not held."""
    def release_key(self, key: SupportsIndex) -> None:
        """Release every held note of a key."""
    def all_notes_off(self) -> None:
        """Release every held note."""
    def panic(self) -> None:
        """Silence every voice at once."""
    def active_voice_count(self) -> int:
        """Voices sounding."""
    def render_into(self, out: Any) -> None:
        """Write the next frames into out: interleaved stereo 32-bit floats, flat or (frames, 2)."""
    def save_state(self) -> bytes:
        """The sounding voices and held notes, as bytes."""
    def restore_state(self, state: bytes) -> None:
        """Go back to a state that save_state gave."""
    def __copy__(self) -> Player: ...
    def __deepcopy__(self, memo: Any, /) -> Player: ...

def add_scaled(out: Any, block: Any, left: SupportsFloat, right: SupportsFloat) -> None:
    """out[2i] += block[2i] * left and out[2i+1] += block[2i+1] * right."""
