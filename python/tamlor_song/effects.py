"""Effects in a song: chains on tracks, shared buses fed by sends, and a chain
on the master.

The signal flow, block by block:

1. each track's sampler is turned into stereo with the track's gain and pan
   (mute and solo silence it), then its `Track.effects` run in order;
2. each `Track.send` adds the track's processed signal, times its level, to
   a bus; a bus's effects run on the sum of its sends;
3. the tracks and the buses are summed, the song's master gain applies, and
   the song's `Song.effects` run last, so a limiter there is the last thing
   the signal meets.

A song with no effects, no buses and no sends is mixed exactly as before, by
the one mixer. Effects are native (`tamlor_fx`): every sample is touched by
native code; this module only decides what runs on which buffer. Effects
keep their state from block to block, so the result does not depend on how
the song is sliced into render calls.
"""
from __future__ import annotations

import array
import copy
from typing import TYPE_CHECKING, Any, Sequence, TypeAlias, Union, cast

import tamlor
import tamlor_fx

from . import _voices

if TYPE_CHECKING:
    from .song import Song

__all__ = ["Bus", "Effect"]

_add_scaled = tamlor_fx._add_scaled
_scale = tamlor_fx._scale


#: An effect a song can run: any `tamlor_fx` class, made with channels=2 at
#: the song's sample rate.
Effect: TypeAlias = Union[tamlor_fx.Filter, tamlor_fx.Delay, tamlor_fx.Reverb, tamlor_fx.Compressor,
                          tamlor_fx.Limiter]
_KINDS = (tamlor_fx.Filter, tamlor_fx.Delay, tamlor_fx.Reverb, tamlor_fx.Compressor, tamlor_fx.Limiter)


class Bus:
    """A shared effects chain, such as one reverb for many tracks: tracks feed
    it with `Track.send`, its `effects` run on the sum, and the result joins
    the mix beside the tracks. `Song.add_bus` makes it."""

    def __init__(self, name: str, effects: list[Effect]) -> None:
        self._name = name
        self.effects: list[Effect] = effects
        """The chain, run in order on the sum of the sends; edit it freely."""

    @property
    def name(self) -> str:
        """The name tracks send to."""
        return self._name

    def __repr__(self) -> str:
        return f"Bus(name={self._name!r}, effects={self.effects!r})"


def check_chain(effects: Any, rate: int, where: str) -> list[Effect]:
    """`effects` as a list of stereo effects at `rate` Hz, else TypeError or
    ValueError naming `where`."""
    if isinstance(effects, (str, bytes)) or not isinstance(effects, (list, tuple)):
        raise TypeError(f"{where} must be a list of effects, not {type(effects).__name__}")
    items: list[object] = list(cast("list[object] | tuple[object, ...]", effects))
    chain: list[Effect] = []
    for i, effect in enumerate(items):
        if not isinstance(effect, _KINDS):
            raise TypeError(f"{where}[{i}] must be a tamlor_fx effect (Filter, Delay, Reverb, Compressor or "
                            f"Limiter), not {type(effect).__name__}")
        channels = effect.channels
        if channels != 2:
            raise ValueError(f"{where}[{i}] processes {channels} channel(s); a song is stereo (channels=2)")
        effect_rate = effect.sample_rate
        if effect_rate != rate:
            raise ValueError(f"{where}[{i}] runs at {effect_rate} Hz, the song at {rate} Hz")
        chain.append(effect)
    return chain


def chain_tail(effects: Sequence[Effect]) -> int:
    """Frames a chain rings on after its input stops: each effect's tail
    starts where the one before it ends."""
    return sum(int(e.tail_frames) for e in effects)


class Routing:
    """The song's effects road: stereo buffers per track and bus, a one-channel
    mixer per track for its gain and pan, and the calls that run the chains."""

    def __init__(self, song: "Song", run: int) -> None:
        self._song = song
        self._run = run
        self._premix: list[tamlor.Mixer] = []
        self._stereo: list[memoryview] = []
        self._bus_buffers: dict[str, memoryview] = {}
        self._sum = memoryview(array.array("f", bytes(8 * run)))
        self._zeros = memoryview(array.array("f", bytes(8 * run)))
        self._plan: list[tuple[Any, ...]] = []

    def prepare(self) -> None:
        """Checks every chain and send and copies the tracks' mixer settings,
        before anything renders: a bad effect raises here, with nothing moved."""
        song = self._song
        rate = song.sample_rate
        buses = song._buses
        for name, bus in buses.items():
            bus.effects = check_chain(bus.effects, rate, f"bus {name!r} effects")
        song._master_effects = check_chain(song._master_effects, rate, "song.effects")
        tracks = song._tracks
        while len(self._premix) < len(tracks):
            mixer = tamlor.Mixer()
            mixer.add_channel("track")
            mixer.master_gain = 1.0
            self._premix.append(mixer)
            self._stereo.append(memoryview(array.array("f", bytes(8 * self._run))))
        for name in buses:
            if name not in self._bus_buffers:
                self._bus_buffers[name] = memoryview(array.array("f", bytes(8 * self._run)))
        # One effect object in two places would carry its state from one
        # signal into another, and change with the block size: refused.
        seen: set[int] = set()
        for chain in [t._effects for t in tracks] + [b.effects for b in buses.values()] + [song._master_effects]:
            for effect in chain:
                if id(effect) in seen:
                    raise ValueError(f"{effect!r} is in the song twice; give each place its own (copy.copy)")
                seen.add(id(effect))
        soloed = any(t.solo for t in tracks)
        players = {index: flat for index, flat, _ in song._stereo}
        plan: list[tuple[Any, ...]] = []
        for i, track in enumerate(tracks):
            track._effects = check_chain(track._effects, rate, f"track {track.name!r} effects")
            for name in track._sends:
                if name not in buses:
                    raise ValueError(f"track {track.name!r} sends to {name!r}, which is not a bus of this song")
            channel = song._mixer.get_channel(i)
            silent = channel.mute or (soloed and not channel.solo)
            sends = [(self._bus_buffers[name], level) for name, level in track._sends.items() if level != 0.0]
            calls = [e.process_into for e in track._effects]
            if i in players:
                # An instrument track renders stereo: its gain, and its pan as
                # a balance, as the song mixes it without effects.
                g, pan = float(channel.gain), float(channel.pan)
                balance = (players[i], g * min(1.0, 1.0 - pan), g * min(1.0, 1.0 + pan), silent)
                plan.append((None, self._stereo[i], calls, sends, balance))
                continue
            premix = self._premix[i]
            premix.set_channel_gain(0, channel.gain)
            premix.set_channel_pan(0, channel.pan)
            premix.set_channel_mute(0, silent)
            plan.append((premix.mix_down_into, self._stereo[i], calls, sends, None))
        self._plan = plan

    def mix(self, out: memoryview, cuts: list[memoryview], n: int) -> None:
        """Mixes n frames of the tracks' mono `cuts` into `out` (2n floats)
        through the chains."""
        song = self._song
        width = 2 * n
        total = self._sum[:width]
        total[:] = self._zeros[:width]
        bus_cuts = {name: buf[:width] for name, buf in self._bus_buffers.items()}
        for cut in bus_cuts.values():
            cut[:] = self._zeros[:width]
        for (premix, stereo, chain, sends, balance), mono in zip(self._plan, cuts):
            block = stereo[:width]
            if balance is None:
                premix(block, [mono])
            else:
                flat, left, right, silent = balance
                block[:] = self._zeros[:width]
                if not silent:
                    _voices.add_scaled(block, flat[:width], left, right)
            for process in chain:
                process(block)
            for bus, level in sends:
                _add_scaled(bus[:width], block, level)
            _add_scaled(total, block, 1.0)
        for name, bus in song._buses.items():
            block = bus_cuts[name]
            for effect in bus.effects:
                effect.process_into(block)
            _add_scaled(total, block, 1.0)
        _scale(total, song._mixer.master_gain)
        for effect in song._master_effects:
            effect.process_into(total)
        out[:width] = total

    def effects(self) -> list[Effect]:
        """Every effect of the song, each once."""
        return all_effects(self._song)


def all_effects(song: "Song") -> list[Effect]:
    """Every effect of the song's tracks, buses and master, each once."""
    found: dict[int, Effect] = {}
    for chain in [t._effects for t in song._tracks] + [b.effects for b in song._buses.values()] + [
            song._master_effects]:
        for effect in chain:
            found.setdefault(id(effect), effect)
    return list(found.values())


def snapshot(effects: list[Effect]) -> list[tuple[Effect, Effect]]:
    """Copies of the effects' states, to put back if a render fails."""
    return [(e, copy.copy(e)) for e in effects]


def restore(saved: list[tuple[Effect, Effect]]) -> None:
    """Puts the states of `snapshot` back into the same effect objects."""
    for effect, state in saved:
        effect.__setstate__(state.__reduce__()[2])


def tail_frames(song: "Song") -> int:
    """The frames the song's effects add after its last voice ends: the
    longest track chain with the longest bus it sends to, then the master."""
    longest = 0
    for track in song._tracks:
        buses = [chain_tail(song._buses[name].effects) for name in track._sends if name in song._buses]
        longest = max(longest, chain_tail(track._effects) + max(buses, default=0))
    return longest + chain_tail(song._master_effects)
