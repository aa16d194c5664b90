"""Small sound banks written by the tests: SoundFont 2 files built record by
record, and SFZ files beside WAV samples."""
from __future__ import annotations

import math
import struct
from dataclasses import dataclass, field
from typing import Optional, Sequence, Union

import tamlor

# Generator numbers.
START, END, LOOP_START, LOOP_END, START_COARSE = 0, 1, 2, 3, 4
PAN = 17
DELAY, ATTACK, HOLD, DECAY, SUSTAIN, RELEASE = 33, 34, 35, 36, 37, 38
INSTRUMENT, KEY_RANGE, VEL_RANGE = 41, 43, 44
KEYNUM = 46
ATTENUATION = 48
COARSE_TUNE, FINE_TUNE, SAMPLE_ID, SAMPLE_MODES = 51, 52, 53, 54
SCALE_TUNING, EXCLUSIVE_CLASS, ROOT_KEY = 56, 57, 58

Gen = tuple[int, Union[int, tuple[int, int]]]


def sine(frames: int, period: float, level: float = 0.5) -> list[int]:
    """16-bit values of a sine wave of `period` frames."""
    return [round(level * 32767 * math.sin(2 * math.pi * i / period)) for i in range(frames)]


def constant(frames: int, level: float = 0.5) -> list[int]:
    return [round(level * 32767)] * frames


@dataclass
class Sample:
    name: str
    data: list[int]
    rate: int = 44100
    pitch: int = 60
    correction: int = 0
    loop: tuple[int, int] = (0, 0)  # relative to the sample's start
    kind: int = 1  # 1 mono, 2 right, 4 left
    link: int = 0


@dataclass
class Bank:
    samples: list[Sample] = field(default_factory=list)
    # Each instrument: (name, zones); a zone is a list of generators. A zone
    # without SAMPLE_ID first in the list is the global zone.
    instruments: list[tuple[str, list[list[Gen]]]] = field(default_factory=list)
    # Each preset: (name, bank, program, zones); zones end with INSTRUMENT.
    presets: list[tuple[str, int, int, list[list[Gen]]]] = field(default_factory=list)


def _chunk(cid: bytes, body: bytes) -> bytes:
    pad = b"\0" if len(body) & 1 else b""
    return cid + struct.pack("<I", len(body)) + body + pad


def _list(kind: bytes, body: bytes) -> bytes:
    return _chunk(b"LIST", kind + body)


def _gen_bytes(gens: Sequence[Gen]) -> bytes:
    out = b""
    for oper, amount in gens:
        if isinstance(amount, tuple):
            out += struct.pack("<HBB", oper, amount[0], amount[1])
        else:
            out += struct.pack("<Hh", oper, amount)
    return out


def sf2_bytes(bank: Bank, *, drop: Optional[str] = None,
              patch: Optional[dict[str, bytes]] = None) -> bytes:
    """The bank as an .sf2 file. `drop` leaves a chunk out; `patch` replaces
    the bodies of chunks (for damaged files)."""
    smpl = b""
    headers = b""
    for s in bank.samples:
        start = len(smpl) // 2
        smpl += struct.pack(f"<{len(s.data)}h", *s.data) + b"\0\0" * 46
        end = start + len(s.data)
        headers += struct.pack("<20sIIIIIBbHH", s.name.encode(), start, end, start + s.loop[0], start + s.loop[1],
                               s.rate, s.pitch, s.correction, s.link, s.kind)
    headers += struct.pack("<20sIIIIIBbHH", b"EOS", 0, 0, 0, 0, 0, 0, 0, 0, 0)

    def hydra(items: Sequence[tuple[bytes, list[list[Gen]]]], head_fmt: str,
              heads: Sequence[tuple[object, ...]]) -> tuple[bytes, bytes, bytes, bytes]:
        h = bag = gen = b""
        nbag = ngen = 0
        for (name, zones), extra in zip(items, heads):
            h += struct.pack(head_fmt, name, *extra, nbag)
            for zone in zones:
                bag += struct.pack("<HH", ngen, 0)
                gen += _gen_bytes(zone)
                nbag += 1
                ngen += len(zone)
        return h, bag, gen, struct.pack("<HH", ngen, 0)

    ih, ibag, igen, iend = hydra([(n.encode(), z) for n, z in bank.instruments] + [(b"EOI", [])], "<20sH",
                                 [()] * (len(bank.instruments) + 1))
    ibag += iend
    igen += struct.pack("<Hh", 0, 0)
    ph = pbag = pgen = b""
    nbag = ngen = 0
    for name, b, program, zones in bank.presets:
        ph += struct.pack("<20sHHHIII", name.encode(), program, b, nbag, 0, 0, 0)
        for zone in zones:
            pbag += struct.pack("<HH", ngen, 0)
            pgen += _gen_bytes(zone)
            nbag += 1
            ngen += len(zone)
    ph += struct.pack("<20sHHHIII", b"EOP", 0, 0, nbag, 0, 0, 0)
    pbag += struct.pack("<HH", ngen, 0)
    pgen += struct.pack("<Hh", 0, 0)
    mod_end = b"\0" * 10
    parts = {"phdr": ph, "pbag": pbag, "pmod": mod_end, "pgen": pgen, "inst": ih, "ibag": ibag, "imod": mod_end,
             "igen": igen, "shdr": headers}
    parts.update(patch or {})
    pdta = b"".join(_chunk(k.encode(), v) for k, v in parts.items() if k != drop)
    info = _list(b"INFO", _chunk(b"ifil", struct.pack("<HH", 2, 4)) + _chunk(b"INAM", b"test\0\0"))
    sdta = _list(b"sdta", b"" if drop == "smpl" else _chunk(b"smpl", patch.get("smpl", smpl) if patch else smpl))
    body = b"sfbk" + info + sdta + _list(b"pdta", pdta)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def one_zone_bank(data: list[int], gens: Sequence[Gen] = (), preset_gens: Sequence[Gen] = (), *,
                  rate: int = 44100, pitch: int = 60, correction: int = 0,
                  loop: tuple[int, int] = (0, 0)) -> Bank:
    """A bank with one preset (bank 0, program 0) of one instrument of one zone."""
    return Bank(samples=[Sample("s", data, rate, pitch, correction, loop)],
                instruments=[("inst", [list(gens) + [(SAMPLE_ID, 0)]])],
                presets=[("preset", 0, 0, [list(preset_gens) + [(INSTRUMENT, 0)]])])


def write_wav(path: str, frames: Sequence[float], rate: int = 44100, channels: int = 1,
              encoding: str = "float32") -> None:
    """Writes interleaved float frames as a WAV file (32-bit floats by default:
    the values read back exactly)."""
    tamlor.AudioBuffer.write_wav(path, list(frames), rate, channels, encoding)  # type: ignore[arg-type]
