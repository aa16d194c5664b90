"""Cost of rendering a 512-frame block with each generator, as ratios to
array('f', ...).tolist() of 512 floats measured in the same run: turning a
ready block of 32-bit samples into a Python list is the floor for any
renderer that hands its block back as a list. Then render_into a 512-frame
float32 NumPy array, as a ratio to render_to_buffer(512) of the same class:
what handing the block over as an array saves. Last, the sine's block beside
pyo's sine computing one 512-frame buffer, in the same run."""
import sys
from array import array
from typing import Any

from common import PairRow, Row, best_per_call, report, report_pairs
import numpy as np
import tamlor


def main() -> list[str]:
    block = array("f", [0.25] * 512)
    env: dict[str, Any] = {
        "block": block,
        "sine": tamlor.SineOscillator(),
        "square": tamlor.SquareOscillator(),
        "saw": tamlor.SawOscillator(),
        "noise": tamlor.NoiseSource(),
    }
    names = ("sine", "square", "saw", "noise")
    stmts = ["block.tolist()"] + [f"{name}.render_to_buffer(512)" for name in names]
    times = best_per_call(stmts, env, number=1_000)
    rows: list[Row] = [("array('f', 512).tolist()", times[0], None)]
    rows += [(stmt, t, 2.0) for stmt, t in zip(stmts[1:], times[1:])]
    failures = report("Generators, one 512-frame block (ratio to array.tolist):", rows, "array('f', 512).tolist()")
    print()
    env["out"] = np.zeros(512, dtype=np.float32)
    pairs: list[PairRow] = []
    for name in names:
        base, t = best_per_call([f"{name}.render_to_buffer(512)", f"{name}.render_into(out)"], env, number=1_000)
        pairs.append((f"{type(env[name]).__name__}.render_into(512 float32)", base, t, 0.2))
    failures += report_pairs("Generators, render_into (ratio to render_to_buffer(512) of the same class):", pairs)
    print()
    return failures + report_pairs("Sine, one 512-frame block (ratio to pyo's Sine on a 512-frame server):",
                                   sine_beside_pyo(env))


def sine_beside_pyo(env: dict[str, Any]) -> list[PairRow]:
    """SineOscillator.render_into(512 float32) beside one buffer of pyo's Sine
    computed by a server driven by hand (Server.process()), in the same run."""
    import contextlib
    import io

    try:
        with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()):
            import pyo  # type: ignore[import-not-found, import-untyped, unused-ignore]

            server = pyo.Server(sr=44100, nchnls=1, buffersize=512, duplex=0, audio="manual").boot()
            env["pyo_sine"] = pyo.Sine(freq=440.0).out()
            server.start()
    except Exception as error:  # pyo missing or unable to start: no comparison
        print(f"pyo is not available ({error}): no comparison")
        return []
    env["server"] = server
    base, t = best_per_call(["server.process()", "sine.render_into(out)"], env, number=2_000)
    server.stop()
    return [("SineOscillator.render_into(512 float32) vs pyo Sine", base, t, 1.0)]


if __name__ == "__main__":
    sys.exit(1 if main() else 0)
