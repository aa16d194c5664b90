"""Songs in a notebook: the HTML a notebook shows for a `Song`, a player with
the whole song and its piano roll beneath.

A notebook asks any object it shows for `_repr_html_()`; a song answers with
an `<audio controls>` player holding the song from its first frame to the end
of its last sound, as a 16-bit WAV file embedded in the page (the very bytes
`Song.write_wav(path, "pcm16")` writes), and the SVG piano roll. Nothing here
imports a notebook library: it is plain text that any notebook displays.

Showing a song renders a copy of it, so the song's play position and voices
are as they were. A song longer than `Song.player_limit_seconds` (10 minutes
unless you change it) shows only its roll and says why: an embedded WAV file
grows by about 10 MB a minute. A song that loops forever shows the roll of its
first `Song.loop_preview_seconds` (2 minutes unless you change it, an hour at
most), and says so. Set `player_limit_seconds` to `math.inf` for no limit.
"""
from __future__ import annotations

import base64
import copy
import math
import os
import tempfile

from .pianoroll import (MAX_NOTES, MAX_PREVIEW_SECONDS, TooManyNotes, _duration, _seconds_setting, check_size, loops_forever,
                        song_roll)
from .song import Song

__all__ = ["song_html", "wav_bytes"]


def wav_bytes(song: Song) -> bytes:
    """The bytes of the 16-bit WAV file `song.write_wav` writes, rendered from a
    copy of the song, so the song itself does not move."""
    twin = copy.deepcopy(song)
    with tempfile.TemporaryDirectory(prefix="tamlor-") as folder:
        path = os.path.join(folder, "song.wav")
        twin.write_wav(path, "pcm16")
        with open(path, "rb") as f:
            return f.read()


def _clock(seconds: float) -> str:
    """A length as minutes and seconds: 75.5 -> "1:15.5"."""
    minutes, rest = divmod(seconds, 60.0)
    return f"{int(minutes)}:{rest:04.1f}"


def _message(text: str) -> str:
    return f'<p class="tamlor-song-message" style="margin:4px 0;color:#555">{text}</p>\n'


def song_html(song: Song) -> str:
    """The HTML of a song in a notebook: a caption, the player (or why there
    is none) and the piano roll."""
    limit = _seconds_setting(song.player_limit_seconds, "player_limit_seconds", math.inf)
    looping = loops_forever(song)
    if not looping:
        try:
            check_size(song, math.inf)
        except TooManyNotes as exc:
            # Far too many notes to gather, let alone render here.
            text = (f"This song has about {exc.notes:.3g} notes, too many to play or draw here "
                    f"(more than {MAX_NOTES:,}).")
            return f'<div class="tamlor-song">{_message(text)}</div>'
    length = None if looping else song.length_frames()
    rate = song.sample_rate
    tracks = len(song.tracks)
    # Each part ends its own line; the encoded WAV file, tens of megabytes, is
    # a part of its own, copied only once, by the final join.
    parts = ['<div class="tamlor-song">\n']
    summary = f"Song: {tracks} track{'' if tracks == 1 else 's'}, \u2669 = {song.bpm:g}"
    if length is not None:
        summary += f", {_clock(length / rate)} at {rate} Hz"
    parts.append(f'<p class="tamlor-song-caption" style="margin:4px 0;font-weight:bold">{summary}</p>\n')
    if length is None:
        preview = _seconds_setting(song.loop_preview_seconds, "loop_preview_seconds", MAX_PREVIEW_SECONDS)
        parts.append(_message(f"This song loops forever, so it has no player: the roll below shows its first "
                              f"{_duration(preview)}."))
    elif length == 0:
        parts.append(_message("This song has no notes yet, so there is nothing to play."))
    elif length > limit * rate:
        parts.append(_message(f"This song lasts {_clock(length / rate)}, longer than the player's limit of "
                              f"{_duration(limit)} (Song.player_limit_seconds), so it has no player: "
                              f"write it with song.write_wav(path) to hear it."))
    else:
        parts.append('<audio class="tamlor-song-player" controls preload="metadata" src="data:audio/wav;base64,')
        parts.append(base64.b64encode(wav_bytes(song)).decode("ascii"))
        parts.append('"></audio>\n')
    parts.append(f'<div class="tamlor-song-roll">{song_roll(song)}</div>\n</div>')
    return "".join(parts)
