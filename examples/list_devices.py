"""The machine's audio outputs and MIDI inputs: prints the output devices
`AudioOutput.list_devices()` finds, the default output a new `AudioOutput`
binds, and the MIDI input ports of `MidiInput().list_ports()`, saying so
plainly when there are none (a machine without sound hardware has none).

With --output the listing is also written to a text file; with --beep the
script plays a short tone on the default output, to hear which device that
is. Listing opens no device, so it is safe to run at any time.

    python examples/list_devices.py [--output devices.txt] [--beep]
"""
from __future__ import annotations

import argparse
import sys
from typing import NoReturn

import tamlor

RATE = 44100


def listing() -> tuple[list[str], tamlor.AudioOutput | None]:
    """The report's lines and the default output (None when there is none)."""
    lines = []
    outputs = tamlor.AudioOutput.list_devices()
    if outputs:
        lines.append(f"Audio outputs ({len(outputs)}):")
        lines += [f"  {i}: {name}" for i, name in enumerate(outputs)]
    else:
        lines.append("Audio outputs: none found")
    default: tamlor.AudioOutput | None
    try:
        default = tamlor.AudioOutput(sample_rate=RATE, channels=2, buffer_size=512)
    except RuntimeError as exc:
        default = None
        lines.append(f"Default audio output: none ({exc})")
    else:
        lines.append(f"Default audio output: {default.device_name()}")
    ports = tamlor.MidiInput().list_ports()
    if ports:
        lines.append(f"MIDI inputs ({len(ports)}):")
        lines += [f"  {i}: {name}" for i, name in enumerate(ports)]
    else:
        lines.append("MIDI inputs: none found")
    return lines, default


def beep(output: tamlor.AudioOutput) -> None:
    """Half a second of A4, faded in and out over 20 ms so it does not click."""
    tone = tamlor.SineOscillator(frequency=440.0, amplitude=0.3, sample_rate=RATE).render_to_buffer(RATE // 2)
    ramp = RATE // 50
    block = []
    for i, x in enumerate(tone):
        level = min(1.0, i / ramp, (len(tone) - 1 - i) / ramp)
        block += [x * level, x * level]
    output.start()
    output.write(block)
    output.stop()


class Arguments(argparse.ArgumentParser):
    """Bad arguments end in one line on stderr and exit status 2."""

    def error(self, message: str) -> NoReturn:
        self.exit(2, f"{self.prog}: {message} (see --help)\n")


def main() -> None:
    parser = Arguments(description=(__doc__ or "").split("\n\n")[0])
    parser.add_argument("--output", help="also write the listing to this text file")
    parser.add_argument("--beep", action="store_true", help="play a short tone on the default output")
    args = parser.parse_args()

    lines, default = listing()
    print("\n".join(lines))
    if args.output:
        try:
            with open(args.output, "w", encoding="utf-8") as f:
                f.write("\n".join(lines) + "\n")
        except OSError as exc:
            sys.exit(f"cannot write {args.output}: {exc.strerror or exc}")
    if args.beep:
        if default is None:
            sys.exit("cannot beep: there is no default audio output")
        try:
            beep(default)
        except RuntimeError as exc:
            sys.exit(f"cannot beep: {exc}")
        print(f"played a 440 Hz tone on {default.device_name()}")


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit("interrupted")
