"""Compares the scenario files two builds of tamlor_render_scenarios wrote.

Usage: compare_scenarios.py REFERENCE_FOLDER OTHER_FOLDER

Prints one line per scenario: identical, or how many 32-bit words differ. A
scenario that differs while a probe of the platform's math library it depends
on also differs is put down to that library and reported without failing;
any other difference fails. Exit status 0 when nothing failed, 1 when
something did, 2 on usage.
"""

from __future__ import annotations

import pathlib
import sys


def read_manifest(folder: pathlib.Path) -> dict[str, list[str]]:
    """Each scenario's name with the probes it depends on."""
    scenarios: dict[str, list[str]] = {}
    for line in (folder / "manifest.txt").read_text().splitlines():
        name, *probes = line.split()
        scenarios[name] = ["probe-" + p for p in probes]
    return scenarios


def differing_words(a: bytes, b: bytes) -> int:
    """The number of 4-byte words that differ, a length difference counted in full."""
    shorter = min(len(a), len(b))
    count = sum(1 for i in range(0, shorter, 4) if a[i : i + 4] != b[i : i + 4])
    return count + (max(len(a), len(b)) - shorter + 3) // 4


def compare(reference: pathlib.Path, other: pathlib.Path) -> bool:
    """Prints the comparison; True when no difference is left unexplained."""
    manifest = read_manifest(reference)
    if read_manifest(other) != manifest:
        print("FAIL: the two builds rendered different scenario lists")
        return False
    data = {
        name: ((reference / f"{name}.bin").read_bytes(), (other / f"{name}.bin").read_bytes()) for name in manifest
    }
    ok = True
    width = max(len(name) for name in manifest)
    for name, probes in manifest.items():
        a, b = data[name]
        words = (len(a) + 3) // 4
        if a == b:
            print(f"  {name:<{width}}  identical ({words} words)")
            continue
        n = differing_words(a, b)
        causes = [p for p in probes if data[p][0] != data[p][1]]
        if name.startswith("probe-"):
            print(f"  {name:<{width}}  the platform's math library differs: {n} of {words} values")
        elif causes:
            print(
                f"  {name:<{width}}  DIFFERS in {n} of {words} words: known cause, the platform's math library "
                f"({', '.join(causes)} differs)"
            )
        else:
            print(f"  {name:<{width}}  FAIL: differs in {n} of {words} words, and no math library probe explains it")
            ok = False
    return ok


def main(argv: list[str]) -> int:
    if len(argv) != 3:
        print("usage: compare_scenarios.py REFERENCE_FOLDER OTHER_FOLDER", file=sys.stderr)
        return 2
    try:
        return 0 if compare(pathlib.Path(argv[1]), pathlib.Path(argv[2])) else 1
    except (OSError, ValueError, KeyError) as exc:
        print(f"FAIL: cannot compare the scenario files: {exc}")
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
