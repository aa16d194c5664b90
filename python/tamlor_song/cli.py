"""The command line: MIDI files rendered to WAV files.

    python -m tamlor_song render IN.mid [more.mid ...] -o OUT.wav|DIR
        [--sample-rate N] [--encoding pcm16|pcm24|float32] [--jobs N] [--play]
        [--soundfont FILE.sf2 | --sfz FILE.sfz]

(also installed as ``tamlor-render IN.mid ... -o ...``). One input may go to
a file; several go into a folder, each named after its input. Many inputs
render in parallel processes (``--jobs``, by default one per core). On a
terminal a progress line shows the files done, the total and the time left;
otherwise only errors are printed. Exit status: 0 when every file was
written, 1 when any failed (each named with its reason; the others are still
written), 2 for a usage error. ``--soundfont`` plays each track's program
from a SoundFont (the drum kits of bank 128 on channel index 9), ``--sfz``
every track with one SFZ instrument; without either, the built-in sounds play.

The work itself is `render_file`, a plain top-level function that a process
pool, Dask or Ray can map over a corpus.
"""
from __future__ import annotations

import argparse
import concurrent.futures
import os
import sys
import time
import warnings
from typing import Any, Optional, Sequence, TextIO, cast

from .song import Song

__all__ = ["render_file", "main", "render_main"]

ENCODINGS = ("pcm16", "pcm24", "float32")


def render_file(source: Any, destination: Any, sample_rate: int = 44100, encoding: str = "pcm16",
                instruments: Any = None) -> str:
    """Renders the MIDI file `source` (a path, bytes or a binary file object)
    with `instruments` (None: the built-in sounds) to a stereo WAV file at
    `destination`: a file path, or an existing folder, where the file is
    named after the source (``song.mid`` becomes ``song.wav``). Returns the
    path written."""
    if encoding not in ENCODINGS:
        raise ValueError(f"encoding must be one of {', '.join(ENCODINGS)} (got {encoding!r})")
    target = str(os.fspath(cast("str | os.PathLike[str]", destination)))
    if os.path.isdir(target):
        if not isinstance(source, (str, os.PathLike)):
            raise ValueError("a destination folder needs a source path to name the file after")
        stem = os.path.splitext(os.path.basename(str(os.fspath(cast("str | os.PathLike[str]", source)))))[0]
        target = os.path.join(target, stem + ".wav")
    song = Song.from_midi(source, sample_rate=sample_rate, instruments=instruments)
    song.write_wav(target, encoding=encoding)
    return target


# Sound banks named on the command line, loaded once per process: (kind, path) -> instruments.
_BANKS: dict[tuple[str, str], Any] = {}


def _bank(bank: Optional[tuple[str, str]]) -> Any:
    """What `render_file` takes as `instruments` for a --soundfont or --sfz
    option (None: the built-in sounds)."""
    if bank is None:
        return None
    found = _BANKS.get(bank)
    if found is None:
        kind, path = bank
        if kind == "soundfont":
            from .soundfont import SoundFont
            found = SoundFont(path)
        else:
            from .sfz import load_sfz
            library = load_sfz(path)

            def every_track(channel: int, program: Optional[int], track_name: str) -> Any:
                return library

            found = every_track
        _BANKS[bank] = found
    return found


def _job(source: str, destination: str, sample_rate: int, encoding: str,
         bank: Optional[tuple[str, str]] = None) -> Optional[str]:
    """One file of the command: None when written, else the reason it failed."""
    try:
        render_file(source, destination, sample_rate=sample_rate, encoding=encoding, instruments=_bank(bank))
    except (OSError, ValueError, TypeError, MemoryError, RuntimeError) as exc:
        if isinstance(exc, OSError) and exc.strerror:
            return exc.strerror + (f": {exc.filename}" if exc.filename else "")
        return str(exc) or type(exc).__name__
    return None


def _failure(prog: str, source: str, error: str) -> str:
    """The error line of a file: the reason names the file once."""
    return f"{prog}: {error}" if error.startswith(f"{source}: ") else f"{prog}: {source}: {error}"


class _Progress:
    """A one-line progress display on a terminal; silent elsewhere."""

    def __init__(self, total: int, stream: TextIO) -> None:
        self.total = total
        self.done = 0
        self.stream = stream
        self.live = total > 0 and stream.isatty()
        self.start = time.monotonic()
        self.show()

    def show(self) -> None:
        if not self.live:
            return
        left = ""
        if self.done:
            seconds = (time.monotonic() - self.start) / self.done * (self.total - self.done)
            left = f", about {int(seconds) // 60}:{int(seconds) % 60:02d} left"
        self.stream.write(f"\r{self.done}/{self.total} files rendered{left}\x1b[K")
        self.stream.flush()

    def step(self) -> None:
        self.done += 1
        self.show()

    def note(self, text: str) -> None:
        """Prints a line (an error) without breaking the progress line."""
        if self.live:
            self.stream.write("\r\x1b[K")
        self.stream.write(text + "\n")
        self.show()

    def close(self) -> None:
        if self.live:
            self.stream.write("\n")
            self.stream.flush()


def _parser(prog: str) -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(prog=prog, description="Render MIDI files to WAV files with tamlor's built-in "
                                "sounds, a SoundFont or an SFZ instrument.")
    p.add_argument("inputs", nargs="+", metavar="IN.mid", help="MIDI files (format 0 or 1)")
    p.add_argument("-o", "--output", metavar="OUT.wav|DIR",
                   help="the WAV file to write (one input) or the folder to write into")
    p.add_argument("--sample-rate", type=int, default=44100, metavar="N", help="frames per second (44100)")
    p.add_argument("--encoding", choices=ENCODINGS, default="pcm16", help="sample format of the WAV files (pcm16)")
    p.add_argument("--jobs", type=int, default=None, metavar="N",
                   help="files rendered at once, in parallel processes (one per core)")
    p.add_argument("--play", action="store_true", help="also play each file on the default audio device")
    sounds = p.add_mutually_exclusive_group()
    sounds.add_argument("--soundfont", metavar="FILE.sf2",
                        help="play each track's program from this SoundFont (channel index 9: its drum kits)")
    sounds.add_argument("--sfz", metavar="FILE.sfz", help="play every track with this SFZ instrument")
    return p


def _targets(p: argparse.ArgumentParser, inputs: list[str], output: Optional[str]) -> list[str]:
    """The WAV file of each input, or a usage error."""
    if output is None:
        return []
    if len(inputs) == 1 and not os.path.isdir(output) and not output.endswith(os.sep):
        return [output]
    if os.path.exists(output) and not os.path.isdir(output):
        p.error(f"several inputs need a folder for -o, and {output} is a file")
    targets = [os.path.join(output, os.path.splitext(os.path.basename(i))[0] + ".wav") for i in inputs]
    seen: dict[str, str] = {}
    for source, target in zip(inputs, targets):
        if target in seen:
            p.error(f"{seen[target]} and {source} would both be written to {target}")
        seen[target] = source
    return targets


def _run(argv: Sequence[str], prog: str, stderr: TextIO) -> int:
    p = _parser(prog)
    args = p.parse_args(list(argv))
    if args.output is None and not args.play:
        p.error("give -o OUT.wav|DIR (or --play)")
    if not 1 <= args.sample_rate <= 0xFFFFFFFF:
        p.error(f"--sample-rate must be 1 to 4294967295 (got {args.sample_rate})")
    jobs = args.jobs if args.jobs is not None else (os.cpu_count() or 1)
    if jobs < 1:
        p.error(f"--jobs must be 1 or more (got {jobs})")
    targets = _targets(p, args.inputs, args.output)
    bank: Optional[tuple[str, str]] = None
    if args.soundfont is not None or args.sfz is not None:
        bank = ("soundfont", args.soundfont) if args.soundfont is not None else ("sfz", args.sfz)
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")  # opcodes an SFZ file may carry that do not play
                _bank(bank)
        except (OSError, ValueError, ImportError) as exc:
            if isinstance(exc, OSError) and exc.strerror:
                stderr.write(f"{prog}: {bank[1]}: {exc.strerror}\n")
            else:
                stderr.write(f"{prog}: {exc}\n")
            return 1
    if targets and targets[0] != args.output:  # into a folder, made if missing
        try:
            os.makedirs(str(args.output), exist_ok=True)
        except OSError as exc:
            stderr.write(f"{prog}: cannot make the folder {args.output}: {exc.strerror}\n")
            return 1
    failed = 0
    progress = _Progress(len(targets), stderr)
    try:
        work = list(zip(args.inputs, targets))
        if jobs == 1 or len(work) <= 1:
            for source, target in work:
                error = _job(source, target, args.sample_rate, args.encoding, bank)
                if error is not None:
                    failed += 1
                    progress.note(_failure(prog, source, error))
                progress.step()
        else:
            with concurrent.futures.ProcessPoolExecutor(max_workers=min(jobs, len(work))) as pool:
                futures = {pool.submit(_job, s, t, args.sample_rate, args.encoding, bank): s for s, t in work}
                for future in concurrent.futures.as_completed(futures):
                    try:
                        error = future.result()
                    except Exception as exc:  # a worker that died (killed, out of memory)
                        error = f"the rendering process failed ({type(exc).__name__})"
                    if error is not None:
                        failed += 1
                        progress.note(_failure(prog, futures[future], error))
                    progress.step()
    finally:
        progress.close()
    if args.play:
        failed += _play(args, targets, prog, stderr, bank)
    return 1 if failed else 0


def _play(args: argparse.Namespace, targets: list[str], prog: str, stderr: TextIO,
          bank: Optional[tuple[str, str]] = None) -> int:
    """Plays each input (its written file's song); the number that failed."""
    failed = 0
    for source in args.inputs:
        try:
            Song.from_midi(source, sample_rate=args.sample_rate, instruments=_bank(bank)).play()
        except (OSError, ValueError, RuntimeError) as exc:
            failed += 1
            stderr.write(f"{prog}: {source}: cannot play: {exc}\n")
    return failed


def render_main(argv: Optional[Sequence[str]] = None) -> int:
    """``tamlor-render IN.mid ... -o OUT``: the render command on its own."""
    try:
        return _run(sys.argv[1:] if argv is None else argv, "tamlor-render", sys.stderr)
    except KeyboardInterrupt:
        sys.stderr.write("tamlor-render: interrupted\n")
        return 1


def main(argv: Optional[Sequence[str]] = None) -> int:
    """``python -m tamlor_song render ...``."""
    args = list(sys.argv[1:] if argv is None else argv)
    if not args or args[0] in ("-h", "--help"):
        sys.stdout.write("usage: python -m tamlor_song render IN.mid [more.mid ...] -o OUT.wav|DIR [options]\n"
                         "       python -m tamlor_song render --help\n")
        return 0 if args else 2
    if args[0] != "render":
        sys.stderr.write(f"python -m tamlor_song: unknown command {args[0]!r} (the command is 'render')\n")
        return 2
    try:
        return _run(args[1:], "python -m tamlor_song render", sys.stderr)
    except KeyboardInterrupt:
        sys.stderr.write("interrupted\n")
        return 1
