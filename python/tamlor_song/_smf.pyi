"""Standard MIDI Files read into parts and written from tracks (native)."""

_Note = tuple[int, float, float, int, int]
_Part = tuple[int, int, int, int, int, str, bool, bool, list[_Note]]

def read(data: bytes, source: str, first_seq: int) -> tuple[int, int, int, list[tuple[float, float]], list[_Part]]:
    """Reads a Standard MIDI File held in bytes: (format, ticks_per_beat,
    tracks, tempo, parts). Each part is (track, channel, program, volume,
    pan, name, split_channels, split_programs, notes), each note (seq,
    start_beat, duration_beats, note, velocity), numbered from `first_seq`.
    ValueError "{source}: {reason} at byte {offset}" for a file it cannot
    read."""

def write(tempo: list[tuple[float, float]], tracks: list[tuple[str, int, int, list[tuple[float, float, int, int]]]],
          ticks_per_beat: int) -> bytes:
    """A format 1 Standard MIDI File: the tempo map as track 0, then each
    track (name, channel, program or -1, notes)."""
