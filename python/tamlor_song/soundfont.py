"""SoundFont 2 sound banks (``.sf2`` files) as `Instrument` objects.

    sf = SoundFont("/usr/share/sounds/sf2/TimGM6mb.sf2")
    sf.presets                      # [(bank, program, name), ...]
    piano = sf.instrument(0)        # program 0 of bank 0
    song.add_track("piano", piano)

What is played: presets, instruments and their zones with global zones;
preset-level generators added to the instrument-level ones; key and velocity
ranges (a preset's narrowing an instrument's); overriding root key, coarse
and fine tune, the sample's pitch correction and scale tuning; sample modes
(no loop, continuous loop, loop until release); the sample and loop address
offsets; initial attenuation; pan; the volume envelope (delay, attack, hold,
decay, sustain, release in timecents and centibels, decay and release falling
linearly in decibels); exclusive classes (a new note of a class cuts off the
sounding notes of that class within 2 ms); linked stereo samples (the left
sample played on the left, the right on the right); and the default
velocity-to-attenuation curve (a note at velocity v is
``-40 * log10(v / 127)`` dB quieter than at 127).

Not played: filters, the LFOs, the modulation envelope, key-number scaling of
the envelope's hold and decay, modulators other than the velocity curve,
reverb and chorus sends, 24-bit sample extensions (the 16-bit data plays), and
ROM samples.

A damaged file raises ``ValueError("{path}: {reason}")`` from the
constructor or from `instrument` (a missing chunk, a record count that is
not whole, an index out of range, sample points past the data). The sample
data is read once into one shared block of 16-bit values: every instrument
of the bank plays from it, so a bank needs about its own size in memory.
"""
from __future__ import annotations

import os
import struct
from typing import Any, Optional, Union

from . import _voices
from .instrument import Instrument, _LoopMode, Zone, _whole

__all__ = ["SoundFont"]

# Generator numbers the player uses.
_START, _END, _LOOP_START, _LOOP_END, _START_COARSE = 0, 1, 2, 3, 4
_END_COARSE = 12
_PAN = 17
_DELAY, _ATTACK, _HOLD, _DECAY, _SUSTAIN, _RELEASE = 33, 34, 35, 36, 37, 38
_INSTRUMENT = 41
_KEY_RANGE, _VEL_RANGE = 43, 44
_LOOP_START_COARSE = 45
_KEYNUM, _VELOCITY = 46, 47
_ATTENUATION = 48
_LOOP_END_COARSE = 50
_COARSE_TUNE, _FINE_TUNE = 51, 52
_SAMPLE_ID, _SAMPLE_MODES = 53, 54
_SCALE_TUNING = 56
_EXCLUSIVE_CLASS = 57
_ROOT_KEY = 58

# Values of generators a zone does not set.
_DEFAULTS: dict[int, int] = {
    _DELAY: -12000, _ATTACK: -12000, _HOLD: -12000, _DECAY: -12000, _RELEASE: -12000,
    _SCALE_TUNING: 100, _ROOT_KEY: -1, _KEYNUM: -1, _VELOCITY: -1,
}
# Generators that only an instrument zone may set: a preset zone's are ignored.
_INSTRUMENT_ONLY = frozenset({_START, _END, _LOOP_START, _LOOP_END, _START_COARSE, _END_COARSE,
                              _LOOP_START_COARSE, _LOOP_END_COARSE, _KEYNUM, _VELOCITY, _SAMPLE_MODES,
                              _EXCLUSIVE_CLASS, _ROOT_KEY})
_RANGES = (_KEY_RANGE, _VEL_RANGE)

# Records of the hydra: (chunk, size, struct format).
_RECORDS = {
    "phdr": (38, "<20sHHHIII"),
    "pbag": (4, "<HH"),
    "pmod": (10, "<HHhHH"),
    "pgen": (4, "<Hh"),
    "inst": (22, "<20sH"),
    "ibag": (4, "<HH"),
    "imod": (10, "<HHhHH"),
    "igen": (4, "<Hh"),
    "shdr": (46, "<20sIIIIIBbHH"),
}


def _timecents(tc: int) -> float:
    """Seconds of a time in timecents; the generators' least value, -12000
    (about a millisecond, and what a zone that sets nothing has), and below
    is no time at all, so that notes start on their frame."""
    return 0.0 if tc <= -12000 else 2.0 ** (tc / 1200.0)


def _name(raw: bytes) -> str:
    return raw.split(b"\0", 1)[0].decode("latin-1").strip()


class _Gens:
    """The generators of one zone: values by number, ranges as (low, high)."""

    __slots__ = ("values", "ranges")

    def __init__(self) -> None:
        self.values: dict[int, int] = {}
        self.ranges: dict[int, tuple[int, int]] = {}


class SoundFont:
    """A SoundFont 2 bank read from `path`: its presets, and an `Instrument`
    for each. See the module's description for what plays and what does not."""

    def __init__(self, path: Union[str, "os.PathLike[str]"]) -> None:
        self._path = os.fspath(path)
        self._instruments: dict[tuple[int, int], Instrument] = {}
        try:
            size = os.path.getsize(self._path)
            with open(self._path, "rb") as f:
                self._read(f, size)
        except OSError as exc:
            raise OSError(exc.errno, f"{self._path}: {exc.strerror}") from None

    def _fail(self, reason: str) -> ValueError:
        return ValueError(f"{self._path}: {reason}")

    # -- reading --------------------------------------------------------------

    def _read(self, f: Any, size: int) -> None:
        head = f.read(12)
        if len(head) < 12 or head[:4] != b"RIFF" or head[8:12] != b"sfbk":
            raise self._fail("not a SoundFont 2 file (no RIFF 'sfbk' header)")
        riff_end = min(size, 8 + struct.unpack_from("<I", head, 4)[0])
        lists: dict[str, tuple[int, int]] = {}
        pos = 12
        # The top level: LIST chunks (INFO, sdta, pdta), each within the file.
        while pos + 8 <= riff_end:
            f.seek(pos)
            header = f.read(12)
            cid, csize = header[:4], struct.unpack_from("<I", header, 4)[0]
            if pos + 8 + csize > size:
                raise self._fail(f"chunk {cid.decode('latin-1')!r} at byte {pos} runs past the end of the file")
            if cid == b"LIST" and len(header) == 12:
                lists[header[8:12].decode("latin-1")] = (pos + 12, pos + 8 + csize)
            pos += 8 + csize + (csize & 1)
        for kind in ("sdta", "pdta"):
            if kind not in lists:
                raise self._fail(f"missing the {kind!r} list")
        smpl = self._find(f, *lists["sdta"], "smpl")
        pdta_start, pdta_end = lists["pdta"]
        f.seek(pdta_start)
        pdta = f.read(pdta_end - pdta_start)
        records: dict[str, list[tuple[Any, ...]]] = {}
        chunks = self._chunks(pdta)
        for cid, (record_size, fmt) in _RECORDS.items():
            if cid not in chunks:
                raise self._fail(f"missing the {cid!r} chunk")
            start, length = chunks[cid]
            if length % record_size:
                raise self._fail(f"the {cid!r} chunk holds {length} bytes, not a whole number of "
                                 f"{record_size}-byte records")
            if length < record_size:
                raise self._fail(f"the {cid!r} chunk has no records (not even its closing one)")
            records[cid] = list(struct.iter_unpack(fmt, pdta[start:start + length]))
        self._phdr, self._pbag, self._pgen = records["phdr"], records["pbag"], records["pgen"]
        self._inst, self._ibag, self._igen = records["inst"], records["ibag"], records["igen"]
        self._shdr = records["shdr"]
        self._check_indexes()
        if smpl is None:
            raise self._fail("missing the 'smpl' chunk")
        offset, length = smpl
        self._frames = length // 2
        for i, (name, start, end, *_rest) in enumerate(self._shdr[:-1]):
            if not start <= end <= self._frames:
                raise self._fail(f"sample {i} ({_name(name)!r}) points past the sample data "
                                 f"(frames {start} to {end} of {self._frames})")
        self._data = _voices.SampleData.read_int16(self._path, offset, self._frames)
        self._presets = [(bank, program, _name(name)) for name, program, bank, *_ in self._phdr[:-1]]

    def _find(self, f: Any, start: int, end: int, want: str) -> Optional[tuple[int, int]]:
        """(offset, size) of the sub-chunk `want` of a LIST, found by reading headers only."""
        pos = start
        while pos + 8 <= end:
            f.seek(pos)
            header = f.read(8)
            cid, csize = header[:4].decode("latin-1"), struct.unpack_from("<I", header, 4)[0]
            if pos + 8 + csize > end:
                raise self._fail(f"chunk {cid!r} at byte {pos} runs past the end of its list")
            if cid == want:
                return pos + 8, csize
            pos += 8 + csize + (csize & 1)
        return None

    def _chunks(self, data: bytes) -> dict[str, tuple[int, int]]:
        """The sub-chunks of a list held in `data`: id -> (start, size)."""
        found: dict[str, tuple[int, int]] = {}
        pos = 0
        while pos + 8 <= len(data):
            cid, csize = data[pos:pos + 4].decode("latin-1"), struct.unpack_from("<I", data, pos + 4)[0]
            if pos + 8 + csize > len(data):
                raise self._fail(f"the {cid!r} chunk runs past the end of its list")
            found.setdefault(cid, (pos + 8, csize))
            pos += 8 + csize + (csize & 1)
        return found

    def _check_indexes(self) -> None:
        """Every bag, generator, instrument and sample index within its table,
        and every run of indexes in order."""
        def runs(owner: list[tuple[Any, ...]], field: int, what: str, table: list[tuple[Any, ...]],
                 table_name: str) -> None:
            previous = 0
            for i, record in enumerate(owner):
                index = record[field]
                if index < previous or index >= len(table):
                    raise self._fail(f"{what} {i} points at record {index} of {table_name!r}, which holds "
                                     f"{len(table)} (or its indexes run backwards)")
                previous = index
        runs(self._phdr, 3, "preset", self._pbag, "pbag")
        runs(self._pbag, 0, "preset zone", self._pgen, "pgen")
        runs(self._inst, 1, "instrument", self._ibag, "ibag")
        runs(self._ibag, 0, "instrument zone", self._igen, "igen")
        # Generators that name other records.
        for oper, amount in self._pgen:
            if oper == _INSTRUMENT and not 0 <= (amount & 0xFFFF) < len(self._inst) - 1:
                raise self._fail(f"a preset zone names instrument {amount & 0xFFFF} of {len(self._inst) - 1}")
        for oper, amount in self._igen:
            if oper == _SAMPLE_ID and not 0 <= (amount & 0xFFFF) < len(self._shdr) - 1:
                raise self._fail(f"an instrument zone names sample {amount & 0xFFFF} of {len(self._shdr) - 1}")

    # -- zones ----------------------------------------------------------------

    def _zones(self, bags: list[tuple[Any, ...]], gens: list[tuple[Any, ...]], first: int,
               last: int, terminal: int) -> tuple[Optional[_Gens], list[_Gens]]:
        """The global zone (if any) and the other zones of bags [first, last):
        a zone whose last generator is not `terminal` is the global one when
        it comes first, and is dropped elsewhere."""
        global_zone: Optional[_Gens] = None
        zones: list[_Gens] = []
        for b in range(first, last):
            g = _Gens()
            for oper, amount in gens[bags[b][0]:bags[b + 1][0]]:
                if oper in _RANGES:
                    raw = amount & 0xFFFF
                    g.ranges[oper] = (raw & 0xFF, raw >> 8)
                else:
                    g.values[oper] = amount
            if terminal in g.values:
                zones.append(g)
            elif b == first and global_zone is None:
                global_zone = g
        return global_zone, zones

    @property
    def path(self) -> str:
        """The file the bank was read from."""
        return self._path

    @property
    def presets(self) -> list[tuple[int, int, str]]:
        """Every preset as (bank, program, name), in the file's order."""
        return list(self._presets)

    def __repr__(self) -> str:
        return f"SoundFont({self._path!r}, presets={len(self._presets)})"

    def instrument(self, program: int, bank: int = 0) -> Instrument:
        """The preset `program` (0-127) of `bank` (128 holds the General MIDI
        drum kits) as an `Instrument`. ValueError when the bank has no such
        preset. The same instrument is handed out again for the same preset."""
        key = (_whole(bank, "bank", 0, 65535), _whole(program, "program", 0, 127))
        found = self._instruments.get(key)
        if found is None:
            for i, (b, p, _name_) in enumerate(self._presets):
                if (b, p) == key:
                    found = self._build(i)
                    break
            else:
                raise ValueError(f"{self._path}: no preset {key[1]} in bank {key[0]}")
            self._instruments[key] = found
        return found

    def instrument_for(self, channel: int, program: Optional[int], track_name: str = "") -> Instrument:
        """The instrument a General MIDI file's track asks for: channel index 9
        plays the drum kits of bank 128 (kit 0 when the program has none),
        others the program of bank 0 (the first preset when it has none)."""
        prog = 0 if program is None else program
        bank = 128 if channel == 9 else 0
        for b, p in ((bank, prog), (bank, 0), (0, prog)):
            if any((b, p) == (pb, pp) for pb, pp, _ in self._presets):
                return self.instrument(p, b)
        if not self._presets:
            raise ValueError(f"{self._path}: the bank holds no presets")
        first = self._presets[0]
        return self.instrument(first[1], first[0])

    def _build(self, preset: int) -> Instrument:
        name, _program, _bank, bag, *_ = self._phdr[preset]
        next_bag = self._phdr[preset + 1][3]
        p_global, p_zones = self._zones(self._pbag, self._pgen, bag, next_bag, _INSTRUMENT)
        zones: list[Zone] = []
        for pz in p_zones:
            inst = pz.values[_INSTRUMENT] & 0xFFFF
            i_first, i_last = self._inst[inst][1], self._inst[inst + 1][1]
            i_global, i_zones = self._zones(self._ibag, self._igen, i_first, i_last, _SAMPLE_ID)
            stereo_pairs = {iz.values[_SAMPLE_ID] & 0xFFFF for iz in i_zones}
            for iz in i_zones:
                zone = self._zone(p_global, pz, i_global, iz, stereo_pairs)
                if zone is not None:
                    zones.append(zone)
        return Instrument(zones, name=_name(name))

    def _zone(self, p_global: Optional[_Gens], pz: _Gens, i_global: Optional[_Gens], iz: _Gens,
              samples_in_instrument: set[int]) -> Optional[Zone]:
        """One playable zone: the instrument zone's generators over its global
        zone's and the defaults, plus the preset zone's (over its global
        zone's) for the generators that add."""
        def inst(oper: int) -> int:
            if oper in iz.values:
                return iz.values[oper]
            if i_global is not None and oper in i_global.values:
                return i_global.values[oper]
            return _DEFAULTS.get(oper, 0)

        def gen(oper: int) -> int:
            value = inst(oper)
            if oper in _INSTRUMENT_ONLY:
                return value
            if oper in pz.values:
                return value + pz.values[oper]
            if p_global is not None and oper in p_global.values:
                return value + p_global.values[oper]
            return value

        def span(oper: int) -> tuple[int, int]:
            low, high = 0, 127
            for zone in (iz if oper in iz.ranges else i_global, pz if oper in pz.ranges else p_global):
                if zone is not None and oper in zone.ranges:
                    lo, hi = zone.ranges[oper]
                    low, high = max(low, lo), min(high, hi)
            return low, high

        sample_id = iz.values[_SAMPLE_ID] & 0xFFFF
        sname, start, end, loop_start, loop_end, rate, pitch, correction, link, stype = self._shdr[sample_id]
        if stype & 0x8000 or rate == 0:
            return None  # a ROM sample, or one that cannot play
        if rate > 1_000_000:
            raise self._fail(f"sample {sample_id} ({_name(sname)!r}) has a rate of {rate} frames per second")
        keys, vels = span(_KEY_RANGE), span(_VEL_RANGE)
        if keys[0] > keys[1] or vels[0] > vels[1]:
            return None
        frames = self._frames
        s = start + gen(_START) + 32768 * gen(_START_COARSE)
        e = end + gen(_END) + 32768 * gen(_END_COARSE)
        ls = loop_start + gen(_LOOP_START) + 32768 * gen(_LOOP_START_COARSE)
        le = loop_end + gen(_LOOP_END) + 32768 * gen(_LOOP_END_COARSE)
        s, e = max(0, min(s, frames)), max(0, min(e, frames))
        ls, le = max(0, min(ls, e)), max(0, min(le, e))
        mode = gen(_SAMPLE_MODES) & 3
        loop: _LoopMode = "continuous" if mode == 1 else ("until_release" if mode == 3 else "none")
        root = gen(_ROOT_KEY)
        if not 0 <= root <= 127:
            root = pitch if 0 <= pitch <= 127 else 60
        scale = gen(_SCALE_TUNING)
        tune = gen(_COARSE_TUNE) * 100 + gen(_FINE_TUNE) + correction
        keynum = gen(_KEYNUM)
        if 0 <= keynum <= 127:
            # Every key plays as this one.
            tune += (keynum - root) * scale
            scale = 0
        pan = max(-500, min(500, gen(_PAN))) / 500.0
        if stype & 6 and link in samples_in_instrument and link != sample_id:
            # One side of a stereo pair whose other side the instrument also plays.
            pan = -1.0 if stype & 4 else 1.0
        attenuation = max(0, min(1440, gen(_ATTENUATION)))
        sustain_cb = max(0, min(1440, gen(_SUSTAIN)))
        group = max(0, gen(_EXCLUSIVE_CLASS))
        try:
            return self._make_zone(sample_id, sname, rate, keys, vels, root, tune, scale, attenuation, pan, loop,
                                   s, e, ls, le, gen, sustain_cb, group)
        except (TypeError, ValueError) as exc:
            raise self._fail(f"a zone of sample {sample_id} ({_name(sname)!r}) cannot play: {exc}") from None

    def _make_zone(self, sample_id: int, sname: bytes, rate: int, keys: tuple[int, int], vels: tuple[int, int],
                   root: int, tune: int, scale: int, attenuation: int, pan: float, loop: _LoopMode, s: int, e: int,
                   ls: int, le: int, gen: Any, sustain_cb: int, group: int) -> Zone:
        return Zone(self._data, sample_rate=rate, key_low=keys[0], key_high=keys[1], velocity_low=vels[0],
                    velocity_high=vels[1], root_key=root, tune_cents=float(tune), key_tracking=float(scale),
                    level_db=-attenuation / 10.0, pan=pan, loop=loop, start=s, end=e, loop_start=ls, loop_end=le,
                    delay=_time(gen(_DELAY)), attack=_time(gen(_ATTACK)), hold=_time(gen(_HOLD)),
                    decay=_time(gen(_DECAY)), sustain=_sustain(sustain_cb), release=_time(gen(_RELEASE)),
                    curve="decibels", choke_group=group, off_by=group)


def _sustain(cb: int) -> float:
    """The sustain level of a volume envelope `cb` centibels below full: 100 dB
    or more below is silence, and the note ends with its decay."""
    return 0.0 if cb >= 1000 else 10.0 ** (-cb / 200.0)


def _time(tc: int) -> float:
    """A stage time in seconds from timecents, held to 100 seconds at most."""
    return min(100.0, _timecents(tc))
